// Size arithmetic of the scan: allocated size of one listing entry, the files directly in a
// directory, and the one conversion of a size to text. Also the process-wide scan state that
// the window reads (cluster size, counters, the current progress display).
#pragma once

#include <cstdint>
#include <string>

#include "platform/dirlist.h"

namespace varnow {

class CScanProgress;

// Allocation unit in bytes used by RoundToCluster; 4096 until GetClusterSize runs.
extern std::uint32_t g_clusterSize;
// Reset when a top-level scan starts, kept after it ends.
extern std::int32_t g_directoriesScanned;
extern std::int32_t g_filesScanned;
// The progress display of the scan under way, or nullptr (silent run, no scan).
extern CScanProgress* g_currentProgress;

// Display units of the PreferredUnits setting.
enum SizeUnit : int { kUnitBytes = 1, kUnitK = 2, kUnitMB = 3, kUnitGB = 4, kUnitSmart = 5 };

// "" for -1; with decorate, thousands separators and " bytes" / " K" / " MB" / " GB".
std::string FormatSize(std::int64_t value, bool decorate, int unit);

// Space the entry occupies: its length rounded up to whole clusters (0 stays 0).
std::int64_t RoundToCluster(const platform::DirEntry& entry);
std::int64_t RoundToCluster(std::uint64_t length);

// Allocated size of the files directly in path (ends in "/"); 0 when it cannot be listed
// or the current progress display was cancelled.
std::int64_t GetDirectorySize(std::string path);

}  // namespace varnow
