#include "orvsched/taskstore.h"

#include "orvsched/oledate.h"
#include "orvsched/tasklist.h"
#include "orvsched/testsupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdio>

#include "platform/filesystem.h"
#include "platform/testfaultfiles.h"

namespace orvsched {
namespace {

using namespace test;

std::vector<ScheduledTask> ThreeTasks() {
  std::vector<ScheduledTask> tasks;
  for (std::uint32_t i = 0; i < 3; ++i) {
    TASK_TRIGGER t = Trigger(i, 2026 + i, 1 + i, 10 + i, 3 + i, 7 * i);
    t.Reserved1 = std::uint16_t(0x1234 + i);
    t.wEndYear = 2030;
    t.wEndMonth = 6;
    t.wEndDay = 30;
    t.MinutesDuration = 1440;
    t.MinutesInterval = 180 + i;
    t.rgFlags = 0x5 | (0x100u << i);
    t.Type.MonthlyDOW = {std::uint16_t(1 + i), 0x41, 0x1FFE};
    t.Reserved2 = 0xBEEF;
    t.wRandomMinutesInterval = 0xCAFE;
    ScheduledTask task = Task(100 + 7 * i, t, "/usr/bin/varnow /DIR=/home/ann /ALERTPERCENT=" + std::to_string(i));
    task.taskType = i;
    task.description = "Alert \xC3\xA9 " + std::to_string(i);
    task.taskOwner = 2 - i;
    task.bRunMinimized = std::uint8_t(i == 1 ? 0xFF : i);
    task.lastRun = i == 0 ? LastRun{} : LastRun{ToOleDate(MakeOleTime(2026, 12, 7, 12, 0, i)), 0};
    tasks.push_back(task);
  }
  return tasks;
}

void ExpectSameTask(const ScheduledTask& a, const ScheduledTask& b) {
  EXPECT_EQ(a.taskType, b.taskType);
  EXPECT_EQ(a.cmdLine, b.cmdLine);
  EXPECT_EQ(taskmgr::ToBytes(a.trigger), taskmgr::ToBytes(b.trigger));
  EXPECT_EQ(a.description, b.description);
  EXPECT_EQ(a.taskOwner, b.taskOwner);
  EXPECT_EQ(a.bRunMinimized, b.bRunMinimized);
  EXPECT_EQ(a.lastRun, b.lastRun);
  EXPECT_EQ(a.taskID, b.taskID);
}

TEST(TaskStore, ThreeTasksSurviveARoundTripByteForByte) {
  const std::vector<ScheduledTask> tasks = ThreeTasks();
  const QByteArray bytes = SerializeTaskStore(41, 500, tasks);
  const TaskStoreContents read = ParseTaskStore(bytes);
  ASSERT_TRUE(read.complete);
  EXPECT_EQ(read.sessionNumber, 41);
  EXPECT_EQ(read.idCounter, 500u);
  ASSERT_EQ(read.tasks.size(), 3u);
  for (int i = 0; i < 3; ++i) ExpectSameTask(read.tasks[i], tasks[i]);
  EXPECT_EQ(SerializeTaskStore(41, 500, read.tasks), bytes);
}

TEST(TaskStore, LayoutOfOneTaskIsFixed) {
  ScheduledTask task = Task(7, Trigger(taskmgr::TASK_TIME_TRIGGER_DAILY, 2026, 12, 7, 0, 1), "ab");
  task.description = "d";
  task.taskOwner = 2;
  task.bRunMinimized = 0x80;
  task.lastRun = {1.5, 0};
  const QByteArray bytes = SerializeTaskStore(0x0102, 0x03040506, {task});
  QByteArray expected = QByteArray::fromHex("0201" "06050403" "0100" "0164" "026162" "02000000");
  // Trigger: size 48, begin 2026-12-07, start 00:01, no window, no flags, type daily.
  expected += QByteArray::fromHex("3000" "0000" "ea07" "0c00" "0700" "0000" "0000" "0000" "0000" "0100"
                                  "00000000" "00000000" "00000000" "01000000" "0000000000000000" "0000" "0000");
  expected += QByteArray::fromHex("80000000" "07000000" "02000000" "00000000" "000000000000F83F");
  EXPECT_EQ(bytes.toHex(), expected.toHex());
}

TEST(TaskStore, StringLengthsSwitchEncodingAt255And0xFFFE) {
  struct Case {
    std::size_t length;
    QByteArray prefix;
  } cases[] = {{0, QByteArray::fromHex("00")},
               {254, QByteArray::fromHex("FE")},
               {255, QByteArray::fromHex("FFFF00")},
               {0xFFFD, QByteArray::fromHex("FFFDFF")},
               {0xFFFE, QByteArray::fromHex("FFFFFFFEFF0000")},
               {70000, QByteArray::fromHex("FFFFFF70110100")}};
  for (const Case& c : cases) {
    ScheduledTask task = Task(1, Trigger(0, 2026, 1, 1, 0, 0));
    task.description = std::string(c.length, 'x');
    const QByteArray bytes = SerializeTaskStore(0, 0, {task});
    EXPECT_EQ(bytes.mid(8, c.prefix.size()).toHex(), c.prefix.toHex()) << c.length;
    const TaskStoreContents read = ParseTaskStore(bytes);
    ASSERT_EQ(read.tasks.size(), 1u) << c.length;
    EXPECT_EQ(read.tasks[0].description.size(), c.length);
  }
}

TEST(TaskStore, CountOf0xFFFFOrMoreTakesTheLongForm) {
  std::vector<ScheduledTask> tasks(0xFFFF, Task(1, Trigger(0, 2026, 1, 1, 0, 0), ""));
  const QByteArray bytes = SerializeTaskStore(0, 0, tasks);
  EXPECT_EQ(bytes.mid(6, 6).toHex(), QByteArray("ffffffff0000"));
  EXPECT_EQ(ParseTaskStore(bytes).tasks.size(), 0xFFFFu);
  tasks.pop_back();
  EXPECT_EQ(SerializeTaskStore(0, 0, tasks).mid(6, 2).toHex(), QByteArray("feff"));
}

TEST(TaskStore, EveryCutKeepsTheTasksReadSoFar) {
  const QByteArray bytes = SerializeTaskStore(3, 9, ThreeTasks());
  const QByteArray oneTask = SerializeTaskStore(3, 9, {ThreeTasks()[0]});
  const QByteArray twoTasks = SerializeTaskStore(3, 9, {ThreeTasks()[0], ThreeTasks()[1]});
  for (qsizetype cut = 0; cut < bytes.size(); ++cut) {
    const TaskStoreContents read = ParseTaskStore(bytes.left(cut));
    EXPECT_FALSE(read.complete);
    const std::size_t whole = cut >= twoTasks.size() ? 2 : cut >= oneTask.size() ? 1 : 0;
    EXPECT_EQ(read.tasks.size(), whole) << cut;
  }
  EXPECT_TRUE(ParseTaskStore(bytes).complete);
}

TEST(TaskStore, ImpossibleLengthsAndCountsAllocateNothing) {
  // A count of 4 billion tasks with one task present, then a string claiming 4 GB.
  QByteArray bytes = QByteArray::fromHex("0000" "00000000" "FFFF" "FFFFFFFF");
  bytes += SerializeTaskStore(0, 0, {Task(5, Trigger(0, 2026, 1, 1, 0, 0))}).mid(8);
  bytes += QByteArray::fromHex("FFFFFFFFFFFFFF") + QByteArray(100, 'x');
  const TaskStoreContents read = ParseTaskStore(bytes);
  EXPECT_FALSE(read.complete);
  ASSERT_EQ(read.tasks.size(), 1u);
  EXPECT_EQ(read.tasks[0].taskID, 5u);
}

class TaskListStore : public ::testing::Test {
 protected:
  QString StorePath() const { return m_dir.filePath("ORVSCHED.DAT"); }
  void WriteStore(const QByteArray& bytes) {
    QFile file(StorePath());
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
  }
  QTemporaryDir m_dir;
  CFakeStartupEntry m_startup;
};

TEST_F(TaskListStore, NoStoreStartsEmptyAndFirstIdentifierIsAtLeastOne) {
  TaskList list(StorePath(), m_startup);
  m_startup.registered = true;  // a missing store leaves the entry alone
  list.Load();
  EXPECT_EQ(list.Count(), 0);
  EXPECT_EQ(list.SessionNumber(), 0);
  EXPECT_EQ(list.IdCounter(), 0u);
  EXPECT_TRUE(m_startup.registered);
  TASK_STRUCT record;
  record.taskID = 12345;
  const ScheduledTask task = list.MakeTask(record);
  EXPECT_GE(task.taskID, 1u);
  EXPECT_NE(task.taskID, 12345u);
}

TEST_F(TaskListStore, LoadAddsOneToTheSessionAndFollowsTheStartupEntry) {
  WriteStore(SerializeTaskStore(41, 500, ThreeTasks()));
  TaskList list(StorePath(), m_startup);
  list.Load();
  EXPECT_EQ(list.SessionNumber(), 42);
  EXPECT_EQ(list.IdCounter(), 503u);  // each record read takes an identifier first
  EXPECT_TRUE(m_startup.registered);
  ScheduledTask second;
  ASSERT_TRUE(list.GetAt(1, &second));
  ExpectSameTask(second, ThreeTasks()[1]);

  WriteStore(SerializeTaskStore(0xFFFF, 0, {}));
  TaskList empty(StorePath(), m_startup);
  empty.Load();
  EXPECT_EQ(empty.SessionNumber(), 0);  // wraps
  EXPECT_FALSE(m_startup.registered);
}

TEST_F(TaskListStore, DamagedStoreKeepsTasksReadWithCountersZeroAndFreshIdentifiersStayUnique) {
  const QByteArray bytes = SerializeTaskStore(41, 500, ThreeTasks());
  WriteStore(bytes.left(bytes.size() - 3));
  TaskList list(StorePath(), m_startup);
  list.Load();
  EXPECT_EQ(list.Count(), 2);
  EXPECT_EQ(list.SessionNumber(), 0);
  EXPECT_EQ(list.IdCounter(), 0u);
  EXPECT_FALSE(m_startup.registered);  // left as it was
  std::set<std::uint32_t> ids = {100, 107};
  for (int i = 0; i < 120; ++i) EXPECT_TRUE(ids.insert(list.MakeTask({}).taskID).second);

  // The damaged bytes stay beside the store after the next save has replaced it.
  ASSERT_TRUE(list.Add(list.MakeTask({})));
  const QStringList kept = QDir(m_dir.path()).entryList({"ORVSCHED.DAT.damaged-*"});
  ASSERT_EQ(kept.size(), 1);
  EXPECT_EQ(list.DamagedCopy(), m_dir.filePath(kept[0]));
  QFile copy(list.DamagedCopy());
  ASSERT_TRUE(copy.open(QIODevice::ReadOnly));
  EXPECT_EQ(copy.readAll(), bytes.left(bytes.size() - 3));
  EXPECT_EQ(ReadTaskStoreFile(StorePath()).tasks.size(), 3u);

  // A whole store is not kept aside.
  TaskList again(StorePath(), m_startup);
  again.Load();
  EXPECT_TRUE(again.DamagedCopy().isEmpty());
  EXPECT_EQ(QDir(m_dir.path()).entryList({"ORVSCHED.DAT.damaged-*"}).size(), 1);
}

TEST_F(TaskListStore, AddAndRemoveSaveAndKeepTheStartupEntryWithTheList) {
  TaskList list(StorePath(), m_startup);
  list.Load();
  const ScheduledTask a = list.MakeTask({});
  const ScheduledTask b = list.MakeTask({});
  ASSERT_TRUE(list.Add(a));
  EXPECT_TRUE(m_startup.registered);
  EXPECT_TRUE(list.WakeEvent().IsSignalled());
  ASSERT_TRUE(list.Add(b));
  EXPECT_EQ(ReadTaskStoreFile(StorePath()).tasks.size(), 2u);

  EXPECT_FALSE(list.Remove(9999));
  ASSERT_TRUE(list.Remove(a.taskID));
  EXPECT_TRUE(m_startup.registered);
  ASSERT_TRUE(list.Remove(b.taskID));
  EXPECT_FALSE(m_startup.registered);
  const TaskStoreContents stored = ReadTaskStoreFile(StorePath());
  EXPECT_TRUE(stored.complete);
  EXPECT_TRUE(stored.tasks.empty());
  EXPECT_EQ(stored.idCounter, b.taskID);
}

// New tasks are appended to the store rather than saved whole each time: the file is the same
// as if it had been, and a crash in the middle of an append leaves it as it was.
TEST_F(TaskListStore, AppendedTasksGiveTheSameFileAndACutAppendReadsAsBefore) {
  TaskList list(StorePath(), m_startup);
  list.Load();
  std::vector<ScheduledTask> added;
  for (int i = 0; i < 300; ++i) {  // descriptions of 254, 255 and more bytes among them
    TASK_STRUCT record;
    record.description = QString(250 + i % 10, QChar('a' + i % 26));
    record.cmdLine = QString("/bin/true %1").arg(i);
    added.push_back(list.MakeTask(record));
    ASSERT_TRUE(list.Add(added.back()));
  }
  ASSERT_TRUE(list.Remove(added[7].taskID));  // saved whole
  added.erase(added.begin() + 7);
  added.push_back(list.MakeTask({}));
  ASSERT_TRUE(list.Add(added.back()));
  QFile file(StorePath());
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  const QByteArray stored = file.readAll();
  file.close();
  EXPECT_EQ(stored, SerializeTaskStore(list.SessionNumber(), list.IdCounter(), added));

  // Killed after the new record was written but before the header counted it.
  std::vector<ScheduledTask> more = added;
  more.push_back(list.MakeTask({}));
  const QByteArray appended = SerializeTaskStore(list.SessionNumber(), list.IdCounter(), more);
  for (const int cut : {1, 40, int(appended.size() - stored.size())}) {
    WriteStore(stored + appended.mid(stored.size(), cut));
    TaskList reloaded(StorePath(), m_startup);
    reloaded.Load();
    EXPECT_TRUE(reloaded.DamagedCopy().isEmpty());
    ASSERT_EQ(reloaded.Count(), static_cast<int>(added.size()));
    ScheduledTask last;
    ASSERT_TRUE(reloaded.GetAt(reloaded.Count() - 1, &last));
    EXPECT_EQ(last.taskID, added.back().taskID);
  }
  // A store that another hand has changed meanwhile is saved whole, not appended to.
  WriteStore(SerializeTaskStore(1, 5000, {}));
  ASSERT_TRUE(list.Add(more.back()));
  EXPECT_EQ(ReadTaskStoreFile(StorePath()).tasks.size(), added.size() + 1);
}

TEST_F(TaskListStore, IndexOutsideTheListFails) {
  TaskList list(StorePath(), m_startup);
  list.Load();
  ASSERT_TRUE(list.Add(list.MakeTask({})));
  ScheduledTask out;
  out.description = "untouched";
  EXPECT_FALSE(list.GetAt(-1, &out));
  EXPECT_FALSE(list.GetAt(1, &out));
  EXPECT_EQ(out.description, "untouched");
  EXPECT_TRUE(list.GetAt(0, &out));
}

TEST_F(TaskListStore, FailedSaveReportsFailureAndLeavesTheListAsItWas) {
  TaskList list(StorePath(), m_startup);
  list.Load();
  const ScheduledTask kept = list.MakeTask({});
  ASSERT_TRUE(list.Add(kept));
  ASSERT_TRUE(list.Add(list.MakeTask({})));
  // A folder where the store was: every save fails from here on.
  ASSERT_TRUE(QFile::remove(StorePath()));
  ASSERT_TRUE(QDir(m_dir.path()).mkdir("ORVSCHED.DAT"));
  list.WakeEvent().Reset();
  EXPECT_FALSE(list.Add(list.MakeTask({})));
  EXPECT_FALSE(list.WakeEvent().IsSignalled());
  EXPECT_FALSE(list.Remove(kept.taskID));
  ASSERT_EQ(list.Count(), 2);
  ScheduledTask first;
  ASSERT_TRUE(list.GetAt(0, &first));
  EXPECT_EQ(first.taskID, kept.taskID);  // back in its place

  TaskList unsaved(m_dir.filePath("missing-folder/ORVSCHED.DAT"), m_startup);
  m_startup.registered = false;
  EXPECT_FALSE(unsaved.Add(unsaved.MakeTask({})));
  EXPECT_EQ(unsaved.Count(), 0);
  EXPECT_FALSE(m_startup.registered);
}

// The store is replaced whole: under a failing disk or a power cut at any call it holds the
// old tasks or the new ones, and a save reported done survives.
TEST(TaskStoreFaults, AStoreIsOldOrNewAfterAnyFault) {
  QTemporaryDir dir;
  const QString path = dir.filePath("ORVSCHED.DAT");
  std::vector<ScheduledTask> tasks = ThreeTasks();
  const QByteArray before = SerializeTaskStore(1, 200, {tasks[0]});
  const QByteArray after = SerializeTaskStore(2, 300, tasks);
  const std::string counts = testfaults::CheckWholeFileWrite<platform::FileSystem>(
      platform::SystemFiles(), [](platform::FileSystem* fs) { platform::UseFiles(fs); }, dir.path().toStdString(),
      [&] { testfaults::WriteWhole(path.toStdString(), before.toStdString()); },
      [&] { return WriteTaskStoreFile(path, after); },
      [&] {
        const std::string now = testfaults::ReadWhole(path.toStdString());
        return now == before.toStdString() ? 0 : now == after.toStdString() ? 1 : -1;
      });
  std::printf("[ faults ] task store: %s\n", counts.c_str());
}

}  // namespace
}  // namespace orvsched
