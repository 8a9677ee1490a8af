#include "varnow/ui/HeadingTimes.h"

#include "varnow/report/ReportText.h"

namespace varnow {

namespace {

int LocalYear(std::time_t time) {
  std::tm tm{};
  return localtime_r(&time, &tm) ? tm.tm_year : -1;
}

// True when another scan of the six falls in the same minute as scan i.
bool SharesItsMinute(const std::array<std::int32_t, 6>& times, std::size_t i) {
  for (std::size_t j = 0; j < times.size(); ++j)
    if (j != i && times[j] != 0 && times[j] / 60 == times[i] / 60) return true;
  return false;
}

}  // namespace

std::array<CHeadingTime, 6> HeadingTimes(const std::array<std::int32_t, 6>& times, std::time_t now) {
  std::array<CHeadingTime, 6> headings;
  for (std::size_t i = 0; i < times.size(); ++i) {
    if (times[i] == 0) continue;
    const bool seconds = SharesItsMinute(times, i);
    const bool thisYear = LocalYear(times[i]) == LocalYear(now);
    const char* longForm = seconds ? "%b %#d, %#I:%M:%S %p" : kHeadingDateFormat;
    const std::string shortForm = std::string(thisYear ? "%m-%d %H:%M" : "%Y-%m-%d %H:%M") + (seconds ? ":%S" : "");
    headings[i].longText = FormatScanTime(times[i], longForm);
    headings[i].shortText = FormatScanTime(times[i], shortForm.c_str());
    headings[i].toolTip = FormatScanTime(times[i], "%A, %B %#d, %Y, %#I:%M:%S %p");
  }
  return headings;
}

}  // namespace varnow
