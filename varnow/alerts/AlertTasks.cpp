#include "varnow/alerts/AlertTasks.h"

#include <QByteArray>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <limits>

#include "platform/process.h"
#include "varnow/alerts/CommandLine.h"
#include "varnow/report/FormatSize.h"

namespace varnow {

namespace {

constexpr CAlertKind kAlertKinds[] = {
    {"Size changed in %",
     "Enter a percentage below.  If the specified directory grows by the specified amount (or more), you will be "
     "alerted.",
     "/ALERTPERCENT=", "%s space usage change > %s%%, check every %s"},
    {"Absolute change in size",
     "Enter an amount of disk space in K (1024 bytes) below.  If the specified directory grows by the specified "
     "amount, you will be alerted.",
     "/ALERTSIZE=", "%s space usage change > %s K, check every %s"},
    {"Free space check",
     "Enter a minimum amount of disk space in K (1024 bytes) below.  If your free disk space drops below this "
     "amount, you will be alerted.",
     "/FREEALERT=", "%s free space < %s K, check every %s"},
    {"Custom Command Line",
     "Enter the command line to be passed to Varnow every time it is scheduled to run.  The command line options "
     "are described in the help file. (/DIR= passed from above input)",
     nullptr, "Custom: /DIR=%s %s, run every %s"},
    // Projects from the saved scans' free space, so it neither scans nor saves by itself.
    {"Disk full within days",
     "Enter a number of days below.  If, at the rate free space has been falling over the saved scans, the disk "
     "holding the specified directory fills up within that many days, you will be alerted.",
     "/FULLALERT=", "%s disk full within %s days, check every %s", 1},
};

constexpr const char* kIntervalUnitWord[] = {"day", "hour", "minute"};
constexpr const char* kIntervalUnitWords[] = {"days", "hours", "minutes"};

std::string Format(const char* format, const std::string& a, const std::string& b, const std::string& c) {
  const int length = std::snprintf(nullptr, 0, format, a.c_str(), b.c_str(), c.c_str());
  std::string text(static_cast<std::size_t>(std::max(length, 0)) + 1, '\0');
  std::snprintf(text.data(), text.size(), format, a.c_str(), b.c_str(), c.c_str());
  text.resize(text.size() - 1);
  return text;
}

const CAlertKind& KindOf(const CAlertFields& fields) {
  const auto kinds = AlertKinds();
  return kinds[static_cast<std::size_t>(std::clamp<int>(fields.kind, 0, static_cast<int>(kinds.size()) - 1))];
}

// The value as the command line and the description carry it.
std::string ValueText(const CAlertFields& fields) {
  return KindOf(fields).valueSwitch ? std::to_string(LeadingInt32(fields.value)) : fields.value;
}

int UnitIndex(int unit) { return std::clamp(unit, static_cast<int>(kUnitDays), static_cast<int>(kUnitMinutes)); }

// The next run of decimal digits from `at`, moving `at` past it; -1 when there is none.
int NextNumber(const std::string& text, std::size_t& at) {
  while (at < text.size() && !std::isdigit(static_cast<unsigned char>(text[at]))) ++at;
  if (at == text.size()) return -1;
  long long number = 0;
  for (; at < text.size() && std::isdigit(static_cast<unsigned char>(text[at])); ++at)
    number = std::min<long long>(number * 10 + (text[at] - '0'), std::numeric_limits<int>::max());
  return static_cast<int>(number);
}

}  // namespace

std::span<const CAlertKind> AlertKinds() { return kAlertKinds; }

std::optional<CCheckTime> ParseCheckTime(const std::string& typed, CCheckTime now) {
  std::string text = QByteArray::fromStdString(typed).toUpper().trimmed().toStdString();
  if (text.find("NOW") != std::string::npos) return now;
  std::size_t at = 0;
  const int written = NextNumber(text, at);
  const int minute = NextNumber(text, at);
  if (minute < 0 || minute > 59 || written < 0 || written > 23) return std::nullopt;
  int hour = written == 12 ? 0 : written;
  if (written <= 12 && text.find('P') != std::string::npos) hour += 12;
  return CCheckTime{hour, minute};
}

std::string FormatCheckTime(CCheckTime time, bool leadingZero) {
  const int hour12 = time.hour % 12 == 0 ? 12 : time.hour % 12;
  char text[16];
  std::snprintf(text, sizeof text, leadingZero ? "%02d:%02d %s" : "%d:%02d %s", hour12, time.minute,
                time.hour < 12 ? "AM" : "PM");
  return text;
}

int MaxIntervalCount(int unit) {
  switch (UnitIndex(unit)) {
    case kUnitDays:
      return std::numeric_limits<std::uint16_t>::max();
    case kUnitHours:
      return 24;
    default:
      return 1440;
  }
}

std::string AlertFieldsProblem(const CAlertFields& fields) {
  const int most = MaxIntervalCount(fields.intervalUnit);
  if (fields.intervalCount < 1 || fields.intervalCount > most)
    return "Can't add the new alert because \"Run Check Every\" must be a whole number from 1 to " +
           std::to_string(most) + "." + (most == MaxIntervalCount(kUnitDays) ? "" : "  Count longer intervals in days.");
  if (fields.directory.empty())
    return "Can't add the new alert because no directory to run the check on is given.";
  const CAlertKind& kind = KindOf(fields);
  if (kind.valueSwitch && LeadingInt32(fields.value) < kind.minValue)
    return kind.minValue == 0 ? "Can't add the new alert because the amount is negative.  Enter 0 or more."
                              : "Can't add the new alert because the amount is below " + std::to_string(kind.minValue) +
                                    ".  Enter " + std::to_string(kind.minValue) + " or more.";
  return {};
}

std::string IntervalText(int count, int unit) {
  const int index = UnitIndex(unit);
  return CountText(count, kIntervalUnitWord[index], kIntervalUnitWords[index]);
}

std::string AlertCommandLine(const std::string& trackerPath, const CAlertFields& fields) {
  const CAlertKind& kind = KindOf(fields);
  std::string line = platform::JoinCommandLine({trackerPath, "/DIR=" + fields.directory});
  if (kind.valueSwitch)
    line += " " + (kind.valueSwitch + ValueText(fields));
  else
    line += " " + fields.value;
  if (fields.notifyMode == kNotifyProgram) line += " " + platform::JoinCommandLine({"/NOTIFY=" + fields.program});
  return line;
}

std::string AlertDescription(const CAlertFields& fields) {
  return Format(KindOf(fields).description, fields.directory, ValueText(fields),
                IntervalText(fields.intervalCount, fields.intervalUnit));
}

taskmgr::TASK_STRUCT AlertTask(const std::string& commandLine, const std::string& description, int intervalUnit,
                               int intervalCount, CCheckTime checkTime, QDate today) {
  taskmgr::TASK_STRUCT task;
  task.taskType = taskmgr::atEXECUTE;
  task.cmdLine = QString::fromStdString(commandLine);
  task.description = QString::fromStdString(description);
  task.taskOwner = taskmgr::toVARNOW;
  taskmgr::TASK_TRIGGER& trigger = task.taskTrigger;
  trigger.cbTriggerSize = static_cast<std::uint16_t>(sizeof(taskmgr::TASK_TRIGGER));
  trigger.wBeginYear = static_cast<std::uint16_t>(today.year());
  trigger.wBeginMonth = static_cast<std::uint16_t>(today.month());
  trigger.wBeginDay = static_cast<std::uint16_t>(today.day());
  trigger.TriggerType = taskmgr::TASK_TIME_TRIGGER_DAILY;
  const auto count = static_cast<std::uint32_t>(std::clamp(intervalCount, 1, MaxIntervalCount(intervalUnit)));
  if (UnitIndex(intervalUnit) == kUnitDays) {
    trigger.wStartHour = static_cast<std::uint16_t>(checkTime.hour);
    trigger.wStartMinute = static_cast<std::uint16_t>(checkTime.minute);
    trigger.Type.Daily.DaysInterval = static_cast<std::uint16_t>(count);
    return task;
  }
  // Hours and minutes repeat all day long, from one minute past midnight.
  trigger.wStartHour = 0;
  trigger.wStartMinute = 1;
  trigger.Type.Daily.DaysInterval = 1;
  trigger.MinutesDuration = 1440;
  trigger.MinutesInterval = UnitIndex(intervalUnit) == kUnitHours ? count * 60 : count;
  return task;
}

}  // namespace varnow
