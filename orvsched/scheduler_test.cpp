#include "orvsched/scheduler.h"

#include "orvsched/nextrun.h"
#include "orvsched/taskstore.h"
#include "orvsched/testsupport.h"
#include "platform/atomicfile.h"
#include "platform/tracelog.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace orvsched {
namespace {

using namespace test;
using namespace taskmgr;

OleTime At(int year, int month, int day, int hour, int minute, int second = 0) {
  return MakeOleTime(year, month, day, hour, minute, second);
}

std::optional<OleTime> Next(const ScheduledTask& task, OleTime now, std::uint16_t session = 1) {
  RunContext context;
  context.now = now;
  context.sessionNumber = session;
  return NextRunTime(task, context);
}

TASK_TRIGGER Daily(int year, int month, int day, int hour, int minute, std::uint16_t everyDays,
                   std::uint32_t duration = 0, std::uint32_t interval = 0) {
  TASK_TRIGGER t = Trigger(TASK_TIME_TRIGGER_DAILY, year, month, day, hour, minute);
  t.Type.Daily.DaysInterval = everyDays;
  t.MinutesDuration = duration;
  t.MinutesInterval = interval;
  return t;
}

// A task list in a temporary folder with a scheduler on a fake clock.
class Schedules : public ::testing::Test {
 protected:
  Schedules() : m_clock(At(2026, 12, 7, 10, 0)), m_launcher(m_clock), m_list(m_dir.filePath("ORVSCHED.DAT"), m_startup) {}

  void Start(const std::vector<ScheduledTask>& tasks, std::uint16_t storedSession = 0) {
    WriteTaskStoreFile(m_list.StorePath(), SerializeTaskStore(storedSession, 1000, tasks));
    m_list.Load();
    m_scheduler = std::make_unique<CScheduler>(m_list, m_clock, m_launcher);
  }
  // Runs passes until the clock reaches `until`; returns how many passes that took.
  int RunUntil(OleTime until, int maxPasses = 10000) {
    int passes = 0;
    m_clock.limitMs = until.seconds * 1000;
    while (m_clock.Now().seconds < until.seconds && passes < maxPasses) {
      m_scheduler->RunPass();
      ++passes;
    }
    m_clock.limitMs.reset();
    return passes;
  }
  std::vector<OleTime> LaunchTimes() const {
    std::vector<OleTime> times;
    for (const Launch& l : m_launcher.launches) times.push_back(l.at);
    return times;
  }

  QTemporaryDir m_dir;
  CFakeClock m_clock;
  CRecordingLauncher m_launcher;
  CFakeStartupEntry m_startup;
  TaskList m_list;
  std::unique_ptr<CScheduler> m_scheduler;
};

TEST(NextRun, EveryThreeHoursFromOneMinutePastMidnight) {
  const ScheduledTask task = Task(1, Daily(2026, 12, 7, 0, 1, 1, 1440, 180));
  EXPECT_EQ(Next(task, At(2026, 12, 7, 10, 0)), At(2026, 12, 7, 12, 1));
  EXPECT_EQ(Next(task, At(2026, 12, 7, 21, 30)), At(2026, 12, 8, 0, 1));
  EXPECT_EQ(Next(task, At(2027, 3, 1, 4, 0)), At(2027, 3, 1, 6, 1));
}

TEST(NextRun, DailyWithoutWindowRunsEveryNDaysAtTheStartTime) {
  const ScheduledTask task = Task(1, Daily(2026, 12, 1, 8, 0, 2));
  EXPECT_EQ(Next(task, At(2026, 11, 1, 0, 0)), At(2026, 12, 1, 8, 0));  // before the begin date
  EXPECT_EQ(Next(task, At(2026, 12, 7, 10, 0)), At(2026, 12, 9, 8, 0));
  EXPECT_EQ(Next(task, At(2026, 12, 9, 7, 59, 59)), At(2026, 12, 9, 8, 0));
}

TEST(NextRun, OccurrenceWithinTheLastMinuteIsStillDueOnceRun) {
  ScheduledTask task = Task(1, Daily(2026, 12, 1, 12, 0, 1));
  EXPECT_EQ(Next(task, At(2026, 12, 7, 12, 0, 30)), At(2026, 12, 7, 12, 0));
  EXPECT_EQ(Next(task, At(2026, 12, 7, 12, 2, 0)), At(2026, 12, 8, 12, 0));
  // Run at 12:00:00 and looked at again within the same second: not due again.
  task.lastRun = {ToOleDate(At(2026, 12, 7, 12, 0)), 0};
  EXPECT_EQ(Next(task, At(2026, 12, 7, 12, 0)), At(2026, 12, 8, 12, 0));
  EXPECT_EQ(Next(task, At(2026, 12, 7, 12, 0, 30)), At(2026, 12, 8, 12, 0));
}

TEST(NextRun, WeeklyOnChosenDaysEveryOtherWeek) {
  // Tuesdays and Thursdays at 09:30, every second week from the week of Monday 7 December.
  TASK_TRIGGER t = Trigger(TASK_TIME_TRIGGER_WEEKLY, 2026, 12, 7, 9, 30);
  t.Type.Weekly = {2, (1 << 2) | (1 << 4)};
  const ScheduledTask task = Task(1, t);
  EXPECT_EQ(Next(task, At(2026, 12, 7, 10, 0)), At(2026, 12, 8, 9, 30));
  EXPECT_EQ(Next(task, At(2026, 12, 8, 10, 0)), At(2026, 12, 10, 9, 30));
  EXPECT_EQ(Next(task, At(2026, 12, 10, 10, 0)), At(2026, 12, 22, 9, 30));
  EXPECT_EQ(Next(task, At(2026, 12, 1, 0, 0)), At(2026, 12, 8, 9, 30));  // not before the begin date
  t.Type.Weekly.rgfDaysOfTheWeek = 0;
  EXPECT_EQ(Next(Task(1, t), At(2026, 12, 7, 10, 0)), std::nullopt);
}

TEST(NextRun, MonthlyByDateSkipsDaysAMonthDoesNotHave) {
  // The 1st and the 31st of January to March at 06:00.
  TASK_TRIGGER t = Trigger(TASK_TIME_TRIGGER_MONTHLYDATE, 2026, 12, 7, 6, 0);
  t.Type.MonthlyDate = {(1u << 1) | (1u << 31), (1 << 1) | (1 << 2) | (1 << 3)};
  const ScheduledTask task = Task(1, t);
  EXPECT_EQ(Next(task, At(2027, 1, 15, 0, 0)), At(2027, 1, 31, 6, 0));
  EXPECT_EQ(Next(task, At(2027, 1, 31, 7, 0)), At(2027, 2, 1, 6, 0));
  EXPECT_EQ(Next(task, At(2027, 2, 1, 7, 0)), At(2027, 3, 1, 6, 0));
  EXPECT_EQ(Next(task, At(2027, 3, 31, 7, 0)), At(2028, 1, 1, 6, 0));
  // 30 February never comes.
  t.Type.MonthlyDate = {1u << 30, 1 << 2};
  EXPECT_EQ(Next(Task(1, t), At(2027, 1, 1, 0, 0)), std::nullopt);
}

TEST(NextRun, MonthlyByWeekdayFindsFirstAndLast) {
  TASK_TRIGGER t = Trigger(TASK_TIME_TRIGGER_MONTHLYDOW, 2026, 1, 1, 18, 0);
  t.Type.MonthlyDOW = {5, 1 << 5, 0x1FFE};  // last Friday of every month
  EXPECT_EQ(Next(Task(1, t), At(2026, 12, 7, 10, 0)), At(2026, 12, 25, 18, 0));
  t.Type.MonthlyDOW = {1, 1 << 1, 0x1FFE};  // first Monday
  EXPECT_EQ(Next(Task(1, t), At(2026, 12, 7, 19, 0)), At(2027, 1, 4, 18, 0));
  t.Type.MonthlyDOW = {4, 1 << 0, 1 << 2};  // fourth Sunday of February
  EXPECT_EQ(Next(Task(1, t), At(2026, 12, 7, 19, 0)), At(2027, 2, 28, 18, 0));
}

TEST(NextRun, UnusableTriggersNeverComeDue) {
  TASK_TRIGGER noSize = Daily(2026, 12, 1, 8, 0, 1);
  noSize.cbTriggerSize = 0;
  TASK_TRIGGER badType = Daily(2026, 12, 1, 8, 0, 1);
  badType.TriggerType = 8;
  const TASK_TRIGGER everyZeroDays = Daily(2026, 12, 1, 8, 0, 0);
  const TASK_TRIGGER noDate = Trigger(TASK_TIME_TRIGGER_ONCE, 2026, 2, 30, 8, 0);
  for (const TASK_TRIGGER& t : {noSize, badType, everyZeroDays, noDate})
    EXPECT_EQ(Next(Task(1, t), At(2026, 12, 7, 10, 0)), std::nullopt);
  EXPECT_FALSE(IsUsableTrigger(noSize));
  EXPECT_FALSE(IsUsableTrigger(badType));
  EXPECT_FALSE(IsUsableTrigger(everyZeroDays));
  EXPECT_FALSE(IsUsableTrigger(Daily(2026, 12, 1, 8, 0, 1, 60, 0)));
  EXPECT_TRUE(IsUsableTrigger(Daily(2026, 12, 1, 8, 0, 1, 0, 0)));
  // Triggers that can never fire, whatever their type.
  TASK_TRIGGER weekly = Trigger(TASK_TIME_TRIGGER_WEEKLY, 2026, 12, 7, 9, 30);
  weekly.Type.Weekly = {1, 1 << 2};
  EXPECT_TRUE(IsUsableTrigger(weekly));
  TASK_TRIGGER everyZeroWeeks = weekly;
  everyZeroWeeks.Type.Weekly.WeeksInterval = 0;
  TASK_TRIGGER noWeekday = weekly;
  noWeekday.Type.Weekly.rgfDaysOfTheWeek = 0x80;
  TASK_TRIGGER monthly = Trigger(TASK_TIME_TRIGGER_MONTHLYDATE, 2026, 12, 7, 6, 0);
  monthly.Type.MonthlyDate = {1u << 15, 0x1FFE};
  EXPECT_TRUE(IsUsableTrigger(monthly));
  TASK_TRIGGER noDay = monthly;
  noDay.Type.MonthlyDate.rgfDays = 1;  // bit 0 is no day
  TASK_TRIGGER noMonth = monthly;
  noMonth.Type.MonthlyDate.rgfMonths = 0xE001;
  TASK_TRIGGER february30 = monthly;
  february30.Type.MonthlyDate = {1u << 30, 1 << 2};
  TASK_TRIGGER ninthWeek = Trigger(TASK_TIME_TRIGGER_MONTHLYDOW, 2026, 1, 1, 18, 0);
  ninthWeek.Type.MonthlyDOW = {9, 1 << 5, 0x1FFE};
  TASK_TRIGGER month13 = weekly;
  month13.wBeginMonth = 13;
  TASK_TRIGGER hour99 = weekly;
  hour99.wStartHour = 99;
  TASK_TRIGGER onceAtHour99 = Trigger(TASK_TIME_TRIGGER_ONCE, 2026, 12, 7, 99, 0);
  for (const TASK_TRIGGER& t : {everyZeroWeeks, noWeekday, noDay, noMonth, february30, ninthWeek, month13, hour99,
                                onceAtHour99})
    EXPECT_FALSE(IsUsableTrigger(t)) << "type " << t.TriggerType << " begin month " << t.wBeginMonth;
  // Event triggers need no date.
  EXPECT_TRUE(IsUsableTrigger(Trigger(TASK_EVENT_TRIGGER_AT_LOGON, 0, 0, 0, 0, 0)));
  // A window that cannot step still gives the daily start time.
  EXPECT_EQ(Next(Task(1, Daily(2026, 12, 1, 8, 0, 1, 60, 0)), At(2026, 12, 7, 8, 30)), At(2026, 12, 8, 8, 0));
}

TEST_F(Schedules, ADayOfTheThreeHourAlert) {
  Start({Task(1, Daily(2026, 12, 7, 0, 1, 1, 1440, 180))});
  RunUntil(At(2026, 12, 8, 10, 0));
  const std::vector<OleTime> expected = {At(2026, 12, 7, 12, 1), At(2026, 12, 7, 15, 1), At(2026, 12, 7, 18, 1),
                                         At(2026, 12, 7, 21, 1), At(2026, 12, 8, 0, 1),  At(2026, 12, 8, 3, 1),
                                         At(2026, 12, 8, 6, 1),  At(2026, 12, 8, 9, 1)};
  EXPECT_EQ(LaunchTimes(), expected);
  ScheduledTask stored;
  ASSERT_TRUE(m_list.GetAt(0, &stored));
  EXPECT_EQ(FromOleDate(stored.lastRun.value), At(2026, 12, 8, 9, 1));
  EXPECT_EQ(stored.trigger.Reserved1, m_list.SessionNumber());
  // The store has the last run too: a restarted server does not run the task again at once.
  const TaskStoreContents saved = ReadTaskStoreFile(m_list.StorePath());
  ASSERT_EQ(saved.tasks.size(), 1u);
  EXPECT_EQ(FromOleDate(saved.tasks[0].lastRun.value), At(2026, 12, 8, 9, 1));
  EXPECT_EQ(saved.tasks[0].trigger.Reserved1, m_list.SessionNumber());
}

TEST_F(Schedules, StartThatFailsIsTracedAndIsNoRun) {
  const std::string trace = m_dir.filePath("trace.txt").toStdString();
  ASSERT_TRUE(platform::TraceLog::Open(trace));
  Start({Task(7, Daily(2026, 12, 7, 10, 0, 1), "/gone/program --now")});
  m_launcher.fails = true;
  // The run due at once fails; the task is not tried again at once, but at its next time.
  const int passes = RunUntil(At(2026, 12, 7, 12, 0));
  platform::TraceLog::Close();
  EXPECT_LE(passes, 3);
  ScheduledTask stored;
  ASSERT_TRUE(m_list.GetAt(0, &stored));
  EXPECT_FALSE(stored.lastRun.IsValid());
  EXPECT_EQ(stored.trigger.Reserved1, 0u);
  const std::optional<std::string> lines = platform::ReadWholeFile(trace);
  ASSERT_TRUE(lines);
  EXPECT_NE(lines->find("Task 7: /gone/program --now could not be started"), std::string::npos) << *lines;

  m_launcher.fails = false;  // the program is back by the next day
  RunUntil(At(2026, 12, 8, 11, 0));
  ASSERT_EQ(LaunchTimes(), (std::vector<OleTime>{At(2026, 12, 8, 10, 0)}));
  ASSERT_TRUE(m_list.GetAt(0, &stored));
  EXPECT_EQ(FromOleDate(stored.lastRun.value), At(2026, 12, 8, 10, 0));
}

TEST_F(Schedules, OneTimeTasksAreDeletedAfterTheirTimeDisabledOnesWithoutRunning) {
  TASK_TRIGGER disabled = Trigger(TASK_TIME_TRIGGER_ONCE, 2026, 12, 7, 11, 0);
  disabled.rgFlags = TASK_TRIGGER_FLAG_DISABLED;
  Start({Task(1, Trigger(TASK_TIME_TRIGGER_ONCE, 2026, 12, 7, 9, 0), "overdue"), Task(2, disabled, "disabled"),
         Task(3, Trigger(TASK_TIME_TRIGGER_ONCE, 2026, 12, 7, 12, 0), "noon")});
  RunUntil(At(2026, 12, 7, 13, 0));
  ASSERT_EQ(m_launcher.launches.size(), 2u);
  EXPECT_EQ(m_launcher.launches[0].cmdLine, "overdue");  // a passed one-time task runs at once
  EXPECT_EQ(m_launcher.launches[0].at, At(2026, 12, 7, 10, 0));
  EXPECT_EQ(m_launcher.launches[1].cmdLine, "noon");
  EXPECT_EQ(m_list.Count(), 0);
  EXPECT_TRUE(ReadTaskStoreFile(m_list.StorePath()).tasks.empty());
  EXPECT_FALSE(m_startup.registered);
}

TEST_F(Schedules, EndDateInThePastRunsOnceMoreThenGoes) {
  TASK_TRIGGER ended = Daily(2026, 11, 1, 12, 0, 1);
  ended.rgFlags = TASK_TRIGGER_FLAG_HAS_END_DATE;
  ended.wEndYear = 2026;
  ended.wEndMonth = 12;
  ended.wEndDay = 6;
  TASK_TRIGGER later = ended;
  later.wEndYear = 2027;
  Start({Task(1, ended, "ended"), Task(2, later, "later")});
  RunUntil(At(2026, 12, 9, 0, 0));
  std::vector<std::string> ran;
  for (const Launch& l : m_launcher.launches) ran.push_back(l.cmdLine);
  EXPECT_EQ(ran, (std::vector<std::string>{"ended", "later", "later"}));  // noon on the 7th and the 8th
  ASSERT_EQ(m_list.Count(), 1);
}

TEST_F(Schedules, StartupTasksRunOncePerSessionAndDoNotSpin) {
  const TASK_TRIGGER boot = Trigger(TASK_EVENT_TRIGGER_AT_SYSTEMSTART, 2026, 1, 1, 0, 0);
  TASK_TRIGGER logon = Trigger(TASK_EVENT_TRIGGER_AT_LOGON, 2026, 1, 1, 0, 0);
  TASK_TRIGGER ranThisSession = boot;
  ranThisSession.Reserved1 = 8;  // the stored session is 7, so this server's is 8
  Start({Task(1, boot, "boot"), Task(2, logon, "logon"), Task(3, ranThisSession, "again")}, 7);
  m_scheduler->RunPass();
  m_scheduler->RunPass();
  const CScheduler::PassResult idle = m_scheduler->RunPass();
  EXPECT_EQ(idle.waitMs, kLongWaitMs);
  EXPECT_FALSE(idle.ran);
  std::vector<std::string> ran;
  for (const Launch& l : m_launcher.launches) ran.push_back(l.cmdLine);
  EXPECT_EQ(ran, (std::vector<std::string>{"boot", "logon"}));
  ScheduledTask stored;
  ASSERT_TRUE(m_list.GetAt(0, &stored));
  EXPECT_EQ(stored.trigger.Reserved1, 8);

  // One added during the session waits for the next session instead of running or spinning.
  ASSERT_TRUE(m_list.Add(Task(50, logon, "late")));
  EXPECT_TRUE(m_scheduler->RunPass().woken);
  EXPECT_EQ(m_scheduler->RunPass().waitMs, kLongWaitMs);
  EXPECT_EQ(m_launcher.launches.size(), 2u);
}

TEST_F(Schedules, FarTasksWaitAtMost46DaysAndRunAfterwards) {
  Start({});
  const CScheduler::PassResult empty = m_scheduler->RunPass();
  EXPECT_EQ(empty.waitMs, kLongWaitMs);
  EXPECT_FALSE(empty.ran);

  m_clock.Set(At(2026, 12, 7, 10, 0));
  ASSERT_TRUE(m_list.Add(Task(60, Trigger(TASK_TIME_TRIGGER_ONCE, 2027, 2, 5, 10, 0))));
  EXPECT_TRUE(m_scheduler->RunPass().woken);  // adding a task ends the wait early
  const CScheduler::PassResult first = m_scheduler->RunPass();
  EXPECT_EQ(first.waitMs, kLongWaitMs);
  EXPECT_FALSE(first.ran);
  EXPECT_EQ(m_clock.Now(), At(2027, 1, 22, 10, 0));
  const CScheduler::PassResult second = m_scheduler->RunPass();
  EXPECT_EQ(second.waitMs, 14LL * 86400 * 1000);
  EXPECT_EQ(LaunchTimes(), std::vector<OleTime>{At(2027, 2, 5, 10, 0)});
}

TEST_F(Schedules, TiesGoToTheEarlierTaskTheOtherFollowsAtOnce) {
  const TASK_TRIGGER noon = Daily(2026, 12, 1, 12, 0, 1);
  Start({Task(1, noon, "first"), Task(2, noon, "second")});
  const CScheduler::PassResult a = m_scheduler->RunPass();
  EXPECT_EQ(a.ran, 1u);
  const CScheduler::PassResult b = m_scheduler->RunPass();
  EXPECT_EQ(b.ran, 2u);
  EXPECT_LE(b.waitMs, 1000);
  ASSERT_EQ(m_launcher.launches.size(), 2u);
  EXPECT_EQ(m_launcher.launches[0].cmdLine, "first");
  EXPECT_LE(m_launcher.launches[1].at.seconds - m_launcher.launches[0].at.seconds, 1);
}

TEST_F(Schedules, TaskDeletedDuringTheWaitIsNeitherRunNorWrittenBack) {
  Start({Task(1, Daily(2026, 12, 1, 12, 0, 1), "deleted"), Task(2, Daily(2026, 12, 1, 18, 0, 1), "kept")});
  m_clock.onWait = [this] {
    m_list.Remove(1);
    m_clock.onWait = nullptr;
  };
  const CScheduler::PassResult pass = m_scheduler->RunPass();
  EXPECT_EQ(pass.chosen, 1u);
  EXPECT_TRUE(m_launcher.launches.empty());
  EXPECT_EQ(m_list.Count(), 1);
  ScheduledTask gone;
  EXPECT_FALSE(m_list.GetById(1, &gone));
}

TEST_F(Schedules, DisabledRepeatingTaskIsPassedOverWithoutSpinning) {
  TASK_TRIGGER t = Daily(2026, 12, 1, 12, 0, 1);
  t.rgFlags = TASK_TRIGGER_FLAG_DISABLED;
  Start({Task(1, t)});
  const int passes = RunUntil(At(2026, 12, 9, 13, 0));
  EXPECT_TRUE(m_launcher.launches.empty());
  EXPECT_LE(passes, 3 * 3);  // a few passes per day, not one per millisecond
  EXPECT_EQ(m_list.Count(), 1);
}

TEST_F(Schedules, UnusableTaskDoesNotStopTheOthers) {
  TASK_TRIGGER broken = Daily(2026, 12, 1, 11, 0, 0);
  broken.cbTriggerSize = 0;
  Start({Task(1, broken, "broken"), Task(2, Daily(2026, 12, 1, 12, 0, 1), "fine")});
  RunUntil(At(2026, 12, 7, 12, 30));
  ASSERT_EQ(m_launcher.launches.size(), 1u);
  EXPECT_EQ(m_launcher.launches[0].cmdLine, "fine");
  EXPECT_EQ(m_list.Count(), 2);
}

TEST_F(Schedules, ClockSetBackDuringTheWaitDoesNotRunEarly) {
  Start({Task(1, Daily(2026, 12, 1, 12, 0, 1))});
  m_clock.onWait = [this] {
    m_clock.Set(At(2026, 12, 7, 9, 0));  // the wait will end at 11:00 by the wall clock
    m_clock.onWait = nullptr;
  };
  m_scheduler->RunPass();
  EXPECT_TRUE(m_launcher.launches.empty());
  m_scheduler->RunPass();
  EXPECT_EQ(LaunchTimes(), std::vector<OleTime>{At(2026, 12, 7, 12, 0)});
}

TEST(SchedulerThread, StopsPromptlyFromALongWait) {
  QTemporaryDir dir;
  CFakeStartupEntry startup;
  TaskList list(dir.filePath("ORVSCHED.DAT"), startup);
  list.Load();
  CSystemClock clock;
  CRecordingLauncher launcher(clock);
  CScheduler scheduler(list, clock, launcher);
  scheduler.Start();
  ASSERT_TRUE(list.Add(Task(1, Trigger(TASK_TIME_TRIGGER_ONCE, 2099, 1, 1, 0, 0))));
  scheduler.Stop();  // would hang for 46 days if the wake-up were lost
  EXPECT_FALSE(scheduler.IsRunning());
  scheduler.Stop();
}

}  // namespace
}  // namespace orvsched
