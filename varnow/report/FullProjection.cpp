#include "varnow/report/FullProjection.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "varnow/report/ReportText.h"

namespace varnow {
namespace {

constexpr long double kSecondsPerDay = 86400;
// Further away than this a date means nothing; the text says so instead of naming one.
constexpr long double kFarDays = 36525;  // a hundred years
constexpr const char* kDayFormat = "%B %#d, %Y";

struct Point {
  long double day;   // days after the newest scan (negative: before it)
  long double free;  // bytes
};

}  // namespace

CFullProjection ProjectDiskFull(const CDirData& record) {
  CFullProjection projection;
  const CDirInfo* freeRow = record.FindEntry(kTotalFree);
  if (!freeRow) return projection;
  std::vector<Point> points;
  std::time_t newest = 0;
  for (std::size_t i = 0; i < record.m_times.size(); ++i) {
    const std::int32_t time = record.m_times[i];
    if (time == 0 || freeRow->sizes[i] == kNoSize) continue;
    if (points.empty()) {
      newest = time;
      projection.newestScan = time;
      projection.freeNow = freeRow->sizes[i];
    }
    points.push_back({(static_cast<long double>(time) - newest) / kSecondsPerDay,
                      static_cast<long double>(freeRow->sizes[i])});
  }
  projection.scans = static_cast<int>(points.size());
  if (projection.scans < kMinProjectionScans) return projection;
  const auto [earliest, latest] = std::minmax_element(points.begin(), points.end(),
                                                      [](const Point& a, const Point& b) { return a.day < b.day; });
  if ((latest->day - earliest->day) * kSecondsPerDay < kMinProjectionSpan) return projection;

  long double meanDay = 0, meanFree = 0;
  for (const Point& p : points) meanDay += p.day, meanFree += p.free;
  meanDay /= points.size();
  meanFree /= points.size();
  long double sxy = 0, sxx = 0;
  for (const Point& p : points) {
    sxy += (p.day - meanDay) * (p.free - meanFree);
    sxx += (p.day - meanDay) * (p.day - meanDay);
  }
  const long double slope = sxy / sxx;  // bytes per day; the scans span an hour, so sxx > 0
  if (!(slope < 0)) {
    projection.outlook = CFullProjection::NotShrinking;
    return projection;
  }
  projection.outlook = CFullProjection::Fills;
  const long double zeroDay = std::clamp(meanDay - meanFree / slope, 0.0L, kFarDays + 1);
  projection.fullAt = newest + static_cast<std::time_t>(std::llround(zeroDay * kSecondsPerDay));
  return projection;
}

std::string ProjectionText(const CFullProjection& projection, const std::string& dir) {
  switch (projection.outlook) {
    case CFullProjection::NotEnoughHistory:
      return "Not enough history yet";
    case CFullProjection::NotShrinking:
      return "Free space is not shrinking";
    case CFullProjection::Fills:
      break;
  }
  if (projection.fullAt - projection.newestScan > static_cast<std::time_t>(kFarDays * kSecondsPerDay))
    return "At the current rate the disk holding " + dir + " fills in more than a hundred years";
  return "At the current rate the disk holding " + dir + " fills around " +
         FormatScanTime(projection.fullAt, kDayFormat);
}

}  // namespace varnow
