#include "varnow/ui/VersionRecord.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "varnow/ui/TestHome.h"
#include "varnow/ui/osinfo.h"

namespace varnow {
namespace {

std::string Bytes(const CVersionRecordBytes& record) { return std::string(record.begin(), record.end()); }

class VersionRecordTest : public ::testing::Test {
 protected:
  std::string Write(const std::string& name, const std::string& bytes) {
    const std::string path = m_home.Root() + "/" + name;
    test::WriteWholeFile(path, bytes);
    return path;
  }
  test::CTestHome m_home;
};

TEST_F(VersionRecordTest, TheBuiltProgramCarriesItsVersion) {
  const char* binary = std::getenv("VARNOW_BINARY_DIR");
  ASSERT_NE(binary, nullptr);
  unsigned short major = 9, minor = 9, build = 9;
  ASSERT_EQ(GetFileVersion(std::string(binary) + "/varnow/varnow", &major, &minor, &build), 1);
  EXPECT_EQ(major, 2);
  EXPECT_EQ(minor, 0);
  EXPECT_EQ(build, 74);
  // Outputs may be left out.
  EXPECT_EQ(GetFileVersion(std::string(binary) + "/varnow/varnow", nullptr, &minor, nullptr), 1);
}

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
  for (const std::string& content : cases) {
    const std::string path = Write("case", content);
    unsigned short major = 7, minor = 7, build = 7;
    EXPECT_EQ(GetFileVersion(path, &major, &minor, &build), 0) << content.size();
    EXPECT_EQ(major + minor + build, 21);  // left as they were
  }
  EXPECT_EQ(GetFileVersion(m_home.Root() + "/missing", nullptr, nullptr, nullptr), 0);
  EXPECT_EQ(GetFileVersion("", nullptr, nullptr, nullptr), 0);
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
    const std::string path = Write("placed", content);
    unsigned short major = 0, minor = 0, build = 0;
    ASSERT_EQ(GetFileVersion(path, &major, &minor, &build), 1) << content.size();
    EXPECT_EQ(major, 3);
    EXPECT_EQ(minor, 1);
    EXPECT_EQ(build, 159);
  }
  auto version = ReadVersionRecord(Write("full", record));
  ASSERT_TRUE(version);
  EXPECT_EQ(version->fileVersionMS, 0x00030001u);
  EXPECT_EQ(version->fileVersionLS, 0x0004009Fu);
  EXPECT_EQ(version->productName, "Varnow");
}

TEST(OsInfo, SystemTypeAndProgramPath) {
  EXPECT_EQ(GetOSType(), 3);
  const std::string folder = ProgramFolder();
  ASSERT_FALSE(folder.empty());
  EXPECT_EQ(folder.back(), '/');
  EXPECT_EQ(ProgramPath().rfind(folder, 0), 0u);
}

}  // namespace
}  // namespace varnow
