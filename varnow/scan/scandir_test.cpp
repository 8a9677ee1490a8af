#include "varnow/scan/scandir.h"

#include <gtest/gtest.h>

#include "varnow/testsupport/ScanTestSupport.h"

namespace varnow {
namespace {

// The files these tests make are sparse: they are counted by their lengths.
CSizeRule Apparent(std::uint32_t clusterSize) { return CSizeRule{clusterSize, false}; }

platform::DirEntry File(std::uint64_t length, std::uint64_t allocated) {
  platform::DirEntry entry;
  entry.name = "f";
  entry.length = length;
  entry.allocated = allocated;
  return entry;
}

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

TEST(Cluster, OnDiskNeverCountsMoreThanTheFileHoldsApparentCountsItsLength) {
  const CSizeRule onDisk{4096, true};
  EXPECT_EQ(CountedSize(File(1, 4096), onDisk), 4096);            // one unit, as rounded
  EXPECT_EQ(CountedSize(File(4097, 12288), onDisk), 8192);        // extra metadata blocks not counted
  EXPECT_EQ(CountedSize(File(100LL << 30, 0), onDisk), 0);        // sparse: holds nothing
  EXPECT_EQ(CountedSize(File(10 << 20, 8192), onDisk), 8192);     // a hole in the middle
  EXPECT_EQ(CountedSize(File(300, 4096), CSizeRule{256, true}), 512);
  EXPECT_EQ(CountedSize(File(100LL << 30, 0), Apparent(1)), 100LL << 30);
  EXPECT_EQ(CountedSize(File(4097, 0), Apparent(4096)), 8192);
  EXPECT_EQ(CountedSize(File(0, 0), onDisk), 0);
}

TEST(Cluster, DirectorySizeCountsOnlyFilesDirectlyInside) {
  test::TempDir dir;
  dir.MakeDir("only/sub1");
  dir.MakeDir("only/sub2");
  dir.MakeFile("only/sub1/deep", 100000);
  EXPECT_EQ(GetDirectorySize(dir.Path() + "only/", Apparent(4096)), 0);

  dir.MakeFile("a", 1);
  dir.MakeFile("b", 4097);
  dir.MakeFile("empty", 0);
  ASSERT_EQ(::symlink("only", (dir.Path() + "link").c_str()), 0);  // a link is a small file
  EXPECT_EQ(GetDirectorySize(dir.Path(), Apparent(4096)), 4096 + 8192 + 4096);
  EXPECT_EQ(GetDirectorySize(dir.Path(), Apparent(1)), 1 + 4097 + 4);
  EXPECT_EQ(GetDirectorySize(dir.Path() + "missing/", Apparent(1)), 0);
  EXPECT_EQ(GetDirectorySize(dir.Path() + "a/", Apparent(1)), 0);  // a file is no directory
}

}  // namespace
}  // namespace varnow
