// Everything the storage code does to files and folders goes through this interface: the
// compound file library (its data files and their journals) and the atomic file writer of
// this layer (settings hives, private-profile files, the task store). One call per system
// call, with the system call's meaning: results are the system call's (a count, a descriptor,
// 0) or -errno on failure; nothing retries or maps errors here (the callers do).
// The real implementation calls the system; tests put in one that fails chosen calls or
// forgets what was never synced (testfaultfiles.h), to show that a write survives a failing
// disk.
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

  // open(2); the descriptor or -errno.
  virtual int Open(const std::string& path, int flags, unsigned mode) = 0;
  virtual void Close(int fd) = 0;
  // pread(2) and pwritev(2): the count (a short one is no error) or -errno.
  virtual std::int64_t ReadAt(int fd, void* buffer, std::size_t size, std::uint64_t offset) = 0;
  virtual std::int64_t WriteAt(int fd, const iovec* pieces, int count, std::uint64_t offset) = 0;
  virtual int Truncate(int fd, std::uint64_t length) = 0;
  // fsync(2) of a file; fdatasync(2), for bytes overwritten in place (the file's length and
  // blocks unchanged); and fsync(2) of a folder, which makes the creation, removal or renaming
  // of a name in it survive a power cut.
  virtual int Sync(int fd) = 0;
  virtual int SyncData(int fd) = 0;
  virtual int SyncFolder(const std::string& folder) = 0;
  virtual int Remove(const std::string& path) = 0;
  virtual int Rename(const std::string& from, const std::string& to) = 0;
  // linkat(2): a second name for from; fails with -EEXIST when `to` exists. follow resolves
  // from when it is a symbolic link (as /proc/self/fd/N is).
  virtual int Link(const std::string& from, const std::string& to, bool follow) = 0;
  // flock(2).
  virtual int Lock(int fd, int operation) = 0;
  virtual int Stat(int fd, struct stat& out) = 0;
  virtual int StatPath(const std::string& path, struct stat& out) = 0;
  // The names in a folder (without "." and "..").
  virtual int List(const std::string& folder, std::vector<std::string>& names) = 0;
};

// The file system in use: the system's, unless a test installed another.
FileSystem& Files();
// Installs fs for every call from now on (nullptr: the system's again); tests switch only
// while no file is open and no write is under way.
void UseFiles(FileSystem* fs);
// The system's own.
FileSystem& SystemFiles();

// The folder part of a path ("." for a bare name, "/" for a name in the root).
std::string FolderOf(const std::string& path);

}  // namespace platform
