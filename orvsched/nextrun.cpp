#include "orvsched/nextrun.h"

#include <QDate>

#include <algorithm>

namespace orvsched {
namespace {

using namespace taskmgr;

constexpr std::int64_t kMinute = 60;

std::int64_t CeilDiv(std::int64_t a, std::int64_t b) { return a <= 0 ? 0 : (a + b - 1) / b; }

OleTime BeginAtStart(const TASK_TRIGGER& t) {
  return MakeOleTime(t.wBeginYear, t.wBeginMonth, t.wBeginDay, t.wStartHour, t.wStartMinute, 0);
}

// The repetition window of one day: runs at `start`, then every interval while the previous
// run lay inside the window. The first of them not earlier than `threshold`, if any.
std::optional<OleTime> OccurrenceFrom(const OleTime& start, const TASK_TRIGGER& t, const OleTime& threshold) {
  if (!start.valid) return std::nullopt;
  if (start.seconds >= threshold.seconds) return start;
  const std::int64_t duration = std::int64_t(t.MinutesDuration) * kMinute;
  const std::int64_t interval = std::int64_t(t.MinutesInterval) * kMinute;
  if (interval == 0 || start.seconds + duration <= threshold.seconds) return std::nullopt;
  const OleTime next = AddSeconds(start, interval * CeilDiv(threshold.seconds - start.seconds, interval));
  return next.valid ? std::optional(next) : std::nullopt;
}

std::optional<OleTime> NextDaily(const TASK_TRIGGER& t, const OleTime& threshold) {
  const OleTime begin = BeginAtStart(t);
  if (!begin.valid || t.Type.Daily.DaysInterval == 0) return std::nullopt;
  if (begin.seconds >= threshold.seconds) return begin;
  // Jump straight to the first day whose window reaches the threshold (or that starts at or
  // after it), which is where stepping one day at a time from the begin date would stop.
  const std::int64_t step = std::int64_t(t.Type.Daily.DaysInterval) * kSecondsPerDay;
  const std::int64_t duration = t.MinutesInterval ? std::int64_t(t.MinutesDuration) * kMinute : 0;
  const std::int64_t gap = threshold.seconds - begin.seconds;
  const std::int64_t days = duration == 0 ? CeilDiv(gap, step) : gap < duration ? 0 : (gap - duration) / step + 1;
  return OccurrenceFrom(AddSeconds(begin, days * step), t, threshold);
}

// First matching day at or after `from`, scanned day by day for at most `limit` days.
template <typename Match>
std::optional<OleTime> ScanDays(const TASK_TRIGGER& t, OleTime from, const OleTime& threshold, int limit,
                                Match matches) {
  for (int i = 0; i < limit && from.valid; ++i, from = AddSeconds(from, kSecondsPerDay)) {
    const DateParts d = SplitOleTime(from);
    if (!matches(d)) continue;
    if (auto hit = OccurrenceFrom(MakeOleTime(d.year, d.month, d.day, t.wStartHour, t.wStartMinute), t, threshold))
      return hit;
  }
  return std::nullopt;
}

std::int64_t DayNumber(const OleTime& time) {
  return time.seconds / kSecondsPerDay - (time.seconds % kSecondsPerDay < 0);
}

// How many days back a repetition window can reach.
std::int64_t WindowDays(const TASK_TRIGGER& t) {
  return CeilDiv(std::int64_t(t.MinutesDuration) * kMinute, kSecondsPerDay) + 1;
}

// Where a day scan must begin: windows of earlier days may still reach the threshold.
OleTime ScanStart(const TASK_TRIGGER& t, const OleTime& threshold) {
  const OleTime begin = MakeOleTime(t.wBeginYear, t.wBeginMonth, t.wBeginDay);
  const OleTime first = AddSeconds(OleTime{0, true}, (DayNumber(threshold) - WindowDays(t)) * kSecondsPerDay);
  if (!begin.valid) return begin;
  return first.valid && first.seconds > begin.seconds ? first : begin;
}

bool MonthSelected(const DateParts& d, std::uint16_t months) { return (months >> d.month) & 1; }

std::optional<OleTime> NextWeekly(const TASK_TRIGGER& t, const OleTime& threshold) {
  const std::uint16_t weekdays = t.Type.Weekly.rgfDaysOfTheWeek & 0x7F;
  const std::int64_t every = t.Type.Weekly.WeeksInterval;
  const OleTime begin = MakeOleTime(t.wBeginYear, t.wBeginMonth, t.wBeginDay);
  if (!begin.valid || weekdays == 0 || every == 0) return std::nullopt;
  // Weeks run Sunday to Saturday and are counted from the week of the begin date.
  const std::int64_t firstSunday = DayNumber(begin) - SplitOleTime(begin).dayOfWeek;
  const std::int64_t fromDay = DayNumber(ScanStart(t, threshold));
  std::int64_t week = CeilDiv((fromDay - firstSunday) / 7, every) * every;
  const std::int64_t rounds = 3 + WindowDays(t) / 7;
  for (std::int64_t round = 0; round < rounds; ++round, week += every) {
    const std::int64_t sunday = firstSunday + week * 7;
    const std::int64_t startDay = std::max(sunday, fromDay);
    const OleTime start = AddSeconds(OleTime{0, true}, startDay * kSecondsPerDay);
    auto hit = ScanDays(t, start, threshold, int(sunday + 7 - startDay),
                        [&](const DateParts& d) { return (weekdays >> d.dayOfWeek) & 1; });
    if (hit) return hit;
  }
  return std::nullopt;
}

// Enough days to meet every calendar combination that exists (29 February within 8 years).
constexpr int kMonthlyScanDays = 8 * 366 + 7;

std::optional<OleTime> NextMonthlyDate(const TASK_TRIGGER& t, const OleTime& threshold) {
  const std::uint32_t days = t.Type.MonthlyDate.rgfDays;
  const std::uint16_t months = t.Type.MonthlyDate.rgfMonths;
  return ScanDays(t, ScanStart(t, threshold), threshold, kMonthlyScanDays,
                  [&](const DateParts& d) { return MonthSelected(d, months) && ((days >> d.day) & 1); });
}

std::optional<OleTime> NextMonthlyDow(const TASK_TRIGGER& t, const OleTime& threshold) {
  const std::uint16_t which = t.Type.MonthlyDOW.wWhichWeek;
  const std::uint16_t weekdays = t.Type.MonthlyDOW.rgfDaysOfTheWeek;
  const std::uint16_t months = t.Type.MonthlyDOW.rgfMonths;
  if (which < 1 || which > 5) return std::nullopt;
  return ScanDays(t, ScanStart(t, threshold), threshold, kMonthlyScanDays, [&](const DateParts& d) {
    if (!MonthSelected(d, months) || !((weekdays >> d.dayOfWeek) & 1)) return false;
    if (which == 5) return d.day + 7 > QDate(d.year, d.month, 1).daysInMonth();
    return (d.day - 1) / 7 + 1 == which;
  });
}

}  // namespace

OleTime NotThisSession() { return MakeOleTime(3000, 1, 1); }

OleTime Threshold(const LastRun& lastRun, const RunContext& context) {
  OleTime last = lastRun.IsValid() ? FromOleDate(lastRun.value) : OleTime{};
  if (context.lastPassedOver && (!last.valid || context.lastPassedOver->seconds > last.seconds))
    last = *context.lastPassedOver;
  const OleTime& now = context.now;
  if (last.valid && last.seconds == now.seconds) return AddSeconds(now, 1);
  if (!last.valid || last.seconds + kMinute < now.seconds) return AddSeconds(now, -kMinute);
  return now;
}

std::optional<OleTime> NextRunTime(const ScheduledTask& task, const RunContext& context) {
  const TASK_TRIGGER& t = task.trigger;
  if (t.cbTriggerSize == 0) return std::nullopt;
  switch (t.TriggerType) {
    case TASK_TIME_TRIGGER_ONCE: {
      const OleTime at = BeginAtStart(t);
      return at.valid ? std::optional(at) : std::nullopt;
    }
    case TASK_TIME_TRIGGER_DAILY:
      return NextDaily(t, Threshold(task.lastRun, context));
    case TASK_TIME_TRIGGER_WEEKLY:
      return NextWeekly(t, Threshold(task.lastRun, context));
    case TASK_TIME_TRIGGER_MONTHLYDATE:
      return NextMonthlyDate(t, Threshold(task.lastRun, context));
    case TASK_TIME_TRIGGER_MONTHLYDOW:
      return NextMonthlyDow(t, Threshold(task.lastRun, context));
    case TASK_EVENT_TRIGGER_ON_IDLE:
      return AddSeconds(context.now, 5 * kMinute);
    case TASK_EVENT_TRIGGER_AT_SYSTEMSTART:
    case TASK_EVENT_TRIGGER_AT_LOGON:
      if (t.Reserved1 == context.sessionNumber || !context.startupRound) return NotThisSession();
      return context.now;
    default:
      return std::nullopt;
  }
}

namespace {

using namespace taskmgr;

bool IsTimeTrigger(const TASK_TRIGGER& t) { return t.TriggerType <= TASK_TIME_TRIGGER_MONTHLYDOW; }

// Days 1 to 31 and months 1 to 12 are the bits the day scans look at.
constexpr std::uint32_t kDayBits = 0xFFFFFFFEu;
constexpr std::uint16_t kMonthBits = 0x1FFE;
constexpr std::uint16_t kWeekdayBits = 0x7F;

bool HasStepsAndDays(const TASK_TRIGGER& t) {
  switch (t.TriggerType) {
    case TASK_TIME_TRIGGER_DAILY:
      return t.Type.Daily.DaysInterval != 0;
    case TASK_TIME_TRIGGER_WEEKLY:
      return t.Type.Weekly.WeeksInterval != 0 && (t.Type.Weekly.rgfDaysOfTheWeek & kWeekdayBits) != 0;
    case TASK_TIME_TRIGGER_MONTHLYDATE:
      return (t.Type.MonthlyDate.rgfDays & kDayBits) != 0 && (t.Type.MonthlyDate.rgfMonths & kMonthBits) != 0;
    case TASK_TIME_TRIGGER_MONTHLYDOW:
      return t.Type.MonthlyDOW.wWhichWeek >= 1 && t.Type.MonthlyDOW.wWhichWeek <= 5 &&
             (t.Type.MonthlyDOW.rgfDaysOfTheWeek & kWeekdayBits) != 0 &&
             (t.Type.MonthlyDOW.rgfMonths & kMonthBits) != 0;
    default:
      return true;
  }
}

}  // namespace

bool IsUsableTrigger(const TASK_TRIGGER& t) {
  if (t.cbTriggerSize == 0 || t.TriggerType > TASK_EVENT_TRIGGER_AT_LOGON) return false;
  if (!IsTimeTrigger(t)) return true;
  // A window needs an interval to step through it.
  if (t.MinutesDuration != 0 && t.MinutesInterval == 0 && t.TriggerType == TASK_TIME_TRIGGER_DAILY) return false;
  const OleTime begin = BeginAtStart(t);
  if (!begin.valid || !HasStepsAndDays(t)) return false;
  // What is left (30 February, say) shows in whether any occurrence follows the begin time.
  RunContext fresh;
  fresh.now = begin;
  ScheduledTask probe;
  probe.trigger = t;
  return NextRunTime(probe, fresh).has_value();
}

}  // namespace orvsched
