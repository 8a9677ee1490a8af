#include "compoundfile/fileio.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <climits>
#include <thread>
#include <unistd.h>

namespace cfb::io {

HRESULT ReadAt(int fd, std::uint64_t offset, void* buffer, std::size_t size, std::size_t* got) {
  auto* p = static_cast<std::uint8_t*>(buffer);
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n = ::pread(fd, p + done, size - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return STG_E_READFAULT;
    if (n == 0) break;
    done += static_cast<std::size_t>(n);
  }
  if (got) *got = done;
  return S_OK;
}

HRESULT WriteAt(int fd, std::uint64_t offset, const void* buffer, std::size_t size) {
  const auto* p = static_cast<const std::uint8_t*>(buffer);
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n = ::pwrite(fd, p + done, size - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return errno == ENOSPC || errno == EFBIG ? STG_E_MEDIUMFULL : STG_E_WRITEFAULT;
    done += static_cast<std::size_t>(n);
  }
  return S_OK;
}

HRESULT WriteVecAt(int fd, std::uint64_t offset, iovec* pieces, std::size_t count) {
  while (count > 0) {
    const int batch = static_cast<int>(std::min<std::size_t>(count, IOV_MAX));
    const ssize_t n = ::pwritev(fd, pieces, batch, static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return errno == ENOSPC || errno == EFBIG ? STG_E_MEDIUMFULL : STG_E_WRITEFAULT;
    if (n == 0) return STG_E_WRITEFAULT;
    offset += static_cast<std::uint64_t>(n);
    // Skip what was written; a piece written in part goes on from where the write stopped.
    auto done = static_cast<std::size_t>(n);
    while (count > 0 && done >= pieces->iov_len) {
      done -= pieces->iov_len;
      ++pieces;
      --count;
    }
    if (count > 0) {
      pieces->iov_base = static_cast<std::uint8_t*>(pieces->iov_base) + done;
      pieces->iov_len -= done;
    }
  }
  return S_OK;
}

HRESULT Sync(int fd) { return ::fsync(fd) == 0 ? S_OK : STG_E_WRITEFAULT; }

HRESULT SyncDirectoryOf(const std::string& path) {
  const auto slash = path.rfind('/');
  const std::string dir = slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
  const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return STG_E_WRITEFAULT;
  const HRESULT hr = Sync(fd);
  ::close(fd);
  return hr;
}

HRESULT StatusFromErrno(int err) {
  switch (err) {
    case ENOENT: return STG_E_FILENOTFOUND;
    case ENOTDIR: return STG_E_PATHNOTFOUND;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR: return STG_E_ACCESSDENIED;
    case ENOMEM: return STG_E_INSUFFICIENTMEMORY;
    case ENOSPC: return STG_E_MEDIUMFULL;
    case EWOULDBLOCK: return STG_E_LOCKVIOLATION;
    default: return STG_E_UNKNOWN;
  }
}

LockedFile::LockedFile(LockedFile&& other) noexcept : m_fd(other.m_fd) { other.m_fd = -1; }

LockedFile& LockedFile::operator=(LockedFile&& other) noexcept {
  if (this != &other) {
    Close();
    m_fd = other.m_fd;
    other.m_fd = -1;
  }
  return *this;
}

void LockedFile::Close() {
  if (m_fd >= 0) ::close(m_fd);  // closing the last descriptor lets the flock go
  m_fd = -1;
}

namespace {

// Polls a non-blocking flock with short sleeps, so that a time limit is honoured without a
// helper thread or signals.
bool LockWithin(int fd, int operation, std::chrono::milliseconds wait) {
  const auto deadline = std::chrono::steady_clock::now() + wait;
  auto pause = std::chrono::milliseconds(1);
  for (;;) {
    if (::flock(fd, operation | LOCK_NB) == 0) return true;
    if (errno == EINTR) continue;
    if (errno != EWOULDBLOCK) return false;
    const auto now = std::chrono::steady_clock::now();
    if (now >= deadline) return false;
    std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(pause, deadline - now));
    pause = std::min(pause * 2, std::chrono::milliseconds(20));
  }
}

}  // namespace

HRESULT LockedFile::Open(const std::string& path, bool readOnly, std::chrono::milliseconds wait) {
  Close();
  const auto deadline = std::chrono::steady_clock::now() + wait;
  for (int attempt = 0; attempt < 8; ++attempt) {
    const int fd = ::open(path.c_str(), (readOnly ? O_RDONLY : O_RDWR) | O_CLOEXEC);
    if (fd < 0) return StatusFromErrno(errno);
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
      ::close(fd);
      return STG_E_ACCESSDENIED;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (!LockWithin(fd, readOnly ? LOCK_SH : LOCK_EX, std::max(left, std::chrono::milliseconds(0)))) {
      const int err = errno;
      ::close(fd);
      return err == EWOULDBLOCK || err == 0 ? STG_E_LOCKVIOLATION : StatusFromErrno(err);
    }
    // The previous holder may have removed or replaced the file while we waited.
    struct stat now {};
    if (::stat(path.c_str(), &now) == 0 && now.st_dev == st.st_dev && now.st_ino == st.st_ino) {
      m_fd = fd;
      return S_OK;
    }
    ::close(fd);
  }
  return STG_E_LOCKVIOLATION;
}

HRESULT LockedFile::Relock(bool exclusive, std::chrono::milliseconds wait) {
  return LockWithin(m_fd, exclusive ? LOCK_EX : LOCK_SH, wait) ? S_OK : STG_E_LOCKVIOLATION;
}

}  // namespace cfb::io
