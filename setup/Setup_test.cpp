#include "setup/Setup.h"

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
    return CSetup(context, m_prompts, m_starter, m_menu).Run();
  }
  int Install() { return Run(SetupMode::kInstall, m_media); }
  int Uninstall() { return Run(SetupMode::kUninstall, m_app); }

  platform::test::CTempFolder m_root{"setuprun"};
  std::string m_media = m_root.Path() + "/media";
  std::string m_app = m_root.Path() + "/My Tool";
  std::string m_marker = m_root.Path() + "/marker";
  CScriptedPrompts m_prompts;
  CRecordingStarter m_starter;
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

}  // namespace
