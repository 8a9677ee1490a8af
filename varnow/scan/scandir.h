// Size arithmetic of the scan: the space one listing entry counts for and the files directly in
// a directory, under the scan session's size rule.
#pragma once

#include <cstdint>
#include <string>

#include "platform/dirlist.h"

namespace varnow {

// How a file is counted. On disk: its length rounded up to whole allocation units, but never
// more than the space the file system holds for it (a sparse file counts what it holds).
// Apparent: its length as it stands, rounded to clusterSize (1 in the "ignore" mode).
struct CSizeRule {
  std::uint32_t clusterSize = 4096;
  bool onDisk = true;
};

// Space a file of this length occupies: rounded up to whole clusters (0 stays 0; a cluster size
// of 0 counts as 1).
std::int64_t RoundToCluster(std::uint64_t length, std::uint32_t clusterSize);

// What a file of this length, for which the file system holds `allocated` bytes, counts for
// under rule; the second form for a listed file.
std::int64_t CountedSize(std::uint64_t length, std::uint64_t allocated, const CSizeRule& rule);
std::int64_t CountedSize(const platform::DirEntry& entry, const CSizeRule& rule);

// Counted size of the files directly in path (ends in "/"); 0 when it cannot be listed.
std::int64_t GetDirectorySize(std::string path, const CSizeRule& rule);

}  // namespace varnow
