// Lists a whole directory tree with several threads ahead of a scan that shows no progress.
// Only the file-system work happens here (listings, lengths, link identities); the scan then
// walks the result in listing order on its own thread, so its records come out exactly as a
// walk of the live tree would make them.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "varnow/scan/scandir.h"
#include "varnow/scan/LargestFiles.h"

namespace varnow {

// A walk opens every directory relative to an ancestor whose descriptor it holds: a full path
// may be longer than the system accepts. The first kMaxHeldDescriptors levels all hold theirs;
// below them (a very deep tree would otherwise run out of descriptors) a directory holds its
// own only when the path from the last one held would grow past kMaxRelativePath bytes.
inline constexpr int kMaxHeldDescriptors = 200;
inline constexpr std::size_t kMaxRelativePath = 2048;

// Whether a directory at depth, opened by a path of relativeLength bytes below the ancestor
// held last, holds its descriptor for its subdirectories.
inline bool HoldsDescriptor(int depth, std::size_t relativeLength) {
  return depth < kMaxHeldDescriptors || relativeLength + 1 + 255 > kMaxRelativePath;
}

struct CListedFile {  // a file with several links: counted once per scan by its identity
  dev_t device;
  ino_t inode;
  std::int64_t size;
};

struct CListedDirectory {
  bool opened = false;   // the listing could be read
  bool skipped = false;  // not entered (a pseudo file system)
  std::int64_t filesSize = 0;  // allocated size of the files with one link
  std::int32_t fileCount = 0;  // every file, linked ones included
  std::vector<CListedFile> linkedFiles;
  std::vector<std::string> subdirectories;  // listing order
  std::vector<CListedDirectory> children;   // one per subdirectory, same order
};

// path ends in "/"; files are counted by rule. skip(path of a subdirectory, ending
// in "/") decides which are not entered; it is called from several threads. threads counts the
// caller, which works too. largest, when given, takes in the largest files met.
CListedDirectory ListTree(const std::string& path, int threads, const CSizeRule& rule,
                          const std::function<bool(const std::string&)>& skip, CLargestFiles* largest = nullptr);

}  // namespace varnow
