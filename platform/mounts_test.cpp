#include "platform/mounts.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

namespace {

using platform::MountInfo;
using platform::MountTable;

const char kFakeMountinfo[] =
    "22 27 0:21 / /proc rw,relatime - proc proc rw\n"
    "27 1 254:0 / / rw,relatime - ext4 /dev/vda rw,discard\n"
    "40 27 8:17 / /home rw,relatime shared:5 master:2 - ext4 /dev/sdb1 rw\n"
    "41 40 8:18 / /home/ann/My\\040Files rw - xfs /dev/sdb2 rw\n"
    "42 27 0:45 /@data /srv/data rw,noatime - btrfs /dev/sdc rw,compress=zstd:3,space_cache=v2\n"
    "43 27 0:46 / /srv/raw rw - btrfs /dev/sdd rw,space_cache=v2\n"
    "44 27 0:47 / /srv/forced rw,compress-force - btrfs /dev/sde rw\n"
    "45 27 0:48 / /net/share rw - nfs4 server:/export\\040dir rw,vers=4.2\n"
    "46 27 0:49 / /net/sshfs rw - fuse.sshfs ann@host:/ rw\n"
    "this line is damaged\n"
    "47 27 xx / /broken rw - ext4 /dev/x rw\n"
    "48 27 0:50 / /home rw - tmpfs tmpfs rw\n"  // stacked over the earlier /home
    "49 27 0:51 / /srv/back\\134slash rw - ext4 /dev/y rw\n";

class FakeMountTable : public ::testing::Test {
 protected:
  void SetUp() override {
    m_path = ::testing::TempDir() + "mountinfo_" + std::to_string(::getpid());
    std::ofstream(m_path) << kFakeMountinfo;
    m_table = MountTable::Load(m_path);
  }
  void TearDown() override { std::remove(m_path.c_str()); }
  std::string MountPointOf(const std::string& path) const {
    const MountInfo* mount = m_table.MountOf(path);
    return mount ? mount->mountPoint : "<none>";
  }
  std::string m_path;
  MountTable m_table;
};

TEST_F(FakeMountTable, ParsesFieldsEscapesAndSkipsDamagedLines) {
  ASSERT_EQ(m_table.Mounts().size(), 11u);
  const MountInfo& home = m_table.Mounts()[2];
  EXPECT_EQ(home.mountPoint, "/home");
  EXPECT_EQ(home.fsType, "ext4");  // optional fields before "-" are skipped
  EXPECT_EQ(home.source, "/dev/sdb1");
  EXPECT_EQ(home.device, makedev(8, 17));
  EXPECT_EQ(m_table.Mounts()[3].mountPoint, "/home/ann/My Files");
  EXPECT_EQ(m_table.Mounts()[7].source, "server:/export dir");
  EXPECT_EQ(m_table.Mounts()[10].mountPoint, "/srv/back\\slash");
  EXPECT_EQ(m_table.Mounts()[4].options, "rw,noatime,rw,compress=zstd:3,space_cache=v2");
}

TEST_F(FakeMountTable, ClassifiesFileSystems) {
  auto find = [&](const std::string& point) { return m_table.MountOf(point); };
  EXPECT_TRUE(find("/proc")->isPseudo);
  EXPECT_FALSE(find("/")->isPseudo);
  EXPECT_TRUE(find("/net/share")->isNetwork);
  EXPECT_TRUE(find("/net/sshfs")->isNetwork);
  EXPECT_FALSE(find("/srv/data")->isNetwork);
  EXPECT_TRUE(find("/srv/data")->isCompressed);
  EXPECT_TRUE(find("/srv/forced")->isCompressed);
  EXPECT_FALSE(find("/srv/raw")->isCompressed);
  EXPECT_FALSE(find("/")->isCompressed);
  for (const char* type : {"sysfs", "devpts", "cgroup2", "autofs", "binfmt_misc"})
    EXPECT_TRUE(MountTable::IsPseudoFileSystem(type)) << type;
  for (const char* type : {"ext4", "tmpfs", "btrfs", "nfs"}) EXPECT_FALSE(MountTable::IsPseudoFileSystem(type)) << type;
  for (const char* type : {"cifs", "smb3", "nfs"}) EXPECT_TRUE(MountTable::IsNetworkFileSystem(type)) << type;
  EXPECT_FALSE(MountTable::IsNetworkFileSystem("fuse"));
}

TEST_F(FakeMountTable, LongestComponentPrefixWins) {
  EXPECT_EQ(MountPointOf("/home/ann/My Files/x/y"), "/home/ann/My Files");
  EXPECT_EQ(MountPointOf("/home/ann/My Filesystem"), "/home");
  EXPECT_EQ(MountPointOf("/homework/a"), "/");
  EXPECT_EQ(MountPointOf("/home"), "/home");
  EXPECT_EQ(m_table.MountOf("/home/ann")->fsType, "tmpfs");  // the later mount hides the earlier
  EXPECT_EQ(MountPointOf("/srv/data/../raw/x"), "/srv/raw");
  EXPECT_EQ(MountPointOf("/net/share/./deep/../dir/"), "/net/share");
  EXPECT_EQ(MountPointOf("/usr/share"), "/");
}

TEST(MountTable, MissingFileGivesEmptyTable) {
  MountTable table = MountTable::Load("/nonexistent/mountinfo");
  EXPECT_TRUE(table.Mounts().empty());
  EXPECT_EQ(table.MountOf("/"), nullptr);
}

TEST(MountTable, RealTableResolvesPaths) {
  MountTable table = MountTable::Load();
  ASSERT_NE(table.MountOf("/"), nullptr);
  EXPECT_EQ(table.MountOf("/")->mountPoint, "/");

  // The mount of an existing directory is the one whose device the directory lives on, found
  // through a symbolic link and for names below it that do not exist.
  std::string dir = ::testing::TempDir() + "mounts_" + std::to_string(::getpid());
  ASSERT_EQ(::mkdir(dir.c_str(), 0700), 0);
  std::string link = dir + "/link";
  ASSERT_EQ(::symlink("/", link.c_str()), 0);
  const MountInfo* viaLink = table.MountOf(link + "/not/there");
  ASSERT_NE(viaLink, nullptr);
  EXPECT_EQ(viaLink->mountPoint, "/");
  const MountInfo* own = table.MountOf(dir + "/missing/child");
  ASSERT_NE(own, nullptr);
  EXPECT_EQ(own, table.MountOf(dir));
  std::remove(link.c_str());
  ::rmdir(dir.c_str());
}

TEST(ResolvePath, OneDirectoryHasOneNameHoweverItIsWritten) {
  char pattern[] = "/tmp/resolve_XXXXXX";
  ASSERT_NE(::mkdtemp(pattern), nullptr);
  const std::string dir = platform::ResolvePath(pattern);  // /tmp itself may be a link
  ASSERT_EQ(::mkdir((dir + "/a").c_str(), 0700), 0);
  ASSERT_EQ(::symlink((dir + "/a").c_str(), (dir + "/link").c_str()), 0);
  for (const std::string& name : {dir + "/a", dir + "/a/", dir + "//a/.", dir + "/a/../a", dir + "/link",
                                  dir + "/link/", dir + "/./link/../a"})
    EXPECT_EQ(platform::ResolvePath(name), dir + "/a") << name;
  // Names that do not exist are made plain by text.
  EXPECT_EQ(platform::ResolvePath(dir + "/missing/../b/./c/"), dir + "/b/c");
  EXPECT_EQ(platform::ResolvePath(dir + "/link/missing/.."), dir + "/a");
  EXPECT_EQ(platform::ResolvePath("/../.."), "/");
  char* cwd = ::getcwd(nullptr, 0);
  ASSERT_EQ(::chdir(dir.c_str()), 0);
  EXPECT_EQ(platform::ResolvePath("."), dir);
  EXPECT_EQ(platform::ResolvePath("link/"), dir + "/a");
  EXPECT_EQ(::chdir(cwd), 0);
  std::free(cwd);
  std::remove((dir + "/link").c_str());
  ::rmdir((dir + "/a").c_str());
  ::rmdir(dir.c_str());
}

TEST(QueryVolume, MatchesStatvfs) {
  platform::VolumeFigures figures;
  ASSERT_TRUE(platform::QueryVolume("/", figures));
  struct statvfs expected {};
  ASSERT_EQ(::statvfs("/", &expected), 0);
  EXPECT_EQ(figures.clusterSize, expected.f_frsize);
  // Free space is what the user may still write, as df shows it: the blocks kept back for root
  // are not free to the user. It moves while other programs write: compare within a generous
  // margin of blocks.
  const double margin = 256.0 * 1024 * 1024;
  const double available = static_cast<double>(expected.f_bavail) * expected.f_frsize;
  const double allFree = static_cast<double>(expected.f_bfree) * expected.f_frsize;
  EXPECT_NEAR(static_cast<double>(figures.freeBytes), available, margin);
  if (allFree - available > 2 * margin) {
    EXPECT_LT(static_cast<double>(figures.freeBytes), allFree - margin);
  }
  EXPECT_EQ(figures.freeBytes % expected.f_frsize, 0u);

  EXPECT_FALSE(platform::QueryVolume("/nonexistent/volume", figures));
  EXPECT_EQ(figures.clusterSize, 0u);
  EXPECT_EQ(figures.freeBytes, 0u);
}

}  // namespace
