#include "platform/filesystem.h"

#include <atomic>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace platform {

namespace {

int Result(int r) { return r < 0 ? -errno : r; }

class System final : public FileSystem {
 public:
  int Open(const std::string& path, int flags, unsigned mode) override {
    return Result(::open(path.c_str(), flags | O_CLOEXEC, static_cast<mode_t>(mode)));
  }
  void Close(int fd) override { ::close(fd); }
  std::int64_t ReadAt(int fd, void* buffer, std::size_t size, std::uint64_t offset) override {
    const ssize_t n = ::pread(fd, buffer, size, static_cast<off_t>(offset));
    return n < 0 ? -errno : n;
  }
  std::int64_t WriteAt(int fd, const iovec* pieces, int count, std::uint64_t offset) override {
    const ssize_t n = ::pwritev(fd, pieces, count, static_cast<off_t>(offset));
    return n < 0 ? -errno : n;
  }
  int Truncate(int fd, std::uint64_t length) override {
    return Result(::ftruncate(fd, static_cast<off_t>(length)));
  }
  int Sync(int fd) override { return Result(::fsync(fd)); }
  int SyncData(int fd) override { return Result(::fdatasync(fd)); }
  int SyncFolder(const std::string& folder) override {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return -errno;
    const int r = Result(::fsync(fd));
    ::close(fd);
    return r;
  }
  int Remove(const std::string& path) override { return Result(::unlink(path.c_str())); }
  int Rename(const std::string& from, const std::string& to) override {
    return Result(::rename(from.c_str(), to.c_str()));
  }
  int Link(const std::string& from, const std::string& to, bool follow) override {
    return Result(::linkat(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), follow ? AT_SYMLINK_FOLLOW : 0));
  }
  int Lock(int fd, int operation) override { return Result(::flock(fd, operation)); }
  int Stat(int fd, struct stat& out) override { return Result(::fstat(fd, &out)); }
  int StatPath(const std::string& path, struct stat& out) override { return Result(::stat(path.c_str(), &out)); }
  int List(const std::string& folder, std::vector<std::string>& names) override {
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) return -errno;
    names.clear();
    while (const dirent* entry = ::readdir(dir)) {
      const std::string name = entry->d_name;
      if (name != "." && name != "..") names.push_back(name);
    }
    ::closedir(dir);
    return 0;
  }
};

std::atomic<FileSystem*> g_installed{nullptr};

}  // namespace

FileSystem& SystemFiles() {
  static System system;
  return system;
}

FileSystem& Files() {
  FileSystem* fs = g_installed.load(std::memory_order_acquire);
  return fs ? *fs : SystemFiles();
}

void UseFiles(FileSystem* fs) { g_installed.store(fs, std::memory_order_release); }

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace platform
