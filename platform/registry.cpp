#include "platform/registry.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>

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

// One version of a hive file. Every writer here replaces the file by a rename, which gives it a
// new inode; an editor that rewrites it in place changes its size or its times, which are kept
// to the nanosecond (a same-second rewrite is seen too).
struct FileStamp {
  bool exists = false;
  dev_t device = 0;
  ino_t inode = 0;
  off_t size = 0;
  timespec modified{};
  timespec changed{};
  bool operator==(const FileStamp& other) const {
    return exists == other.exists && device == other.device && inode == other.inode && size == other.size &&
           modified.tv_sec == other.modified.tv_sec && modified.tv_nsec == other.modified.tv_nsec &&
           changed.tv_sec == other.changed.tv_sec && changed.tv_nsec == other.changed.tv_nsec;
  }
};

// nullopt when the file cannot be looked at (other than by not existing).
std::optional<FileStamp> StampOf(const std::string& file) {
  struct stat info {};
  if (::stat(file.c_str(), &info) != 0) {
    if (errno == ENOENT || errno == ENOTDIR) return FileStamp{};
    return std::nullopt;
  }
  return FileStamp{true, info.st_dev, info.st_ino, info.st_size, info.st_mtim, info.st_ctim};
}

// A hive as last read or written by this process, with the text of the file it came from.
struct HiveVersion {
  FileStamp stamp;
  std::shared_ptr<const RegDocument> document;
  std::shared_ptr<const std::string> text;
};

// The hives this process has read, by file (tests move the configuration folder), each kept
// until its file changes: a batch of reads parses the file once.
class HiveCache {
 public:
  std::optional<HiveVersion> Find(const std::string& file, const FileStamp& stamp) {
    std::lock_guard lock(m_mutex);
    const auto it = m_versions.find(file);
    if (it == m_versions.end() || !(it->second.stamp == stamp)) return std::nullopt;
    return it->second;
  }
  void Keep(const std::string& file, HiveVersion version) {
    std::lock_guard lock(m_mutex);
    m_versions[file] = std::move(version);
  }
  void Forget(const std::string& file) {
    std::lock_guard lock(m_mutex);
    m_versions.erase(file);
  }

 private:
  std::mutex m_mutex;
  std::map<std::string, HiveVersion> m_versions;
};

HiveCache& Cache() {
  static HiveCache cache;
  return cache;
}

// The hive as its file holds it now. A hive that does not exist yet reads as empty; nullopt
// when the file exists but cannot be read, which an update must not mistake for an empty hive
// and overwrite. The file is read whole, however long: a cut would lose the keys past it.
std::optional<HiveVersion> ReadHive(Hive hive) {
  const std::string file = Registry::HiveFile(hive);
  const std::optional<FileStamp> before = StampOf(file);
  if (!before) return std::nullopt;
  if (std::optional<HiveVersion> cached = Cache().Find(file, *before)) return cached;
  std::optional<std::string> text;
  if (before->exists) {
    text = ReadWholeFile(file, SIZE_MAX);
    if (!text) return std::nullopt;
  } else {
    text.emplace();
  }
  HiveVersion version;
  version.document = std::make_shared<const RegDocument>(RegDocument::Parse(*text, HiveName(hive)));
  version.text = std::make_shared<const std::string>(std::move(*text));
  // Replaced while it was read: this reading is used once and not kept.
  const std::optional<FileStamp> after = StampOf(file);
  version.stamp = *before;
  if (after && *after == *before) Cache().Keep(file, version);
  return version;
}

std::shared_ptr<const RegDocument> ReadHiveOrEmpty(Hive hive) {
  std::optional<HiveVersion> version = ReadHive(hive);
  return version ? version->document : std::make_shared<const RegDocument>();
}

// A damaged hive is kept aside before it is replaced, since the new file holds only what could
// be read; a file that keeps being damaged (by a tool that writes it, say) is kept once a day.
bool KeepDamagedHive(const std::string& file) {
  if (HasDamagedCopyFromToday(file)) {
    VN_TRACE("Registry file %s could not be read whole; a copy of it was already kept today", file.c_str());
    return true;
  }
  const std::optional<std::string> kept = KeepDamagedCopy(file);
  if (!kept) return false;
  VN_TRACE("Registry file %s could not be read whole; it is kept as %s", file.c_str(), kept->c_str());
  return true;
}

// Runs one change under the hive's lock: read, change, replace atomically. A change that
// leaves the text as it was writes nothing. change returns false to abandon the update.
template <class Change>
bool UpdateHive(Hive hive, Change change) {
  const std::string file = Registry::HiveFile(hive);
  HiveLock lock(file);
  if (!lock.Held()) return false;
  std::optional<HiveVersion> version = ReadHive(hive);
  if (!version) return false;
  RegDocument document = *version->document;
  if (!change(document)) return false;
  auto text = std::make_shared<const std::string>(document.Serialize(HiveName(hive)));
  if (*text == *version->text) return true;
  if (document.Damaged() && !KeepDamagedHive(file)) return false;  // never replace what could not be kept
  if (!WriteFileAtomically(file, *text)) {
    Cache().Forget(file);
    return false;
  }
  // What was written is whole, whatever the file it was read from held.
  document.ForgetDamage();
  const std::optional<FileStamp> written = StampOf(file);
  if (written && written->exists)
    Cache().Keep(file, {*written, std::make_shared<const RegDocument>(std::move(document)), std::move(text)});
  else
    Cache().Forget(file);
  return true;
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
  std::optional<std::string> text = ReadWholeFile(regFile, SIZE_MAX);
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
// whole version of it. They parse it only when it has changed since this process last saw it.

std::string Registry::HiveFile(Hive hive) {
  return ConfigHome() + "/zentrel/registry/" + HiveName(hive) + ".reg";
}

std::optional<RegValue> Registry::GetValue(Hive hive, const std::string& key, const std::string& name) {
  auto path = NormaliseKeyPath(key);
  if (!path) return std::nullopt;
  const std::shared_ptr<const RegDocument> document = ReadHiveOrEmpty(hive);
  const RegKeyRecord* record = document->FindKey(*path);
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
  return path->empty() || ReadHiveOrEmpty(hive)->FindKey(*path) != nullptr;
}

std::optional<std::vector<std::pair<std::string, RegValue>>> Registry::EnumValues(Hive hive, const std::string& key) {
  auto path = NormaliseKeyPath(key);
  if (!path) return std::nullopt;
  const std::shared_ptr<const RegDocument> document = ReadHiveOrEmpty(hive);
  const RegKeyRecord* record = document->FindKey(*path);
  if (!record) {
    if (path->empty()) return std::vector<std::pair<std::string, RegValue>>();
    return std::nullopt;
  }
  return record->values;
}

std::vector<std::string> Registry::EnumSubKeys(Hive hive, const std::string& key) {
  auto path = NormaliseKeyPath(key);
  if (!path) return {};
  return ReadHiveOrEmpty(hive)->SubKeys(*path);
}

}  // namespace platform
