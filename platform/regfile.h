// The registry-editor export format ("REGEDIT4") as an in-memory document: keys in the order
// they were first written, each with its values in first-written order. Key and value names
// compare without regard to ASCII case and keep the case they were first written with.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/registry.h"

namespace platform {

struct RegKeyRecord {
  std::string path;  // below the hive, components joined by "\"; "" is the hive's own key
  std::vector<std::pair<std::string, RegValue>> values;
};

class RegDocument {
 public:
  // Reads the sections of the named hive ("HKEY_CURRENT_USER") and applies them in order,
  // including the deletions "[-key]" and "name"=- of imported files. Lines that cannot be read
  // are skipped, as are sections of other hives; both make the document Damaged().
  static RegDocument Parse(std::string_view text, std::string_view hiveName);
  // The text held more than the document: no header, lines that could not be read, or
  // sections of other hives. Writing a hive file back from it would lose them.
  bool Damaged() const { return m_damaged; }
  // Once the damaged text has been kept aside and replaced by this document's own.
  void ForgetDamage() { m_damaged = false; }
  // The same reading applied on top of this document, as an import does.
  void Apply(std::string_view text, std::string_view hiveName);
  // Whether the text has a section (or a key deletion) of the named hive.
  static bool MentionsHive(std::string_view text, std::string_view hiveName);
  std::string Serialize(std::string_view hiveName) const;

  RegKeyRecord* FindKey(std::string_view path);
  const RegKeyRecord* FindKey(std::string_view path) const;
  // The key, created with its missing parents; existing parents lend their spelling.
  RegKeyRecord& CreateKey(std::string_view path);
  // Removes the key and every key below it; false when it does not exist.
  bool DeleteKey(std::string_view path);
  // Names of the direct subkeys, in document order.
  std::vector<std::string> SubKeys(std::string_view path) const;
  const std::vector<RegKeyRecord>& Keys() const { return m_keys; }

  static void SetValue(RegKeyRecord& key, std::string_view name, RegValue value);
  static bool DeleteValue(RegKeyRecord& key, std::string_view name);
  static const RegValue* FindValue(const RegKeyRecord& key, std::string_view name);

 private:
  // Apply; false when some of the text was left out.
  bool ApplyText(std::string_view text, std::string_view hiveName);
  void RebuildIndex();

  std::vector<RegKeyRecord> m_keys;
  // Each key's position in m_keys under its path folded to lower case: a hive with many
  // keys is read in linear time.
  std::unordered_map<std::string, size_t> m_index;
  bool m_damaged = false;
};

// A key path in canonical form: components between "\" with empty ones dropped. nullopt when a
// component holds a line break, which the file format cannot carry in a section name.
std::optional<std::string> NormaliseKeyPath(std::string_view path);

}  // namespace platform
