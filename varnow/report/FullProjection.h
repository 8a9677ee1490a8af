// When the disk will be full: a least-squares line through the free-space history of a
// directory's record (the "[Total Free]" row at each of its scans) and the date where it
// reaches zero. Pure computation; the report footer, the window's status area and the
// disk-full alert all word it through ProjectionText.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>

#include "varnow/scan/DirData.h"

namespace varnow {

// Fewer scans than this tell no trend; nor do scans closer together than this many seconds,
// whose small changes (other programs at work) would put the date anywhere.
inline constexpr int kMinProjectionScans = 3;
inline constexpr long kMinProjectionSpan = 3600;

struct CFullProjection {
  enum Outlook { NotEnoughHistory, NotShrinking, Fills };
  Outlook outlook = NotEnoughHistory;
  int scans = 0;                   // scans with a free-space value
  std::int64_t freeNow = kNoSize;  // free space at the newest of them
  std::time_t newestScan = 0;
  std::time_t fullAt = 0;          // Fills: when the line reaches zero, never before the newest scan
};

CFullProjection ProjectDiskFull(const CDirData& record);

// "At the current rate the disk holding DIR fills around March 4, 2027", "Free space is not
// shrinking" or "Not enough history yet".
std::string ProjectionText(const CFullProjection& projection, const std::string& dir);

}  // namespace varnow
