// The file operations of the library on top of the file system seam (platform/filesystem.h,
// which the atomic file writer of the platform layer shares): whole
// reads and writes that go on after a short count or an interruption, syncs that are never
// retried (after a failed fsync the kernel may have dropped the unwritten pages, so a second
// one proves nothing), status codes for errno, and an open that takes an flock on the file,
// waiting for another holder up to a limit.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <sys/uio.h>

#include "compoundfile/compoundfile.h"
#include "platform/filesystem.h"

namespace cfb::io {

using platform::FileSystem;
using platform::Files;
using platform::FolderOf;
using platform::SystemFiles;
using platform::UseFiles;

// Opens path (open(2) flags and mode), again when interrupted; the descriptor or -errno.
int OpenFile(const std::string& path, int flags, unsigned mode);
// flock(2), again when interrupted; 0 or -errno.
int LockFile(int fd, int operation);
// Reads up to size bytes at offset; *got receives the count (short only at end of file).
HRESULT ReadAt(int fd, std::uint64_t offset, void* buffer, std::size_t size, std::size_t* got);
HRESULT WriteAt(int fd, std::uint64_t offset, const void* buffer, std::size_t size);
// Writes the pieces one after the other from offset on, with as few calls as the system
// allows (the pieces are not changed; the array is).
HRESULT WriteVecAt(int fd, std::uint64_t offset, iovec* pieces, std::size_t count);
HRESULT Truncate(int fd, std::uint64_t length);
HRESULT Sync(int fd);
// fdatasync(2): for bytes overwritten in place, the file's length unchanged. Never retried.
HRESULT SyncData(int fd);
// Syncs the folder holding path, so that a name created, removed or renamed there lasts. A
// file system that cannot sync folders at all is no failure.
HRESULT SyncFolderOf(const std::string& path);
// Removes path; S_OK also when it was not there.
HRESULT Remove(const std::string& path);
// Maps errno of a failed open or lock to a status code.
HRESULT StatusFromErrno(int err);
// Maps errno of a failed write, truncation or sync: a full disk or quota is STG_E_MEDIUMFULL,
// anything else STG_E_WRITEFAULT.
HRESULT WriteStatusFromErrno(int err);

// An open descriptor that holds an flock on the file; closing it lets the lock go.
class LockedFile {
 public:
  LockedFile() = default;
  LockedFile(const LockedFile&) = delete;
  LockedFile& operator=(const LockedFile&) = delete;
  LockedFile(LockedFile&& other) noexcept;
  LockedFile& operator=(LockedFile&& other) noexcept;
  ~LockedFile() { Close(); }

  // Opens an existing file and locks it (shared when readOnly, else exclusive), polling until
  // wait has passed. Each open has its own descriptor, so two opens in one process exclude
  // each other just as two processes do. When the path was replaced while waiting, the new
  // file is opened instead.
  HRESULT Open(const std::string& path, bool readOnly, std::chrono::milliseconds wait);
  // Changes the lock between shared and exclusive, polling like Open.
  HRESULT Relock(bool exclusive, std::chrono::milliseconds wait);
  void Close();
  int fd() const { return m_fd; }

 private:
  int m_fd = -1;
};

}  // namespace cfb::io
