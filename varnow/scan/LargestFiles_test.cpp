#include "varnow/scan/LargestFiles.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <random>
#include <set>

#include <gtest/gtest.h>

#include "varnow/scan/Scaninfo.h"
#include "varnow/scan/scandir.h"
#include "varnow/testsupport/ScanTestSupport.h"

namespace varnow {
namespace {

using test::FakeOwner;
using test::MemoryStore;
using test::TempDir;

std::vector<std::pair<std::int64_t, std::string>> SizesAndPaths(const std::vector<CLargeFile>& files) {
  std::vector<std::pair<std::int64_t, std::string>> out;
  for (const CLargeFile& file : files) out.emplace_back(file.size, file.path);
  return out;
}

// What a full sort of every file gives: largest first, ties by path.
std::vector<std::pair<std::int64_t, std::string>> FirstOfSort(std::vector<std::pair<std::int64_t, std::string>> all,
                                                             std::size_t n) {
  std::sort(all.begin(), all.end(), [](const auto& a, const auto& b) {
    return a.first != b.first ? a.first > b.first : a.second < b.second;
  });
  if (all.size() > n) all.resize(n);
  return all;
}

// The heap's files against a full sort: the same sizes, and each one a file that was offered
// (which of several equal files at the cut stays is not fixed).
void ExpectSameAsSort(const std::vector<CLargeFile>& kept, const std::vector<std::pair<std::int64_t, std::string>>& all) {
  const auto sorted = FirstOfSort(all, kLargestFilesKept);
  ASSERT_EQ(kept.size(), sorted.size());
  std::set<std::string> paths;
  std::set<std::pair<std::int64_t, std::string>> offered(all.begin(), all.end());
  for (std::size_t i = 0; i < kept.size(); ++i) {
    EXPECT_EQ(kept[i].size, sorted[i].first) << i;
    EXPECT_TRUE(offered.count({kept[i].size, kept[i].path})) << kept[i].path;
    EXPECT_TRUE(paths.insert(kept[i].path).second) << kept[i].path;
  }
}

TEST(LargestFiles, KeepsWhatAFullSortPutsFirstWhateverTheOrderAndTies) {
  std::mt19937 random(7);
  std::vector<std::pair<std::int64_t, std::string>> all;
  // Few distinct sizes, so that many ties straddle the cut.
  for (int i = 0; i < 20000; ++i) all.emplace_back(static_cast<std::int64_t>(random() % 300) * 4096, "f" + std::to_string(i));
  for (int round = 0; round < 3; ++round) {
    std::shuffle(all.begin(), all.end(), random);
    CLargestFiles heap;
    ino_t inode = 1;
    for (const auto& [size, name] : all) heap.Offer("/d/", name, size, 0, 1, inode++, 1);
    std::vector<std::pair<std::int64_t, std::string>> expected;
    for (const auto& [size, name] : all) expected.emplace_back(size, "/d/" + name);
    ExpectSameAsSort(heap.Sorted(), expected);
  }
  // Fewer files than places: all of them; none at all: nothing.
  CLargestFiles few(5);
  few.Offer("/", "a", 0, 0, 1, 1, 1);
  few.Offer("/", "b", 9, 0, 1, 2, 1);
  EXPECT_EQ(SizesAndPaths(few.Sorted()), (std::vector<std::pair<std::int64_t, std::string>>{{9, "/b"}, {0, "/a"}}));
  EXPECT_EQ(CLargestFiles().Sorted().size(), 0u);
}

TEST(LargestFiles, AFileWithSeveralLinksIsKeptOnceAndMergedHeapsStayDistinct) {
  CLargestFiles one(3);
  one.Offer("/a/", "big", 100, 0, 1, 42, 2);
  one.Offer("/b/", "same-big", 100, 0, 1, 42, 2);
  one.Offer("/a/", "small", 1, 0, 1, 43, 1);
  CLargestFiles other(3);
  other.Offer("/c/", "third-name", 100, 0, 1, 42, 3);
  other.Offer("/c/", "mid", 50, 0, 1, 44, 1);
  one.Merge(other);
  EXPECT_EQ(SizesAndPaths(one.Sorted()),
            (std::vector<std::pair<std::int64_t, std::string>>{{100, "/a/big"}, {50, "/c/mid"}, {1, "/a/small"}}));
}

class LargestScanTest : public ::testing::TestWithParam<bool> {};

// The scan with a progress display reads the tree itself; the one without lists it with several
// threads first. Both keep what a sort of every file of the tree gives, sizes as the scan counts.
TEST_P(LargestScanTest, ScanKeepsTheLargestFilesOfTheWholeTree) {
  TempDir dir;
  FakeOwner owner;
  owner.preferredCluster = ClusterModeFromStored(9);
  owner.interactive = GetParam();
  auto state = std::make_shared<MemoryStore::State>();
  CScanOptions options;
  options.scanThreads = 3;
  CScanInfo session(&owner, &owner, std::make_unique<MemoryStore>(state), options);
  session.SetClusterSize(512);
  session.SetCountsOnDisk(false);  // the generated files are sparse: count their lengths
  std::mt19937 random(11);
  std::vector<std::pair<std::int64_t, std::string>> all;
  for (int d = 0; d < 30; ++d) {
    const std::string sub = "d" + std::to_string(d % 6) + "/e" + std::to_string(d) + "/";
    dir.MakeDir(sub);
    for (int f = 0; f < 8; ++f) {
      const std::uint64_t length = random() % 50000;
      const std::string path = dir.MakeFile(sub + "f" + std::to_string(f), length);
      all.emplace_back(RoundToCluster(length, 512), path);
    }
  }
  // A hard link is one file, listed once.
  const std::string linked = dir.MakeFile("linked", 900000);
  ASSERT_EQ(::link(linked.c_str(), (dir.Path() + "d0/link2").c_str()), 0);
  all.emplace_back(RoundToCluster(900000, 512), linked);
  EXPECT_FALSE(session.HasScanned());
  session.SetScanDir(dir.Path());
  CDirData record = session.dd;
  ASSERT_NE(session.DoScan(1, record, !GetParam()), -1);
  ASSERT_TRUE(session.HasScanned());
  std::vector<CLargeFile> kept = session.LargestFiles().Sorted();
  ASSERT_EQ(kept.size(), kLargestFilesKept);
  EXPECT_EQ(kept[0].size, RoundToCluster(900000, 512));
  EXPECT_TRUE(kept[0].path == linked || kept[0].path == dir.Path() + "d0/link2") << kept[0].path;
  EXPECT_NE(kept[1].size, kept[0].size);
  kept[0].path = linked;
  ExpectSameAsSort(kept, all);
  struct stat info {};
  ASSERT_EQ(::stat(kept[1].path.c_str(), &info), 0);
  EXPECT_EQ(kept[1].modified, info.st_mtim.tv_sec);

  // The next scan starts afresh: what went away is not listed.
  std::filesystem::remove_all(dir.Path() + "d0");
  std::filesystem::remove_all(dir.Path() + "d1");
  std::filesystem::remove(linked);
  record = session.dd;
  ASSERT_NE(session.DoScan(1, record, !GetParam()), -1);
  for (const CLargeFile& file : session.LargestFiles().Sorted()) EXPECT_TRUE(std::filesystem::exists(file.path)) << file.path;
}

INSTANTIATE_TEST_SUITE_P(Both, LargestScanTest, ::testing::Values(true, false),
                         [](const auto& info) { return info.param ? "WithProgress" : "Threaded"; });

}  // namespace
}  // namespace varnow
