// What a scan tells an observer about the tree it walks, in walk order: each directory as it is
// entered (parents before children), each file in it, and the directory's end. An export
// streams the tree out this way while the scan runs, so the file system is read only once.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>

#include "platform/dirlist.h"

namespace varnow {

class IScanVisitor {
 public:
  virtual ~IScanVisitor() = default;
  // path ends in "/". opened false: it could not be listed, and only its end follows.
  virtual void OnDirectoryBegin(const std::string& path, bool opened, dev_t device, ino_t inode) = 0;
  // Anything in the directory entered last that is not a directory. size: the space the scan
  // counts for it, before a file with several links is counted only once.
  virtual void OnFile(const platform::DirEntry& entry, std::int64_t size) = 0;
  // A subdirectory that the scan does not enter (a pseudo file system).
  virtual void OnSkippedDirectory(const std::string& name) = 0;
  virtual void OnDirectoryEnd() = 0;
};

}  // namespace varnow
