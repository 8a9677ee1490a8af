#include "platform/dirlist.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <string>

#include <gtest/gtest.h>

#include "platform/testtempfolder.h"

namespace platform {
namespace {

class DirListTest : public ::testing::Test {
 protected:
  void MakeFile(const std::string& name, off_t length) {
    int fd = ::open((root + name).c_str(), O_CREAT | O_WRONLY, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, length), 0);
    ::close(fd);
  }
  test::CTempFolder m_tmp{"varnow-dirlist-"};
  std::string root = m_tmp.Path() + "/";
};

TEST_F(DirListTest, DotsFirstThenEveryEntryWithWhatTheScanNeeds) {
  ASSERT_EQ(::mkdir((root + "sub dir").c_str(), 0755), 0);
  MakeFile("file", 5000);
  MakeFile("big", (off_t{1} << 32) + 3);
  MakeFile(".hidden", 1);
  MakeFile("\xff\xfe raw", 2);
  ASSERT_EQ(::link((root + "file").c_str(), (root + "hard").c_str()), 0);
  ASSERT_EQ(::symlink("sub dir", (root + "link").c_str()), 0);
  ASSERT_EQ(::mkfifo((root + "fifo").c_str(), 0644), 0);

  std::vector<DirEntry> entries = ListDirectory(root);
  ASSERT_GE(entries.size(), 2u);
  EXPECT_EQ(entries[0].name, ".");
  EXPECT_EQ(entries[1].name, "..");
  EXPECT_TRUE(entries[0].isDirectory && entries[1].isDirectory);
  std::map<std::string, DirEntry> byName;
  for (std::size_t i = 2; i < entries.size(); ++i) {
    EXPECT_NE(entries[i].name, ".");
    EXPECT_NE(entries[i].name, "..");
    byName[entries[i].name] = entries[i];
  }
  ASSERT_EQ(byName.size(), 8u);
  EXPECT_TRUE(byName["sub dir"].isDirectory);
  EXPECT_EQ(byName["sub dir"].length, 0u);
  EXPECT_FALSE(byName["link"].isDirectory);  // never followed
  EXPECT_EQ(byName["link"].length, 7u);      // the length of its target text
  EXPECT_EQ(byName["file"].length, 5000u);
  EXPECT_EQ(byName["big"].length, (std::uint64_t{1} << 32) + 3);
  EXPECT_EQ(byName["\xff\xfe raw"].length, 2u);
  EXPECT_FALSE(byName["fifo"].isDirectory);
  EXPECT_EQ(byName["file"].links, 2u);
  EXPECT_EQ(byName["file"].inode, byName["hard"].inode);
  struct stat st {};
  ASSERT_EQ(::stat(root.c_str(), &st), 0);
  EXPECT_EQ(byName["file"].device, st.st_dev);
  EXPECT_EQ(entries[0].inode, st.st_ino);
}

TEST_F(DirListTest, OpenAtStaysInsideAndRefusesLinksAndFiles) {
  ASSERT_EQ(::mkdir((root + "d").c_str(), 0755), 0);
  MakeFile("d/inner", 1);
  MakeFile("f", 1);
  ASSERT_EQ(::symlink("d", (root + "link").c_str()), 0);
  DirListing parent;
  ASSERT_TRUE(parent.Open(root));
  DirListing child;
  ASSERT_TRUE(child.OpenAt(parent.Fd(), "d"));
  DirEntry entry;
  int count = 0;
  while (child.Next(entry)) ++count;
  EXPECT_EQ(count, 3);
  EXPECT_FALSE(child.OpenAt(parent.Fd(), "link"));
  EXPECT_FALSE(child.OpenAt(parent.Fd(), "f"));
  EXPECT_FALSE(child.OpenAt(parent.Fd(), "missing"));
  EXPECT_FALSE(child.IsOpen());
  EXPECT_FALSE(child.Next(entry));
}

TEST_F(DirListTest, ManyEntriesSpanSeveralReadsAndExistenceTest) {
  for (int i = 0; i < 3000; ++i) MakeFile("a_long_file_name_to_fill_the_buffer_quickly_" + std::to_string(i), i);
  DirListing listing;
  ASSERT_TRUE(listing.Open(root));
  DirEntry entry;
  std::uint64_t sum = 0;
  int files = 0;
  while (listing.Next(entry))
    if (!entry.isDirectory) ++files, sum += entry.length;
  EXPECT_EQ(files, 3000);
  EXPECT_EQ(sum, 2999u * 3000 / 2);

  EXPECT_TRUE(PathExists(root));
  EXPECT_TRUE(PathExists(root + "a_long_file_name_to_fill_the_buffer_quickly_1"));
  EXPECT_FALSE(PathExists(root + "a_long_file_name_to_fill_the_buffer_quickly_1/"));  // a file is no directory
  EXPECT_FALSE(PathExists(root + "missing"));
  EXPECT_FALSE(listing.Open(root + "missing/"));
  EXPECT_TRUE(ListDirectory(root + "missing/").empty());
}

// Listings share their thread's spare buffer only between reads: two read in turn, one of them
// moved part way, each still gives all of its own entries, and one read to its end stays there.
TEST_F(DirListTest, ListingsReadInTurnOnOneThreadKeepTheirOwnEntries) {
  for (const char* folder : {"a/", "b/"}) {
    ASSERT_EQ(::mkdir((root + folder).c_str(), 0755), 0);
    for (int i = 0; i < 1500; ++i)
      MakeFile(folder + std::string("a_long_name_to_need_several_reads_") + std::to_string(i), 1);
  }
  DirListing a, b;
  ASSERT_TRUE(a.Open(root + "a/"));
  ASSERT_TRUE(b.Open(root + "b/"));
  std::map<std::string, int> seen;
  DirEntry entry;
  bool moreA = true, moreB = true;
  for (int turn = 0; moreA || moreB; ++turn) {
    if (turn == 700) {
      DirListing moved(std::move(a));
      a = std::move(moved);
    }
    if (moreA && (moreA = a.Next(entry)) && !entry.isDirectory) ++seen["a" + entry.name];
    if (moreB && (moreB = b.Next(entry)) && !entry.isDirectory) ++seen["b" + entry.name];
  }
  EXPECT_EQ(seen.size(), 3000u);
  EXPECT_TRUE(std::all_of(seen.begin(), seen.end(), [](const auto& name) { return name.second == 1; }));
  EXPECT_FALSE(a.Next(entry));
  EXPECT_FALSE(b.Next(entry));
}

}  // namespace
}  // namespace platform
