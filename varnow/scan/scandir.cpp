#include "varnow/scan/scandir.h"

#include <algorithm>

#include "platform/tracelog.h"

namespace varnow {

std::int64_t RoundToCluster(std::uint64_t length, std::uint32_t clusterSize) {
  if (length == 0) return 0;
  const std::uint64_t cluster = clusterSize == 0 ? 1 : clusterSize;
  const std::uint64_t rest = length % cluster;
  return static_cast<std::int64_t>(rest == 0 ? length : length + (cluster - rest));
}

std::int64_t CountedSize(std::uint64_t length, std::uint64_t allocated, const CSizeRule& rule) {
  const std::int64_t rounded = RoundToCluster(length, rule.clusterSize);
  if (!rule.onDisk) return rounded;
  return std::min(rounded, static_cast<std::int64_t>(allocated));
}

std::int64_t CountedSize(const platform::DirEntry& entry, const CSizeRule& rule) {
  return CountedSize(entry.length, entry.allocated, rule);
}

std::int64_t GetDirectorySize(std::string path, const CSizeRule& rule) {
  std::int64_t total = 0;
  try {
    platform::DirListing listing;
    if (!listing.Open(path)) return 0;
    platform::DirEntry entry;
    while (listing.Next(entry))
      if (!entry.isDirectory) total += CountedSize(entry, rule);  // directories report no length
  } catch (...) {
    VN_TRACE("** Exception in GetDirectorySize\n");
  }
  return total;
}

}  // namespace varnow
