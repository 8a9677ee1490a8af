// Size arithmetic of the scan: allocated size of one listing entry and of the files directly in
// a directory, for a given allocation unit (the scan session's cluster size).
#pragma once

#include <cstdint>
#include <string>

#include "platform/dirlist.h"

namespace varnow {

class CScanProgress;

// Space a file of this length occupies: rounded up to whole clusters (0 stays 0; a cluster size
// of 0 counts as 1).
std::int64_t RoundToCluster(std::uint64_t length, std::uint32_t clusterSize);

// Allocated size of the files directly in path (ends in "/"); 0 when it cannot be listed or the
// progress display, when one is given, was cancelled.
std::int64_t GetDirectorySize(std::string path, std::uint32_t clusterSize, CScanProgress* progress = nullptr);

}  // namespace varnow
