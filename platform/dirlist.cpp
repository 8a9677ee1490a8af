#include "platform/dirlist.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

namespace platform {
namespace {

// The kernel's record layout for getdents64 (glibc 2.36 has no wrapper in Debian 12's headers
// we can rely on everywhere).
struct KernelDirent64 {
  ino64_t d_ino;
  off64_t d_off;
  unsigned short d_reclen;
  unsigned char d_type;
  char d_name[];
};

constexpr std::size_t kBufferSize = 32 * 1024;

bool IsDots(const char* name) {
  return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

// One spare buffer per thread: a walk lists a directory after another, and a buffer of this
// size taken from the heap and given back for each of millions of them keeps the threads of a
// scan queued on the allocator's lock. A listing holds its buffer only while it reads.
thread_local std::unique_ptr<char[]> t_spareBuffer;

std::unique_ptr<char[]> TakeBuffer() {
  if (t_spareBuffer) return std::move(t_spareBuffer);
  return std::unique_ptr<char[]>(new char[kBufferSize]);
}

void GiveBack(std::unique_ptr<char[]>& buffer) {
  if (buffer && !t_spareBuffer) t_spareBuffer = std::move(buffer);
  buffer.reset();
}

}  // namespace

DirListing::DirListing(DirListing&& other) noexcept { *this = std::move(other); }

DirListing& DirListing::operator=(DirListing&& other) noexcept {
  if (this != &other) {
    Close();
    m_fd = std::exchange(other.m_fd, -1);
    m_device = other.m_device;
    m_inode = other.m_inode;
    m_dots = other.m_dots;
    m_buffer = std::move(other.m_buffer);
    m_pos = other.m_pos;
    m_end = other.m_end;
  }
  return *this;
}

DirListing::~DirListing() { Close(); }

bool DirListing::Open(const std::string& path) {
  Close();
  return Start(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC), true);
}

bool DirListing::OpenAt(int dirFd, const std::string& name, bool identify) {
  Close();
  return Start(::openat(dirFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC), identify);
}

bool DirListing::Start(int fd, bool identify) {
  if (fd < 0) return false;
  struct stat self {};
  if (identify && ::fstat(fd, &self) != 0) {
    int saved = errno;
    ::close(fd);
    errno = saved;
    return false;
  }
  m_fd = fd;
  m_device = self.st_dev;
  m_inode = self.st_ino;
  m_dots = 0;
  m_pos = m_end = 0;
  return true;
}

void DirListing::Close() {
  if (m_fd >= 0) ::close(m_fd);
  m_fd = -1;
  m_pos = m_end = 0;
  GiveBack(m_buffer);
}

bool DirListing::Fill() {
  if (!m_buffer) m_buffer = TakeBuffer();
  long got = ::syscall(SYS_getdents64, m_fd, m_buffer.get(), kBufferSize);
  if (got <= 0) {
    const int saved = got == 0 ? 0 : errno;
    m_pos = m_end = 0;
    GiveBack(m_buffer);  // read to the end: the descriptor may stay open, the buffer need not
    errno = saved;
    return false;
  }
  m_pos = 0;
  m_end = static_cast<std::size_t>(got);
  return true;
}

bool DirListing::Next(DirEntry& entry) {
  if (m_fd < 0) return false;
  // "." and ".." come first whatever order the file system keeps them in; the scan only
  // needs to recognise them, so they cost no system call.
  if (m_dots < 2) {
    entry.name.assign(m_dots == 0 ? "." : "..");
    entry.isDirectory = true;
    entry.length = 0;
    entry.allocated = 0;
    entry.device = m_dots == 0 ? m_device : 0;
    entry.inode = m_dots == 0 ? m_inode : 0;
    entry.links = 0;
    ++m_dots;
    return true;
  }
  for (;;) {
    if (m_pos >= m_end && !Fill()) return false;
    auto* record = reinterpret_cast<const KernelDirent64*>(m_buffer.get() + m_pos);
    m_pos += record->d_reclen;
    const char* name = record->d_name;
    if (IsDots(name)) continue;

    entry.name.assign(name);
    entry.length = 0;
    entry.allocated = 0;
    entry.device = 0;
    entry.inode = 0;
    entry.links = 0;
    entry.modified = 0;
    if (record->d_type == DT_DIR) {
      entry.isDirectory = true;
      return true;
    }
    struct stat st {};
    if (::fstatat(m_fd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
      // Vanished between listing and stat: it no longer takes space.
      if (errno == ENOENT) continue;
      entry.isDirectory = record->d_type == DT_DIR;
      return true;
    }
    entry.isDirectory = S_ISDIR(st.st_mode);
    if (!entry.isDirectory) {
      entry.length = static_cast<std::uint64_t>(st.st_size);
      entry.allocated = static_cast<std::uint64_t>(st.st_blocks) * 512;
      entry.device = st.st_dev;
      entry.inode = st.st_ino;
      entry.links = st.st_nlink;
      entry.modified = st.st_mtim.tv_sec;
    }
    return true;
  }
}

bool PathExists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

std::vector<DirEntry> ListDirectory(const std::string& path) {
  std::vector<DirEntry> entries;
  DirListing listing;
  if (!listing.Open(path)) return entries;
  DirEntry entry;
  while (listing.Next(entry)) entries.push_back(entry);
  return entries;
}

}  // namespace platform
