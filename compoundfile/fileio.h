// Thin POSIX file helpers: whole reads and writes that retry on interruption, and an open
// that takes an flock on the file, waiting for another holder up to a limit.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <sys/uio.h>

#include "compoundfile/compoundfile.h"

namespace cfb::io {

// Reads up to size bytes at offset; *got receives the count (short only at end of file).
HRESULT ReadAt(int fd, std::uint64_t offset, void* buffer, std::size_t size, std::size_t* got);
HRESULT WriteAt(int fd, std::uint64_t offset, const void* buffer, std::size_t size);
// Writes the pieces one after the other from offset on, with as few calls as the system
// allows (the pieces are not changed; the array is).
HRESULT WriteVecAt(int fd, std::uint64_t offset, iovec* pieces, std::size_t count);
HRESULT Sync(int fd);
HRESULT SyncDirectoryOf(const std::string& path);
// Maps errno of a failed open or lock to a status code.
HRESULT StatusFromErrno(int err);

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
