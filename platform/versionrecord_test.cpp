#include "platform/versionrecord.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "platform/testtempfolder.h"

namespace platform {
namespace {

std::string Bytes(const CVersionRecordBytes& record) { return std::string(record.begin(), record.end()); }

class VersionRecordTest : public ::testing::Test {
 protected:
  std::string Write(const std::string& name, const std::string& bytes) {
    const std::string path = m_dir + "/" + name;
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
    return path;
  }
  test::CTempFolder m_tmp{"versionrecord-"};
  std::string m_dir = m_tmp.Path();
};

TEST_F(VersionRecordTest, FilesWithoutAGoodRecordGiveNothing) {
  const std::string record = Bytes(MakeVersionRecord(2, 0, 0, 74, "Varnow"));
  std::string damaged = record;
  damaged[22] ^= 1;  // a version byte: the hash no longer matches
  std::string wrongSize = record;
  wrongSize[16] = 65;
  const std::string cases[] = {
      "",
      std::string(5000, 'x'),
      "head" + damaged + "tail",
      wrongSize,
      "head" + record.substr(0, 40),                   // cut off inside the record
      std::string(kVersionRecordSignature) + "short",  // a signature alone
  };
  for (const std::string& content : cases) EXPECT_FALSE(ReadVersionRecord(Write("case", content))) << content.size();
  EXPECT_FALSE(ReadVersionRecord(m_dir + "/missing"));
  EXPECT_FALSE(ReadVersionRecord(m_dir));  // a folder
}

TEST_F(VersionRecordTest, FindsTheRecordAnywhere) {
  const std::string record = Bytes(MakeVersionRecord(3, 1, 4, 159, "Varnow"));
  std::string damaged = record;
  damaged[60] ^= 0xFF;
  const std::size_t block = 1 << 20;
  const std::string placements[] = {
      record,
      std::string(block - 10, '\0') + record + "after",         // across the first block's end
      std::string(block - 64, 'z') + record,                    // exactly at the end of a block
      damaged + std::string(3 * block, 'q') + record,           // after a damaged copy
      std::string(kVersionRecordSignature) + "junk" + record,   // after a stray signature
  };
  for (const std::string& content : placements) {
    const auto version = ReadVersionRecord(Write("placed", content));
    ASSERT_TRUE(version) << content.size();
    EXPECT_EQ(version->fileVersionMS, 0x00030001u);
    EXPECT_EQ(version->fileVersionLS, 0x0004009Fu);
    EXPECT_EQ(version->productVersionMS, 0x00030001u);
    EXPECT_EQ(version->productName, "Varnow");
  }
  // A product name of the full field's length is cut, never read past its end.
  const auto longName = ReadVersionRecord(Write("long", Bytes(MakeVersionRecord(1, 2, 3, 4, std::string(40, 'n')))));
  ASSERT_TRUE(longName);
  EXPECT_EQ(longName->productName, std::string(23, 'n'));
}

}  // namespace
}  // namespace platform
