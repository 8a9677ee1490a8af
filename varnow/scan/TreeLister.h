// Lists a whole directory tree with several threads: the one walk of the file system that every
// scan makes. Only the file-system work happens here (listings, lengths, link identities); the
// scan session then merges the result in listing order on one thread, so its records come out
// exactly as a walk of the live tree in that order would make them.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/dirlist.h"
#include "varnow/scan/LargestFiles.h"
#include "varnow/scan/Prompts.h"
#include "varnow/scan/scandir.h"

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

// What few directories have: files with several links, and what an observer's walk keeps.
struct CListedExtras {
  dev_t device = 0;  // identity of the directory: only when files are kept
  ino_t inode = 0;
  std::vector<CListedFile> linkedFiles;
  std::vector<platform::DirEntry> files;  // everything that is no directory: only when kept
};

// A walk of millions of directories holds one of these for each until it is merged, so the
// rarely used parts sit behind one pointer.
struct CListedDirectory {
  bool opened = false;   // the listing could be read
  bool skipped = false;  // not entered (a pseudo file system)
  std::int32_t fileCount = 0;  // every file, linked ones included
  std::int64_t filesSize = 0;  // allocated size of the files with one link
  std::vector<std::string> subdirectories;  // listing order
  std::vector<CListedDirectory> children;   // one per subdirectory, same order
  std::unique_ptr<CListedExtras> extras;    // none while empty
  bool ready = false;  // listed (or dropped at a cancel): see CTreeListing::Wait

  CListedExtras& Extras() {
    if (!extras) extras = std::make_unique<CListedExtras>();
    return *extras;
  }
};

struct CListOptions {
  int threads = 1;  // readers
  CSizeRule rule;   // how files are counted
  // Decides which subdirectories (path ending in "/") are not entered; called from several
  // threads, just before the subdirectory would be handed to a reader.
  std::function<bool(const std::string&)> skip;
  CLargestFiles* largest = nullptr;  // takes in the largest files met
  // Counted up as directories are listed; once its cancel flag is set, the readers stop within
  // the entry they read and open nothing more (what was listed so far comes back).
  CScanCounters* counters = nullptr;
  bool keepFiles = false;  // keep every file's entry and each directory's identity (an observer's)
};

// The whole tree at once. path ends in "/".
CListedDirectory ListTree(const std::string& path, const CListOptions& options);

class TreeWalk;

// The same walk on threads of its own (options.threads of them), while the caller takes in
// each directory as soon as it is listed: the listing runs ahead of a merge that would
// otherwise wait for the whole tree, and goes on while the merge waits for the data file.
// Subdirectories are listed in the order of their parent's listing, as the merge takes them.
class CTreeListing {
 public:
  CTreeListing(const std::string& path, const CListOptions& options);
  CTreeListing(const CTreeListing&) = delete;
  CTreeListing& operator=(const CTreeListing&) = delete;
  ~CTreeListing();  // waits for the readers, which stop soon once cancelled

  CListedDirectory& Root() { return m_root; }
  // Waits until node (the root or a child of a node waited for) is listed; false when the
  // scan was cancelled first. Nothing but the caller changes a node once it is listed.
  bool Wait(const CListedDirectory& node);
  // Waits for the readers; the largest files are complete afterwards.
  void Join();

 private:
  std::string m_path;
  CListedDirectory m_root;
  std::unique_ptr<TreeWalk> m_walk;
  std::vector<std::thread> m_threads;
};

}  // namespace varnow
