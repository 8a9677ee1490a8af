// The largest files a scan met: a bounded heap that keeps the n largest of every file offered
// to it. Offering costs one comparison once the heap is full, so the scan pays nothing for the
// files that do not make it; the path is only built for the ones that do.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace varnow {

inline constexpr std::size_t kLargestFilesKept = 100;

struct CLargeFile {
  std::string path;            // full path (bytes as listed)
  std::int64_t size = 0;       // as the scan counted it (cluster mode)
  std::int64_t modified = 0;   // seconds since 1970 UTC
  dev_t device = 0;            // identity, so a file with several links is kept once
  ino_t inode = 0;
};

class CLargestFiles {
 public:
  explicit CLargestFiles(std::size_t capacity = kLargestFilesKept) : m_capacity(capacity) {}

  // The smallest size that can still enter: offering anything below it is pointless.
  bool WouldKeep(std::int64_t size) const {
    return m_capacity > 0 && (m_heap.size() < m_capacity || size > m_heap.front().size);
  }
  // directory ends in "/"; links > 1 marks a file that may be offered again under another name.
  void Offer(std::string_view directory, std::string_view name, std::int64_t size, std::int64_t modified,
             dev_t device, ino_t inode, unsigned long links) {
    if (WouldKeep(size)) Insert(directory, name, size, modified, device, inode, links > 1);
  }
  // Takes in what another heap (one lister thread's) kept.
  void Merge(const CLargestFiles& other);
  void Clear() { m_heap.clear(); }

  std::size_t Count() const { return m_heap.size(); }
  // Largest first; equal sizes by path.
  std::vector<CLargeFile> Sorted() const;

 private:
  void Insert(std::string_view directory, std::string_view name, std::int64_t size, std::int64_t modified,
              dev_t device, ino_t inode, bool linked);
  void Push(CLargeFile file);

  std::size_t m_capacity;
  std::vector<CLargeFile> m_heap;  // a min-heap on size: the front is the first to go
};

}  // namespace varnow
