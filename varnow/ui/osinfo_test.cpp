#include "platform/process.h"
#include "varnow/ui/osinfo.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "varnow/testsupport/TestHome.h"

namespace varnow {
namespace {

TEST(OsInfo, TheBuiltProgramCarriesItsVersion) {
  const char* binary = std::getenv("VARNOW_BIN_DIR");
  ASSERT_NE(binary, nullptr);
  unsigned short major = 9, minor = 9, build = 9;
  ASSERT_EQ(GetFileVersion(std::string(binary) + "/varnow", &major, &minor, &build), 1);
  EXPECT_EQ(major, 2);
  EXPECT_EQ(minor, 0);
  EXPECT_EQ(build, 74);
  // Outputs may be left out.
  EXPECT_EQ(GetFileVersion(std::string(binary) + "/varnow", nullptr, &minor, nullptr), 1);
}

TEST(OsInfo, WithoutARecordTheOutputsStayAsTheyWere) {
  test::CTestHome home;
  const std::string path = home.Root() + "/plain";
  test::WriteWholeFile(path, std::string(5000, 'x'));
  for (const std::string& file : {path, home.Root() + "/missing", std::string()}) {
    unsigned short major = 7, minor = 7, build = 7;
    EXPECT_EQ(GetFileVersion(file, &major, &minor, &build), 0) << file;
    EXPECT_EQ(major + minor + build, 21);
  }
}

TEST(OsInfo, SystemTypeAndProgramPath) {
  EXPECT_EQ(GetOSType(), 3);
  const std::string folder = platform::ProgramFolder();
  ASSERT_FALSE(folder.empty());
  EXPECT_EQ(folder.back(), '/');
  EXPECT_EQ(platform::ProgramPath().rfind(folder, 0), 0u);
}

}  // namespace
}  // namespace varnow
