// The per-user and machine settings hives, each kept as one text file in the registry-editor
// export format under $XDG_CONFIG_HOME/zentrel/registry/ (HKEY_CURRENT_USER.reg, ...).
// Every call locks the hive's file, reads it, applies one change and replaces the file
// atomically, so several threads and processes may write at once. Key paths use "\" between
// components ("Software\Zentrel\VARNOW") and compare without regard to case, as value names do.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace platform {

enum class Hive { CurrentUser, LocalMachine, ClassesRoot, Users };

enum class RegType { String, Dword, Binary };

struct RegValue {
  RegType type = RegType::String;
  std::string text;                 // String
  std::uint32_t dword = 0;          // Dword
  std::vector<std::uint8_t> bytes;  // Binary
};

class Registry {
 public:
  static std::optional<RegValue> GetValue(Hive hive, const std::string& key, const std::string& name);
  // Creates the key (and its parents) as needed.
  static bool SetString(Hive hive, const std::string& key, const std::string& name, const std::string& text);
  static bool SetDword(Hive hive, const std::string& key, const std::string& name, std::uint32_t value);
  static bool SetBinary(Hive hive, const std::string& key, const std::string& name,
                        const std::vector<std::uint8_t>& bytes);
  static bool DeleteValue(Hive hive, const std::string& key, const std::string& name);
  // Deletes the key with everything below it.
  static bool DeleteKey(Hive hive, const std::string& key);
  static bool KeyExists(Hive hive, const std::string& key);
  // Values in the order they were first written; nullopt when the key does not exist.
  static std::optional<std::vector<std::pair<std::string, RegValue>>> EnumValues(Hive hive, const std::string& key);
  static std::vector<std::string> EnumSubKeys(Hive hive, const std::string& key);
  // Applies a registry-editor file ("REGEDIT4" text) to every hive it names, as the registry
  // editor's silent import does, including its "[-key]" and "name"=- deletions. False when the
  // file cannot be read, lacks the header, or a hive cannot be written.
  static bool ImportFile(const std::string& regFile);
  // Takes back what such a file added: removes the values it sets, then the keys it names that
  // are left with neither values nor subkeys.
  static bool UndoImportFile(const std::string& regFile);
  // The file that holds a hive (for tests and tools).
  static std::string HiveFile(Hive hive);
};

}  // namespace platform
