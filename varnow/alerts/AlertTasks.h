// What an alert is to the scheduler: the command line that starts the tracker with one check,
// the description that the alert list shows, and the task record with its daily trigger; and
// the check time as it is typed and shown. No widgets and no bus: the alert dialog fills
// CAlertFields from its controls and sends what is built here.
#pragma once

#include <QDate>

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "taskmgr/taskstruct.h"

namespace varnow {

// One kind of alert, as the dialog offers it. The kinds are rows of a table in the dialog's
// order; a kind is its index there.
struct CAlertKind {
  const char* label;        // the radio button's text
  const char* help;         // what the value means, shown when the kind is chosen
  const char* valueSwitch;  // the switch that takes the value as a number; nullptr: the value
                            // is command-line text of its own
  const char* description;  // printf format with the directory, the value and the interval text
  int minValue = 0;         // the least number the tracker accepts for valueSwitch
};
std::span<const CAlertKind> AlertKinds();

enum AlertNotifyMode { kNotifyMessageBox = 1, kNotifyProgram = 2 };
enum AlertIntervalUnit { kUnitDays = 0, kUnitHours = 1, kUnitMinutes = 2 };
inline constexpr const char* kIntervalUnitNames[] = {"Days", "Hours", "Minutes"};

struct CCheckTime {
  int hour = 0;  // 0-23
  int minute = 0;
  bool operator==(const CCheckTime&) const = default;
};

// The alert dialog's fields, as read from its controls.
struct CAlertFields {
  std::string directory;
  int kind = 0;
  std::string value;
  int notifyMode = kNotifyMessageBox;
  std::string program;  // the notification command, with $DIR$, $SIZE$ and $MSG$
  int intervalCount = 1;
  int intervalUnit = kUnitDays;
  std::string checkTime;
};

// A typed check time: "NOW" anywhere (any case) is `now`; otherwise the first run of digits is
// the hour and the next the minute, 12 counts as 0, and a "P" anywhere makes an hour of 12 or
// less a PM hour. Nothing when the hour is not 0-23 or the minute not 0-59.
std::optional<CCheckTime> ParseCheckTime(const std::string& text, CCheckTime now);
// "9:05 PM"; with a leading zero "09:05 PM" (the start value of the field).
std::string FormatCheckTime(CCheckTime time, bool leadingZero = false);

// The largest count of a unit: days are 16 bits in the trigger, and hours and minutes repeat
// within each day, so a longer step would only run once a day.
int MaxIntervalCount(int unit);
// Why the fields cannot make an alert, or "" when they can: an interval count outside 1 to
// MaxIntervalCount (the scheduler could never step, or would not keep the interval), an empty
// directory (the run would open the
// window instead of checking), a value below the kind's least (the tracker refuses the run). The check
// time is not looked at here.
std::string AlertFieldsProblem(const CAlertFields& fields);

// "3 hours".
std::string IntervalText(int count, int unit);
// The tracker's command line for the alert. The tracker path, the /DIR= value and the /NOTIFY=
// value are quoted when they hold blanks or double quotes, so that the tracker reads each back
// as one value; a custom kind's text is the user's own command line and stays as typed.
std::string AlertCommandLine(const std::string& trackerPath, const CAlertFields& fields);
// The text the alert list shows, with the directory as typed.
std::string AlertDescription(const CAlertFields& fields);
// The record sent to the scheduler: an executed task of the tracker, daily from `today`, at the
// check time for days, every count hours or minutes from 00:01 otherwise.
taskmgr::TASK_STRUCT AlertTask(const std::string& commandLine, const std::string& description, int intervalUnit,
                               int intervalCount, CCheckTime checkTime, QDate today);

}  // namespace varnow
