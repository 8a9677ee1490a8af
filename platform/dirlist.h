// Fast directory listing for the scan: one getdents64 stream per directory, at most one
// fstatat per entry, names kept as raw bytes. Symbolic links are never followed.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace platform {

struct DirEntry {
  std::string name;          // raw bytes
  bool isDirectory = false;  // S_ISDIR of the entry itself (a link to a directory is no directory)
  std::uint64_t length = 0;  // st_size; 0 for directories
  std::uint64_t allocated = 0;  // st_blocks * 512: the space the file system holds for it
  // Identity, filled for everything that is not a directory (for "." the listed directory's
  // own). Subdirectories are identified by opening them (DirListing::Device()).
  dev_t device = 0;
  ino_t inode = 0;
  nlink_t links = 0;
  std::int64_t modified = 0;  // st_mtime of what is not a directory
};

// The entries of one directory in listing order, "." and ".." first.
class DirListing {
 public:
  DirListing() = default;
  DirListing(const DirListing&) = delete;
  DirListing& operator=(const DirListing&) = delete;
  DirListing(DirListing&& other) noexcept;
  DirListing& operator=(DirListing&& other) noexcept;
  ~DirListing();

  // Opens path (or name relative to the directory fd dirFd). False, with errno set, when it
  // is no directory or cannot be read. Symbolic links are not followed for OpenAt. Without
  // identify, Device(), Inode() and the identity of "." stay 0 (saves a system call).
  bool Open(const std::string& path);
  bool OpenAt(int dirFd, const std::string& name, bool identify = true);
  bool IsOpen() const { return m_fd >= 0; }
  int Fd() const { return m_fd; }
  dev_t Device() const { return m_device; }
  ino_t Inode() const { return m_inode; }

  // The next entry; false at the end (or on a read error, then errno is set).
  bool Next(DirEntry& entry);
  void Close();

 private:
  bool Start(int fd, bool identify);
  bool Fill();

  int m_fd = -1;
  dev_t m_device = 0;
  ino_t m_inode = 0;
  int m_dots = 0;  // "." and ".." given so far
  std::unique_ptr<char[]> m_buffer;  // while reading; not zero-filled: the kernel writes what is read
  std::size_t m_pos = 0;
  std::size_t m_end = 0;
};

// The existence test of the scan: stat() succeeds. A path ending in "/" that names a file
// does not exist.
bool PathExists(const std::string& path);

// All entries of path in listing order; empty when it cannot be opened.
std::vector<DirEntry> ListDirectory(const std::string& path);

}  // namespace platform
