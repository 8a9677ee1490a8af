// Local wall-clock time as whole seconds counted from 30 December 1899 00:00, with a validity
// flag, and its conversion to and from the automation-date double (days since that moment, the
// fraction being the time of day) that the scheduler's task store and the tracker's settings
// keep. Every conversion between dates, parts and doubles lives here.
#pragma once

#include <cstdint>

namespace platform {

struct OleTime {
  std::int64_t seconds = 0;  // since 1899-12-30 00:00, local wall clock
  bool valid = false;

  friend bool operator==(const OleTime&, const OleTime&) = default;
};

inline constexpr std::int64_t kSecondsPerDay = 86400;

// A time from calendar parts (proleptic Gregorian); invalid outside 1 January 100 to
// 31 December 9999 or for parts that name no real date or time.
OleTime MakeOleTime(int year, int month, int day, int hour = 0, int minute = 0, int second = 0);

struct DateParts {
  int year, month, day, hour, minute, second;
  int dayOfWeek;  // 0 = Sunday
};
DateParts SplitOleTime(const OleTime& time);

// The local wall-clock time now, to the second.
OleTime LocalTimeNow();

// Arithmetic keeps the valid range; an invalid operand or result is invalid with value 0.
OleTime AddSeconds(const OleTime& time, std::int64_t seconds);

// The automation-date double: negative values keep the time of day as a positive fraction
// below the (negative) day number, as the format defines.
double ToOleDate(const OleTime& time);
// Rounded to the nearest second; invalid for NaN, infinities and values outside the range.
OleTime FromOleDate(double value);

}  // namespace platform
