#include "varnow/alerts/AlertTasks.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>

#include "taskmgr/taskmgrbus.h"
#include "varnow/testsupport/AlertTestSupport.h"

namespace varnow {
namespace {

using ::testing::ElementsAre;

constexpr CCheckTime kNow{10, 42};

TEST(CheckTime, ParsesTypedTimesAndShowsThemWithAmPm) {
  struct Case {
    const char* typed;
    std::optional<CCheckTime> expected;
  } cases[] = {
      {"9:5 pm", CCheckTime{21, 5}},  {"12:30", CCheckTime{0, 30}},   {"12:30 pm", CCheckTime{12, 30}},
      {"13:15", CCheckTime{13, 15}},  {"24:00", std::nullopt},        {"10:60", std::nullopt},
      {"now", kNow},                  {"  NoW ", kNow},               {"9", std::nullopt},
      {"", std::nullopt},             {"7.45a", CCheckTime{7, 45}},   {"13:15 pm", CCheckTime{13, 15}},
      {"0:00", CCheckTime{0, 0}},     {"23:59", CCheckTime{23, 59}},  {"99999999999:1", std::nullopt},
      {"at 6 past 3", CCheckTime{18, 3}},  // digits are all that count, and a P anywhere
  };
  for (const Case& c : cases) EXPECT_EQ(ParseCheckTime(c.typed, kNow), c.expected) << c.typed;

  EXPECT_EQ(FormatCheckTime({21, 5}), "9:05 PM");
  EXPECT_EQ(FormatCheckTime({0, 30}), "12:30 AM");
  EXPECT_EQ(FormatCheckTime({12, 0}), "12:00 PM");
  EXPECT_EQ(FormatCheckTime({9, 5}, true), "09:05 AM");
  // What is shown parses back to the same time.
  for (int hour = 0; hour < 24; ++hour)
    EXPECT_EQ(ParseCheckTime(FormatCheckTime({hour, 7}), kNow), (CCheckTime{hour, 7})) << hour;
}

CAlertFields Fields(int kind, const std::string& value) {
  CAlertFields fields;
  fields.directory = "/srv/data/";
  fields.kind = kind;
  fields.value = value;
  fields.intervalCount = 3;
  fields.intervalUnit = kUnitHours;
  return fields;
}

TEST(AlertText, CommandLinesAndDescriptionsOfEachKind) {
  const std::string tracker = "/opt/varnow/varnow";
  EXPECT_EQ(AlertCommandLine(tracker, Fields(0, "15%")), "/opt/varnow/varnow /DIR=/srv/data/ /ALERTPERCENT=15");
  EXPECT_EQ(AlertDescription(Fields(0, "15%")), "/srv/data/ space usage change > 15%, check every 3 hours");
  EXPECT_EQ(AlertCommandLine(tracker, Fields(0, "many")), "/opt/varnow/varnow /DIR=/srv/data/ /ALERTPERCENT=0");
  EXPECT_EQ(AlertCommandLine(tracker, Fields(1, " +2048 K")), "/opt/varnow/varnow /DIR=/srv/data/ /ALERTSIZE=2048");
  EXPECT_EQ(AlertDescription(Fields(1, "2048")), "/srv/data/ space usage change > 2048 K, check every 3 hours");
  EXPECT_EQ(AlertCommandLine(tracker, Fields(2, "500000")), "/opt/varnow/varnow /DIR=/srv/data/ /FREEALERT=500000");
  EXPECT_EQ(AlertDescription(Fields(2, "500000")), "/srv/data/ free space < 500000 K, check every 3 hours");
  EXPECT_EQ(AlertCommandLine(tracker, Fields(3, "/SCAN /SAVE")), "/opt/varnow/varnow /DIR=/srv/data/ /SCAN /SAVE");
  EXPECT_EQ(AlertDescription(Fields(3, "/SCAN /SAVE")), "Custom: /DIR=/srv/data/ /SCAN /SAVE, run every 3 hours");
  EXPECT_EQ(AlertCommandLine(tracker, Fields(4, "30 days")), "/opt/varnow/varnow /DIR=/srv/data/ /FULLALERT=30");
  EXPECT_EQ(AlertDescription(Fields(4, "30")), "/srv/data/ disk full within 30 days, check every 3 hours");

  CAlertFields notify = Fields(0, "10");
  notify.notifyMode = kNotifyProgram;
  notify.program = "notify-send";
  EXPECT_EQ(AlertCommandLine(tracker, notify), "/opt/varnow/varnow /DIR=/srv/data/ /ALERTPERCENT=10 /NOTIFY=notify-send");
  notify.notifyMode = kNotifyMessageBox;  // the program text stays in its field but is not used
  EXPECT_EQ(AlertCommandLine(tracker, notify), "/opt/varnow/varnow /DIR=/srv/data/ /ALERTPERCENT=10");

  EXPECT_EQ(IntervalText(1, kUnitDays), "1 day");
  EXPECT_EQ(IntervalText(20, kUnitMinutes), "20 minutes");
  EXPECT_EQ(IntervalText(1, kUnitMinutes), "1 minute");
  EXPECT_EQ(IntervalText(1, kUnitHours), "1 hour");
}

// The scheduler splits the stored line into the program's arguments; the tracker joins them
// and reads its switches from that.
CCommandLineFields TrackerReads(const std::string& line, std::vector<std::string>* directories) {
  std::vector<std::string> arguments;
  for (const CCommandToken& token : SplitCommandLine(line)) arguments.push_back(token.text);
  test::CFakeCommandLineOwner<ICommandLineOwner> owner;
  test::Parse(JoinCommandLine(std::vector<std::string>(arguments.begin() + 1, arguments.end())), owner);
  *directories = owner.directories;
  EXPECT_EQ(arguments.front(), "/opt/my tools/varnow");
  return owner.fields;
}

TEST(AlertText, BlanksAndQuotesReachTheTrackerAsOneValue) {
  CAlertFields fields = Fields(0, "10");
  fields.directory = "/home/ann/My Data \"x\"/";
  fields.notifyMode = kNotifyProgram;
  fields.program = "\"/home/ann/my scripts/tell\" $DIR$ \"Disk alert\" $MSG$";
  const std::string line = AlertCommandLine("/opt/my tools/varnow", fields);
  std::vector<std::string> directories;
  const CCommandLineFields read = TrackerReads(line, &directories);
  EXPECT_THAT(directories, ElementsAre("/home/ann/My Data \"x\"/"));
  EXPECT_EQ(read.percentThreshold, 10);
  EXPECT_EQ(read.notifyCommand, fields.program);
  std::vector<std::string> notifyArguments;
  for (const CCommandToken& token : SplitCommandLine(read.notifyCommand)) notifyArguments.push_back(token.text);
  EXPECT_THAT(notifyArguments, ElementsAre("/home/ann/my scripts/tell", "$DIR$", "Disk alert", "$MSG$"));
  // The list shows the directory as typed.
  EXPECT_EQ(AlertDescription(fields), "/home/ann/My Data \"x\"/ space usage change > 10%, check every 3 hours");

  fields.kind = 4;  // disk full within days
  fields.value = "30";
  const CCommandLineFields full = TrackerReads(AlertCommandLine("/opt/my tools/varnow", fields), &directories);
  EXPECT_EQ(full.fullAlertDays, 30);
  EXPECT_THAT(directories, ElementsAre("/home/ann/My Data \"x\"/"));
}

std::array<std::uint8_t, 48> Bytes(const taskmgr::TASK_TRIGGER& trigger) { return taskmgr::ToBytes(trigger); }

// The 48 bytes of a daily trigger from 7 March 2027, written out by hand.
std::array<std::uint8_t, 48> DailyBytes(std::uint8_t hour, std::uint8_t minute, std::uint16_t minutesInterval,
                                        std::uint8_t daysInterval) {
  std::array<std::uint8_t, 48> bytes{};
  bytes[0] = 48;
  bytes[4] = 2027 & 0xFF, bytes[5] = 2027 >> 8, bytes[6] = 3, bytes[8] = 7;
  bytes[16] = hour, bytes[18] = minute;
  if (minutesInterval) bytes[20] = 1440 & 0xFF, bytes[21] = 1440 >> 8;
  bytes[24] = minutesInterval & 0xFF, bytes[25] = minutesInterval >> 8;
  bytes[32] = 1;  // daily
  bytes[36] = daysInterval;
  return bytes;
}

TEST(AlertTask, RecordOfEachUnit) {
  const QDate today(2027, 3, 7);
  const taskmgr::TASK_STRUCT days = AlertTask("/v /DIR=/d /ALERTPERCENT=5", "a description", kUnitDays, 2, {21, 5}, today);
  EXPECT_EQ(days.taskType, taskmgr::atEXECUTE);
  EXPECT_EQ(days.cmdLine, "/v /DIR=/d /ALERTPERCENT=5");
  EXPECT_EQ(days.description, "a description");
  EXPECT_EQ(days.bRunMinimized, 0);
  EXPECT_EQ(days.taskID, 0u);
  EXPECT_EQ(days.taskOwner, taskmgr::toVARNOW);
  EXPECT_EQ(days.taskTrigger.cbTriggerSize, 48);
  EXPECT_EQ(days.taskTrigger.wStartHour, 21);
  EXPECT_EQ(days.taskTrigger.Type.Daily.DaysInterval, 2);
  EXPECT_EQ(Bytes(days.taskTrigger), DailyBytes(21, 5, 0, 2));

  // Hours and minutes start at 00:01 whatever the check time says.
  const taskmgr::TASK_STRUCT hours = AlertTask("x", "y", kUnitHours, 3, {10, 0}, today);
  EXPECT_EQ(hours.taskTrigger.MinutesInterval, 180u);
  EXPECT_EQ(hours.taskTrigger.MinutesDuration, 1440u);
  EXPECT_EQ(Bytes(hours.taskTrigger), DailyBytes(0, 1, 180, 1));
  const taskmgr::TASK_STRUCT minutes = AlertTask("x", "y", kUnitMinutes, 20, {10, 0}, today);
  EXPECT_EQ(Bytes(minutes.taskTrigger), DailyBytes(0, 1, 20, 1));
  EXPECT_EQ(minutes.taskOwner, taskmgr::toVARNOW);
}

TEST(AlertTask, FieldsThatCannotMakeAnAlertAreNamed) {
  CAlertFields fields = Fields(0, "10");
  EXPECT_EQ(AlertFieldsProblem(fields), "");
  for (int count : {0, -1}) {
    fields.intervalCount = count;
    EXPECT_EQ(AlertFieldsProblem(fields),
              "Can't add the new alert because \"Run Check Every\" must be a whole number from 1 to 24.  Count "
              "longer intervals in days.");
  }
  // Hours and minutes repeat within each day: a step longer than a day would run once a day.
  fields.intervalCount = 24;
  EXPECT_EQ(AlertFieldsProblem(fields), "");
  fields.intervalCount = 25;
  EXPECT_NE(AlertFieldsProblem(fields), "");
  fields.intervalUnit = kUnitMinutes;
  fields.intervalCount = 1440;
  EXPECT_EQ(AlertFieldsProblem(fields), "");
  fields.intervalCount = 1441;
  EXPECT_NE(AlertFieldsProblem(fields), "");
  // Days are 16 bits in the trigger: more would wrap round to a different schedule.
  fields.intervalUnit = kUnitDays;
  fields.intervalCount = 65535;
  EXPECT_EQ(AlertFieldsProblem(fields), "");
  fields.intervalCount = 65536;
  EXPECT_NE(AlertFieldsProblem(fields), "");

  fields = Fields(1, "-5");
  EXPECT_EQ(AlertFieldsProblem(fields), "Can't add the new alert because the amount is negative.  Enter 0 or more.");
  EXPECT_EQ(AlertFieldsProblem(Fields(3, "-5")), "");  // custom text is no amount
  // The tracker refuses /FULLALERT=0, so the dialog does too.
  EXPECT_EQ(AlertFieldsProblem(Fields(4, "0")), "Can't add the new alert because the amount is below 1.  Enter 1 or more.");
  EXPECT_EQ(AlertFieldsProblem(Fields(4, "1")), "");
  fields = Fields(2, "100");
  fields.directory.clear();
  EXPECT_NE(AlertFieldsProblem(fields), "");
}

TEST(AlertKinds, EveryKindHasItsTexts) {
  ASSERT_EQ(AlertKinds().size(), 5u);
  EXPECT_STREQ(AlertKinds()[0].label, "Size changed in %");
  EXPECT_STREQ(AlertKinds()[3].label, "Custom Command Line");
  EXPECT_STREQ(AlertKinds()[4].label, "Disk full within days");
  for (const CAlertKind& kind : AlertKinds()) {
    EXPECT_NE(std::string(kind.help), "");
    EXPECT_NE(std::string(kind.description).find("%s"), std::string::npos);
  }
}

}  // namespace
}  // namespace varnow
