// What the platform layer's file writers do to files and folders (the atomic replacement of
// settings hives, private-profile files and the task store): one call per system call, with
// its result or -errno, nothing retried or mapped. The system's implementation is used unless
// a test installs one that fails chosen calls or forgets what was never synced.
#pragma once

#include <cstdint>
#include <string>
#include <sys/stat.h>
#include <sys/uio.h>
#include <vector>

namespace platform {

class FileSystem {
 public:
  virtual ~FileSystem() = default;

  virtual int Open(const std::string& path, int flags, unsigned mode) = 0;  // descriptor or -errno
  virtual void Close(int fd) = 0;
  virtual std::int64_t ReadAt(int fd, void* buffer, std::size_t size, std::uint64_t offset) = 0;
  virtual std::int64_t WriteAt(int fd, const iovec* pieces, int count, std::uint64_t offset) = 0;
  virtual int Truncate(int fd, std::uint64_t length) = 0;
  virtual int Sync(int fd) = 0;
  virtual int SyncFolder(const std::string& folder) = 0;
  virtual int Remove(const std::string& path) = 0;
  virtual int Rename(const std::string& from, const std::string& to) = 0;
  virtual int Link(const std::string& from, const std::string& to, bool follow) = 0;
  virtual int Lock(int fd, int operation) = 0;
  virtual int Stat(int fd, struct stat& out) = 0;
  virtual int StatPath(const std::string& path, struct stat& out) = 0;
  virtual int List(const std::string& folder, std::vector<std::string>& names) = 0;
};

// The file system in use: the system's unless a test installed another (nullptr: the
// system's again). Tests switch only while no write is under way.
FileSystem& Files();
void UseFiles(FileSystem* fs);
FileSystem& SystemFiles();

}  // namespace platform
