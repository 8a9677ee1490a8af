#include "varnow/alerts/AlertChecks.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>

#include <chrono>
#include <stdexcept>
#include <vector>

#include "varnow/report/FormatSize.h"
#include "varnow/scan/Prompts.h"
#include "varnow/testsupport/AlertTestSupport.h"
#include "varnow/alerts/CommandLine.h"
#include "varnow/scan/DirData.h"

namespace varnow {
namespace {

using ::testing::ElementsAre;
using ::testing::EndsWith;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::SizeIs;
using test::RecordWithTotal;



struct Fixture {
  CDirData record;
  test::CRecordingPrompts owner;
  CAlertRun run;

  Fixture(std::int64_t saved, std::int64_t current) : record(RecordWithTotal(saved, current)) {
    run.dd = &record;
    run.scanDir = "/srv/data/";
    run.displayUnit = SizeUnit::kBytes;
    run.prompts = &owner;
  }
};

bool Percent(std::int32_t p, std::int64_t saved, std::int64_t current) {
  Fixture f(saved, current);
  f.run.alertPercent = p;
  const bool fired = AlertPercentCheck(f.run);
  EXPECT_EQ(fired, f.owner.boxes.size() == 1);
  if (saved != kNoSize) {
    EXPECT_THAT(f.owner.messages, IsEmpty());
  }
  return fired;
}

bool Size(std::int64_t s, std::int64_t saved, std::int64_t current) {
  Fixture f(saved, current);
  f.run.alertSize = s;
  const bool fired = AlertSizeCheck(f.run);
  EXPECT_EQ(fired, f.owner.boxes.size() == 1);
  if (saved != kNoSize) {
    EXPECT_THAT(f.owner.messages, IsEmpty());
  }
  return fired;
}

TEST(GrowthChecks, PercentThresholdIsExclusive) {
  // 999 + 999 * 10 / 100 = 1098
  EXPECT_FALSE(Percent(10, 999, 1097));
  EXPECT_FALSE(Percent(10, 999, 1098));
  EXPECT_TRUE(Percent(10, 999, 1099));
  EXPECT_FALSE(Percent(0, 5000, 5000));
  EXPECT_TRUE(Percent(0, 5000, 5001));
  EXPECT_FALSE(Percent(10, 5000, 4000));  // shrinking never fires
}

TEST(GrowthChecks, SizeThresholdIsExclusive) {
  EXPECT_FALSE(Size(1024, 5000, 6023));
  EXPECT_FALSE(Size(1024, 5000, 6024));
  EXPECT_TRUE(Size(1024, 5000, 6025));
  EXPECT_FALSE(Size(0, 5000, 5000));
  EXPECT_TRUE(Size(0, 5000, 5001));
}

TEST(GrowthChecks, WithoutASavedScanNothingFiresAndTheRunSaysSo) {
  // A first run has nothing to grow from, however large the directory is.
  for (std::int64_t current : {std::int64_t{0}, std::int64_t{1024}, std::int64_t{1} << 40}) {
    for (bool percent : {false, true}) {
      Fixture f(kNoSize, current);
      f.run.alertSize = 1024;
      f.run.alertPercent = 10;
      EXPECT_FALSE(percent ? AlertPercentCheck(f.run) : AlertSizeCheck(f.run)) << current;
      EXPECT_THAT(f.owner.boxes, IsEmpty());
      EXPECT_THAT(f.owner.messages,
                  ElementsAre("no saved scan of /srv/data/ to compare with; save one with /SAVE"));
    }
  }
  // no current size: skipped, whatever the threshold
  EXPECT_FALSE(Size(0, -5, -1));
  EXPECT_FALSE(Percent(0, -5, -1));
}

TEST(GrowthChecks, HugeSizesAndSettingsDoNotOverflow) {
  const std::int64_t big = INT64_MAX - 10;
  EXPECT_FALSE(Percent(INT32_MAX, big, INT64_MAX));
  EXPECT_FALSE(Size(INT64_MAX, big, INT64_MAX));
  EXPECT_TRUE(Percent(-100, big, 1));  // -100 % makes the threshold 0
}

TEST(GrowthChecks, OnlyTheTotalEntryByItsExactName) {
  Fixture f(100, 100);
  f.record.m_entries.push_back({"KOB*[total used]", {9999, 1, -1, -1, -1, -1}});
  f.run.alertSize = 0;
  f.run.alertPercent = 0;
  EXPECT_FALSE(AlertSizeCheck(f.run));
  EXPECT_FALSE(AlertPercentCheck(f.run));

  f.run.dd = nullptr;
  EXPECT_FALSE(AlertSizeCheck(f.run));
  EXPECT_THAT(f.owner.boxes, IsEmpty());
}

TEST(GrowthChecks, Messages) {
  Fixture f(999, 1099);
  f.run.alertPercent = 10;
  f.run.alertSize = 2048;
  ASSERT_TRUE(AlertPercentCheck(f.run));
  f.run.displayUnit = SizeUnit::kK;
  f.record.m_entries.back().sizes[0] = 1'048'576 * 3;
  ASSERT_TRUE(AlertSizeCheck(f.run));
  EXPECT_THAT(f.owner.boxes,
              ElementsAre("The disk space taken up by /srv/data/ increased by more than 10% since "
                          "the last saved scan.  (Current size: " + FormatSize(1099, true, SizeUnit::kBytes) + ")",
                          "The disk space taken up by /srv/data/ increased by more than " +
                              FormatSize(2048, true, SizeUnit::kK) +
                              " since the last saved scan.  (Current size: " +
                              FormatSize(1'048'576 * 3, true, SizeUnit::kK) + ")"));
}

TEST(FreeCheck, ThresholdMessageAndFailedQuery) {
  auto check = [](std::uint64_t free, std::int64_t minimum, bool query = true) {
    Fixture f(0, 0);
    f.run.freeAlert = minimum;
    std::string asked;
    f.run.getFreeSpace = [&](const std::string& dir, std::uint64_t& bytes) {
      asked = dir;
      bytes = free;
      return query;
    };
    const bool fired = FreeAlertCheck(f.run);
    EXPECT_EQ(asked, "/srv/data/");
    EXPECT_EQ(fired, !f.owner.boxes.empty());
    return f.owner.boxes;
  };
  EXPECT_THAT(check(10'485'760, 10'485'760), IsEmpty());
  EXPECT_THAT(check(10'485'761, 10'485'760), IsEmpty());
  EXPECT_THAT(check(0, 10'485'760, false), IsEmpty());
  EXPECT_THAT(check(10'485'759, 10'485'760),
              ElementsAre("Free disk space on /srv/data/ has dropped below " +
                          FormatSize(10'485'760, true, SizeUnit::kBytes) +
                          " (Current free space: " + FormatSize(10'485'759, true, SizeUnit::kBytes) + ")"));
}

TEST(FullCheck, FiresWhenTheProjectedDateIsCloserThanTheDays) {
  constexpr std::int32_t kDay = 86400;
  constexpr std::int32_t kScan = 1764547200;  // 2025-12-01 00:00 UTC
  // Free space falls 100 MB a day and is gone three days after the newest scan.
  auto check = [&](std::int32_t days, std::time_t now, bool withFreeRow = true) {
    Fixture f(0, 0);
    f.record.m_times = {kScan, kScan - kDay, kScan - 2 * kDay, 0, 0, 0};
    CDirInfo* freeRow = f.record.FindEntry(kTotalFree);
    if (withFreeRow) freeRow->sizes = {300 << 20, 400 << 20, 500 << 20, -1, -1, -1};
    else freeRow->name = "KOB*[Total Elsewhere]";
    f.run.fullAlertDays = days;
    f.run.now = now;
    const bool fired = FullAlertCheck(f.run);
    EXPECT_EQ(fired, !f.owner.boxes.empty());
    return f.owner.boxes;
  };
  EXPECT_THAT(check(3, kScan), IsEmpty());  // exactly three days away: not less than three
  EXPECT_THAT(check(3, kScan + 1),
              ElementsAre("At the current rate the disk holding /srv/data/ fills around December 4, 2025, less than "
                          "3 days from now.  (Current free space: " + FormatSize(300 << 20, true, SizeUnit::kBytes) + ")"));
  EXPECT_THAT(check(1, kScan + 10 * kDay), SizeIs(1));  // already past the date
  EXPECT_THAT(check(365, kScan, false), IsEmpty());     // no free-space history
  CRunFlags flags;
  flags.fullAlert = 1;
  Fixture rising(0, 0);
  rising.record.m_times = {kScan, kScan - kDay, kScan - 2 * kDay, 0, 0, 0};
  rising.record.FindEntry(kTotalFree)->sizes = {300, 200, 100, -1, -1, -1};
  rising.run.fullAlertDays = 100000;
  EXPECT_FALSE(RunAlertChecks(flags, rising.run));
}

// The kind and directory decide which earlier notification an alert replaces and how urgent it is.
TEST(Checks, EachAlertTellsItsKindAndDirectory) {
  constexpr std::int32_t kScan = 1764547200;
  Fixture f(1000, 5000);
  f.record.m_times = {kScan, kScan - 86400, kScan - 2 * 86400, 0, 0, 0};
  f.record.FindEntry(kTotalFree)->sizes = {300 << 20, 400 << 20, 500 << 20, -1, -1, -1};
  f.run.alertSize = 1;
  f.run.alertPercent = 1;
  f.run.freeAlert = 1'000'000;
  f.run.fullAlertDays = 30;
  f.run.now = kScan;
  f.run.getFreeSpace = [](const std::string&, std::uint64_t& bytes) {
    bytes = 10;
    return true;
  };
  CRunFlags flags;
  flags.alertSize = flags.alertPercent = flags.freeAlert = flags.fullAlert = 1;
  ASSERT_TRUE(RunAlertChecks(flags, f.run));
  std::vector<EAlertKind> kinds;
  for (const CAlertNotice& alert : f.owner.alerts) {
    EXPECT_EQ(alert.dir, "/srv/data/");
    kinds.push_back(alert.kind);
  }
  EXPECT_THAT(kinds, ElementsAre(EAlertKind::kSize, EAlertKind::kPercent, EAlertKind::kFreeSpace, EAlertKind::kDiskFull));
}

TEST(Checks, AFailureInsideACheckEndsOnlyThatCheck) {
  Fixture f(0, 100);
  f.run.freeAlert = 10;
  f.run.getFreeSpace = [](const std::string&, std::uint64_t&) -> bool {
    throw std::runtime_error("volume gone");
  };
  CRunFlags flags;
  flags.freeAlert = 1;
  flags.alertSize = 1;
  EXPECT_TRUE(RunAlertChecks(flags, f.run));  // the size check still fired
  EXPECT_THAT(f.owner.boxes, SizeIs(1));
  flags.alertSize = 0;
  EXPECT_FALSE(RunAlertChecks(flags, f.run));
}

TEST(ReplaceAll, AnyCaseEveryOccurrenceAndNoRescan) {
  EXPECT_EQ(ReplaceAll("$DIR$ and $dir$ and $Dir$", "$DIR$", "/x/"), "/x/ and /x/ and /x/");
  EXPECT_EQ(ReplaceAll("a$DIR$b", "$DIR$", "<$DIR$>"), "a<$DIR$>b");
  EXPECT_EQ(ReplaceAll("$DI$DIR$R$", "$DIR$", "$DIR$"), "$DI$DIR$R$");
  EXPECT_EQ(ReplaceAll("no placeholder", "$DIR$", "x"), "no placeholder");
  EXPECT_EQ(ReplaceAll("text", "", "x"), "text");
  // Non-ASCII bytes are compared exactly, never folded.
  EXPECT_EQ(ReplaceAll("\xc3\xa9$msg$", "$MSG$", "m"), "\xc3\xa9m");
}

TEST(RunNotifyCommand, SubstitutesInsideEachArgumentOnce) {
  // A program that cannot exist, so nothing starts; the command as substituted is kept.
  std::string command = "/nonexistent/notify $DIR$ \"size: $size$\" $MSG$ $Dir$";
  EXPECT_FALSE(RunNotifyCommand(command, "/srv/a b/$MSG$/", "1,099 bytes", "it's \"big\""));
  // Each value stays one argument; a value holding a placeholder is not substituted again.
  EXPECT_THAT(SplitCommandLine(command),
              ElementsAre(::testing::Field(&CCommandToken::text, "/nonexistent/notify"),
                          ::testing::Field(&CCommandToken::text, "/srv/a b/$MSG$/"),
                          ::testing::Field(&CCommandToken::text, "size: 1,099 bytes"),
                          ::testing::Field(&CCommandToken::text, "it's \"big\""),
                          ::testing::Field(&CCommandToken::text, "/srv/a b/$MSG$/")));

  std::string onPath = "true $DIR$";  // a bare name is looked up on PATH
  EXPECT_TRUE(RunNotifyCommand(onPath, "/", "1", "m"));
  EXPECT_EQ(onPath, "true /");

  std::string blank = "   ";
  EXPECT_FALSE(RunNotifyCommand(blank, "/", "1", "m"));
}

TEST(Notification, MissingProgramFallsBackToTheBoxNamingTheCommand) {
  Fixture f(0, 5000);
  f.run.alertSize = 0;
  f.run.alertPercent = 0;
  f.run.notifyCommand = "/nonexistent/notify $DIR$ $MSG$";
  ASSERT_TRUE(AlertSizeCheck(f.run));
  ASSERT_THAT(f.owner.boxes, SizeIs(1));
  const std::string first = f.owner.boxes[0];
  const std::string message = first.substr(0, first.find(" [This message is shown"));
  EXPECT_EQ(first, message + " [This message is shown because " + f.run.notifyCommand + " could not be started]");
  EXPECT_EQ(f.run.notifyCommand, "/nonexistent/notify /srv/data/ \"" + message + "\"");

  // Both growth switches fire: the second starts from the command as the first substituted it.
  const std::string substituted = f.run.notifyCommand;
  ASSERT_TRUE(AlertPercentCheck(f.run));
  EXPECT_EQ(f.run.notifyCommand, substituted);
  EXPECT_THAT(f.owner.boxes[1], EndsWith("because " + substituted + " could not be started]"));
  EXPECT_THAT(f.owner.boxes[1], HasSubstr("more than 0%"));
}

// A notification program that writes each of its arguments, NUL-terminated, to a file of its own.
class NotifyScript {
 public:
  NotifyScript() {
    m_path = m_dir.filePath("notify script");
    QFile script(m_path);
    script.open(QIODevice::WriteOnly);
    script.write(QStringLiteral(
                     "#!/bin/sh\n"
                     "out=$(mktemp \"%1/run.XXXXXX\")\n"
                     "printf '%s\\0' \"$@\" > \"$out\"\n"
                     "mv \"$out\" \"$out.done\"\n")
                     .arg(m_dir.path())
                     .toUtf8());
    script.close();
    script.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
  }

  // The quoted program path, as a user would type it.
  std::string Command(const std::string& rest) const {
    return "\"" + m_path.toStdString() + "\" " + rest;
  }

  // The arguments of the `count`th run, once it has finished.
  std::vector<std::string> WaitForRun(int count) const {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    QStringList runs;
    while (std::chrono::steady_clock::now() < deadline) {
      runs = QDir(m_dir.path()).entryList({"*.done"}, QDir::Files, QDir::Time | QDir::Reversed);
      if (runs.size() >= count) break;
      QThread::msleep(20);
    }
    if (runs.size() < count) return {};
    QFile file(m_dir.filePath(runs[count - 1]));
    file.open(QIODevice::ReadOnly);
    std::vector<std::string> arguments;
    for (const QByteArray& argument : file.readAll().split('\0'))
      arguments.push_back(argument.toStdString());
    arguments.pop_back();  // after the last terminator
    return arguments;
  }

 private:
  QTemporaryDir m_dir;
  QString m_path;
};

TEST(Notification, ProgramReceivesDirectorySizeAndMessageAsSingleArguments) {
  NotifyScript script;
  Fixture f(999, 1099);
  const std::string dir = "/srv/my \"quoted\" data/";
  f.run.scanDir = dir;
  f.run.alertPercent = 10;
  f.run.notifyCommand = script.Command("$dir$ $SIZE$ $MSG$");
  ASSERT_TRUE(AlertPercentCheck(f.run));
  EXPECT_THAT(f.owner.boxes, IsEmpty());
  const std::string message = "The disk space taken up by " + dir +
                              " increased by more than 10% since the last saved scan.  (Current size: " +
                              FormatSize(1099, true, SizeUnit::kBytes) + ")";
  EXPECT_THAT(script.WaitForRun(1), ElementsAre(dir, FormatSize(1099, true, SizeUnit::kBytes), message));
}

TEST(Notification, EmptyArgumentsReachTheProgramAsEmptyArguments) {
  NotifyScript script;
  Fixture f(999, 1099);
  f.run.alertPercent = 10;
  // As the tracker's own command line hands it over: argv joined, "" kept.
  f.run.notifyCommand = script.Command(JoinCommandLine({"", "$DIR$", ""}));
  ASSERT_TRUE(AlertPercentCheck(f.run));
  EXPECT_THAT(script.WaitForRun(1), ElementsAre("", "/srv/data/", ""));
}

}  // namespace
}  // namespace varnow
