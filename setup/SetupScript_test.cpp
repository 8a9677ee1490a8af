#include "setup/SetupScript.h"

#include "setup/CommandLine.h"

#include "platform/testtempfolder.h"

#include <gtest/gtest.h>

#include <fstream>

namespace {

using setup::CFileEntry;
using setup::SetupMode;

class SetupScriptTest : public ::testing::Test {
 protected:
  void Write(const std::string& text) { std::ofstream(m_script, std::ios::binary | std::ios::trunc) << text; }
  platform::CProfileSnapshot Script() const { return platform::CProfileSnapshot::Read(m_script); }
  std::vector<CFileEntry> Read(SetupMode mode = SetupMode::kInstall, bool uninstall = false) {
    return setup::ReadFileList(Script(), "/media", "setup", mode, uninstall);
  }

  platform::test::CTempFolder m_folder{"setupscript"};
  std::string m_script = m_folder.Path() + "/SETUP.INI";
};

TEST_F(SetupScriptTest, ListStopsAtTheFirstMissingNumberAndFieldsFollowTheirRules) {
  Write("[FileList]\nFile1=prog,APP/prog\nFile2=lib.so,,SYS/lib.so,,reg\nFile4=never,APP/never\n");
  std::vector<CFileEntry> entries = Read();
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].source, "/media/prog");
  EXPECT_EQ(entries[0].destination, "APP/prog");
  EXPECT_FALSE(entries[0].registerFlag);
  EXPECT_FALSE(entries[0].iconFlag);
  EXPECT_EQ(entries[1].destination, "SYS/lib.so") << "a run of commas is one separator";
  EXPECT_TRUE(entries[1].registerFlag);

  Write("[FileList]\nFile1=help.htm,APP\\doc\\help.htm,NO,icon,Read Me First\nFile2=a,APP/a,REG,NOICON,Title\n"
        "File3=only-source\nFile4=b,APP/b\n");
  entries = Read();
  ASSERT_EQ(entries.size(), 3u) << "an entry without a destination is skipped, the list goes on";
  EXPECT_EQ(entries[0].destination, "APP/doc/help.htm");
  EXPECT_FALSE(entries[0].registerFlag);
  EXPECT_TRUE(entries[0].iconFlag);
  EXPECT_EQ(entries[0].itemTitle, "Read Me First");
  EXPECT_TRUE(entries[1].registerFlag);
  EXPECT_FALSE(entries[1].iconFlag);
  EXPECT_EQ(entries[1].itemTitle, "");
}

TEST_F(SetupScriptTest, UninstallDropsSharedFoldersAndAddsTheSetupEntriesOnce) {
  Write("[FileList]\nFile1=a,APP/a,REG\nFile2=b,sys/b,REG\nFile3=c,Win/c\nFile4=d,/opt/d\n");
  std::vector<CFileEntry> entries = Read(SetupMode::kUninstall, true);
  ASSERT_EQ(entries.size(), 4u);
  EXPECT_EQ(entries[0].destination, "APP/a");
  EXPECT_TRUE(entries[0].registerFlag) << "entries keep their flags in uninstall mode";
  EXPECT_EQ(entries[1].destination, "/opt/d");
  EXPECT_EQ(entries[2].source, "/media/SETUP.INI");
  EXPECT_EQ(entries[2].destination, "APP/SETUP.INI");
  EXPECT_EQ(entries[3].source, "/media/setup");
  EXPECT_EQ(entries[3].destination, "APP/setup");
  EXPECT_EQ(setup::FindSetupEntry(entries, "setup"), 3u);

  Write("[FileList]\nFile1=setup,app/SETUP,NO,ICON,Installer\nFile2=SETUP.INI,APP/setup.ini\n");
  entries = Read(SetupMode::kInstall, true);
  ASSERT_EQ(entries.size(), 2u) << "already listed, compared without regard to case";
  EXPECT_EQ(setup::FindSetupEntry(entries, "setup"), 0u);
  EXPECT_EQ(Read(SetupMode::kInstall, false).size(), 2u);
  Write("[FileList]\n");
  EXPECT_EQ(Read(SetupMode::kInstall, true).size(), 2u) << "an empty list still copies setup and its script";
}

TEST_F(SetupScriptTest, LongListsAreReadWhole) {
  std::string text = "[FileList]\n";
  for (int i = 1; i <= 60; ++i) text += "File" + std::to_string(i) + "=f" + std::to_string(i) + ",APP/f" + std::to_string(i) + "\n";
  Write(text);
  const std::vector<CFileEntry> entries = Read(SetupMode::kInstall, true);
  ASSERT_EQ(entries.size(), 62u);
  EXPECT_EQ(entries[59].destination, "APP/f60");
}

TEST_F(SetupScriptTest, MissingOrDamagedScriptReadsAsDefaults) {
  const auto none = platform::CProfileSnapshot::Read(m_folder.Path() + "/none.ini");
  setup::CSetupSettings settings = setup::ReadSetupSettings(none);
  EXPECT_EQ(settings.title, "Shareware Program");
  EXPECT_EQ(settings.group, "Shareware Program");
  EXPECT_FALSE(settings.uninstall);
  EXPECT_TRUE(setup::ReadFileList(none, "/m", "setup", SetupMode::kInstall, false).empty());

  std::string damaged(100000, '\0');
  for (std::size_t i = 0; i < damaged.size(); ++i) damaged[i] = static_cast<char>(i * 131 % 251);
  Write(damaged + "\n[Settings\nTitle\n=\n[FileList]\nFile1=,,,,\nFile2=" + std::string(70000, 'x'));
  settings = setup::ReadSetupSettings(Script());
  EXPECT_EQ(settings.title, "Shareware Program");
  EXPECT_TRUE(Read().empty());

  Write("[Settings]\nTitle=Tool\nGroup=Tools\nUninstall=YES\nReadMe=README\n[RegCleanup]\nKey1=HKCU\\A\nKey2=HKLM\\B\\C\n");
  settings = setup::ReadSetupSettings(Script());
  EXPECT_EQ(settings.title, "Tool");
  EXPECT_EQ(settings.group, "Tools");
  EXPECT_TRUE(settings.uninstall);
  EXPECT_EQ(settings.readMe, "README");
  EXPECT_EQ(setup::ReadRegCleanup(Script()), (std::vector<std::string>{"HKCU\\A", "HKLM\\B\\C"}));
}

TEST(SetupDirectoryTest, TypedDirectoryIsTrimmedAndMustBeFull) {
  EXPECT_EQ(setup::TrimTypedDirectory(" /tools/ "), "/tools/") << "the slash is checked before the blanks go";
  EXPECT_EQ(setup::TrimTypedDirectory("/tools/"), "/tools");
  EXPECT_EQ(setup::TrimTypedDirectory("/tools//"), "/tools/");
  EXPECT_EQ(setup::ApplicationDirectoryFrom("  ~/Tools ", "/home/ann"), "/home/ann/Tools");
  EXPECT_EQ(setup::ApplicationDirectoryFrom("~", "/home/ann"), "/home/ann");
  EXPECT_EQ(setup::ApplicationDirectoryFrom("Tools", "/home/ann"), "");
  EXPECT_EQ(setup::ApplicationDirectoryFrom("  ", "/home/ann"), "");
  EXPECT_EQ(setup::ApplicationDirectoryFrom("//", "/home/ann"), "");

  std::vector<CFileEntry> entries{{"s", "APP/a", false, false, "", ""}, {"s", "SYS/b", false, false, "", ""},
                                  {"s", "WIN/c/d", false, false, "", ""}, {"s", "app/e", false, false, "", ""}};
  setup::ExpandDestinations(entries, {"/home/ann/Tool", "/home/ann/.local/bin", "/home/ann/.local/share"});
  EXPECT_EQ(entries[0].destination, "/home/ann/Tool/a");
  EXPECT_EQ(entries[1].destination, "/home/ann/.local/bin/b");
  EXPECT_EQ(entries[2].destination, "/home/ann/.local/share/c/d");
  EXPECT_EQ(entries[3].destination, "app/e") << "the prefixes are upper case";
}

TEST(SetupCommandLineTest, UninstallAnywhereButNotInsideTheDirectory) {
  const char* install[] = {"setup", "/dir=/home/ann/UNINSTALLED stuff"};
  setup::CSetupCommandLine line = setup::ParseSetupCommandLine(2, install);
  EXPECT_EQ(line.mode, SetupMode::kInstall);
  EXPECT_EQ(line.directory, "/home/ann/UNINSTALLED stuff") << "the value keeps its case";
  const char* uninstall[] = {"setup", "-Uninstall"};
  line = setup::ParseSetupCommandLine(2, uninstall);
  EXPECT_EQ(line.mode, SetupMode::kUninstall);
  EXPECT_FALSE(line.directory);
}

}  // namespace
