#include "varnow/scan/LargestFiles.h"

#include <algorithm>

namespace varnow {
namespace {

// The heap's order: the smallest file at the front. A file as large as the smallest kept one does
// not enter (WouldKeep): among equal sizes at the cut, the ones met first stay.
bool Keeps(const CLargeFile& a, const CLargeFile& b) {
  if (a.size != b.size) return a.size > b.size;
  return a.path < b.path;
}

}  // namespace

void CLargestFiles::Insert(std::string_view directory, std::string_view name, std::int64_t size,
                           std::int64_t modified, dev_t device, ino_t inode, bool linked) {
  // A file with several links is counted once; it is listed under the first name it was met by.
  if (linked && std::any_of(m_heap.begin(), m_heap.end(),
                            [&](const CLargeFile& f) { return f.device == device && f.inode == inode; }))
    return;
  std::string path;
  path.reserve(directory.size() + name.size());
  path.append(directory).append(name);
  Push(CLargeFile{std::move(path), size, modified, device, inode});
}

void CLargestFiles::Push(CLargeFile file) {
  if (m_heap.size() == m_capacity) {
    if (!Keeps(file, m_heap.front())) return;
    std::pop_heap(m_heap.begin(), m_heap.end(), Keeps);
    m_heap.back() = std::move(file);
  } else {
    m_heap.push_back(std::move(file));
  }
  std::push_heap(m_heap.begin(), m_heap.end(), Keeps);
}

void CLargestFiles::Merge(const CLargestFiles& other) {
  for (const CLargeFile& file : other.m_heap) {
    if (m_capacity == 0) return;
    const bool known = std::any_of(m_heap.begin(), m_heap.end(), [&](const CLargeFile& f) {
      return f.device == file.device && f.inode == file.inode && file.inode != 0;
    });
    if (!known) Push(file);
  }
}

std::vector<CLargeFile> CLargestFiles::Sorted() const {
  std::vector<CLargeFile> files = m_heap;
  std::sort(files.begin(), files.end(), Keeps);
  return files;
}

}  // namespace varnow
