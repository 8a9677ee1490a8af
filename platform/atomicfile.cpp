#include "platform/atomicfile.h"

#include "platform/filesystem.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <ctime>
#include <string_view>

namespace platform {
namespace {

// Writes all of text from the start of the new file, going on after short writes.
bool WriteAll(FileSystem& files, int fd, const std::string& text) {
  std::uint64_t done = 0;
  while (done < text.size()) {
    iovec piece{const_cast<char*>(text.data() + done), text.size() - done};
    const std::int64_t written = files.WriteAt(fd, &piece, 1, done);
    if (written == -EINTR) continue;
    if (written <= 0) return false;
    done += static_cast<std::uint64_t>(written);
  }
  return true;
}

std::string LocalTimeText(const char* format) {
  const std::time_t now = std::time(nullptr);
  std::tm local {};
  char text[32];
  std::strftime(text, sizeof text, format, ::localtime_r(&now, &local));
  return text;
}

}  // namespace

std::optional<std::string> ReadWholeFile(const std::string& path, std::size_t maxBytes) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  std::string text;
  char buffer[65536];
  while (text.size() < maxBytes) {
    ssize_t got = ::read(fd, buffer, std::min(sizeof buffer, maxBytes - text.size()));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      ::close(fd);
      return std::nullopt;
    }
    if (got == 0) break;
    text.append(buffer, static_cast<size_t>(got));
  }
  ::close(fd);
  return text;
}

bool WriteFileAtomically(const std::string& path, const std::string& text, unsigned mode) {
  FileSystem& files = Files();
  struct stat existing {};
  if (files.StatPath(path, existing) == 0) mode = existing.st_mode & 07777;
  static std::atomic<unsigned> s_serial{0};
  const std::string temp = path + ".tmp" + std::to_string(::getpid()) + "-" + std::to_string(s_serial++);
  int fd;
  do {
    fd = files.Open(temp, O_WRONLY | O_CREAT | O_TRUNC, mode);
  } while (fd == -EINTR);
  if (fd < 0) return false;
  ::fchmod(fd, mode);  // the umask must not narrow or widen a replaced file's mode
  // The bytes reach the disk before the name does, and the new name is synced before the
  // write counts as done: a power cut leaves the old file or the new one, never an empty one,
  // and never takes back a write that was reported.
  const bool ok = WriteAll(files, fd, text) && files.Sync(fd) == 0;
  files.Close(fd);
  if (ok && files.Rename(temp, path) == 0) {
    const int synced = files.SyncFolder(FolderOf(path));
    return synced == 0 || synced == -EINVAL || synced == -ENOTSUP;  // or the folder cannot be synced
  }
  files.Remove(temp);
  return false;
}

std::optional<std::string> KeepDamagedCopy(const std::string& path) {
  const std::string base = path + ".damaged-" + LocalTimeText("%Y%m%d-%H%M%S");
  for (int n = 1; n < 100; ++n) {
    const std::string name = n == 1 ? base : base + "-" + std::to_string(n);
    // A second link keeps the bytes when the file is later replaced by rename; where links
    // are not possible, a copy does.
    if (::link(path.c_str(), name.c_str()) == 0) return name;
    if (errno == EEXIST) continue;
    if (errno == ENOENT) return std::nullopt;
    struct stat existing {};
    if (::stat(name.c_str(), &existing) == 0) continue;
    const std::optional<std::string> bytes = ReadWholeFile(path, SIZE_MAX);
    if (!bytes) return std::nullopt;
    if (WriteFileAtomically(name, *bytes)) return name;
    return std::nullopt;
  }
  return std::nullopt;
}

bool HasDamagedCopyFromToday(const std::string& path) {
  const size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  const std::string prefix = path.substr(slash + 1) + ".damaged-" + LocalTimeText("%Y%m%d") + "-";
  DIR* listing = ::opendir(folder.c_str());
  if (!listing) return false;
  bool found = false;
  while (const dirent* entry = ::readdir(listing))
    if (std::string_view(entry->d_name).starts_with(prefix)) found = true;
  ::closedir(listing);
  return found;
}

bool MakeFolders(const std::string& folder, unsigned mode) {
  if (folder.empty()) return false;
  for (size_t slash = folder.find('/', 1);; slash = folder.find('/', slash + 1)) {
    std::string part = folder.substr(0, slash);
    if (::mkdir(part.c_str(), mode) != 0 && errno != EEXIST) return false;
    if (slash == std::string::npos) break;
  }
  struct stat info {};
  return ::stat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

}  // namespace platform
