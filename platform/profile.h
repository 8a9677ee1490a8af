// Private-profile (INI) files: "[section]" headers, "key=value" lines and ";" comments.
// Section and key names compare without regard to ASCII case; names and values are trimmed of
// surrounding blanks, and a value wrapped in a matching pair of quotes (" or ') loses them when
// read. The first of several sections or keys of one name is the one that counts. Writes keep
// every other line of the file as it was and replace the file atomically.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace platform {

// The key's value, or defaultValue when the file, the section or the key does not exist.
std::string GetPrivateProfileString(std::string_view section, std::string_view key, std::string_view defaultValue,
                                    const std::string& file);

// The value read as an integer: leading decimal digits with an optional sign (or "0x" and hex
// digits); 0 when there are none, defaultValue when the key is missing or its value is empty.
int GetPrivateProfileInt(std::string_view section, std::string_view key, int defaultValue, const std::string& file);

// Names of the keys of the section in file order (duplicates once, comments left out); empty
// when the file or the section does not exist.
std::vector<std::string> GetPrivateProfileKeys(std::string_view section, const std::string& file);

// Names of the sections in file order, each name once.
std::vector<std::string> GetPrivateProfileSectionNames(const std::string& file);

// Sets key = value in the section, creating the file and the section as needed. No value
// deletes the key; no key deletes the whole section. A deletion of something that does not
// exist succeeds without touching the file. Names and values that the format cannot carry
// (line breaks; "]" in a section name; "=" in a key; a key beginning with "[" or ";") are
// refused with false, as is a file that exists but cannot be read.
bool WritePrivateProfileString(std::string_view section, std::optional<std::string_view> key,
                               std::optional<std::string_view> value, const std::string& file);

// A whole file read once, for a reader that looks up many keys (a long numbered list would
// otherwise read the file again for every key). Lookups follow the functions above.
class CProfileSnapshot {
 public:
  // A file that does not exist or cannot be read gives a snapshot that is not Readable and
  // holds nothing.
  static CProfileSnapshot Read(const std::string& file);

  bool Readable() const { return m_readable; }
  bool HasSection(std::string_view section) const;
  std::optional<std::string> Value(std::string_view section, std::string_view key) const;
  std::string Value(std::string_view section, std::string_view key, std::string_view defaultValue) const;

 private:
  bool m_readable = false;
  std::unordered_set<std::string> m_sections;            // lower-case names
  std::unordered_map<std::string, std::string> m_values; // lower-case "section\nkey"
};

}  // namespace platform
