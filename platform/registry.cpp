#include "platform/registry.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include "platform/atomicfile.h"
#include "platform/regfile.h"
#include "platform/tracelog.h"
#include "platform/xdgdirs.h"

namespace platform {
namespace {

constexpr Hive kHives[] = {Hive::CurrentUser, Hive::LocalMachine, Hive::ClassesRoot, Hive::Users};

const char* HiveName(Hive hive) {
  switch (hive) {
    case Hive::CurrentUser: return "HKEY_CURRENT_USER";
    case Hive::LocalMachine: return "HKEY_LOCAL_MACHINE";
    case Hive::ClassesRoot: return "HKEY_CLASSES_ROOT";
    case Hive::Users: return "HKEY_USERS";
  }
  return "HKEY_CURRENT_USER";
}

std::string FolderOf(const std::string& file) { return file.substr(0, file.find_last_of('/')); }

// An exclusive lock on the hive's lock file for the life of the object. The hive file itself
// cannot carry the lock, since every change replaces it with a new file.
class HiveLock {
 public:
  explicit HiveLock(const std::string& hiveFile) {
    if (!MakeFolders(FolderOf(hiveFile))) return;
    m_fd = ::open((hiveFile + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (m_fd >= 0 && ::flock(m_fd, LOCK_EX) != 0) {
      ::close(m_fd);
      m_fd = -1;
    }
  }
  ~HiveLock() {
    if (m_fd >= 0) ::close(m_fd);  // closing the last descriptor releases the lock
  }
  HiveLock(const HiveLock&) = delete;
  HiveLock& operator=(const HiveLock&) = delete;
  bool Held() const { return m_fd >= 0; }

 private:
  int m_fd = -1;
};

// A hive that does not exist yet reads as empty; nullopt when the file exists but cannot be
// read, which an update must not mistake for an empty hive and overwrite.
std::optional<RegDocument> ReadHive(Hive hive, std::string* original = nullptr) {
  const std::string file = Registry::HiveFile(hive);
  std::optional<std::string> text = ReadWholeFile(file);
  if (!text) {
    if (::access(file.c_str(), F_OK) == 0) return std::nullopt;
    text.emplace();
  }
  RegDocument document = RegDocument::Parse(*text, HiveName(hive));
  if (original) *original = std::move(*text);
  return document;
}

RegDocument ReadHiveOrEmpty(Hive hive) { return ReadHive(hive).value_or(RegDocument()); }

// Runs one change under the hive's lock: read, change, replace atomically. A change that
// leaves the text as it was writes nothing. change returns false to abandon the update.
// A hive file with text that could not be read is kept beside itself before it is replaced,
// since the new file holds only what could be read.
template <class Change>
bool UpdateHive(Hive hive, Change change) {
  const std::string file = Registry::HiveFile(hive);
  HiveLock lock(file);
  if (!lock.Held()) return false;
  std::string original;
  std::optional<RegDocument> document = ReadHive(hive, &original);
  if (!document || !change(*document)) return false;
  std::string text = document->Serialize(HiveName(hive));
  if (text == original) return true;
  if (document->Damaged()) {
    const std::optional<std::string> kept = KeepDamagedCopy(file);
    if (!kept) return false;  // never replace what could not be kept
    VN_TRACE("Registry file %s could not be read whole; it is kept as %s", file.c_str(), kept->c_str());
  }
  return WriteFileAtomically(file, text);
}

bool SetValue(Hive hive, const std::string& key, const std::string& name, RegValue value) {
  auto path = NormaliseKeyPath(key);
  if (!path) return false;
  return UpdateHive(hive, [&](RegDocument& document) {
    RegDocument::SetValue(document.CreateKey(*path), name, std::move(value));
    return true;
  });
}

// The text of a registry-editor file without its byte-order mark; nullopt without the header.
std::optional<std::string> ReadRegFile(const std::string& regFile) {
  std::optional<std::string> text = ReadWholeFile(regFile);
  if (!text) return std::nullopt;
  if (text->rfind("\xef\xbb\xbf", 0) == 0) text->erase(0, 3);
  if (text->rfind("REGEDIT4", 0) != 0 && text->rfind("Windows Registry Editor Version 5.00", 0) != 0)
    return std::nullopt;
  return text;
}

// Removes from target the values that imported sets, then deepest first the keys it names that
// are left empty. The hive's own key stays.
void Undo(RegDocument& target, const RegDocument& imported) {
  const auto& keys = imported.Keys();
  for (auto key = keys.rbegin(); key != keys.rend(); ++key) {
    RegKeyRecord* record = target.FindKey(key->path);
    if (!record) continue;
    for (const auto& value : key->values) RegDocument::DeleteValue(*record, value.first);
    if (!key->path.empty() && record->values.empty() && target.SubKeys(key->path).empty())
      target.DeleteKey(key->path);
  }
}

// Runs change on every hive the file names; change(document, text, hiveName).
template <class Change>
bool ChangeHivesOfFile(const std::string& regFile, Change change) {
  std::optional<std::string> text = ReadRegFile(regFile);
  if (!text) return false;
  bool ok = true;
  for (Hive hive : kHives) {
    if (!RegDocument::MentionsHive(*text, HiveName(hive))) continue;
    ok = UpdateHive(hive, [&](RegDocument& document) {
           change(document, *text, HiveName(hive));
           return true;
         }) && ok;
  }
  return ok;
}

}  // namespace

bool Registry::ImportFile(const std::string& regFile) {
  return ChangeHivesOfFile(regFile, [](RegDocument& document, const std::string& text, const char* hiveName) {
    document.Apply(text, hiveName);
  });
}

bool Registry::UndoImportFile(const std::string& regFile) {
  return ChangeHivesOfFile(regFile, [](RegDocument& document, const std::string& text, const char* hiveName) {
    Undo(document, RegDocument::Parse(text, hiveName));
  });
}

// Readers take no lock: every writer replaces the file by a rename, so a reader always sees one
// whole version of it.

std::string Registry::HiveFile(Hive hive) {
  return ConfigHome() + "/zentrel/registry/" + HiveName(hive) + ".reg";
}

std::optional<RegValue> Registry::GetValue(Hive hive, const std::string& key, const std::string& name) {
  auto path = NormaliseKeyPath(key);
  if (!path) return std::nullopt;
  RegDocument document = ReadHiveOrEmpty(hive);
  const RegKeyRecord* record = document.FindKey(*path);
  const RegValue* value = record ? RegDocument::FindValue(*record, name) : nullptr;
  if (!value) return std::nullopt;
  return *value;
}

bool Registry::SetString(Hive hive, const std::string& key, const std::string& name, const std::string& text) {
  RegValue value;
  value.type = RegType::String;
  value.text = text;
  return SetValue(hive, key, name, std::move(value));
}

bool Registry::SetDword(Hive hive, const std::string& key, const std::string& name, std::uint32_t dword) {
  RegValue value;
  value.type = RegType::Dword;
  value.dword = dword;
  return SetValue(hive, key, name, std::move(value));
}

bool Registry::SetBinary(Hive hive, const std::string& key, const std::string& name,
                         const std::vector<std::uint8_t>& bytes) {
  RegValue value;
  value.type = RegType::Binary;
  value.bytes = bytes;
  return SetValue(hive, key, name, std::move(value));
}

bool Registry::DeleteValue(Hive hive, const std::string& key, const std::string& name) {
  auto path = NormaliseKeyPath(key);
  if (!path) return false;
  return UpdateHive(hive, [&](RegDocument& document) {
    RegKeyRecord* record = document.FindKey(*path);
    return record && RegDocument::DeleteValue(*record, name);
  });
}

bool Registry::DeleteKey(Hive hive, const std::string& key) {
  auto path = NormaliseKeyPath(key);
  if (!path || path->empty()) return false;  // the hive itself cannot be deleted
  return UpdateHive(hive, [&](RegDocument& document) { return document.DeleteKey(*path); });
}

bool Registry::KeyExists(Hive hive, const std::string& key) {
  auto path = NormaliseKeyPath(key);
  if (!path) return false;
  return path->empty() || ReadHiveOrEmpty(hive).FindKey(*path) != nullptr;
}

std::optional<std::vector<std::pair<std::string, RegValue>>> Registry::EnumValues(Hive hive, const std::string& key) {
  auto path = NormaliseKeyPath(key);
  if (!path) return std::nullopt;
  RegDocument document = ReadHiveOrEmpty(hive);
  const RegKeyRecord* record = document.FindKey(*path);
  if (!record) {
    if (path->empty()) return std::vector<std::pair<std::string, RegValue>>();
    return std::nullopt;
  }
  return record->values;
}

std::vector<std::string> Registry::EnumSubKeys(Hive hive, const std::string& key) {
  auto path = NormaliseKeyPath(key);
  if (!path) return {};
  return ReadHiveOrEmpty(hive).SubKeys(*path);
}

}  // namespace platform
