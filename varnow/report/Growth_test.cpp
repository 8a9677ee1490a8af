#include <gtest/gtest.h>

#include <algorithm>
#include <initializer_list>

#include "varnow/report/FullProjection.h"
#include "varnow/report/Growth.h"
#include "varnow/report/GrowthText.h"

namespace varnow {
namespace {

constexpr std::int64_t K = 1024;
constexpr std::int64_t MB = 1024 * K;
constexpr std::int32_t kDay = 86400;
constexpr std::int32_t kOlder = 1764547200;  // 2025-12-01 00:00 UTC
constexpr std::int32_t kNewer = kOlder + 7 * kDay;

struct Child {
  const char* name;
  std::int64_t before;
  std::int64_t now;
};

// A saved record with two scans: the newer first. total = own files + children.
CDirData Record(const std::string& path, std::int64_t ownBefore, std::int64_t ownNow, std::initializer_list<Child> children) {
  CDirData record;
  record.m_currentScanDir = path;
  record.m_times = {kNewer, kOlder, 0, 0, 0, 0};
  std::int64_t before = ownBefore;
  std::int64_t now = ownNow;
  for (const Child& child : children) {
    record.m_entries.push_back({child.name, {child.now, child.before, -1, -1, -1, -1}});
    before += child.before == kNoSize ? 0 : child.before;
    now += child.now == kNoSize ? 0 : child.now;
  }
  record.m_entries.push_back({std::string(kTotalUsed), {now, before, -1, -1, -1, -1}});
  record.m_entries.push_back({std::string(kTotalFree), {50 * MB, 60 * MB, -1, -1, -1, -1}});
  return record;
}

std::vector<std::string> Paths(const std::vector<CGrowthLine>& lines) {
  std::vector<std::string> paths;
  for (const CGrowthLine& line : lines) paths.push_back(line.path);
  return paths;
}

// /t/ holds a/b/c/ (grew 5 MB in its own files), x/ (grew 1 MB) and 4 K of new files of its own.
std::vector<CDirData> GrownTree() {
  return {
      Record("/t/", 8 * K, 12 * K, {{"a", 10 * MB, 15 * MB}, {"x", 3 * MB, 4 * MB}, {"KOB*odd", 1, 1}}),
      Record("/t/a/", 0, 0, {{"b", 10 * MB, 15 * MB}}),
      Record("/t/a/b/", 2 * MB, 2 * MB, {{"c", 8 * MB, 13 * MB}}),
      Record("/t/a/b/c/", 8 * MB, 13 * MB, {}),
      Record("/t/x/", 3 * MB, 4 * MB, {}),
  };
}

CGrowthReport Rank(const std::vector<CDirData>& records, int limit = kDefaultGrowthLines) {
  CGrowthRanking ranking("/t/", limit);
  for (const CDirData& record : records) ranking.Add(record);
  return ranking.Finish();
}

TEST(GrowthRanking, FollowsTheGrowthDownToWhereItHappened) {
  const CGrowthReport report = Rank(GrownTree());
  ASSERT_TRUE(report.whyEmpty.empty());
  // The top grew by two children and its own files: nothing explains it alone, so it stays.
  // a/ and a/b/ grew only by their one child: the reader follows them down to a/b/c/.
  EXPECT_EQ(Paths(report.grown), (std::vector<std::string>{"/t/", "/t/a/b/c/", "/t/x/"}));
  const CGrowthLine& deep = report.grown[1];
  EXPECT_EQ(deep.before, 8 * MB);
  EXPECT_EQ(deep.now, 13 * MB);
  EXPECT_EQ(deep.Change(), 5 * MB);
  EXPECT_EQ(deep.ownFiles, 5 * MB);
  EXPECT_EQ(deep.beforeTime, kOlder);
  EXPECT_EQ(deep.nowTime, kNewer);
  EXPECT_EQ(report.grown[2].Change(), 1 * MB);
  EXPECT_EQ(report.grown[0].ownFiles, 4 * K);  // the top's own new files
  EXPECT_TRUE(report.shrunk.empty());
  EXPECT_TRUE(report.added.empty());
}

TEST(GrowthRanking, OrderOfRecordsDoesNotMatterAndTheCountIsKept) {
  std::vector<CDirData> records = GrownTree();
  std::reverse(records.begin(), records.end());
  EXPECT_EQ(Paths(Rank(records, 2).grown), (std::vector<std::string>{"/t/", "/t/a/b/c/"}));
  EXPECT_EQ(Rank(records, 1).grown.size(), 1u);
}

TEST(GrowthRanking, AnAncestorIsKeptWhenItsChildWasNotSavedOnItsOwn) {
  std::vector<CDirData> records = GrownTree();
  records.erase(records.begin() + 3);  // no record of a/b/c/: a/b/ is as deep as it can be told
  EXPECT_EQ(Paths(Rank(records).grown), (std::vector<std::string>{"/t/", "/t/a/b/", "/t/x/"}));
}

TEST(GrowthRanking, ShrunkRemovedAndNewDirectoriesAreListedApart) {
  const CGrowthReport report = Rank({
      Record("/t/", 0, 0, {{"gone", 2 * MB, kNoSize}, {"fresh", kNoSize, 3 * MB}, {"less", 5 * MB, 4 * MB}}),
      Record("/t/less/", 5 * MB, 4 * MB, {}),
  });
  EXPECT_TRUE(report.grown.empty());
  EXPECT_EQ(Paths(report.shrunk), (std::vector<std::string>{"/t/gone/", "/t/less/"}));
  EXPECT_EQ(report.shrunk[0].now, kNoSize);
  ASSERT_EQ(Paths(report.added), (std::vector<std::string>{"/t/fresh/"}));
  EXPECT_EQ(report.added[0].before, kNoSize);
  EXPECT_EQ(report.added[0].Change(), 3 * MB);
  // The top changed by 0 in all: not listed.
}

TEST(GrowthRanking, SaysWhyNothingIsListed) {
  CDirData once = Record("/t/", 1, 2, {{"a", 1, 2}});
  once.m_times = {kNewer, 0, 0, 0, 0, 0};
  const CGrowthReport oneScan = Rank({once});
  EXPECT_TRUE(oneScan.grown.empty() && oneScan.shrunk.empty() && oneScan.added.empty());
  EXPECT_NE(oneScan.whyEmpty.find("Only one scan of /t/ is saved"), std::string::npos);
  EXPECT_NE(Rank({}).whyEmpty.find("No scan of /t/ is saved"), std::string::npos);
}

TEST(GrowthRanking, TwoScansWithinOneSecondAreStillTwoScans) {
  CDirData record = Record("/t/", 5 * MB, 7 * MB, {});
  record.m_times = {kNewer, kNewer, kOlder, 0, 0, 0};
  const CGrowthReport report = Rank({record});
  ASSERT_EQ(report.grown.size(), 1u);
  EXPECT_EQ(report.grown[0].Change(), 2 * MB);
  EXPECT_EQ(report.grown[0].beforeTime, kNewer);
  // Unchanged between its two newest scans: nothing to list, and nothing to explain either.
  EXPECT_TRUE(Rank({Record("/t/", 5 * MB, 5 * MB, {})}).grown.empty());
  EXPECT_TRUE(Rank({Record("/t/", 5 * MB, 5 * MB, {})}).whyEmpty.empty());
}

TEST(GrowthText, CommaDelimitedHasOneTableWithTheKindFirst) {
  const CGrowthReport report = Rank({
      Record("/t/", 0, 0, {{"a,b", 1 * MB, 3 * MB}, {"new", kNoSize, 1 * MB}}),
  });
  CReportOptions options;
  options.units = SizeUnit::kK;
  options.commaDelimited = true;
  const std::string text = GrowthReportText(report, options, "ignored");
  EXPECT_EQ(text,
            "Kind,Directory,Change,Change %,Own files,Before,Now,Older scan,Newer scan\r\n"
            "Grew,.,3072,300.0,0,1024,4096,Dec 1  12:00 AM,Dec 8  12:00 AM\r\n"
            "New,new/,1024,,,,1024,Dec 1  12:00 AM,Dec 8  12:00 AM\r\n");
}

TEST(GrowthText, PlainTextPadsItsColumnsAndEndsWithTheProjection) {
  CReportOptions options;
  options.units = SizeUnit::kK;
  options.homePage = "home";
  const std::string text = GrowthReportText(Rank(GrownTree()), options, "Free space is not shrinking");
  EXPECT_NE(text.find("Grew\r\n  Change  Change %  Own files    Before       Now  Older scan       Newer scan       "
                      "Directory\r\n====="),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("\r\n+5,120 K    +62.5%   +5,120 K   8,192 K  13,312 K  Dec 1, 12:00 AM  Dec 8, 12:00 AM  a/b/c/\r\n"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("Shrunk or removed\r\nNo directory shrank.\r\n"), std::string::npos);
  EXPECT_NE(text.find("\r\nFree space is not shrinking\r\n\r\nReport written by"), std::string::npos);
  EXPECT_EQ(SignedSizeText(-1536 * K, true, SizeUnit::kMB), "-1 MB");
  EXPECT_EQ(SignedSizeText(INT64_MIN, false, SizeUnit::kBytes), "-9223372036854775807");
  EXPECT_EQ(GrowthPathText("/t/line\nbreak/", "/t/"), "line?break/");
}

// Free space at three or more scans, newest first.
CDirData FreeHistory(std::initializer_list<std::pair<std::int32_t, std::int64_t>> scans) {
  CDirData record;
  record.m_currentScanDir = "/d/";
  SizeHistory free = kEmptyHistory;
  int i = 0;
  for (const auto& [time, bytes] : scans) {
    record.m_times[i] = time;
    free[i++] = bytes;
  }
  record.m_entries.push_back({std::string(kTotalFree), free});
  return record;
}

TEST(FullProjection, ALinearFallGivesTheExactDay) {
  constexpr std::int64_t GB = 1024 * MB;
  const CFullProjection projection =
      ProjectDiskFull(FreeHistory({{kOlder + 2 * kDay, 100 * GB}, {kOlder + kDay, 200 * GB}, {kOlder, 300 * GB}}));
  ASSERT_EQ(projection.outlook, CFullProjection::Fills);
  EXPECT_EQ(projection.fullAt, kOlder + 3 * kDay);
  EXPECT_EQ(projection.freeNow, 100 * GB);
  EXPECT_EQ(ProjectionText(projection, "/d/"), "At the current rate the disk holding /d/ fills around December 4, 2025");
  // Unevenly spaced scans on the same line: still the same day.
  EXPECT_EQ(ProjectDiskFull(FreeHistory({{kOlder + 2 * kDay, 100 * GB}, {kOlder + kDay / 2, 250 * GB}, {kOlder, 300 * GB}}))
                .fullAt,
            kOlder + 3 * kDay);
}

TEST(FullProjection, TwoScansAtTheSameTimeBothCount) {
  const CFullProjection projection =
      ProjectDiskFull(FreeHistory({{kOlder + kDay, 100}, {kOlder + kDay, 100}, {kOlder, 300}}));
  ASSERT_EQ(projection.outlook, CFullProjection::Fills);
  EXPECT_EQ(projection.scans, 3);
  EXPECT_EQ(projection.fullAt, kOlder + kDay + kDay / 2);
}

TEST(FullProjection, RisingOrFlatFreeSpaceIsNotShrinking) {
  for (const CDirData& record : {FreeHistory({{kOlder + 2 * kDay, 300}, {kOlder + kDay, 200}, {kOlder, 100}}),
                                 FreeHistory({{kOlder + 2 * kDay, 100}, {kOlder + kDay, 100}, {kOlder, 100}})}) {
    const CFullProjection projection = ProjectDiskFull(record);
    EXPECT_EQ(projection.outlook, CFullProjection::NotShrinking);
    EXPECT_EQ(ProjectionText(projection, "/d/"), "Free space is not shrinking");
  }
}

TEST(FullProjection, TooLittleHistoryTellsNoDate) {
  // Three scans at one moment tell no trend.
  const CDirData sameTime = FreeHistory({{kOlder, 100}, {kOlder, 200}, {kOlder, 300}});
  const CDirData twoScans = FreeHistory({{kOlder + kDay, 100}, {kOlder, 300}});
  const CDirData unknownFree = FreeHistory({{kOlder + 2 * kDay, 100}, {kOlder + kDay, -1}, {kOlder, 300}});
  const CDirData nothingSaved;
  // Three scans within a minute: what other programs wrote meanwhile is no trend.
  const CDirData minutes = FreeHistory({{kOlder + 60, 100}, {kOlder + 30, 200}, {kOlder, 300}});
  for (const CDirData* record : {&sameTime, &twoScans, &unknownFree, &nothingSaved, &minutes}) {
    const CFullProjection projection = ProjectDiskFull(*record);
    EXPECT_EQ(projection.outlook, CFullProjection::NotEnoughHistory);
    EXPECT_EQ(ProjectionText(projection, "/d/"), "Not enough history yet");
  }
}

TEST(FullProjection, ADateIsNeverBeforeTheNewestScanNorPastACentury) {
  // The line crosses zero before the newest scan, which still had a little free space.
  const CFullProjection soon = ProjectDiskFull(FreeHistory({{kOlder + 2 * kDay, 10}, {kOlder + kDay, 10}, {kOlder, 3000}}));
  ASSERT_EQ(soon.outlook, CFullProjection::Fills);
  EXPECT_EQ(soon.fullAt, kOlder + 2 * kDay);
  const CFullProjection far =
      ProjectDiskFull(FreeHistory({{kOlder + 2 * kDay, 1000 * MB}, {kOlder + kDay, 1000 * MB + 1}, {kOlder, 1000 * MB + 2}}));
  ASSERT_EQ(far.outlook, CFullProjection::Fills);
  EXPECT_EQ(ProjectionText(far, "/d/"), "At the current rate the disk holding /d/ fills in more than a hundred years");
}

}  // namespace
}  // namespace varnow
