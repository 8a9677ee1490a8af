#include "varnow/scan/scandir.h"

#include <gtest/gtest.h>

#include "varnow/scan/test_support.h"

namespace varnow {
namespace {

TEST(FormatSize, DecoratedUnitsAndSmartThresholds) {
  EXPECT_EQ(FormatSize(0, true, kUnitBytes), "0 bytes");
  EXPECT_EQ(FormatSize(1234567, true, kUnitK), "1,205 K");
  EXPECT_EQ(FormatSize(1234567, true, kUnitSmart), "1,205 K");
  EXPECT_EQ(FormatSize(999999, true, kUnitSmart), "999,999 bytes");
  EXPECT_EQ(FormatSize(4096, true, kUnitSmart), "4,096 bytes");
  EXPECT_EQ(FormatSize(2147483648LL, true, kUnitGB), "2 GB");
  EXPECT_EQ(FormatSize(1000000, true, kUnitSmart), "976 K");
  EXPECT_EQ(FormatSize(999999999999LL, true, kUnitSmart), "953,674 MB");
  EXPECT_EQ(FormatSize(1000000000000LL, true, kUnitSmart), "931 GB");
  EXPECT_EQ(FormatSize(100, true, kUnitBytes), "100 bytes");
  EXPECT_EQ(FormatSize(123456, true, kUnitBytes), "123,456 bytes");
  EXPECT_EQ(FormatSize(INT64_MAX, true, kUnitBytes), "9,223,372,036,854,775,807 bytes");
}

TEST(FormatSize, PlainAndOddUnits) {
  EXPECT_EQ(FormatSize(-1, true, kUnitSmart), "");
  EXPECT_EQ(FormatSize(-1, false, kUnitBytes), "");
  EXPECT_EQ(FormatSize(1234567, false, kUnitBytes), "1234567");
  EXPECT_EQ(FormatSize(1234567, false, kUnitSmart), "1205");
  EXPECT_EQ(FormatSize(1234567, true, 9), "1,234,567");  // unknown unit: bytes without suffix
  EXPECT_EQ(FormatSize(1023, true, kUnitK), "0 K");      // truncates toward zero
}

class ClusterTest : public ::testing::Test {
 protected:
  void TearDown() override { g_clusterSize = 4096; }
};

TEST_F(ClusterTest, RoundsUpToWholeClusters) {
  g_clusterSize = 4096;
  EXPECT_EQ(RoundToCluster(std::uint64_t{0}), 0);
  EXPECT_EQ(RoundToCluster(std::uint64_t{1}), 4096);
  EXPECT_EQ(RoundToCluster(std::uint64_t{4096}), 4096);
  EXPECT_EQ(RoundToCluster(std::uint64_t{4097}), 8192);
  // Beyond 4 GiB nothing of the length is lost.
  EXPECT_EQ(RoundToCluster(std::uint64_t{0x100000001}), 0x100001000);
  g_clusterSize = 1;
  EXPECT_EQ(RoundToCluster(std::uint64_t{4097}), 4097);
  g_clusterSize = 256;
  EXPECT_EQ(RoundToCluster(std::uint64_t{257}), 512);
}

TEST_F(ClusterTest, DirectorySizeCountsOnlyFilesDirectlyInside) {
  test::TempDir dir;
  dir.MakeDir("only/sub1");
  dir.MakeDir("only/sub2");
  dir.MakeFile("only/sub1/deep", 100000);
  EXPECT_EQ(GetDirectorySize(dir.Path() + "only/"), 0);

  dir.MakeFile("a", 1);
  dir.MakeFile("b", 4097);
  dir.MakeFile("empty", 0);
  ASSERT_EQ(::symlink("only", (dir.Path() + "link").c_str()), 0);  // a link is a small file
  g_clusterSize = 4096;
  EXPECT_EQ(GetDirectorySize(dir.Path()), 4096 + 8192 + 4096);
  g_clusterSize = 1;
  EXPECT_EQ(GetDirectorySize(dir.Path()), 1 + 4097 + 4);
  EXPECT_EQ(GetDirectorySize(dir.Path() + "missing/"), 0);
  EXPECT_EQ(GetDirectorySize(dir.Path() + "a/"), 0);  // a file is no directory
}

TEST_F(ClusterTest, DirectorySizeIsZeroWhenCancelled) {
  test::TempDir dir;
  dir.MakeDir("sub");
  dir.MakeFile("f", 10);
  test::FakeOwner owner;
  owner.interactive = true;
  owner.onCancelCheck = [](int) { return true; };
  auto progress = owner.CreateScanProgress();
  g_currentProgress = progress.get();
  EXPECT_EQ(GetDirectorySize(dir.Path()), 0);
  g_currentProgress = nullptr;
  EXPECT_EQ(GetDirectorySize(dir.Path()), 4096);
}

}  // namespace
}  // namespace varnow
