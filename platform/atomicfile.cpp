#include "platform/atomicfile.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <ctime>
#include <string_view>

namespace platform {
namespace {

bool WriteAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    ssize_t written = ::write(fd, data, size);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    data += written;
    size -= static_cast<size_t>(written);
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
  struct stat existing {};
  if (::stat(path.c_str(), &existing) == 0) mode = existing.st_mode & 07777;
  static std::atomic<unsigned> s_serial{0};
  const std::string temp = path + ".tmp" + std::to_string(::getpid()) + "-" + std::to_string(s_serial++);
  int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
  if (fd < 0) return false;
  ::fchmod(fd, mode);  // the umask must not narrow or widen a replaced file's mode
  bool ok = WriteAll(fd, text.data(), text.size()) && ::fsync(fd) == 0;
  ok = ::close(fd) == 0 && ok;
  if (ok && ::rename(temp.c_str(), path.c_str()) == 0) return true;
  ::unlink(temp.c_str());
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
