// A file system for tests that passes every call on to the real one, except the one it was
// told to spoil: fail the Nth call (of one kind or of any) with an errno, write only part of
// the Nth write, or cut the power at the Nth call. After a power cut no call reaches the disk
// any more, and RestoreAfterPowerCut makes the watched folder what the disk would hold: under
// the names the folder had at its last successful sync, every file as it was at its last
// successful sync (empty if never synced), or, when the cut was planned with landed writes,
// every file with all the writes made to it so far (a disk may write back unsynced pages at
// any time) unless it was removed. The two are the extremes of what a power cut may leave,
// and what a store that syncs in the right order must survive.
//
// Serves every user of the seam (platform/filesystem.h): the compound file library and the
// atomic file writer. A data sync (fdatasync) counts as a sync.
#pragma once

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace testfaults {

enum class Call { kOpen, kRead, kWrite, kTruncate, kSync, kSyncFolder, kRemove, kRename, kLink, kLock, kStat, kList, kAny };

inline const char* CallName(Call c) {
  static const char* const kNames[] = {"open", "read", "write", "truncate", "sync", "syncfolder", "remove",
                                       "rename", "link", "lock", "stat", "list", "any"};
  return kNames[static_cast<int>(c)];
}

inline std::string ReadWhole(const std::string& path) {
  std::string bytes;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return bytes;
  char buffer[65536];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    bytes.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(fd);
  return bytes;
}

inline bool WriteWhole(const std::string& path, const std::string& bytes) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  bool ok = ::write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
  ok = ::close(fd) == 0 && ok;
  return ok;
}

// Regular files of a folder by name, with their inode numbers.
inline std::map<std::string, ino_t> RegularFiles(const std::string& folder) {
  std::map<std::string, ino_t> files;
  DIR* dir = ::opendir(folder.c_str());
  if (!dir) return files;
  while (const dirent* e = ::readdir(dir)) {
    struct stat st {};
    const std::string path = folder + "/" + e->d_name;
    if (::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) files[e->d_name] = st.st_ino;
  }
  ::closedir(dir);
  return files;
}

template <class Base>
class FaultyFiles final : public Base {
 public:
  enum class Fault { kNone, kErrno, kPartialWrite, kPowerCut };

  explicit FaultyFiles(Base& real) : m_real(real) {}

  // The nth call (counted from 0) of the kind fails with err instead of reaching the disk.
  void FailAt(std::size_t n, int err, Call kind = Call::kAny) { Plan(Fault::kErrno, n, kind, err); }
  // The nth write writes a part of its bytes that ends inside a sector, and says so.
  void PartialAt(std::size_t n) { Plan(Fault::kPartialWrite, n, Call::kWrite, 0); }
  // The nth call of any kind, and every later one, fails with EIO: the power is off. With
  // landed, the writes made before it reached the disk although they were not synced.
  void CutPowerAt(std::size_t n, bool landed = false) {
    Plan(Fault::kPowerCut, n, Call::kAny, 0);
    std::lock_guard lock(m_mutex);
    m_landed = landed;
  }

  // From now on the folder's files and names count as synced; later syncs are followed.
  void Watch(const std::string& folder) {
    std::lock_guard lock(m_mutex);
    m_folder = folder;
    m_names = RegularFiles(folder);
    m_synced.clear();
    for (const auto& [name, ino] : m_names) m_synced[ino] = ReadWhole(folder + "/" + name);
  }
  // Makes the watched folder what the disk holds after the power cut.
  void RestoreAfterPowerCut() {
    std::lock_guard lock(m_mutex);
    std::map<ino_t, std::string> bytes = m_synced;
    for (const auto& [name, ino] : RegularFiles(m_folder)) {
      if (m_landed) bytes[ino] = ReadWhole(m_folder + "/" + name);
      ::unlink((m_folder + "/" + name).c_str());
    }
    for (const auto& [name, ino] : m_names) {
      const auto it = bytes.find(ino);
      WriteWhole(m_folder + "/" + name, it == bytes.end() ? std::string() : it->second);
    }
  }

  std::size_t Calls() const {
    std::lock_guard lock(m_mutex);
    return m_calls;
  }
  // The kinds of the calls so far, in order.
  std::vector<Call> Log() const {
    std::lock_guard lock(m_mutex);
    return m_log;
  }
  // Whether the planned fault happened, and at which kind of call.
  bool Injected() const {
    std::lock_guard lock(m_mutex);
    return m_injected;
  }
  Call InjectedAt() const {
    std::lock_guard lock(m_mutex);
    return m_injectedKind;
  }

  int Open(const std::string& path, int flags, unsigned mode) override {
    if (const int err = Enter(Call::kOpen)) return -err;
    return m_real.Open(path, flags, mode);
  }
  void Close(int fd) override { m_real.Close(fd); }
  std::int64_t ReadAt(int fd, void* buffer, std::size_t size, std::uint64_t offset) override {
    if (const int err = Enter(Call::kRead)) return -err;
    return m_real.ReadAt(fd, buffer, size, offset);
  }
  std::int64_t WriteAt(int fd, const iovec* pieces, int count, std::uint64_t offset) override {
    bool partial = false;
    if (const int err = Enter(Call::kWrite, &partial)) return -err;
    if (!partial) return m_real.WriteAt(fd, pieces, count, offset);
    std::size_t total = 0;
    for (int i = 0; i < count; ++i) total += pieces[i].iov_len;
    std::size_t keep = std::max<std::size_t>(total / 2, 1);
    if (keep % 512 == 0 && keep > 1) --keep;
    std::vector<iovec> part;
    for (int i = 0; i < count && keep > 0; ++i) {
      const std::size_t n = std::min(keep, pieces[i].iov_len);
      part.push_back(iovec{pieces[i].iov_base, n});
      keep -= n;
    }
    return m_real.WriteAt(fd, part.data(), static_cast<int>(part.size()), offset);
  }
  int Truncate(int fd, std::uint64_t length) override {
    if (const int err = Enter(Call::kTruncate)) return -err;
    return m_real.Truncate(fd, length);
  }
  int Sync(int fd) override {
    if (const int err = Enter(Call::kSync)) return -err;
    const int r = m_real.Sync(fd);
    if (r == 0) NoteSynced(fd);
    return r;
  }
  int SyncData(int fd) override {
    if (const int err = Enter(Call::kSync)) return -err;
    const int r = m_real.SyncData(fd);
    if (r == 0) NoteSynced(fd);
    return r;
  }
  int SyncFolder(const std::string& folder) override {
    if (const int err = Enter(Call::kSyncFolder)) return -err;
    const int r = m_real.SyncFolder(folder);
    std::lock_guard lock(m_mutex);
    if (r == 0 && SameFolder(folder)) m_names = RegularFiles(m_folder);
    return r;
  }
  int Remove(const std::string& path) override {
    if (const int err = Enter(Call::kRemove)) return -err;
    return m_real.Remove(path);
  }
  int Rename(const std::string& from, const std::string& to) override {
    if (const int err = Enter(Call::kRename)) return -err;
    return m_real.Rename(from, to);
  }
  int Link(const std::string& from, const std::string& to, bool follow) override {
    if (const int err = Enter(Call::kLink)) return -err;
    return m_real.Link(from, to, follow);
  }
  int Lock(int fd, int operation) override {
    if (const int err = Enter(Call::kLock)) return -err;
    return m_real.Lock(fd, operation);
  }
  int Stat(int fd, struct stat& out) override {
    if (const int err = Enter(Call::kStat)) return -err;
    return m_real.Stat(fd, out);
  }
  int StatPath(const std::string& path, struct stat& out) override {
    if (const int err = Enter(Call::kStat)) return -err;
    return m_real.StatPath(path, out);
  }
  int List(const std::string& folder, std::vector<std::string>& names) override {
    if (const int err = Enter(Call::kList)) return -err;
    return m_real.List(folder, names);
  }

 private:
  void Plan(Fault fault, std::size_t n, Call kind, int err) {
    std::lock_guard lock(m_mutex);
    m_fault = fault;
    m_at = n;
    m_kind = kind;
    m_errno = err;
  }

  // Counts the call; the errno it must fail with, or 0 to let it through.
  int Enter(Call kind, bool* partial = nullptr) {
    std::lock_guard lock(m_mutex);
    const std::size_t index = m_calls++;
    const std::size_t ofKind = m_perKind[static_cast<int>(kind)]++;
    m_log.push_back(kind);
    if (m_powerOff) return EIO;
    if (m_fault == Fault::kNone || m_injected) return 0;
    const std::size_t position = m_kind == Call::kAny ? index : ofKind;
    if ((m_kind != Call::kAny && m_kind != kind) || position != m_at) return 0;
    m_injected = true;
    m_injectedKind = kind;
    switch (m_fault) {
      case Fault::kErrno: return m_errno;
      case Fault::kPowerCut: m_powerOff = true; return EIO;
      case Fault::kPartialWrite: *partial = true; return 0;
      case Fault::kNone: break;
    }
    return 0;
  }

  void NoteSynced(int fd) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) return;
    std::string bytes = ReadWhole("/proc/self/fd/" + std::to_string(fd));
    std::lock_guard lock(m_mutex);
    m_synced[st.st_ino] = std::move(bytes);
  }

  bool SameFolder(const std::string& folder) const {
    struct stat a {}, b {};
    return !m_folder.empty() && ::stat(folder.c_str(), &a) == 0 && ::stat(m_folder.c_str(), &b) == 0 &&
           a.st_dev == b.st_dev && a.st_ino == b.st_ino;
  }

  Base& m_real;
  mutable std::mutex m_mutex;
  Fault m_fault = Fault::kNone;
  std::size_t m_at = 0;
  Call m_kind = Call::kAny;
  int m_errno = 0;
  bool m_injected = false;
  Call m_injectedKind = Call::kAny;
  bool m_powerOff = false;
  bool m_landed = false;
  std::size_t m_calls = 0;
  std::size_t m_perKind[static_cast<int>(Call::kAny) + 1] = {};
  std::vector<Call> m_log;
  std::string m_folder;
  std::map<std::string, ino_t> m_names;   // the folder as its last sync left it
  std::map<ino_t, std::string> m_synced;  // each file's bytes at its last sync
};

// Checks a write that replaces one file whole (settings, task store) under every fault: each
// of its calls fails once with EIO and once with ENOSPC, and the power is cut at each call and
// after the last. reset() puts the old file back; write() makes the change and tells whether
// it worked; state() says how the file reads now: 0 as before, 1 as written, anything else
// neither. install(fs) puts a file system in place (nullptr: the system's). Returns the counts.
template <class Base>
std::string CheckWholeFileWrite(Base& real, const std::function<void(Base*)>& install, const std::string& folder,
                                const std::function<void()>& reset, const std::function<bool()>& write,
                                const std::function<int()>& state) {
  reset();
  FaultyFiles<Base> counter(real);
  install(&counter);
  const bool clean = write();
  install(nullptr);
  EXPECT_TRUE(clean);
  EXPECT_EQ(state(), 1);
  const std::vector<Call> calls = counter.Log();
  std::map<std::string, int> outcomes;
  for (const int err : {EIO, ENOSPC, 0}) {  // 0: a power cut
    for (std::size_t i = 0; i < calls.size() + (err == 0); ++i) {
      const std::string what = std::string(err == EIO ? "EIO" : err == ENOSPC ? "ENOSPC" : "power cut") + " at call " +
                               std::to_string(i) + (i < calls.size() ? std::string(" (") + CallName(calls[i]) + ")" : "");
      SCOPED_TRACE(what);
      reset();
      FaultyFiles<Base> faulty(real);
      if (err == 0) {
        faulty.Watch(folder);
        faulty.CutPowerAt(i);
      } else {
        faulty.FailAt(i, err);
      }
      install(&faulty);
      const bool ok = write();
      install(nullptr);
      if (err == 0) faulty.RestoreAfterPowerCut();
      const int now = state();
      EXPECT_TRUE(now == 0 || now == 1) << "the file is neither as before nor as written";
      if (ok) {
        EXPECT_EQ(now, 1) << "a write reported done is not there";
      }
      if (faulty.Injected() && (err == 0 || faulty.InjectedAt() == Call::kWrite || faulty.InjectedAt() == Call::kSync ||
                                faulty.InjectedAt() == Call::kRename || faulty.InjectedAt() == Call::kSyncFolder)) {
        EXPECT_FALSE(ok) << "a failed " << CallName(faulty.InjectedAt()) << " was reported as success";
      }
      outcomes[std::string(err == EIO ? "EIO" : err == ENOSPC ? "ENOSPC" : "power cut") + (ok ? " saved" : " failed") +
               (now == 1 ? " (new)" : " (old)")]++;
    }
  }
  std::string text = std::to_string(calls.size()) + " calls;";
  for (const auto& [what, n] : outcomes) text += " " + what + ": " + std::to_string(n) + ";";
  return text;
}

}  // namespace testfaults
