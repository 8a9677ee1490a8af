// The atomic replacement of settings and profile files under a failing disk: every call fails
// once with EIO and ENOSPC and the power is cut at every call; the file is always the old one
// or the new one, and a write reported done survives a power cut.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include "platform/atomicfile.h"
#include "platform/filesystem.h"
#include "platform/profile.h"
#include "platform/registry.h"
#include "platform/testfaultfiles.h"
#include "platform/testtempfolder.h"

namespace {

void Install(platform::FileSystem* fs) { platform::UseFiles(fs); }

TEST(AtomicFileFaults, AReplacedFileIsOldOrNewAfterAnyFaultAndAReportedWriteLasts) {
  platform::test::CTempFolder folder("atomicfault");
  const std::string file = folder.Path() + "/hive.reg";
  const std::string before = "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software]\n\"Old\"=\"1\"\n";
  const std::string after = before + std::string(20000, 'x') + "\n";
  const std::string counts = testfaults::CheckWholeFileWrite<platform::FileSystem>(
      platform::SystemFiles(), Install, folder.Path(),
      [&] { testfaults::WriteWhole(file, before); },
      [&] { return platform::WriteFileAtomically(file, after); },
      [&] {
        const std::string now = testfaults::ReadWhole(file);
        return now == before ? 0 : now == after ? 1 : -1;
      });
  std::printf("[ faults ] atomic replacement: %s\n", counts.c_str());
}

TEST(AtomicFileFaults, AProfileWriteIsOldOrNewAfterAnyFault) {
  platform::test::CTempFolder folder("profilefault");
  const std::string file = folder.Path() + "/VNOWDATA.FAT";
  const std::string before = "[Data]\nFirst=1\n";
  const std::string counts = testfaults::CheckWholeFileWrite<platform::FileSystem>(
      platform::SystemFiles(), Install, folder.Path(),
      [&] { testfaults::WriteWhole(file, before); },
      [&] { return platform::WritePrivateProfileString("Data", "Second", "2", file); },
      [&] {
        const std::string now = testfaults::ReadWhole(file);
        if (now == before) return 0;
        return platform::GetPrivateProfileString("Data", "Second", "", file) == "2" &&
                       platform::GetPrivateProfileString("Data", "First", "", file) == "1"
                   ? 1
                   : -1;
      });
  std::printf("[ faults ] profile write: %s\n", counts.c_str());
}

TEST(AtomicFileFaults, ARegistryValueIsOldOrNewAfterAnyFault) {
  platform::test::CTempFolder config("regfault");
  ::setenv("XDG_CONFIG_HOME", config.Path().c_str(), 1);
  using platform::Hive;
  using platform::Registry;
  ASSERT_TRUE(Registry::SetString(Hive::CurrentUser, "Software\\Zentrel\\VARNOW", "Old", "1"));
  const std::string file = Registry::HiveFile(Hive::CurrentUser);
  const std::string before = testfaults::ReadWhole(file);
  const std::string counts = testfaults::CheckWholeFileWrite<platform::FileSystem>(
      platform::SystemFiles(), Install, file.substr(0, file.rfind('/')),
      [&] { testfaults::WriteWhole(file, before); },
      [&] { return Registry::SetString(Hive::CurrentUser, "Software\\Zentrel\\VARNOW", "New", "2"); },
      [&] {
        if (testfaults::ReadWhole(file) == before) return 0;
        const auto value = Registry::GetValue(Hive::CurrentUser, "Software\\Zentrel\\VARNOW", "New");
        const auto old = Registry::GetValue(Hive::CurrentUser, "Software\\Zentrel\\VARNOW", "Old");
        return value && old ? 1 : -1;
      });
  std::printf("[ faults ] registry value: %s\n", counts.c_str());
}

}  // namespace
