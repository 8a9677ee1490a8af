#include "varnow/scan/Scaninfo.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <map>
#include <string_view>
#include <thread>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/mounts.h"
#include "platform/registry.h"
#include "platform/tracelog.h"
#include "varnow/scan/TreeLister.h"
#include "varnow/scan/scandir.h"
#include "varnow/testsupport/ScanTestSupport.h"

namespace varnow {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using test::FakeOwner;
using test::MemoryStore;
using test::TempDir;

constexpr std::int64_t N = kNoSize;
using Sizes = std::array<std::int64_t, 6>;

std::vector<std::string> Names(const CDirData& record) {
  std::vector<std::string> names;
  for (const CDirInfo& entry : record.m_entries) names.push_back(entry.name);
  return names;
}

class ScanTest : public ::testing::Test {
 protected:
  void SetUp() override {
    owner.preferredCluster = ClusterModeFromStored(9);  // leaves the cluster size as the test sets it
    state = std::make_shared<MemoryStore::State>();
  }

  // The trees these tests make are sparse files, and the tests are about rounding lengths to
  // the cluster size they set: their sessions count apparent lengths (the space-on-disk rule has
  // tests of its own below).
  std::unique_ptr<CScanInfo> Session(CScanOptions options = {}) {
    auto session = std::make_unique<CScanInfo>(&owner, &owner, std::make_unique<MemoryStore>(state), options);
    session->SetCountsOnDisk(false);
    return session;
  }
  // What the window and the command line do: scan a copy, keep it when not cancelled.
  std::int64_t Scan(CScanInfo& session, const std::string& dir, bool silent = true) {
    session.SetScanDir(dir);
    CDirData copy = session.dd;
    std::int64_t total = session.DoScan(1, copy, silent);
    if (total != -1) session.dd = copy;
    return total;
  }
  // A scan saved with every subdirectory, written out at once.
  void SavedScan(CScanInfo& session, const std::string& dir) {
    owner.autoSave = owner.subDirSave = 1;
    ASSERT_NE(Scan(session, dir), -1);
    session.SaveOutData();
    owner.autoSave = owner.subDirSave = 0;
  }
  CDirData Stored(const std::string& path) {
    std::lock_guard lock(state->mutex);
    return state->records.at(path);
  }
  std::size_t StoredCount() {
    std::lock_guard lock(state->mutex);
    return state->records.size();
  }

  TempDir dir;
  FakeOwner owner;
  std::shared_ptr<MemoryStore::State> state;
};

TEST_F(ScanTest, FirstScanBuildsRecordInListingOrderWithSummaryRowsLast) {
  dir.MakeDir("A");
  dir.MakeDir("B");
  dir.MakeFile("A/one", 1);
  dir.MakeFile("A/two", 5000);
  dir.MakeFile("B/three", 4096);
  dir.MakeFile("top", 10);
  auto session = Session();
  std::int64_t before = std::time(nullptr);
  std::int64_t total = Scan(*session, dir.Path());
  const CDirData& dd = session->dd;

  std::vector<std::string> expected = test::ListedSubdirectories(dir.Path());
  expected.push_back(std::string(kTotalFree));
  expected.push_back(std::string(kTotalUsed));
  EXPECT_EQ(Names(dd), expected);
  EXPECT_EQ(dd.FindEntry("A")->sizes, (Sizes{4096 + 8192, N, N, N, N, N}));
  EXPECT_EQ(dd.FindEntry("B")->sizes, (Sizes{4096, N, N, N, N, N}));
  EXPECT_EQ(total, 4096 * 5);
  EXPECT_EQ(dd.m_total, total);
  EXPECT_EQ(dd.FindEntry(kTotalUsed)->sizes, (Sizes{total, N, N, N, N, N}));
  EXPECT_GT(dd.FindEntry(kTotalFree)->sizes[0], 0);
  EXPECT_GE(dd.m_times[0], before);
  EXPECT_THAT(std::vector<std::int32_t>(dd.m_times.begin() + 1, dd.m_times.end()), ElementsAre(0, 0, 0, 0, 0));
  EXPECT_EQ(dd.m_markerA, 1);
  EXPECT_EQ(dd.m_markerB, 1);
  EXPECT_EQ(session->DirectoriesScanned(), 2);
  EXPECT_EQ(session->FilesScanned(), 4);
  EXPECT_EQ(dd.m_currentScanDir, dir.Path());
}

TEST_F(ScanTest, SavedScansAgeTheHistoryAndUnsavedOnesDoNot) {
  dir.MakeDir("A/inner");
  dir.MakeFile("A/inner/f", 4096);
  auto session = Session();
  SavedScan(*session, dir.Path());
  CDirData first = Stored(dir.Path());
  EXPECT_EQ(Stored(dir.Path() + "A/").FindEntry("inner")->sizes[0], 4096);  // subdirectory records too

  dir.MakeFile("A/more", 4096);
  Scan(*session, dir.Path());  // not saved: starts from the same saved record
  Scan(*session, dir.Path());
  EXPECT_EQ(session->dd.FindEntry("A")->sizes, (Sizes{8192, 4096, N, N, N, N}));
  EXPECT_EQ(session->dd.m_times[1], first.m_times[0]);

  SavedScan(*session, dir.Path());
  SavedScan(*session, dir.Path());
  EXPECT_EQ(session->dd.FindEntry("A")->sizes, (Sizes{8192, 8192, 4096, N, N, N}));
  EXPECT_EQ(session->dd.FindEntry(kTotalUsed)->sizes, (Sizes{8192, 8192, 4096, N, N, N}));
  EXPECT_EQ(session->dd.m_times[2], first.m_times[0]);
}

TEST_F(ScanTest, ParallelReadingGivesTheSameRecordsAsAWalkOnOneThread) {
  std::int64_t expectedTotal = 4096;  // KOB*x/ü/y
  for (int i = 0; i < 40; ++i) {
    std::string sub = "d" + std::to_string(i % 7) + "/e " + std::to_string(i % 5) + "/f" + std::to_string(i);
    dir.MakeDir(sub);
    dir.MakeFile(sub + "/x", 1000 * i);
    if (i % 3 == 0) {
      ASSERT_EQ(::link((dir.Path() + sub + "/x").c_str(), (dir.Path() + "d0/l" + std::to_string(i)).c_str()), 0);
    }
    expectedTotal += (1000 * i + 4095) / 4096 * 4096;
  }
  dir.MakeDir("KOB*x/ü");
  dir.MakeFile("KOB*x/ü/y", 5);
  owner.autoSave = owner.subDirSave = 1;
  std::map<std::string, CDirData> results[3];
  const int threads[3] = {1, 4, 2};
  for (int run = 0; run < 3; ++run) {
    state = std::make_shared<MemoryStore::State>();
    CScanOptions options;
    options.scanThreads = threads[run];
    auto session = Session(options);
    owner.interactive = run == 2;  // a progress display runs the walk on a thread of its own
    session->SetScanDir(dir.Path());
    CDirData copy = session->dd;
    EXPECT_EQ(session->DoScan(1, copy, run != 2), expectedTotal);
    session->SaveOutData();
    for (auto& [path, record] : state->records) {
      CDirData comparable = record;
      comparable.m_times = {};
      comparable.FindEntry(kTotalFree)->sizes[0] = 0;  // other processes write to the volume
      results[run][path] = comparable;
    }
  }
  EXPECT_EQ(results[0].size(), 1u + 7 + 35 + 40 + 2);
  EXPECT_EQ(results[0], results[1]);
  EXPECT_EQ(results[0], results[2]);
}

TEST_F(ScanTest, EntryAbsentFromFiveSavedScansIsDropped) {
  dir.MakeDir("gone");
  dir.MakeDir("stays");
  auto session = Session();
  SavedScan(*session, dir.Path());
  ASSERT_EQ(::rmdir((dir.Path() + "gone").c_str()), 0);
  for (int scan = 1; scan <= 4; ++scan) SavedScan(*session, dir.Path());
  ASSERT_NE(session->dd.FindEntry("gone"), nullptr);
  EXPECT_EQ(session->dd.FindEntry("gone")->sizes, (Sizes{N, N, N, N, 0, N}));
  SavedScan(*session, dir.Path());
  EXPECT_EQ(session->dd.FindEntry("gone"), nullptr);
  EXPECT_THAT(Names(session->dd), ElementsAre("stays", kTotalFree, kTotalUsed));
}

TEST_F(ScanTest, RenameInLetterCaseKeepsHistoryButTwoLiveNamesStaySeparate) {
  dir.MakeDir("Docs");
  dir.MakeFile("Docs/f", 4096);
  auto session = Session();
  SavedScan(*session, dir.Path());
  ASSERT_EQ(::rename((dir.Path() + "Docs").c_str(), (dir.Path() + "DOCS").c_str()), 0);
  Scan(*session, dir.Path());
  EXPECT_THAT(Names(session->dd), ElementsAre("Docs", kTotalFree, kTotalUsed));
  EXPECT_EQ(session->dd.FindEntry("Docs")->sizes, (Sizes{4096, 4096, N, N, N, N}));

  // Both spellings live: the exact one keeps the history, the other is new.
  CDirData record;
  record.m_entries.push_back(CDirInfo{"docs", {N, 100, N, N, N, N}});
  MergeScannedSubdirectories(record, CNameList({"DOCS", "docs"}), {1, 2});
  EXPECT_THAT(Names(record), ElementsAre("docs", "DOCS"));
  EXPECT_EQ(record.m_entries[0].sizes, (Sizes{2, 100, N, N, N, N}));
  EXPECT_EQ(record.m_entries[1].sizes, (Sizes{1, N, N, N, N, N}));
  // Unicode letters fold too; bytes that are no UTF-8 only match themselves.
  EXPECT_TRUE(SameNameIgnoringCase("Äpfel", "äPFEL"));
  EXPECT_FALSE(SameNameIgnoringCase("\xff", "\xfe"));
  EXPECT_TRUE(SameNameIgnoringCase("A\xff", "a\xff"));
}

TEST_F(ScanTest, CaseBlindMatchTakesTheFirstUnclaimedEntryAndNeverASummaryRow) {
  CDirData record;
  for (const char* name : {"\xc3\x84pfel", "docs", "DOCS", "A\xff", "KOB*[Total Used]", "same"})
    record.m_entries.push_back(CDirInfo{name, {N, 7, N, N, N, N}});
  MergeScannedSubdirectories(record, CNameList({"\xc3\xa4PFEL", "Docs", "dOCS", "a\xff", "kob*[total used]", "SAME", "same"}),
                             {1, 2, 3, 4, 5, 6, 8});
  EXPECT_THAT(Names(record), ElementsAre("\xc3\x84pfel", "docs", "DOCS", "A\xff", "KOB*[Total Used]", "same",
                                         "kob*[total used]", "SAME"));
  std::vector<std::int64_t> sizes;
  for (const CDirInfo& entry : record.m_entries) sizes.push_back(entry.sizes[0]);
  EXPECT_THAT(sizes, ElementsAre(1, 2, 3, 4, N, 8, 5, 6));  // "same" keeps its exact name's entry
}

TEST_F(ScanTest, ExactMatchTakesTheFirstOfEqualNamesAndAReservedNameNothing) {
  CDirData record;
  for (const char* name : {"b", "a", "b", "KOB*[Total Free]"}) record.m_entries.push_back(CDirInfo{name, kEmptyHistory});
  MergeScannedSubdirectories(record, CNameList({"b", "KOB*[Total Free]", "b", "c"}), {1, 2, 3, 4});
  std::vector<std::int64_t> sizes;
  for (const CDirInfo& entry : record.m_entries) sizes.push_back(entry.sizes[0]);
  EXPECT_THAT(Names(record), ElementsAre("b", "a", "b", "KOB*[Total Free]", "c"));
  EXPECT_THAT(sizes, ElementsAre(1, N, 3, N, 4));

  CDirData empty;
  MergeScannedSubdirectories(empty, CNameList(), {});
  EXPECT_TRUE(empty.m_entries.empty());
}

TEST(NameList, KeepsEveryNameAsListedInOrder) {
  EXPECT_EQ(CNameList().size(), 0u);
  EXPECT_EQ(CNameList(std::vector<std::string>{}).size(), 0u);
  const std::string longest(kMaxEntryName, '\xff');
  const CNameList names({"a", "", "A", longest, std::string("nul\0byte", 8), "a"});
  ASSERT_EQ(names.size(), 6u);
  EXPECT_EQ(names[0], "a");
  EXPECT_EQ(names[1], "");
  EXPECT_EQ(names[2], "A");  // names that fold alike stay apart
  EXPECT_EQ(names[3], longest);
  EXPECT_EQ(names[4], std::string_view("nul\0byte", 8));
  EXPECT_EQ(names[5], "a");
  const CNameList one({"only"});
  ASSERT_EQ(one.size(), 1u);
  EXPECT_EQ(one[0], "only");
}

TEST_F(ScanTest, EmptyDirectoryHasOnlyTheSummaryRows) {
  auto session = Session();
  EXPECT_EQ(Scan(*session, dir.Path()), 0);
  EXPECT_THAT(Names(session->dd), ElementsAre(kTotalFree, kTotalUsed));
  EXPECT_EQ(session->dd.FindEntry(kTotalUsed)->sizes[0], 0);
}

TEST_F(ScanTest, HardLinksCountOnceSymlinksAreNotFollowedReservedNamesGetNoEntry) {
  dir.MakeDir("a");
  dir.MakeDir("b");
  dir.MakeDir("KOB*[Total Used]");
  dir.MakeFile("a/big", 40960);
  ASSERT_EQ(::link((dir.Path() + "a/big").c_str(), (dir.Path() + "b/again").c_str()), 0);
  ASSERT_EQ(::symlink(dir.Path().c_str(), (dir.Path() + "b/loop").c_str()), 0);
  dir.MakeFile("KOB*[Total Used]/f", 4096);
  auto session = Session();
  std::int64_t total = Scan(*session, dir.Path());
  EXPECT_EQ(total, 40960 + 4096 + 4096);  // the link to the tree itself is a small file
  EXPECT_EQ(session->dd.FindEntry("a")->sizes[0] + session->dd.FindEntry("b")->sizes[0], 40960 + 4096);
  EXPECT_EQ(session->dd.FindEntry(kTotalUsed)->sizes[0], total);
  std::vector<std::string> names = Names(session->dd);
  EXPECT_EQ(std::count(names.begin(), names.end(), std::string(kTotalUsed)), 1);
  // A new top-level scan counts the linked file again (once).
  EXPECT_EQ(Scan(*session, dir.Path()), total);
}

TEST_F(ScanTest, ListedDirectoriesHoldExtrasOnlyWhereTheyHaveSomeAndWideOnesNoSlack) {
  dir.MakeDir("plain");
  dir.MakeFile("plain/f", 10);
  dir.MakeDir("linked");
  dir.MakeFile("linked/f", 10);
  ASSERT_EQ(::link((dir.Path() + "linked/f").c_str(), (dir.Path() + "linked/g").c_str()), 0);
  for (int i = 0; i < 600; ++i) dir.MakeDir("wide/d" + std::to_string(i));
  CListOptions options;
  options.threads = 2;
  CListedDirectory tree = ListTree(dir.Path(), options);
  ASSERT_EQ(tree.subdirectories.size(), 3u);
  EXPECT_EQ(tree.extras, nullptr);  // nothing but subdirectories
  for (std::size_t i = 0; i < 3; ++i) {
    const CListedDirectory& child = tree.children[i];
    if (tree.subdirectories[i] == "plain") EXPECT_EQ(child.extras, nullptr);
    if (tree.subdirectories[i] == "linked") {
      ASSERT_NE(child.extras, nullptr);
      EXPECT_EQ(child.extras->linkedFiles.size(), 2u);
      EXPECT_EQ(child.extras->inode, 0u);  // the identity is kept only with the files
    }
    if (tree.subdirectories[i] == "wide") {
      EXPECT_EQ(child.subdirectories.size(), 600u);
      EXPECT_EQ(child.subdirectories.capacity(), 600u);
    }
  }
  options.keepFiles = true;
  tree = ListTree(dir.Path(), options);
  ASSERT_NE(tree.extras, nullptr);
  EXPECT_NE(tree.extras->inode, 0u);
  EXPECT_TRUE(tree.extras->files.empty());
}

// Skipped subdirectories first, in the middle, last and all of a folder's: the others are all
// listed, the skipped ones never opened, with one reader and with several.
TEST_F(ScanTest, SkippedSubdirectoriesAnywhereAmongTheirSiblingsLeaveTheOthersListed) {
  for (const char* name : {"a", "b", "c", "d", "e", "b/x", "b/y", "d/x"}) {
    dir.MakeDir(name);
    dir.MakeFile(std::string(name) + "/f", 10);
  }
  auto skipped = [](const std::string& path) {
    for (std::string_view end : {"/a/", "/c/", "/e/", "/b/x/", "/b/y/"})
      if (std::string_view(path).ends_with(end)) return true;
    return false;
  };
  for (int threads : {1, 3}) {
    SCOPED_TRACE(threads);
    CListOptions options;
    options.threads = threads;
    options.skip = skipped;
    const CListedDirectory tree = ListTree(dir.Path(), options);
    ASSERT_EQ(tree.subdirectories.size(), 5u);
    for (std::size_t i = 0; i < 5; ++i) {
      const std::string& name = tree.subdirectories[i];
      const CListedDirectory& child = tree.children[i];
      SCOPED_TRACE(name);
      const bool skip = name == "a" || name == "c" || name == "e";
      EXPECT_EQ(child.skipped, skip);
      EXPECT_EQ(child.opened, !skip);
      EXPECT_EQ(child.fileCount, skip ? 0 : 1);
      if (name == "b") {
        ASSERT_EQ(child.children.size(), 2u);
        for (const CListedDirectory& below : child.children) EXPECT_TRUE(below.skipped && !below.opened);
      }
      if (name == "d") {
        ASSERT_EQ(child.children.size(), 1u);
        EXPECT_TRUE(child.children[0].opened && !child.children[0].skipped);
        EXPECT_EQ(child.children[0].fileCount, 1);
      }
    }
  }
}

TEST_F(ScanTest, ABackgroundListingHandsOutEachDirectoryOnceListedAndACancelEndsEveryWait) {
  for (int i = 0; i < 30; ++i) {
    const std::string sub = "d" + std::to_string(i % 3) + "/e" + std::to_string(i);
    dir.MakeDir(sub);
    dir.MakeFile(sub + "/f", 10);
  }
  CListOptions options;
  options.threads = 2;
  CTreeListing listing(dir.Path(), options);
  // Taken in as the merge takes them: each directory waited for once its parent is listed.
  std::function<int(const CListedDirectory&)> files = [&](const CListedDirectory& node) {
    EXPECT_TRUE(listing.Wait(node));
    int count = node.fileCount;
    for (const CListedDirectory& child : node.children) count += files(child);
    return count;
  };
  EXPECT_EQ(files(listing.Root()), 30);
  listing.Join();

  // Cancelled while the top is listed: a wait for a directory no reader was given ends too.
  CScanCounters counters;
  options.counters = &counters;
  options.threads = 1;
  options.skip = [&](const std::string&) {
    counters.cancel = true;
    return false;
  };
  CTreeListing cancelled(dir.Path(), options);
  EXPECT_FALSE(cancelled.Wait(cancelled.Root()));
  EXPECT_EQ(cancelled.Root().children.size(), 3u);
  for (const CListedDirectory& child : cancelled.Root().children) EXPECT_FALSE(cancelled.Wait(child));
}

TEST_F(ScanTest, PseudoFileSystemsBelowTheScanDirectoryAreNotEntered) {
  platform::MountTable mounts = platform::MountTable::Load();
  const platform::MountInfo* pts = mounts.MountOf("/dev/pts");
  const platform::MountInfo* dev = mounts.MountOf("/dev");
  if (!pts || !dev || pts == dev || pts->mountPoint != "/dev/pts" || !pts->isPseudo)
    GTEST_SKIP() << "no pseudo file system mounted at /dev/pts";
  auto session = Session();
  owner.subDirSave = 1;
  ASSERT_NE(Scan(*session, "/dev/"), -1);
  ASSERT_NE(session->dd.FindEntry("pts"), nullptr);
  EXPECT_EQ(session->dd.FindEntry("pts")->sizes[0], 0);
  session->SaveOutData();
  std::lock_guard lock(state->mutex);
  EXPECT_EQ(state->records.count("/dev/pts/"), 0u);
}

TEST_F(ScanTest, NamesWithBlanksUtf8AndRawBytesKeepTheirBytes) {
  std::vector<std::string> names = {"with blank", "Grüße ñ 日本", "raw\xff\xfe", "line\nbreak"};
  for (const std::string& name : names) {
    dir.MakeDir(name);
    dir.MakeFile(name + "/f", 1);
  }
  auto session = Session();
  SavedScan(*session, dir.Path());
  for (const std::string& name : names) {
    ASSERT_NE(session->dd.FindEntry(name), nullptr) << name;
    EXPECT_EQ(session->dd.FindEntry(name)->sizes[0], 4096);
    EXPECT_EQ(Stored(dir.Path() + name + "/").m_currentScanDir, dir.Path() + name + "/");
  }
}

TEST_F(ScanTest, PathsLongerThanThePathLimitAreScanned) {
  std::string name(200, 'x');
  std::string relative;
  int fd = ::open(dir.Path().c_str(), O_RDONLY | O_DIRECTORY);
  for (int level = 0; level < 25; ++level) {  // about 5,000 bytes below the temporary folder
    ASSERT_EQ(::mkdirat(fd, name.c_str(), 0755), 0);
    int next = ::openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY);
    ::close(fd);
    fd = next;
    relative += name + "/";
  }
  int file = ::openat(fd, "f", O_CREAT | O_WRONLY, 0644);
  ASSERT_EQ(::ftruncate(file, 5), 0);
  ::close(file);
  ::close(fd);
  auto session = Session();
  owner.subDirSave = 1;
  EXPECT_EQ(Scan(*session, dir.Path()), 4096);
  session->SaveOutData();
  EXPECT_EQ(Stored(dir.Path() + relative).FindEntry(kTotalUsed)->sizes[0], 4096);
  EXPECT_GT(relative.size(), 4096u);
}

TEST_F(ScanTest, OneDirectoryKeepsOneHistoryHoweverItIsNamed) {
  dir.MakeDir("a/sub");
  dir.MakeFile("a/sub/f", 4096);
  ASSERT_EQ(::symlink((dir.Path() + "a").c_str(), (dir.Path() + "link").c_str()), 0);
  const std::string key = dir.Path() + "a/";
  auto session = Session();
  SavedScan(*session, dir.Path() + "a");
  EXPECT_EQ(session->GetScanDir(), key);
  char* cwd = ::getcwd(nullptr, 0);
  ASSERT_EQ(::chdir(key.c_str()), 0);
  for (const std::string& name : {std::string("."), key + "../a", dir.Path() + "link", dir.Path() + "/link/.", std::string("../link/")}) {
    SavedScan(*session, name);
    EXPECT_EQ(session->GetScanDir(), key) << name;
  }
  EXPECT_EQ(::chdir(cwd), 0);
  std::free(cwd);
  EXPECT_EQ(StoredCount(), 2u);  // a/ and a/sub/, nothing under other names
  const CDirData saved = Stored(key);
  EXPECT_EQ(std::count(saved.m_times.begin(), saved.m_times.end(), 0), 0);  // six scans, one history
  EXPECT_EQ(saved.FindEntry("sub")->sizes, (Sizes{4096, 4096, 4096, 4096, 4096, 4096}));
  // A name that does not exist (yet) is made plain by text.
  session->SetScanDir(dir.Path() + "missing/../b/./c");
  EXPECT_EQ(session->GetScanDir(), dir.Path() + "b/c/");
}

TEST_F(ScanTest, VeryDeepTreesAreScannedWithAndWithoutProgress) {
  // 1,000 levels, about 9,000 bytes of path: far deeper than the descriptors held and longer
  // than the path limit. A file on every 100th level.
  int fd = ::open(dir.Path().c_str(), O_RDONLY | O_DIRECTORY);
  for (int level = 1; level <= 1000; ++level) {
    ASSERT_EQ(::mkdirat(fd, "dddddddd", 0755), 0);
    const int next = ::openat(fd, "dddddddd", O_RDONLY | O_DIRECTORY);
    ::close(fd);
    fd = next;
    if (level % 100 != 0) continue;
    const int file = ::openat(fd, "f", O_CREAT | O_WRONLY, 0644);
    ASSERT_EQ(::ftruncate(file, 1), 0);
    ::close(file);
  }
  ::close(fd);
  for (int threads : {1, 2}) {
    for (bool interactive : {false, true}) {
      owner.interactive = interactive;
      CScanOptions options;
      options.scanThreads = threads;
      auto session = Session(options);
      EXPECT_EQ(Scan(*session, dir.Path(), !interactive), 10 * 4096) << interactive << " " << threads;
      EXPECT_EQ(session->DirectoriesScanned(), 1000);
    }
  }
}

TEST_F(ScanTest, VanishedSubdirectoryCountsZeroAndKeepsItsRecord) {
  dir.MakeDir("keep");
  dir.MakeDir("victim/sub");
  dir.MakeFile("victim/sub/f", 4096);
  dir.MakeFile("keep/f", 4096);
  SavedScan(*Session(), dir.Path());
  CDirData saved = Stored(dir.Path() + "victim/");

  // The directory disappears after the listing named it, before it is opened.
  CScanOptions options;
  options.onListing = [&](const std::string& path) {
    if (path == dir.Path() + "victim/") std::system(("rm -rf '" + dir.Path() + "victim'").c_str());
  };
  auto session = Session(options);
  owner.interactive = true;
  owner.subDirSave = 1;
  session->SetScanDir(dir.Path());
  CDirData copy = session->dd;
  EXPECT_EQ(session->DoScan(1, copy, false), 4096);
  EXPECT_EQ(copy.FindEntry("victim")->sizes, (Sizes{0, 4096, N, N, N, N}));
  session->SaveOutData();
  CDirData unreadable = Stored(dir.Path() + "victim/");
  EXPECT_EQ(unreadable.m_times, saved.m_times);  // no new scan time, no new summary values
  EXPECT_EQ(unreadable.FindEntry("sub")->sizes, (Sizes{N, 4096, N, N, N, N}));
  EXPECT_EQ(unreadable.FindEntry(kTotalUsed)->sizes, (Sizes{N, 4096, N, N, N, N}));
  EXPECT_EQ(owner.progressAlive, 0);
}

// Cancel while the top of the tree is read: the readers open nothing after they see the flag,
// and nothing is loaded, saved or changed.
TEST_F(ScanTest, CancelWhileReadingStopsBetweenDirectoriesAndChangesNothing) {
  for (int i = 0; i < 40; ++i) {
    const std::string sub = "d" + std::to_string(i % 4) + "/e" + std::to_string(i);
    dir.MakeDir(sub);
    dir.MakeFile(sub + "/f", 4096);
  }
  SavedScan(*Session(), dir.Path());
  const std::map<std::string, CDirData> saved = state->records;
  const std::size_t written = state->written.size();
  for (int threads : {1, 3}) {
    SCOPED_TRACE(threads);
    std::atomic<int> calls{0}, callsAfterCancel{0};
    CScanOptions options;
    options.scanThreads = threads;
    options.onListing = [&](const std::string&) {
      if (owner.counters->Cancelled()) ++callsAfterCancel;
      if (++calls == 3) owner.counters->cancel = true;
    };
    auto session = Session(options);
    session->SetScanDir(dir.Path());
    const CDirData before = session->dd;
    const int reads = state->reads;
    owner.interactive = true;
    owner.autoSave = owner.subDirSave = 1;
    EXPECT_EQ(Scan(*session, dir.Path(), false), -1);
    EXPECT_NE(owner.walkThread, std::this_thread::get_id());  // the caller only waited
    EXPECT_EQ(owner.progressAlive, 0);
    session->SaveOutData();
    EXPECT_EQ(session->dd, before);
    EXPECT_EQ(state->reads, reads);
    EXPECT_EQ(state->written.size(), written);
    EXPECT_EQ(state->records, saved);
    // One reader stops at once; each of the others may finish the directory it is in.
    if (threads == 1) {
      EXPECT_EQ(callsAfterCancel, 0);
    }
    EXPECT_LE(calls, 2 + threads);
    owner.autoSave = owner.subDirSave = 0;
  }

  // Cancelled before the walk starts (pressed while the display was coming up): the same.
  owner.interactive = true;
  owner.onRun = [](CScanCounters& counters) { counters.cancel = true; };
  auto session = Session();
  session->SetScanDir(dir.Path());
  const int reads = state->reads;
  CDirData copy = session->dd;
  EXPECT_EQ(session->DoScan(1, copy, false), -1);
  EXPECT_EQ(copy, session->dd);
  EXPECT_EQ(state->reads, reads);
}

TEST_F(ScanTest, CancelWhileMergingReturnsMinusOneAndLeavesRecordAsItWas) {
  dir.MakeDir("a/b/c/d");
  dir.MakeDir("z");
  auto session = Session();
  SavedScan(*session, dir.Path());
  CDirData before = session->dd;

  owner.interactive = true;
  owner.subDirSave = 1;  // the records of subdirectories are read too
  state->onRead = [&](const std::string& path) {
    if (path == dir.Path() + "a/b/") owner.counters->cancel = true;
  };
  EXPECT_EQ(Scan(*session, dir.Path(), false), -1);
  EXPECT_EQ(session->dd, before);
  EXPECT_EQ(owner.progressAlive, 0);

  // Cancelled at the top level: the loaded record comes back with its ageing undone.
  state->onRead = [&](const std::string& path) {
    if (path == dir.Path()) owner.counters->cancel = true;
  };
  CDirData copy = session->dd;
  EXPECT_EQ(session->DoScan(1, copy, false), -1);
  EXPECT_EQ(copy.m_entries, before.m_entries);
  state->onRead = nullptr;

  // A silent run has no display, and nothing to cancel it.
  const int runs = owner.runs;
  EXPECT_NE(Scan(*session, dir.Path(), true), -1);
  EXPECT_EQ(owner.runs, runs);
}

TEST_F(ScanTest, MissingDirectoryOrFileAsksFirst) {
  auto session = Session();
  dir.MakeFile("plain", 10);
  for (std::string target : {dir.Path() + "missing", dir.Path() + "plain"}) {
    owner.scanMissing = false;
    owner.autoSave = 1;
    int asked = owner.missingQuestions;
    const std::size_t written = state->written.size();
    session->SetScanDir(target);
    CDirData copy = session->dd;
    EXPECT_EQ(session->DoScan(1, copy, true), -1) << target;
    EXPECT_EQ(owner.missingQuestions, asked + 1);
    EXPECT_EQ(session->QueuedCount(), 0u);
    EXPECT_EQ(state->written.size(), written);

    owner.scanMissing = true;
    EXPECT_EQ(session->DoScan(1, copy, true), 0);
    EXPECT_TRUE(copy.m_entries.empty());  // nothing listed: no summary rows, no time
    EXPECT_EQ(copy.m_times[0], 0);
    EXPECT_EQ(state->written.size(), written + 1);  // the top record is saved at once
    owner.autoSave = 0;
  }
}

TEST_F(ScanTest, UnreadableDataFileIsTriedOncePerScanNotOncePerDirectory) {
  dir.MakeDir("a/b/c");
  dir.MakeDir("d");
  auto session = Session();
  session->SetScanDir(dir.Path());
  state->unreadable = true;
  int reads = state->reads;
  CDirData copy = session->dd;
  EXPECT_EQ(session->DoScan(1, copy, true), 0);
  EXPECT_EQ(state->reads, reads + 1);
  EXPECT_NE(copy.FindEntry("a"), nullptr);
}

TEST_F(ScanTest, TraceLinesNameTheSourceUnit) {
  std::string log = dir.Path() + "trace.log";
  ASSERT_TRUE(platform::TraceLog::Open(log));
  {
    auto session = Session();
    owner.scanMissing = false;
    session->SetScanDir(dir.Path() + "missing");
    CDirData copy = session->dd;
    session->DoScan(1, copy, true);
    session->ClearDirData(copy);
  }
  platform::TraceLog::Close();
  std::ifstream in(log);
  std::string text((std::istreambuf_iterator<char>(in)), {});
  EXPECT_THAT(text, ::testing::HasSubstr("CScanInfo Constructor (Scaninfo, "));
  EXPECT_THAT(text, ::testing::ContainsRegex("DoScan Begin \\(Scaninfo, [0-9]+\\)\r\n"));
  EXPECT_THAT(text, ::testing::HasSubstr("DoScan was aborted because directory doesn't appear to exist\n (Scaninfo, "));
  EXPECT_THAT(text, ::testing::HasSubstr("GetScanRoot Begin (Scaninfo, "));
  EXPECT_THAT(text, ::testing::HasSubstr("ClearDirData End (Scaninfo, "));
  EXPECT_THAT(text, ::testing::HasSubstr("ShutdownWarning (Scaninfo, "));
  EXPECT_THAT(text, ::testing::HasSubstr("CScanInfo Destructor (Scaninfo, "));
}

TEST_F(ScanTest, QueueKeepsOneRecordPerPathAndLoadingTakesItOut) {
  CScanOptions options;
  options.idleFlush = std::chrono::hours(1);
  auto session = Session(options);
  CDirData record;
  record.m_currentScanDir = "/x/";
  record.m_entries.push_back(CDirInfo{"a", {1, N, N, N, N, N}});
  record.m_total = 77;
  session->QueueSave(record);
  record.m_entries[0].sizes[0] = 2;
  session->QueueSave(record);
  CDirData other = record;
  other.m_currentScanDir = "/X/";  // paths compare exactly
  session->QueueSave(other);
  EXPECT_EQ(session->QueuedCount(), 2u);

  CDirData loaded;
  loaded.m_currentScanDir = "/x/";
  session->LoadData(loaded);
  EXPECT_EQ(loaded.m_entries[0].sizes[0], 2);
  EXPECT_EQ(loaded.m_total, 77);
  EXPECT_EQ(session->QueuedCount(), 1u);
  EXPECT_EQ(Stored("/x/").m_entries[0].sizes[0], 2);  // written at once
  EXPECT_EQ(state->batches, 1);

  // A stored record's total: its subdirectories plus the files directly inside.
  dir.MakeFile("own", 20);
  session->SetClusterSize(1);
  CDirData stored;
  stored.m_currentScanDir = dir.Path();
  stored.m_entries = {CDirInfo{"A", {100, N, N, N, N, N}}, CDirInfo{"B", {N, 5, N, N, N, N}},
                      CDirInfo{std::string(kTotalFree), {5000, N, N, N, N, N}},
                      CDirInfo{std::string(kTotalUsed), {100, N, N, N, N, N}}};
  session->SaveOutData(&stored);
  CDirData again;
  again.m_currentScanDir = dir.Path();
  session->LoadData(again);
  EXPECT_EQ(again.m_total, 120);
}

TEST_F(ScanTest, WriterFlushesAfterIdleTimeAboveThresholdAndAtShutdown) {
  auto waitFor = [](auto condition) {
    for (int i = 0; i < 1000 && !condition(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return condition();
  };
  auto queue = [](CScanInfo& session, int count) {
    for (int i = 0; i < count; ++i) {
      CDirData record;
      record.m_currentScanDir = "/r" + std::to_string(i) + "/";
      session.QueueSave(record);
    }
  };
  {  // More than the threshold: written without waiting for the idle time.
    CScanOptions options;
    options.idleFlush = std::chrono::hours(1);
    auto session = Session(options);
    queue(*session, 500);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(session->QueuedCount(), 500u);
    queue(*session, 501);
    // The queue empties when the writer takes the batch, before the batch is written.
    EXPECT_TRUE(waitFor([&] { return session->QueuedCount() == 0 && StoredCount() == 501; }));
    EXPECT_EQ(StoredCount(), 501u);
    EXPECT_EQ(state->batches, 1);  // one open of the file for the lot
  }
  state->records.clear();
  {  // Idle time passes.
    CScanOptions options;
    options.idleFlush = std::chrono::milliseconds(100);
    auto session = Session(options);
    queue(*session, 3);
    EXPECT_TRUE(waitFor([&] { return session->QueuedCount() == 0 && StoredCount() == 3; }));
    EXPECT_EQ(StoredCount(), 3u);
  }
  state->records.clear();
  {  // Shutdown writes the rest; a second warning returns at once.
    CScanOptions options;
    options.idleFlush = std::chrono::hours(1);
    auto session = Session(options);
    queue(*session, 3);
    session->ShutdownWarning();
    EXPECT_EQ(state->records.size(), 3u);
    session->ShutdownWarning();
  }
}

// However far a scan runs ahead of the writer, no more than the bound waits and no batch
// exceeds its cap; every record is written once, in the order it was queued.
TEST_F(ScanTest, BoundedQueueMakesTheProducerWaitWithoutLosingOrReorderingRecords) {
  CScanOptions bounded;
  bounded.idleFlush = std::chrono::hours(1);
  bounded.flushThreshold = 2;
  bounded.maxBatch = 3;
  bounded.maxQueued = 5;
  std::vector<std::string> queued;
  {
    auto session = Session(bounded);
    for (int i = 0; i < 40; ++i) {
      CDirData record;
      record.m_currentScanDir = "/r" + std::to_string(i) + "/";
      queued.push_back(record.m_currentScanDir);
      session->QueueSave(record);
      EXPECT_LE(session->QueuedCount(), 5u);
    }
  }
  EXPECT_EQ(state->written, queued);
  EXPECT_LE(state->largestBatch, 3u);

  // A whole scan: the same records, written in the same order, as without the bound.
  for (int i = 0; i < 30; ++i) dir.MakeDir("d" + std::to_string(i % 4) + "/e" + std::to_string(i));
  owner.autoSave = owner.subDirSave = 1;
  auto scanAll = [&](CScanOptions options) {
    state = std::make_shared<MemoryStore::State>();
    auto session = Session(options);
    EXPECT_NE(Scan(*session, dir.Path()), -1);
    session->ShutdownWarning();
    EXPECT_FALSE(state->holdingReads);
    return state;
  };
  CScanOptions unbounded;
  unbounded.idleFlush = std::chrono::hours(1);
  unbounded.flushThreshold = unbounded.maxBatch = unbounded.maxQueued = 100000;
  const auto all = scanAll(unbounded);
  const auto some = scanAll(bounded);
  EXPECT_EQ(all->batches, 1);
  EXPECT_GT(some->batches, 10);
  EXPECT_LE(some->largestBatch, 3u);
  EXPECT_EQ(some->written, all->written);
  ASSERT_EQ(some->records.size(), 35u);
  for (const auto& [path, record] : all->records) {
    CDirData other = some->records.at(path);
    other.FindOrAddEntry(kTotalFree).sizes[0] = record.FindEntry(kTotalFree)->sizes[0];  // other runs write meanwhile
    EXPECT_EQ(other.m_entries, record.m_entries) << path;
  }
}

// A scan's top record is written with what is queued, as if queued last, but not copied: it
// supersedes an older queued one of its directory and is handed back whole, also after a
// failure. Written, it is not queued again until it is scanned again.
TEST_F(ScanTest, TheTopRecordIsWrittenLastInTheBatchAndNotQueuedAgain) {
  CScanOptions options;
  options.idleFlush = std::chrono::hours(1);
  options.maxBatch = 3;
  auto session = Session(options);
  std::vector<std::string> queued;
  for (const char* path : {"/q1/", "/top/", "/q2/", "/q3/", "/q4/"}) {
    CDirData record;
    record.m_currentScanDir = path;
    session->QueueSave(record);
    if (record.m_currentScanDir != "/top/") queued.push_back(path);
  }
  CDirData top;
  top.m_currentScanDir = "/top/";
  top.m_times[0] = 1000;
  top.m_newScans = 1;
  top.m_entries.push_back(CDirInfo{"a", {7, N, N, N, N, N}});
  session->SaveNow(top);
  queued.push_back("/top/");
  EXPECT_EQ(state->written, queued);  // the older /top/ is not among them
  EXPECT_EQ(state->batches, 2);
  EXPECT_EQ(session->QueuedCount(), 0u);
  EXPECT_EQ(Stored("/top/").m_entries, top.m_entries);
  ASSERT_EQ(top.m_entries.size(), 1u);
  EXPECT_EQ(top.m_newScans, 0);
  EXPECT_EQ(top.m_savedTimes, top.m_times);

  session->QueueSave(top);  // the file holds it already
  EXPECT_EQ(session->QueuedCount(), 0u);
  top.m_times[0] = 2000;  // scanned again
  top.m_newScans = 1;
  session->QueueSave(top);
  EXPECT_EQ(session->QueuedCount(), 1u);

  state->failWith = static_cast<std::int32_t>(0x80030005u);
  CDirData failed = top;
  failed.m_times[0] = 3000;
  session->SaveNow(failed);
  EXPECT_EQ(failed.m_entries, top.m_entries);
  EXPECT_EQ(failed.m_newScans, 1);  // not saved: a later Save tries again
  session->QueueSave(failed);
  EXPECT_EQ(session->QueuedCount(), 1u);
  state->failWith = 0;
}

// Subdirectory records matter only to a scan that saves them again: one that does not reads
// the top record alone.
TEST_F(ScanTest, ScanThatSavesNoSubdirectoryReadsOnlyTheTopRecord) {
  dir.MakeDir("a/b");
  dir.MakeDir("c");
  auto session = Session();
  SavedScan(*session, dir.Path());
  int reads = state->reads;
  Scan(*session, dir.Path());
  EXPECT_EQ(state->reads, reads + 1);
  EXPECT_FALSE(state->holdingReads);
  reads = state->reads;
  SavedScan(*session, dir.Path());
  EXPECT_EQ(state->reads, reads + 4);
  const CDirData a = Stored(dir.Path() + "a/");
  const CDirInfo* b = a.FindEntry("b");
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b->sizes[1], b->sizes[0]);  // built on the saved record
}

// A wide directory's saved record is read after its subdirectories' records: the same scan
// results, built on what was saved, and a file that cannot be read is still tried once.
TEST_F(ScanTest, AWideDirectorysRecordIsReadAfterItsSubdirectories) {
  dir.MakeDir("a/b");
  dir.MakeDir("c");
  dir.MakeDir("d");
  dir.MakeFile("a/b/f", 4096);
  CScanOptions wide;
  wide.readSavedAfter = 2;  // the top directory, with three subdirectories, counts as wide
  std::vector<std::string> order;
  state->onRead = [&](const std::string& path) { order.push_back(path.substr(dir.Path().size())); };
  // The subdirectories come in listing order.
  const auto sorted = [](std::vector<std::string> paths) {
    std::sort(paths.begin(), paths.end());
    return paths;
  };
  const std::vector<std::string> below{"a/", "a/b/", "c/", "d/"};
  auto session = Session(wide);
  SavedScan(*session, dir.Path());
  // Read when the directory is chosen, then asked for; nothing saved, so not read again.
  ASSERT_EQ(order.size(), 6u);
  EXPECT_EQ(order[0], "");
  EXPECT_EQ(order[1], "");
  EXPECT_EQ(sorted({order.begin() + 2, order.end()}), below);
  order.clear();
  SavedScan(*session, dir.Path());
  ASSERT_EQ(order.size(), 6u);
  EXPECT_EQ(order.front(), "");  // asked for
  EXPECT_EQ(sorted({order.begin() + 1, order.end() - 1}), below);
  EXPECT_EQ(order.back(), "");  // read last
  const CDirInfo* a = session->dd.FindEntry("a");
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(a->sizes[0], 4096);
  EXPECT_EQ(a->sizes[1], 4096);  // built on the saved record
  EXPECT_EQ(session->dd.m_newScans, 0);  // and saved
  EXPECT_EQ(Stored(dir.Path()).FindEntry("a")->sizes[1], 4096);

  state->unreadable = true;
  order.clear();
  CDirData copy = session->dd;
  EXPECT_NE(session->DoScan(1, copy, true), -1);
  EXPECT_EQ(order, (std::vector<std::string>{""}));
  EXPECT_EQ(copy.FindEntry("a")->sizes[1], N);  // nothing saved could be read
  state->unreadable = false;
  state->onRead = nullptr;
}

TEST_F(ScanTest, FailedWriteShowsTheDiskErrorOncePerCause) {
  state->failWith = static_cast<std::int32_t>(0x80030005u);
  auto session = Session();
  for (std::string path : {"/a b/", "/c/"}) {
    CDirData record;
    record.m_currentScanDir = path;
    session->QueueSave(record);
  }
  session->ShutdownWarning();
  EXPECT_THAT(owner.Messages(),
              ElementsAre("Disk Write Error: The data for /a b/ can not be saved because of a disk error.  "
                          "(Error=0x80030005)"));
}

TEST_F(ScanTest, AFullDiskIsToldOnceAndStopsTheSaveUntilTheNextScan) {
  state->failWith = static_cast<std::int32_t>(0x80030070u);  // STG_E_MEDIUMFULL
  CScanOptions options;
  options.maxBatch = 2;
  auto session = Session(options);
  auto queue = [&](const std::string& prefix) {
    for (const char* name : {"a/", "b/", "c/", "d/", "e/", "f/"}) {
      CDirData record;
      record.m_currentScanDir = prefix + name;
      session->QueueSave(record);
    }
  };
  queue("/first/");
  session->SaveOutData(nullptr);
  EXPECT_EQ(state->batches, 1);  // the first batch that failed, and no more
  ASSERT_EQ(owner.Messages().size(), 1u);
  EXPECT_THAT(owner.Messages()[0], ::testing::StartsWith("Disk Full: The disk is full"));
  queue("/later/");  // the same scan goes on: nothing is tried, nothing more is told
  session->SaveOutData(nullptr);
  EXPECT_EQ(state->batches, 1);
  EXPECT_EQ(owner.Messages().size(), 1u);

  Scan(*session, dir.Path());  // a new scan tries again
  queue("/again/");
  session->ShutdownWarning();
  EXPECT_EQ(state->batches, 2);
  EXPECT_EQ(owner.Messages().size(), 2u);
  EXPECT_TRUE(session->DataFileFailed());
}

// ---------------------------------------------------------------------------------------------
// Scan directory, root, cluster size, free space

class SessionSettingsTest : public ScanTest {
 protected:
  void SetUp() override {
    ScanTest::SetUp();
    config = std::make_unique<TempDir>();
    ::setenv("XDG_CONFIG_HOME", config->Path().c_str(), 1);
  }
  std::unique_ptr<TempDir> config;
};

TEST_F(SessionSettingsTest, ScanDirGetsTrailingSlashAndReloadsOnlyWhenChanged) {
  auto session = Session();
  session->SetScanDir(dir.Path() + "x");
  EXPECT_EQ(session->GetScanDir(), dir.Path() + "x/");
  int reads = state->reads;
  session->SetScanDir(dir.Path() + "x/");
  EXPECT_EQ(state->reads, reads);
  EXPECT_EQ(owner.refreshes, 2);

  auto fresh = Session();
  char cwd[4096];
  ASSERT_NE(::getcwd(cwd, sizeof cwd), nullptr);
  EXPECT_EQ(fresh->GetScanDir(), std::string(cwd) + (std::string(cwd) == "/" ? "" : "/"));
  EXPECT_EQ(fresh->GetUniversalName("/srv/Share/"), "/srv/Share/");

  // The root of a directory is the mount point that holds it.
  platform::MountTable mounts = platform::MountTable::Load();
  ASSERT_NE(mounts.MountOf(dir.Path()), nullptr);
  session->SetScanDir(dir.Path());
  EXPECT_EQ(session->GetScanRoot(), mounts.MountOf(dir.Path())->mountPoint);
}

TEST_F(SessionSettingsTest, FreeSpaceIsWhatTheUserMayStillWrite) {
  auto session = Session();
  struct statvfs before {}, after {};
  std::uint64_t free = 0;
  ::statvfs(dir.Path().c_str(), &before);
  EXPECT_TRUE(session->ORVGetFreeSpace(dir.Path(), free));
  ::statvfs(dir.Path().c_str(), &after);
  std::uint64_t a = before.f_bavail * before.f_frsize, b = after.f_bavail * after.f_frsize;
  EXPECT_GE(free, std::min(a, b));
  EXPECT_LE(free, std::max(a, b));
  EXPECT_FALSE(session->ORVGetFreeSpace(dir.Path() + "missing/", free));
  EXPECT_EQ(free, 0u);
}

TEST_F(SessionSettingsTest, ClusterSizeFollowsThePreference) {
  auto session = Session();
  session->SetScanDir(dir.Path());
  struct statvfs figures {};
  ::statvfs(dir.Path().c_str(), &figures);
  const std::pair<int, std::uint32_t> cases[] = {
      {4, 1}, {2, 256}, {1, static_cast<std::uint32_t>(figures.f_frsize)}, {3, static_cast<std::uint32_t>(figures.f_frsize)}};
  for (auto [preference, expected] : cases) {
    owner.preferredCluster = ClusterModeFromStored(preference);
    session->SetClusterSize(7);
    session->GetClusterSize();
    EXPECT_EQ(session->ClusterSize(), expected) << preference;
  }
  owner.preferredCluster = ClusterModeFromStored(9);  // unknown: unchanged
  session->SetClusterSize(7);
  session->GetClusterSize();
  EXPECT_EQ(session->ClusterSize(), 7u);

  session->SetScanDir(dir.Path() + "missing");  // a root that does not exist counts bytes
  EXPECT_EQ(session->ClusterSize(), 1u);
}

TEST_F(SessionSettingsTest, OverrideForTheRootWinsForReadAndSmartModes) {
  const std::string key = "Software\\Zentrel\\VARNOW\\FixedClusterSizes";
  auto session = Session();
  session->SetScanDir(dir.Path());
  std::string root = session->GetScanRoot();
  if (!platform::Registry::SetString(platform::Hive::CurrentUser, key, root, "8192"))
    GTEST_SKIP() << "settings store not available in this build";
  struct statvfs figures {};
  ::statvfs(dir.Path().c_str(), &figures);
  for (auto [preference, expected] : {std::pair<int, std::uint32_t>{1, 8192}, {3, 8192}, {2, 256}, {4, 1}}) {
    owner.preferredCluster = ClusterModeFromStored(preference);
    session->GetClusterSize();
    EXPECT_EQ(session->ClusterSize(), expected) << preference;
  }
  owner.preferredCluster = ClusterMode::kNormal;
  for (const char* text : {"0", "abc", "", "-5"}) {
    platform::Registry::SetString(platform::Hive::CurrentUser, key, root, text);
    session->GetClusterSize();
    EXPECT_EQ(session->ClusterSize(), figures.f_frsize) << text;
  }
}

TEST_F(SessionSettingsTest, RootIsTheMountPointOfAFakedTable) {
  std::string mounts = dir.Path() + "mountinfo";
  dir.MakeDir("vol/data");
  std::string vol = dir.Path() + "vol";
  std::ofstream(mounts) << "1 0 8:1 / / rw,relatime - ext4 /dev/sda1 rw\n"
                        << "2 1 0:99 / " << vol << " rw,relatime - btrfs /dev/sdb1 rw,compress=zstd\n";
  if (platform::MountTable::Load(mounts).Mounts().empty()) GTEST_SKIP() << "mount table not available in this build";
  CScanOptions options;
  options.mountinfoPath = mounts;
  auto session = std::make_unique<CScanInfo>(&owner, &owner, nullptr, options);
  session->SetScanDir(vol + "/data");
  EXPECT_EQ(session->GetScanRoot(), vol);
  owner.preferredCluster = ClusterMode::kSmart;  // compressed volume
  session->GetClusterSize();
  EXPECT_EQ(session->ClusterSize(), 256u);
  session->SetScanDir(dir.Path());
  EXPECT_EQ(session->GetScanRoot(), "/");
}

// Space on disk: a file counts its length rounded up to the unit, but never more than the blocks
// it holds; "ignore" counts the apparent length. Checked on a sparse file, a file with a hole, a
// fallocated one and a plain one, in each cluster mode, against what stat says they hold.
TEST_F(SessionSettingsTest, FilesCountTheSpaceTheyHoldInTheModesThatCountUnits) {
  const std::int64_t sparseLength = 100LL << 30;  // a 100 GB disk image that holds nothing yet
  const std::int64_t holeLength = (10 << 20) + 1;
  const std::int64_t fallocated = 1 << 20;
  dir.MakeDir("top");
  dir.MakeFile("top/image.qcow", static_cast<std::uint64_t>(sparseLength));
  dir.MakeDataFile("top/plain", 1);
  {
    const std::string path = dir.Path() + "top/holed";
    dir.MakeDataFile("top/holed", 8192);
    int fd = ::open(path.c_str(), O_WRONLY);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::pwrite(fd, "x", 1, holeLength - 1), 1);
    ::fsync(fd);
    ::close(fd);
    fd = ::open((dir.Path() + "top/reserved").c_str(), O_CREAT | O_WRONLY, 0644);
    ASSERT_GE(fd, 0);
    const int reserved = ::posix_fallocate(fd, 0, fallocated);
    ::close(fd);
    if (reserved != 0) GTEST_SKIP() << "the file system of /tmp cannot allocate files";
  }
  struct stat image {}, holed {}, reserved {}, plain {};
  ASSERT_EQ(::stat((dir.Path() + "top/image.qcow").c_str(), &image), 0);
  ASSERT_EQ(::stat((dir.Path() + "top/holed").c_str(), &holed), 0);
  ASSERT_EQ(::stat((dir.Path() + "top/reserved").c_str(), &reserved), 0);
  ASSERT_EQ(::stat((dir.Path() + "top/plain").c_str(), &plain), 0);
  if (image.st_blocks != 0 || holed.st_blocks * 512 >= holeLength)
    GTEST_SKIP() << "the file system of /tmp keeps no sparse files";

  auto session = Session();
  session->SetScanDir(dir.Path() + "top");
  struct statvfs volume {};
  ASSERT_EQ(::statvfs(dir.Path().c_str(), &volume), 0);
  const auto unit = static_cast<std::uint32_t>(volume.f_frsize);
  auto held = [](const struct stat& st, std::uint32_t cluster) {
    return std::min(RoundToCluster(static_cast<std::uint64_t>(st.st_size), cluster),
                    static_cast<std::int64_t>(st.st_blocks) * 512);
  };
  auto onDisk = [&](std::uint32_t cluster) {
    return held(image, cluster) + held(holed, cluster) + held(reserved, cluster) + held(plain, cluster);
  };
  const struct {
    int preference;
    bool countsOnDisk;
    std::int64_t total;
  } cases[] = {
      {1, true, onDisk(unit)},
      {2, true, onDisk(256)},
      {3, true, onDisk(unit)},  // not a compressed volume: as normal
      {4, false, sparseLength + holeLength + fallocated + 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.preference);
    owner.preferredCluster = ClusterModeFromStored(c.preference);
    session->GetClusterSize();
    EXPECT_EQ(session->CountsOnDisk(), c.countsOnDisk);
    EXPECT_EQ(GetDirectorySize(dir.Path() + "top/", session->SizeRule()), c.total);
    // The scan counts the same, read by one thread or by several.
    for (int threads : {1, 3}) {
      CScanOptions options;
      options.scanThreads = threads;
      auto scanner = Session(options);
      scanner->SetCountsOnDisk(c.countsOnDisk);
      scanner->SetClusterSize(session->ClusterSize());
      CDirData record;
      record.m_currentScanDir = dir.Path();
      owner.preferredCluster = ClusterModeFromStored(9);  // keep the rule just set
      EXPECT_EQ(scanner->DoScan(1, record, true), c.total) << threads;
      owner.preferredCluster = ClusterModeFromStored(c.preference);
    }
  }
  // On disk, the image holds nothing and the holed file only its written blocks; the
  // fallocated one holds its whole length.
  EXPECT_EQ(held(image, unit), 0);
  EXPECT_LT(held(holed, unit), RoundToCluster(static_cast<std::uint64_t>(holeLength), unit));
  EXPECT_EQ(held(reserved, unit), fallocated);
}

}  // namespace
}  // namespace varnow
