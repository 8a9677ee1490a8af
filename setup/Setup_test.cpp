#include "setup/Setup.h"

#include "setup/CommandLine.h"

#include "platform/registry.h"
#include "platform/testtempfolder.h"
#include "platform/versionrecord.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

namespace fs = std::filesystem;
using namespace setup;

std::string ReadFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

void WriteFile(const std::string& path, const std::string& text, mode_t mode = 0644) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
  ::chmod(path.c_str(), mode);
}

std::string Versioned(const std::string& text, std::uint16_t build) {
  const auto record = platform::MakeVersionRecord(1, 0, 0, build, "Test");
  return text + std::string(reinterpret_cast<const char*>(record.data()), record.size());
}

// Answers given in advance; everything asked or shown is recorded.
class CScriptedPrompts : public ISetupPrompts {
 public:
  std::optional<std::string> directory;
  bool confirm = true;
  std::vector<CopyErrorAnswer> copyAnswers;  // one per question, then Abort
  int cancelAfterFiles = -1;
  std::vector<bool> replaceAnswers;  // for the other questions, one each, then their default

  std::vector<std::string> shown;  // captions and texts of questions and messages
  std::vector<std::string> copied;
  std::string screen;
  std::string opened;

  void ShowScreen(const std::string& caption) override { screen = caption; }
  void CloseScreen() override {}
  std::optional<std::string> AskDirectory(const std::string&, const std::string& proposal) override {
    shown.push_back("proposal " + proposal);
    return directory;
  }
  void ShowCopying(const std::string&, const std::string& destination) override { copied.push_back(destination); }
  bool CopyCancelled() override { return cancelAfterFiles >= 0 && static_cast<int>(copied.size()) >= cancelAfterFiles; }
  void EndCopying() override {}
  CopyErrorAnswer AskCopyError(const std::string& caption, const std::string& text) override {
    shown.push_back(caption + ": " + text);
    if (copyAnswers.empty()) return CopyErrorAnswer::kAbort;
    const CopyErrorAnswer answer = copyAnswers.front();
    copyAnswers.erase(copyAnswers.begin());
    return answer;
  }
  bool AskYesNo(const std::string& caption, const std::string& text, DefaultAnswer defaultAnswer) override {
    shown.push_back(caption + ": " + text);
    if (caption == "Uninstall Confirmation") return confirm;
    const bool answer = replaceAnswers.empty() ? defaultAnswer == DefaultAnswer::kYes : replaceAnswers.front();
    if (!replaceAnswers.empty()) replaceAnswers.erase(replaceAnswers.begin());
    return answer;
  }
  void ShowMessage(const std::string& caption, const std::string& text, MessageIcon) override {
    shown.push_back(caption + ": " + text);
  }
  void OpenDocument(const std::string& path) override { opened = path; }
};

class CFakeScheduler : public ISchedulerCleanup {
 public:
  std::optional<int> tasks = 2;  // nullopt: the scheduler cannot be reached
  std::vector<std::string> asked;
  std::optional<int> DeleteTasksIn(const std::string& folder) override {
    asked.push_back("tasks in " + folder);
    return tasks;
  }
  std::string RemoveInterfaceDescription(const std::string& folder) override {
    asked.push_back("interface for " + folder);
    return "/bus/interface.xml";
  }
};

class CRecordingStarter : public IProgramStarter {
 public:
  bool works = true;
  std::vector<std::string> started;
  bool Start(const std::string& program, const std::vector<std::string>& arguments) override {
    std::string line = program;
    for (const std::string& argument : arguments) line += " " + argument;
    started.push_back(line);
    return works;
  }
};

bool Contains(const std::vector<std::string>& lines, const std::string& part) {
  for (const std::string& line : lines)
    if (line.find(part) != std::string::npos) return true;
  return false;
}

class SetupTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ::setenv("XDG_CONFIG_HOME", (m_root.Path() + "/config").c_str(), 1);
    fs::create_directories(m_media);
    WriteFile(m_media + "/setup", "#!/bin/sh\n", 0755);
    WriteFile(m_media + "/tool", Versioned("tool", 5), 0755);
    WriteFile(m_media + "/HELP.HTM", "<html></html>");
    WriteFile(m_media + "/shared", "shared", 0755);
    WriteFile(m_media + "/tool.reg",
              "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Maker\\Tool\\Server]\r\n\"Path\"=\"tool\"\r\n");
    fs::copy_file(std::getenv("SETUP_TEST_COMPONENT"), m_media + "/component.so");
  }

  void WriteScript(const std::string& fileList) {
    WriteFile(m_media + "/SETUP.INI",
              "[Settings]\nTitle=Tool\nGroup=Tool Group\nUninstall=yes\nReadMe=HELP.HTM\n[FileList]\n" + fileList +
                  "[RegCleanup]\nKey1=HKCU\\Software\\Maker\\Tool\nKey2=HKXX\\Software\\Maker\nKey3=HKCU\\\n");
  }
  void WriteFullScript() {
    WriteScript(
        "File1=tool,APP/bin/tool,REG,ICON,Tool\nFile2=component.so,APP/component.so,REG\n"
        "File3=tool.reg,APP/tool.reg,reg\nFile4=HELP.HTM,APP/HELP.HTM,NO,ICON,Tool Help\nFile5=shared,SYS/shared\n");
  }

  int Run(SetupMode mode, const std::string& setupFolder) {
    CSetupContext context{mode, setupFolder, "setup", m_root.Path() + "/home", m_root.Path() + "/bin",
                          m_root.Path() + "/share"};
    return CSetup(context, m_prompts, m_starter, m_menu, &m_scheduler).Run();
  }
  int Install() { return Run(SetupMode::kInstall, m_media); }
  int Uninstall() { return Run(SetupMode::kUninstall, m_app); }

  platform::test::CTempFolder m_root{"setuprun"};
  std::string m_media = m_root.Path() + "/media";
  std::string m_app = m_root.Path() + "/My Tool";
  std::string m_marker = m_root.Path() + "/marker";
  CScriptedPrompts m_prompts;
  CRecordingStarter m_starter;
  CFakeScheduler m_scheduler;
  platform::CDesktopMenu m_menu{m_root.Path() + "/config", m_root.Path() + "/data"};
};

TEST_F(SetupTest, InstallCopiesRegistersAndMakesTheGroupThenUninstallTakesItBack) {
  ::setenv("SETUP_TEST_MARKER", m_marker.c_str(), 1);
  WriteFullScript();
  m_prompts.directory = "  " + m_app + "/";
  ASSERT_EQ(Install(), 0);
  EXPECT_EQ(m_prompts.screen, "Tool Setup");
  EXPECT_TRUE(Contains(m_prompts.shown, "proposal " + m_root.Path() + "/home/Tool"));
  EXPECT_EQ(ReadFile(m_app + "/bin/tool"), Versioned("tool", 5));
  struct stat info {};
  ASSERT_EQ(::stat((m_app + "/bin/tool").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0755u);
  EXPECT_TRUE(fs::exists(m_root.Path() + "/bin/shared"));
  EXPECT_TRUE(fs::exists(m_app + "/SETUP.INI"));
  EXPECT_TRUE(fs::exists(m_app + "/setup"));

  EXPECT_EQ(m_starter.started, std::vector<std::string>{m_app + "/bin/tool -silent -regserver -regsvr"});
  EXPECT_EQ(ReadFile(m_marker), "DllRegisterServer\n");
  EXPECT_TRUE(platform::Registry::GetValue(platform::Hive::CurrentUser, "Software\\Maker\\Tool\\Server", "Path"));
  EXPECT_EQ(m_prompts.opened, m_app + "/HELP.HTM");

  const std::string item = ReadFile(m_menu.ItemFilePath("Tool Group", "Tool"));
  EXPECT_NE(item.find("Path=" + m_app + "/bin\n"), std::string::npos) << "a folder with a blank stays whole\n" << item;
  EXPECT_TRUE(fs::exists(m_menu.ItemFilePath("Tool Group", "Tool Help")));
  const std::string uninstall = ReadFile(m_menu.ItemFilePath("Tool Group", "Uninstall Tool"));
  EXPECT_NE(uninstall.find("/setup\" UNINSTALL\n"), std::string::npos) << uninstall;

  platform::Registry::SetString(platform::Hive::CurrentUser, "Software\\Maker\\Tool\\Deep\\Deeper", "x", "1");
  platform::Registry::SetString(platform::Hive::CurrentUser, "Software\\Maker\\Other", "y", "2");
  m_starter.started.clear();
  m_prompts.shown.clear();
  ASSERT_EQ(Uninstall(), 0);
  EXPECT_EQ(m_prompts.screen, "Tool Uninstall");
  EXPECT_TRUE(Contains(m_prompts.shown,
                       "Uninstall Confirmation: Tool is about to be removed from your system.  Do you want to continue?"));
  EXPECT_EQ(m_starter.started, std::vector<std::string>{m_app + "/bin/tool -silent -unregserver -unregsvr"});
  EXPECT_EQ(ReadFile(m_marker), "DllRegisterServer\nDllUnregisterServer\n");
  EXPECT_FALSE(platform::Registry::KeyExists(platform::Hive::CurrentUser, "Software\\Maker\\Tool"));
  EXPECT_TRUE(platform::Registry::KeyExists(platform::Hive::CurrentUser, "Software\\Maker\\Other"))
      << "neither an unknown root nor an empty key path removes anything else";
  for (const char* file : {"/bin/tool", "/component.so", "/tool.reg", "/HELP.HTM", "/SETUP.INI", "/setup"})
    EXPECT_FALSE(fs::exists(m_app + file)) << file;
  EXPECT_TRUE(fs::exists(m_app + "/bin")) << "folders stay";
  EXPECT_TRUE(fs::exists(m_root.Path() + "/bin/shared")) << "files in the shared folders stay";
  EXPECT_FALSE(fs::exists(m_menu.MenuFilePath("Tool Group")));
  EXPECT_FALSE(fs::exists(m_menu.ItemFilePath("Tool Group", "Tool")));
  ::unsetenv("SETUP_TEST_MARKER");
}

TEST_F(SetupTest, DecliningOrLeavingStopsWithNothingChanged) {
  WriteFullScript();
  m_prompts.directory = m_app;
  ASSERT_EQ(Install(), 0);
  m_prompts.confirm = false;
  m_starter.started.clear();
  EXPECT_EQ(Uninstall(), 1);
  EXPECT_TRUE(m_starter.started.empty());
  EXPECT_TRUE(fs::exists(m_app + "/bin/tool"));
  EXPECT_TRUE(fs::exists(m_menu.ItemFilePath("Tool Group", "Tool")));

  const std::string other = m_root.Path() + "/Other";
  m_prompts.directory.reset();  // Exit in the directory dialog
  EXPECT_EQ(Install(), 1);
  m_prompts.directory = "relative/folder";
  EXPECT_EQ(Install(), 1);
  EXPECT_TRUE(Contains(m_prompts.shown, "\"relative/folder\" is not a full directory path"));
  WriteFile(other, "a file where a folder should be");
  m_prompts.directory = other;
  EXPECT_EQ(Install(), 1);
  EXPECT_FALSE(Contains(m_prompts.shown, "File Copy Error"));
}

TEST_F(SetupTest, CopyErrorsAreAskedPerFile) {
  WriteScript("File1=tool,APP/tool\nFile2=missing,APP/missing\nFile3=HELP.HTM,APP/HELP.HTM\n");
  m_prompts.directory = m_app;
  m_prompts.copyAnswers = {CopyErrorAnswer::kRetry, CopyErrorAnswer::kIgnore};
  EXPECT_EQ(Install(), 0);
  EXPECT_TRUE(Contains(m_prompts.shown, "File Copy Error: The following file error occurred while trying to copy " +
                                             m_media + "/missing to " + m_app +
                                             "/missing: Failed to read source file.  Would you like to try again"));
  EXPECT_TRUE(fs::exists(m_app + "/HELP.HTM")) << "Ignore goes on with the next file";

  // An older file over a newer one: Retry forces it in; Abort ends setup after the files before.
  WriteFile(m_app + "/tool", Versioned("newer", 6), 0755);
  fs::remove(m_app + "/HELP.HTM");
  m_prompts.shown.clear();
  m_prompts.copyAnswers = {CopyErrorAnswer::kRetry, CopyErrorAnswer::kAbort};
  EXPECT_EQ(Install(), 1);
  EXPECT_TRUE(Contains(m_prompts.shown, ": A newer version of the file is already installed."));
  EXPECT_EQ(ReadFile(m_app + "/tool"), Versioned("tool", 5));
  EXPECT_FALSE(fs::exists(m_app + "/HELP.HTM"));
  EXPECT_TRUE(m_starter.started.empty());
}

TEST_F(SetupTest, CancelStopsCopyingButNotTheRun) {
  WriteScript("File1=tool,APP/tool,REG\nFile2=HELP.HTM,APP/HELP.HTM\n");
  m_prompts.directory = m_app;
  m_prompts.cancelAfterFiles = 1;
  EXPECT_EQ(Install(), 0);
  EXPECT_TRUE(fs::exists(m_app + "/tool"));
  EXPECT_FALSE(fs::exists(m_app + "/HELP.HTM"));
  EXPECT_EQ(m_starter.started.size(), 1u) << "registration follows the copy";
}

TEST_F(SetupTest, RegistrationProblemsAreReportedAndSetupGoesOn) {
  fs::copy_file(std::getenv("SETUP_TEST_NOENTRY"), m_media + "/noentry.so");
  WriteFile(m_media + "/broken.so", "not a library");
  WriteScript("File1=noentry.so,APP/noentry.so,REG\nFile2=broken.so,APP/broken.so,REG\nFile3=tool,APP/tool,REG\n"
              "File4=HELP.HTM,APP/HELP.HTM,REG\n");
  m_prompts.directory = m_app;
  m_starter.works = false;
  EXPECT_EQ(Install(), 0);
  EXPECT_TRUE(Contains(m_prompts.shown, "Component Registration Error: Unable to find the DllRegisterServer entry "
                                        "point in the " + m_app + "/noentry.so component."));
  EXPECT_TRUE(Contains(m_prompts.shown, "Component Registration Error: Unable to load " + m_app +
                                            "/broken.so to register it."));
  EXPECT_TRUE(Contains(m_prompts.shown, "Unable to load " + m_app + "/HELP.HTM to register it."))
      << "a file that is neither a program nor a registry file is taken for a library";
  EXPECT_TRUE(Contains(m_prompts.shown, "Component Registration Error: Failed to execute " + m_app +
                                            "/tool -silent -regserver -regsvr, which is needed"));
}

// A script line that would put a file anywhere but the three folders stops setup, before any
// folder is made or file copied, and names the line; the uninstall refuses it the same way.
TEST_F(SetupTest, DestinationsOutsideTheInstallFoldersAreRefused) {
  const std::string outside = m_root.Path() + "/outside";
  fs::create_directories(outside);
  WriteFile(outside + "/victim.txt", "the user's");
  fs::create_directories(m_app);
  fs::create_directory_symlink(outside, m_app + "/link");
  const std::string lines[] = {"File2=HELP.HTM,APP/../outside/victim.txt", "File2=HELP.HTM," + outside + "/victim.txt",
                               "File2=HELP.HTM,app/victim.txt", "File2=HELP.HTM,APP/link/victim.txt",
                               "File2=HELP.HTM,APPS/victim.txt", "File2=HELP.HTM,SYS/../../outside/victim.txt"};
  for (const std::string& line : lines) {
    WriteScript("File1=tool,APP/new/tool\n" + line + "\n");
    m_prompts.directory = m_app;
    m_prompts.shown.clear();
    EXPECT_EQ(Install(), 1) << line;
    EXPECT_TRUE(Contains(m_prompts.shown, "its line\n\n" + line + "\n\nputs a file outside the folders")) << line;
    EXPECT_EQ(ReadFile(outside + "/victim.txt"), "the user's") << line;
    EXPECT_FALSE(fs::exists(m_app + "/new")) << "nothing is made before the whole list is checked: " << line;
    EXPECT_FALSE(fs::exists(m_root.Path() + "/app")) << line;
  }
  // Inside after all: ".." that stays within the folder is fine.
  WriteScript("File1=tool,APP/new/../tool\n");
  EXPECT_EQ(Install(), 0);
  EXPECT_TRUE(fs::exists(m_app + "/tool"));

  // An installed script changed afterwards: the uninstall deletes nothing outside either.
  WriteFile(m_app + "/setup", "#!/bin/sh\n", 0755);
  WriteFile(m_app + "/SETUP.INI", "[Settings]\nTitle=Tool\n[FileList]\nFile1=tool,APP/tool\nFile2=x,APP/../outside/victim.txt\n");
  EXPECT_EQ(Uninstall(), 1);
  EXPECT_EQ(ReadFile(outside + "/victim.txt"), "the user's");
  EXPECT_TRUE(fs::exists(m_app + "/tool"));
}

// A file of an installed name that no install wrote is the user's: asked about (default: keep),
// and the uninstall removes only what the install wrote.
TEST_F(SetupTest, UserFilesAreAskedAboutAndOnlyInstalledFilesAreRemoved) {
  WriteScript("File1=tool,APP/tool,NO,ICON,Tool\nFile2=HELP.HTM,APP/HELP.HTM\nFile3=shared,APP/shared\n");
  fs::create_directories(m_app);
  WriteFile(m_app + "/HELP.HTM", "my own notes");
  WriteFile(m_app + "/shared", "mine too");
  WriteFile(m_app + "/tool", Versioned("older tool", 3), 0755);  // an older copy of the program
  m_prompts.directory = m_app;
  m_prompts.replaceAnswers = {false, true};  // keep HELP.HTM, replace shared
  ASSERT_EQ(Install(), 0);
  EXPECT_TRUE(Contains(m_prompts.shown, m_app + "/HELP.HTM already exists, and Tool setup did not install it."));
  EXPECT_FALSE(Contains(m_prompts.shown, m_app + "/tool already exists")) << "a copy of the same program is ours";
  EXPECT_EQ(ReadFile(m_app + "/HELP.HTM"), "my own notes");
  EXPECT_EQ(ReadFile(m_app + "/shared"), "shared");
  EXPECT_EQ(ReadFile(m_app + "/tool"), Versioned("tool", 5));
  EXPECT_TRUE(Contains(m_prompts.shown, "Your own files were kept as they were: " + m_app + "/HELP.HTM."));

  // Again: what the first install wrote is replaced without a question, the kept file is asked
  // about again, and its default keeps it.
  m_prompts.shown.clear();
  ASSERT_EQ(Install(), 0);
  EXPECT_FALSE(Contains(m_prompts.shown, "/shared already exists"));
  EXPECT_TRUE(Contains(m_prompts.shown, "/HELP.HTM already exists"));
  EXPECT_EQ(ReadFile(m_app + "/HELP.HTM"), "my own notes");

  WriteFile(m_app + "/later.txt", "made after the install");
  m_prompts.shown.clear();
  ASSERT_EQ(Uninstall(), 0);
  EXPECT_EQ(ReadFile(m_app + "/HELP.HTM"), "my own notes");
  EXPECT_TRUE(fs::exists(m_app + "/later.txt"));
  for (const char* file : {"/tool", "/shared", "/setup", "/SETUP.INI", "/SETUP.LST"})
    EXPECT_FALSE(fs::exists(m_app + file)) << file;
  EXPECT_TRUE(Contains(m_prompts.shown, "what setup did not install: HELP.HTM, later.txt")) << m_prompts.shown.back();
}

TEST_F(SetupTest, ScriptWithoutFileListIsAMessageAndExitStatusOne) {
  const std::string scripts[] = {"", "[Settings]\nTitle=Tool\n[FileList]\nFile1=too", std::string("\x7f" "ELF\0\x02\x01", 7),
                                 "Title=Tool\nFile1=tool,APP/tool\n", "[FileList]\nFile2=tool,APP/tool\n"};
  for (const std::string& script : scripts) {
    WriteFile(m_media + "/SETUP.INI", script);
    m_prompts.directory = m_app;
    m_prompts.shown.clear();
    EXPECT_EQ(Install(), 1);
    EXPECT_TRUE(Contains(m_prompts.shown, "The setup script " + m_media + "/SETUP.INI has no file list")) << script;
    EXPECT_FALSE(fs::exists(m_app));
  }
  fs::remove(m_media + "/SETUP.INI");
  EXPECT_EQ(Install(), 1);
  EXPECT_TRUE(Contains(m_prompts.shown, "SETUP.INI cannot be read and has no file list"));
}

// A folder with quotes, commas and parentheses: the items start the installed programs and
// carry the right names.
TEST_F(SetupTest, MenuItemsOfAFolderWithQuotesStartWhatWasInstalled) {
  m_app = m_root.Path() + "/My \"Tool\", (new)";
  WriteFullScript();
  m_prompts.directory = m_app;
  ASSERT_EQ(Install(), 0);
  const std::string uninstall = ReadFile(m_menu.ItemFilePath("Tool Group", "Uninstall Tool"));
  EXPECT_NE(uninstall.find("\nName=Uninstall Tool\n"), std::string::npos) << uninstall;
  // The launcher reads \\" as \" and that as a quote inside the quoted argument.
  EXPECT_NE(uninstall.find("\nExec=\"" + m_root.Path() + "/My \\\\\"Tool\\\\\", (new)/setup\" UNINSTALL\n"), std::string::npos)
      << uninstall;
  const std::string tool = ReadFile(m_menu.ItemFilePath("Tool Group", "Tool"));
  EXPECT_NE(tool.find("\nPath=" + m_app + "/bin\n"), std::string::npos) << tool;
}

// Where it went, how to start it; the icon and categories in the items; and the uninstall says
// what it kept, the tracker's scheduled tasks gone through the scheduler.
TEST_F(SetupTest, InstallAndUninstallSayWhatTheyDidAndItemsCarryIconAndCategories) {
  WriteFile(m_media + "/tool.svg", "<svg/>");
  WriteFile(m_media + "/SETUP.INI",
            "[Settings]\nTitle=Tool\nGroup=Tool Group\nUninstall=yes\nCategories=System;Utility\n"
            "DataFile=WIN/tool/DATA.DB\n[FileList]\nFile1=tool,APP/bin/tool,NO,ICON,Tool\n"
            "File2=tool.svg,APP/bin/tool.svg\nFile3=shared,SYS/shared\n");
  m_prompts.directory = m_app;
  ASSERT_EQ(Install(), 0);
  ASSERT_FALSE(m_prompts.shown.empty());
  const std::string& done = m_prompts.shown.back();
  EXPECT_NE(done.find("Tool Setup: Tool is installed in " + m_app + "."), std::string::npos) << done;
  EXPECT_NE(done.find("Also installed: " + m_root.Path() + "/bin/shared."), std::string::npos) << done;
  EXPECT_NE(done.find("(Tool Group > Tool) or with\n" + m_app + "/bin/tool"), std::string::npos) << done;
  EXPECT_NE(done.find(m_app + "/setup UNINSTALL"), std::string::npos) << done;
  const std::string item = ReadFile(m_menu.ItemFilePath("Tool Group", "Tool"));
  EXPECT_NE(item.find("\nIcon=" + m_app + "/bin/tool.svg\n"), std::string::npos) << item;
  EXPECT_NE(item.find("\nCategories=System;Utility;X-tool-group;\n"), std::string::npos) << item;
  EXPECT_NE(ReadFile(m_menu.ItemFilePath("Tool Group", "Uninstall Tool")).find("\nIcon=" + m_app + "/bin/tool.svg\n"),
            std::string::npos);

  fs::create_directories(m_root.Path() + "/share/tool");
  WriteFile(m_root.Path() + "/share/tool/DATA.DB", "scans");
  m_prompts.shown.clear();
  ASSERT_EQ(Uninstall(), 0);
  EXPECT_EQ(m_scheduler.asked, (std::vector<std::string>{"tasks in " + m_app, "interface for " + m_app}));
  const std::string& gone = m_prompts.shown.back();
  EXPECT_NE(gone.find("Tool Uninstall: Tool was removed from " + m_app +
                      ": 4 files, its menu entries and the scheduler's interface description /bus/interface.xml."),
            std::string::npos) << gone;
  EXPECT_NE(gone.find("Kept: your data file " + m_root.Path() + "/share/tool/DATA.DB; " + m_root.Path() +
                      "/bin/shared (a shared folder)."), std::string::npos) << gone;
  EXPECT_NE(gone.find("2 scheduled alerts were removed."), std::string::npos) << gone;
  EXPECT_EQ(ReadFile(m_root.Path() + "/share/tool/DATA.DB"), "scans");
}

// A second install into another folder makes its own group; uninstalling either leaves the
// other's entries, and the uninstall of the first says nothing of scheduled tasks it could not
// reach but what it could.
TEST_F(SetupTest, SecondInstallElsewhereGetsItsOwnEntries) {
  WriteFullScript();
  m_prompts.directory = m_app;
  ASSERT_EQ(Install(), 0);
  const std::string second = m_root.Path() + "/home/Second";
  m_prompts.directory = second;
  ASSERT_EQ(Install(), 0);
  const std::string group = "Tool Group (~/Second)";
  EXPECT_TRUE(Contains(m_prompts.shown, "keeps its own menu entries; this copy's are in \"" + group + "\"."));
  const std::string firstItem = ReadFile(m_menu.ItemFilePath("Tool Group", "Tool"));
  EXPECT_NE(firstItem.find("Exec=\"" + m_app + "/bin/tool\""), std::string::npos) << "the first copy's item stays";
  const std::string secondItem = ReadFile(m_menu.ItemFilePath(group, "Tool (~/Second)"));
  EXPECT_NE(secondItem.find("Exec=" + second + "/bin/tool\n"), std::string::npos) << secondItem;

  m_scheduler.tasks.reset();
  m_prompts.shown.clear();
  ASSERT_EQ(Uninstall(), 0);  // the first
  EXPECT_TRUE(Contains(m_prompts.shown, "The scheduler could not be reached"));
  EXPECT_FALSE(fs::exists(m_menu.ItemFilePath("Tool Group", "Tool")));
  EXPECT_TRUE(fs::exists(m_menu.ItemFilePath(group, "Tool (~/Second)")));
  EXPECT_TRUE(fs::exists(m_menu.MenuFilePath(group)));

  // A reinstall of the second keeps its group; its uninstall removes it.
  m_prompts.shown.clear();
  ASSERT_EQ(Install(), 0);
  EXPECT_FALSE(Contains(m_prompts.shown, "keeps its own menu entries"));
  ASSERT_EQ(Run(SetupMode::kUninstall, second), 0);
  EXPECT_FALSE(fs::exists(m_menu.ItemFilePath(group, "Tool (~/Second)")));
  EXPECT_FALSE(fs::exists(m_menu.MenuFilePath(group)));
}

TEST(SetupUsageTest, HelpAndUnknownArgumentsAskForTheUsage) {
  const char* help[] = {"setup", "--help"};
  EXPECT_EQ(ParseSetupCommandLine(2, help).action, SetupAction::kUsage);
  const char* shortHelp[] = {"setup", "/DIR=/tmp/x", "-h"};
  EXPECT_EQ(ParseSetupCommandLine(3, shortHelp).action, SetupAction::kUsage);
  const char* unknown[] = {"setup", "--prefix=/opt", "UNINSTALL"};
  const CSetupCommandLine line = ParseSetupCommandLine(3, unknown);
  EXPECT_EQ(line.action, SetupAction::kBadArgument);
  EXPECT_EQ(line.badArgument, "--prefix=/opt");
  const char* fine[] = {"setup", "/dir=/tmp/x"};
  EXPECT_EQ(ParseSetupCommandLine(2, fine).action, SetupAction::kRun);
  EXPECT_NE(SetupUsage().find("--help"), std::string::npos);
}

}  // namespace
