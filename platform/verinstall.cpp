#include "platform/verinstall.h"

#include "platform/versionrecord.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

namespace platform {
namespace {

std::string JoinPath(const std::string& dir, const std::string& name) {
  if (dir.empty()) return name;
  return dir.back() == '/' ? dir + name : dir + "/" + name;
}

// A file without a version record counts as version 0.
std::uint64_t FileVersionOf(const std::string& path) {
  const auto record = ReadVersionRecord(path);
  return record ? (std::uint64_t{record->fileVersionMS} << 32 | record->fileVersionLS) : 0;
}

// The bit for an errno from making or filling the new file; `other` for causes without a bit.
std::uint32_t BitForErrno(int error, std::uint32_t other) {
  switch (error) {
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
      return VIF_OUTOFSPACE;
    case EACCES:
    case EPERM:
      return VIF_ACCESSVIOLATION;
    case EROFS:
      return VIF_WRITEPROT;
    case ETXTBSY:
      return VIF_FILEINUSE;
    case ENOMEM:
      return VIF_OUTOFMEMORY;
    case ENAMETOOLONG:
      return VIF_BUFFTOOSMALL;
    default:
      return other;
  }
}

bool WriteAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t written = ::write(fd, data, size);
    if (written < 0 && errno == EINTR) continue;
    if (written < 0) return false;
    if (written == 0) {
      errno = ENOSPC;
      return false;
    }
    data += written;
    size -= static_cast<std::size_t>(written);
  }
  return true;
}

// Copies everything from `from` to `to`; 0 or the bit of the side that failed.
std::uint32_t CopyContents(int from, int to) {
  std::vector<char> buffer(1 << 16);
  for (;;) {
    const ssize_t got = ::read(from, buffer.data(), buffer.size());
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return errno == ENOMEM ? VIF_OUTOFMEMORY : VIF_CANNOTREADSRC;
    if (got == 0) return 0;
    if (!WriteAll(to, buffer.data(), static_cast<std::size_t>(got))) return BitForErrno(errno, VIF_CANNOTREADDST);
  }
}

class CFileDescriptor {
 public:
  explicit CFileDescriptor(int fd) : m_fd(fd) {}
  ~CFileDescriptor() {
    if (m_fd >= 0) ::close(m_fd);
  }
  CFileDescriptor(const CFileDescriptor&) = delete;
  CFileDescriptor& operator=(const CFileDescriptor&) = delete;
  int Get() const { return m_fd; }
  // close(2) reports late write errors (network and quota file systems), so it is checked.
  bool Close() {
    const int fd = m_fd;
    m_fd = -1;
    return ::close(fd) == 0;
  }

 private:
  int m_fd;
};

// Writes the source into a new temporary file beside `dest` and renames it over `dest`.
std::uint32_t ReplaceFile(int source, mode_t mode, const std::string& destDir, const std::string& destFileName) {
  std::string temp = JoinPath(destDir, "." + destFileName + ".XXXXXX");
  CFileDescriptor target(::mkostemp(temp.data(), O_CLOEXEC));
  if (target.Get() < 0) return BitForErrno(errno, VIF_CANNOTCREATE);
  std::uint32_t result = CopyContents(source, target.Get());
  if (result == 0 && ::fchmod(target.Get(), mode) != 0) result = BitForErrno(errno, VIF_CANNOTREADDST);
  if (result == 0 && ::fsync(target.Get()) != 0) result = BitForErrno(errno, VIF_CANNOTREADDST);
  if (!target.Close() && result == 0) result = BitForErrno(errno, VIF_CANNOTREADDST);
  if (result == 0 && ::rename(temp.c_str(), JoinPath(destDir, destFileName).c_str()) != 0)
    result = BitForErrno(errno, VIF_CANNOTRENAME);
  if (result != 0) ::unlink(temp.c_str());
  return result;
}

}  // namespace

std::uint32_t VerInstallFile(unsigned flags, const std::string& srcFileName, const std::string& destFileName,
                             const std::string& srcDir, const std::string& destDir) {
  const std::string sourcePath = JoinPath(srcDir, srcFileName);
  const std::string destPath = JoinPath(destDir, destFileName);
  if (destFileName.empty() || destFileName.find('/') != std::string::npos) return VIF_CANNOTCREATE;

  CFileDescriptor source(::open(sourcePath.c_str(), O_RDONLY | O_CLOEXEC));
  if (source.Get() < 0) return errno == ENOMEM ? VIF_OUTOFMEMORY : VIF_CANNOTREADSRC;
  struct stat sourceInfo {};
  if (::fstat(source.Get(), &sourceInfo) != 0 || !S_ISREG(sourceInfo.st_mode)) return VIF_CANNOTREADSRC;

  struct stat destInfo {};
  if (::lstat(destPath.c_str(), &destInfo) == 0) {
    if (S_ISDIR(destInfo.st_mode)) return VIF_DIFFTYPE;
    if (!(flags & VIFF_FORCEINSTALL)) {
      if (FileVersionOf(sourcePath) < FileVersionOf(destPath)) return VIF_SRCOLD;
      if (S_ISREG(destInfo.st_mode) && (destInfo.st_mode & S_IWUSR) == 0) return VIF_WRITEPROT;
    }
  } else if (errno != ENOENT) {
    return BitForErrno(errno, VIF_CANNOTREADDST);
  }
  return ReplaceFile(source.Get(), sourceInfo.st_mode & 0777, destDir, destFileName);
}

}  // namespace platform
