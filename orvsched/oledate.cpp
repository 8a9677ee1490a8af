#include "orvsched/oledate.h"

#include <QDate>

#include <cmath>

namespace orvsched {
namespace {

const qint64 kEpochJulianDay = QDate(1899, 12, 30).toJulianDay();
const std::int64_t kMinSeconds = (QDate(100, 1, 1).toJulianDay() - kEpochJulianDay) * kSecondsPerDay;
const std::int64_t kMaxSeconds = (QDate(9999, 12, 31).toJulianDay() - kEpochJulianDay + 1) * kSecondsPerDay - 1;

OleTime Checked(std::int64_t seconds) {
  if (seconds < kMinSeconds || seconds > kMaxSeconds) return {};
  return {seconds, true};
}

std::int64_t FloorDiv(std::int64_t a, std::int64_t b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); }

}  // namespace

OleTime MakeOleTime(int year, int month, int day, int hour, int minute, int second) {
  if (year < 100 || year > 9999 || !QDate::isValid(year, month, day)) return {};
  if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59) return {};
  const std::int64_t days = QDate(year, month, day).toJulianDay() - kEpochJulianDay;
  return Checked(days * kSecondsPerDay + hour * 3600 + minute * 60 + second);
}

DateParts SplitOleTime(const OleTime& time) {
  const std::int64_t days = FloorDiv(time.seconds, kSecondsPerDay);
  const std::int64_t inDay = time.seconds - days * kSecondsPerDay;
  const QDate date = QDate::fromJulianDay(kEpochJulianDay + days);
  return {date.year(), date.month(), date.day(), int(inDay / 3600), int(inDay / 60 % 60), int(inDay % 60),
          date.dayOfWeek() % 7};
}

OleTime AddSeconds(const OleTime& time, std::int64_t seconds) {
  if (!time.valid) return {};
  return Checked(time.seconds + seconds);
}

double ToOleDate(const OleTime& time) {
  if (!time.valid) return 0.0;
  const std::int64_t days = FloorDiv(time.seconds, kSecondsPerDay);
  const double fraction = double(time.seconds - days * kSecondsPerDay) / kSecondsPerDay;
  return days >= 0 ? days + fraction : days - fraction;  // -1.25 is 29 Dec 1899, 06:00
}

OleTime FromOleDate(double value) {
  if (!std::isfinite(value) || std::fabs(value) > 3.0e6) return {};
  // The whole part is the day and the fraction the time of day, on both sides of zero.
  const double whole = std::trunc(value);
  const std::int64_t inDay = std::llround(std::fabs(value - whole) * kSecondsPerDay);
  return Checked(static_cast<std::int64_t>(whole) * kSecondsPerDay + inDay);
}

}  // namespace orvsched
