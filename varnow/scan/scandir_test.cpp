#include "varnow/scan/scandir.h"

#include <gtest/gtest.h>

#include "varnow/testsupport/ScanTestSupport.h"

namespace varnow {
namespace {

TEST(Cluster, RoundsUpToWholeClusters) {
  EXPECT_EQ(RoundToCluster(0, 4096), 0);
  EXPECT_EQ(RoundToCluster(1, 4096), 4096);
  EXPECT_EQ(RoundToCluster(4096, 4096), 4096);
  EXPECT_EQ(RoundToCluster(4097, 4096), 8192);
  // Beyond 4 GiB nothing of the length is lost.
  EXPECT_EQ(RoundToCluster(0x100000001, 4096), 0x100001000);
  EXPECT_EQ(RoundToCluster(4097, 1), 4097);
  EXPECT_EQ(RoundToCluster(257, 256), 512);
}

TEST(Cluster, DirectorySizeCountsOnlyFilesDirectlyInside) {
  test::TempDir dir;
  dir.MakeDir("only/sub1");
  dir.MakeDir("only/sub2");
  dir.MakeFile("only/sub1/deep", 100000);
  EXPECT_EQ(GetDirectorySize(dir.Path() + "only/", 4096), 0);

  dir.MakeFile("a", 1);
  dir.MakeFile("b", 4097);
  dir.MakeFile("empty", 0);
  ASSERT_EQ(::symlink("only", (dir.Path() + "link").c_str()), 0);  // a link is a small file
  EXPECT_EQ(GetDirectorySize(dir.Path(), 4096), 4096 + 8192 + 4096);
  EXPECT_EQ(GetDirectorySize(dir.Path(), 1), 1 + 4097 + 4);
  EXPECT_EQ(GetDirectorySize(dir.Path() + "missing/", 1), 0);
  EXPECT_EQ(GetDirectorySize(dir.Path() + "a/", 1), 0);  // a file is no directory
}

TEST(Cluster, DirectorySizeIsZeroWhenCancelled) {
  test::TempDir dir;
  dir.MakeDir("sub");
  dir.MakeFile("f", 10);
  test::FakeOwner owner;
  owner.interactive = true;
  owner.onCancelCheck = [](int) { return true; };
  auto progress = owner.CreateScanProgress();
  EXPECT_EQ(GetDirectorySize(dir.Path(), 4096, progress.get()), 0);
  EXPECT_EQ(GetDirectorySize(dir.Path(), 4096), 4096);
}

}  // namespace
}  // namespace varnow
