#include "platform/oledate.h"

#include <chrono>
#include <cmath>
#include <ctime>

namespace platform {
namespace {

using std::chrono::day;
using std::chrono::days;
using std::chrono::month;
using std::chrono::sys_days;
using std::chrono::year;
using std::chrono::year_month_day;

constexpr sys_days kEpoch = year(1899) / 12 / 30;

constexpr std::int64_t DayNumber(const year_month_day& date) { return (sys_days(date) - kEpoch).count(); }

// Constant-initialised, so times made by other units' static initialisers are valid too.
constexpr std::int64_t kMinSeconds = DayNumber(year(100) / 1 / 1) * kSecondsPerDay;
constexpr std::int64_t kMaxSeconds = (DayNumber(year(9999) / 12 / 31) + 1) * kSecondsPerDay - 1;

OleTime Checked(std::int64_t seconds) {
  if (seconds < kMinSeconds || seconds > kMaxSeconds) return {};
  return {seconds, true};
}

std::int64_t FloorDiv(std::int64_t a, std::int64_t b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); }

}  // namespace

OleTime MakeOleTime(int year_, int month_, int day_, int hour, int minute, int second) {
  if (year_ < 100 || year_ > 9999 || month_ < 1 || month_ > 12 || day_ < 1 || day_ > 31) return {};
  const year_month_day date{year(year_), month(static_cast<unsigned>(month_)), day(static_cast<unsigned>(day_))};
  if (!date.ok()) return {};
  if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59) return {};
  return Checked(DayNumber(date) * kSecondsPerDay + hour * 3600 + minute * 60 + second);
}

DateParts SplitOleTime(const OleTime& time) {
  const std::int64_t dayNumber = FloorDiv(time.seconds, kSecondsPerDay);
  const std::int64_t inDay = time.seconds - dayNumber * kSecondsPerDay;
  const sys_days date = kEpoch + days(dayNumber);
  const year_month_day parts(date);
  return {int(parts.year()),       int(unsigned(parts.month())), int(unsigned(parts.day())),
          int(inDay / 3600),       int(inDay / 60 % 60),         int(inDay % 60),
          int(std::chrono::weekday(date).c_encoding())};
}

OleTime LocalTimeNow() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  if (!::localtime_r(&now, &local)) return {};
  // A leap second reads as the last second of its minute.
  return MakeOleTime(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min,
                     local.tm_sec > 59 ? 59 : local.tm_sec);
}

OleTime AddSeconds(const OleTime& time, std::int64_t seconds) {
  if (!time.valid) return {};
  return Checked(time.seconds + seconds);
}

double ToOleDate(const OleTime& time) {
  if (!time.valid) return 0.0;
  const std::int64_t dayNumber = FloorDiv(time.seconds, kSecondsPerDay);
  const double fraction = double(time.seconds - dayNumber * kSecondsPerDay) / kSecondsPerDay;
  return dayNumber >= 0 ? dayNumber + fraction : dayNumber - fraction;  // -1.25 is 29 Dec 1899, 06:00
}

OleTime FromOleDate(double value) {
  if (!std::isfinite(value) || std::fabs(value) > 3.0e6) return {};
  // The whole part is the day and the fraction the time of day, on both sides of zero.
  const double whole = std::trunc(value);
  const std::int64_t inDay = std::llround(std::fabs(value - whole) * kSecondsPerDay);
  return Checked(static_cast<std::int64_t>(whole) * kSecondsPerDay + inDay);
}

}  // namespace platform
