#include "compoundfile/fileio.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>

namespace cfb::io {

int OpenFile(const std::string& path, int flags, unsigned mode) {
  int fd;
  do {
    fd = Files().Open(path, flags, mode);
  } while (fd == -EINTR);
  return fd;
}

int LockFile(int fd, int operation) {
  int r;
  do {
    r = Files().Lock(fd, operation);
  } while (r == -EINTR);
  return r;
}

HRESULT ReadAt(int fd, std::uint64_t offset, void* buffer, std::size_t size, std::size_t* got) {
  auto* p = static_cast<std::uint8_t*>(buffer);
  std::size_t done = 0;
  while (done < size) {
    const std::int64_t n = Files().ReadAt(fd, p + done, size - done, offset + done);
    if (n == -EINTR) continue;
    if (n < 0) return STG_E_READFAULT;
    if (n == 0) break;
    done += static_cast<std::size_t>(n);
  }
  if (got) *got = done;
  return S_OK;
}

HRESULT WriteAt(int fd, std::uint64_t offset, const void* buffer, std::size_t size) {
  iovec piece{const_cast<void*>(buffer), size};
  return WriteVecAt(fd, offset, &piece, 1);
}

HRESULT WriteVecAt(int fd, std::uint64_t offset, iovec* pieces, std::size_t count) {
  while (count > 0 && pieces->iov_len == 0) {
    ++pieces;
    --count;
  }
  while (count > 0) {
    const int batch = static_cast<int>(std::min<std::size_t>(count, IOV_MAX));
    const std::int64_t n = Files().WriteAt(fd, pieces, batch, offset);
    if (n == -EINTR) continue;
    if (n < 0) return WriteStatusFromErrno(static_cast<int>(-n));
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

HRESULT Truncate(int fd, std::uint64_t length) {
  for (;;) {
    const int r = Files().Truncate(fd, length);
    if (r == -EINTR) continue;
    return r < 0 ? WriteStatusFromErrno(-r) : S_OK;
  }
}

HRESULT Sync(int fd) {
  const int r = Files().Sync(fd);
  return r < 0 ? WriteStatusFromErrno(-r) : S_OK;
}

HRESULT SyncData(int fd) {
  const int r = Files().SyncData(fd);
  return r < 0 ? WriteStatusFromErrno(-r) : S_OK;
}

HRESULT SyncFolderOf(const std::string& path) {
  const int r = Files().SyncFolder(FolderOf(path));
  if (r == -EINVAL || r == -ENOTSUP || r == -EOPNOTSUPP) return S_OK;  // cannot sync folders
  return r < 0 ? WriteStatusFromErrno(-r) : S_OK;
}

HRESULT Remove(const std::string& path) {
  const int r = Files().Remove(path);
  return r < 0 && r != -ENOENT ? WriteStatusFromErrno(-r) : S_OK;
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
    case ENOSPC:
    case EDQUOT: return STG_E_MEDIUMFULL;
    case EWOULDBLOCK: return STG_E_LOCKVIOLATION;
    default: return STG_E_UNKNOWN;
  }
}

HRESULT WriteStatusFromErrno(int err) {
  return err == ENOSPC || err == EDQUOT ? STG_E_MEDIUMFULL : STG_E_WRITEFAULT;
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
  if (m_fd >= 0) Files().Close(m_fd);  // closing the last descriptor lets the flock go
  m_fd = -1;
}

namespace {

// Polls a non-blocking flock with short sleeps, so that a time limit is honoured without a
// helper thread or signals. 0 or the errno of the last attempt.
int LockWithin(int fd, int operation, std::chrono::milliseconds wait) {
  const auto deadline = std::chrono::steady_clock::now() + wait;
  auto pause = std::chrono::milliseconds(1);
  for (;;) {
    const int r = Files().Lock(fd, operation | LOCK_NB);
    if (r == 0) return 0;
    if (r == -EINTR) continue;
    if (r != -EWOULDBLOCK) return -r;
    const auto now = std::chrono::steady_clock::now();
    if (now >= deadline) return EWOULDBLOCK;
    std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(pause, deadline - now));
    pause = std::min(pause * 2, std::chrono::milliseconds(20));
  }
}

}  // namespace

HRESULT LockedFile::Open(const std::string& path, bool readOnly, std::chrono::milliseconds wait) {
  Close();
  FileSystem& files = Files();
  const auto deadline = std::chrono::steady_clock::now() + wait;
  for (int attempt = 0; attempt < 8; ++attempt) {
    const int fd = OpenFile(path, readOnly ? O_RDONLY : O_RDWR, 0);
    if (fd < 0) return StatusFromErrno(-fd);
    struct stat st {};
    if (files.Stat(fd, st) != 0 || !S_ISREG(st.st_mode)) {
      files.Close(fd);
      return STG_E_ACCESSDENIED;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    const int err = LockWithin(fd, readOnly ? LOCK_SH : LOCK_EX, std::max(left, std::chrono::milliseconds(0)));
    if (err != 0) {
      files.Close(fd);
      return err == EWOULDBLOCK ? STG_E_LOCKVIOLATION : StatusFromErrno(err);
    }
    // The previous holder may have removed or replaced the file while we waited.
    struct stat now {};
    if (files.StatPath(path, now) == 0 && now.st_dev == st.st_dev && now.st_ino == st.st_ino) {
      m_fd = fd;
      return S_OK;
    }
    files.Close(fd);
  }
  return STG_E_LOCKVIOLATION;
}

HRESULT LockedFile::Relock(bool exclusive, std::chrono::milliseconds wait) {
  return LockWithin(m_fd, exclusive ? LOCK_EX : LOCK_SH, wait) == 0 ? S_OK : STG_E_LOCKVIOLATION;
}

}  // namespace cfb::io
