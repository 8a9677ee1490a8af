#include "platform/desktop.h"

#include "platform/testtempfolder.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

namespace fs = std::filesystem;

std::string ReadFile(const std::string& path) {
  std::ifstream file(path);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

// desktop-file-validate's verdict and complaints; hints do not fail a file.
::testing::AssertionResult Validates(const std::string& path) {
  const std::string command = "desktop-file-validate '" + path + "' 2>&1";
  FILE* pipe = ::popen(command.c_str(), "r");
  if (!pipe) return ::testing::AssertionFailure() << "cannot run desktop-file-validate";
  std::string output;
  char buffer[512];
  while (std::fgets(buffer, sizeof buffer, pipe)) output += buffer;
  const int status = ::pclose(pipe);
  if (status == 0 && output.find("error:") == std::string::npos) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << path << ":\n" << output;
}

class DesktopMenuTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(m_app);
    for (const char* program : {"/tracker", "/setup"}) {
      std::ofstream(m_app + program) << "#!/bin/sh\n";
      ::chmod((m_app + program).c_str(), 0755);
    }
    std::ofstream(m_app + "/HELP.HTM") << "<html></html>";
  }
  // The pair of commands the installer sends for one item.
  bool AddPair(const std::string& title, const std::string& path, const std::string& argument = "") {
    const std::string dir = path.substr(0, path.rfind('/'));
    return m_menu.Execute("[CreateGroup(Tracker Tools)][ShowGroup(Tracker Tools,1)][ReplaceItem(" + title + ")]") &&
           m_menu.Execute("[CreateGroup(Tracker Tools)][ShowGroup(Tracker Tools,1)][AddItem(\"" + path + "\" " +
                          argument + ",\"" + title + "\",\"\",0,,,\"" + dir + "\",,0)]");
  }

  platform::test::CTempFolder m_root{"desktop"};
  std::string m_config = m_root.Path() + "/config";
  std::string m_data = m_root.Path() + "/data";
  std::string m_app = m_root.Path() + "/My Apps/100% $tool";
  platform::CDesktopMenu m_menu{m_config, m_data};
};

TEST_F(DesktopMenuTest, GroupBecomesSubmenuWithOneEntryPerItem) {
  ASSERT_TRUE(AddPair("Tracker", m_app + "/tracker"));
  ASSERT_TRUE(AddPair("Tracker Help", m_app + "/HELP.HTM"));
  ASSERT_TRUE(AddPair("Uninstall Tracker", m_app + "/setup", "UNINSTALL"));

  const std::string menu = ReadFile(m_config + "/menus/applications-merged/tracker-tools.menu");
  EXPECT_NE(menu.find("<Name>Applications</Name>"), std::string::npos);
  EXPECT_NE(menu.find("<Name>Tracker Tools</Name>"), std::string::npos);
  EXPECT_NE(menu.find("<Directory>tracker-tools.directory</Directory>"), std::string::npos);
  EXPECT_NE(menu.find("<Category>X-tracker-tools</Category>"), std::string::npos);

  const std::string tracker = ReadFile(m_menu.ItemFilePath("Tracker Tools", "Tracker"));
  EXPECT_NE(tracker.find("\nName=Tracker\n"), std::string::npos);
  // Quoted for the launcher (\" \$), percent doubled, then every backslash escaped once more.
  EXPECT_NE(tracker.find("\nExec=\"" + m_root.Path() + "/My Apps/100%% \\\\$tool/tracker\"\n"), std::string::npos)
      << tracker;
  EXPECT_NE(tracker.find("\nPath=" + m_app + "\n"), std::string::npos);
  EXPECT_NE(tracker.find("\nCategories=X-tracker-tools;\n"), std::string::npos);

  const std::string help = ReadFile(m_menu.ItemFilePath("Tracker Tools", "Tracker Help"));
  EXPECT_NE(help.find("\nExec=xdg-open \""), std::string::npos) << "a document opens in its viewer";
  EXPECT_NE(help.find("\nIcon=text-html\n"), std::string::npos);
  const std::string uninstall = ReadFile(m_data + "/applications/tracker-tools-uninstall-tracker.desktop");
  EXPECT_NE(uninstall.find("/setup\" UNINSTALL\n"), std::string::npos) << uninstall;

  for (const std::string& file : {m_menu.DirectoryFilePath("Tracker Tools"), m_menu.ItemFilePath("Tracker Tools", "Tracker"),
                                  m_menu.ItemFilePath("Tracker Tools", "Tracker Help"),
                                  m_menu.ItemFilePath("Tracker Tools", "Uninstall Tracker")})
    EXPECT_TRUE(Validates(file));
}

TEST_F(DesktopMenuTest, ReplaceItemDropsTheOldEntryAndDeleteGroupOnlyTheGroupsOwn) {
  ASSERT_TRUE(AddPair("Tracker", m_app + "/setup"));
  ASSERT_TRUE(AddPair("Tracker", m_app + "/tracker"));
  EXPECT_NE(ReadFile(m_menu.ItemFilePath("Tracker Tools", "Tracker")).find("/tracker\"\n"), std::string::npos);
  EXPECT_TRUE(m_menu.Execute("[ReplaceItem(Tracker)]"));
  EXPECT_FALSE(fs::exists(m_menu.ItemFilePath("Tracker Tools", "Tracker")));

  ASSERT_TRUE(AddPair("Tracker", m_app + "/tracker"));
  const std::string stranger = m_data + "/applications/tracker-tools-other.desktop";
  std::ofstream(stranger) << "[Desktop Entry]\nType=Application\nName=Other\nExec=other\n";
  EXPECT_TRUE(m_menu.Execute("[DeleteGroup(Tracker Tools)]"));
  EXPECT_FALSE(fs::exists(m_menu.ItemFilePath("Tracker Tools", "Tracker")));
  EXPECT_FALSE(fs::exists(m_menu.MenuFilePath("Tracker Tools")));
  EXPECT_FALSE(fs::exists(m_menu.DirectoryFilePath("Tracker Tools")));
  EXPECT_TRUE(fs::exists(stranger)) << "an entry that is not the group's own stays";
  EXPECT_TRUE(m_menu.Execute("[DeleteGroup(Tracker Tools)]")) << "deleting a missing group is no error";
}

TEST_F(DesktopMenuTest, MalformedOrUnknownCommandsStopTheText) {
  platform::CDesktopMenu fresh(m_config, m_data);
  EXPECT_FALSE(fresh.Execute("[AddItem(\"" + m_app + "/tracker\",Tracker)]")) << "no group chosen yet";
  EXPECT_FALSE(fresh.Execute("[ShowGroup(Nowhere,1)]"));
  EXPECT_FALSE(fresh.Execute("[CreateGroup(A)"));
  EXPECT_FALSE(fresh.Execute("CreateGroup(A)"));
  EXPECT_FALSE(fresh.Execute("[CreateGroup(A)][Reboot][CreateGroup(B)]"));
  EXPECT_TRUE(fs::exists(fresh.MenuFilePath("A")));
  EXPECT_FALSE(fs::exists(fresh.MenuFilePath("B"))) << "commands after a failed one are not applied";
  // A title with a comma and a parenthesis inside quotes is one argument.
  EXPECT_TRUE(fresh.Execute("[ShowGroup(A,1)][AddItem(\"" + m_app + "/tracker\",\"Scan (all, fast)\")]"));
  EXPECT_NE(ReadFile(fresh.ItemFilePath("A", "Scan (all, fast)")).find("\nName=Scan (all, fast)\n"), std::string::npos);
}

// Every field quoted with the one quoting function reads back exactly: quotes, commas,
// parentheses, brackets and blanks at the ends included, and the entry validates.
TEST_F(DesktopMenuTest, QuotedArgumentsReadBackExactly) {
  using platform::QuoteMenuArgument;
  const std::string folder = m_root.Path() + "/a \"b\", (c) [d] \"\"\"";
  fs::create_directories(folder);
  std::ofstream(folder + "/tool") << "#!/bin/sh\n";
  ::chmod((folder + "/tool").c_str(), 0755);
  const std::string group = QuoteMenuArgument(" Group \"1\", (x)");
  const std::string title = "Tool \"quoted\", (x)";
  ASSERT_TRUE(m_menu.Execute("[CreateGroup(" + group + ")][ShowGroup(" + group + ",1)][AddItem(" +
                             QuoteMenuArgument(folder + "/tool") + " " + QuoteMenuArgument("an \"argument\"") + "," +
                             QuoteMenuArgument(title) + "," + QuoteMenuArgument("") + ",0,,," +
                             QuoteMenuArgument(folder) + ",,0)]"));
  const std::string path = m_menu.ItemFilePath(" Group \"1\", (x)", title);
  const std::string entry = ReadFile(path);
  EXPECT_NE(entry.find("\nName=" + title + "\n"), std::string::npos) << entry;
  EXPECT_NE(entry.find("\nPath=" + folder + "\n"), std::string::npos) << entry;
  EXPECT_NE(entry.find("\nExec=" + platform::DesktopExecValue({folder + "/tool", "an \"argument\""}) + "\n"),
            std::string::npos) << entry;
  EXPECT_NE(entry.find("\nX-Setup-Group=\\sGroup \"1\", (x)\n"), std::string::npos) << entry;
  EXPECT_TRUE(Validates(path));
  EXPECT_EQ(platform::DesktopExecValue({"/opt/plain/tool", "a b", "50%"}), "/opt/plain/tool \"a b\" 50%%");
  EXPECT_EQ(platform::DesktopExecValue({"/x/\"q\"/t"}), "\"/x/\\\\\"q\\\\\"/t\"");
}

// The Exec value is quoted twice: the launcher's quoting of an argument (a reserved character
// puts it in double quotes, with ", `, $ and \ escaped there), then the escapes of a string
// value (\ doubled); % is doubled for the field codes. An empty argument stays one.
TEST(DesktopExecValue, QuotesEachArgumentAsTheLauncherReadsIt) {
  using platform::DesktopExecValue;
  EXPECT_EQ(DesktopExecValue({"/bin/tool", "C:\\dir"}), "/bin/tool \"C:\\\\\\\\dir\"") << "a backslash, four times";
  EXPECT_EQ(DesktopExecValue({"/bin/tool", "$HOME", "`id`"}), "/bin/tool \"\\\\$HOME\" \"\\\\`id\\\\`\"");
  EXPECT_EQ(DesktopExecValue({"/bin/tool", "%f", "100% sure"}), "/bin/tool %%f \"100%% sure\"");
  EXPECT_EQ(DesktopExecValue({"/bin/tool", ""}), "/bin/tool \"\"");
  EXPECT_EQ(DesktopExecValue({"/bin/tool", "tab\there", "it's"}), "/bin/tool \"tab\\there\" \"it's\"");
  EXPECT_EQ(DesktopExecValue({"/bin/plain-tool_1.2", "a=b,c"}), "/bin/plain-tool_1.2 a=b,c") << "nothing to quote";
}

// Entries stamped with an owner are left alone by a menu that acts for another owner.
TEST_F(DesktopMenuTest, AnotherOwnersEntriesStay) {
  platform::CDesktopMenu first(m_config, m_data), second(m_config, m_data);
  first.SetOwner("/home/ann/First");
  second.SetOwner("/home/ann/Second");
  first.SetItemCategories("System;Utility;");
  ASSERT_TRUE(first.Execute("[CreateGroup(Tools)][AddItem(\"" + m_app + "/tracker\",Tracker)]"));
  EXPECT_EQ(first.GroupOwner("Tools"), "/home/ann/First");
  EXPECT_EQ(first.GroupOwner("None"), std::nullopt);
  const std::string item = first.ItemFilePath("Tools", "Tracker");
  EXPECT_NE(ReadFile(item).find("\nCategories=System;Utility;X-tools;\n"), std::string::npos);
  EXPECT_NE(ReadFile(item).find("\nX-Setup-Owner=/home/ann/First\n"), std::string::npos);

  EXPECT_FALSE(second.Execute("[ShowGroup(Tools,1)][ReplaceItem(Tracker)]"));
  EXPECT_FALSE(second.Execute("[ShowGroup(Tools,1)][AddItem(\"" + m_app + "/setup\",Tracker)]"));
  EXPECT_TRUE(second.Execute("[DeleteGroup(Tools)]"));
  EXPECT_TRUE(fs::exists(item));
  EXPECT_NE(ReadFile(item).find("/tracker"), std::string::npos);
  EXPECT_TRUE(fs::exists(first.MenuFilePath("Tools")));
  EXPECT_TRUE(first.Execute("[DeleteGroup(Tools)]"));
  EXPECT_FALSE(fs::exists(item));
  EXPECT_FALSE(fs::exists(first.MenuFilePath("Tools")));
}

}  // namespace
