// A scan started from the window (its progress display, the walk on other threads) and the same
// scan from the command line write the same records.
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QLineEdit>
#include <QTimer>
#include <QToolButton>

#include <cstring>
#include <map>
#include <vector>

#include "varnow/settings/Settings.h"
#include "varnow/store/DataFile.h"
#include "varnow/testsupport/TestHome.h"
#include "varnow/testsupport/WindowTestSupport.h"
#include "varnow/ui/QtPrompts.h"
#include "varnow/ui/ScanProgressDialog.h"
#include "varnow/ui/VarnowDlg.h"
#include "varnow/ui/VarnowWindow.h"

extern char** environ;

namespace varnow {
namespace {

// Every record saved below top, encoded; the scan time and the free space (which other
// processes change between two scans) are set to zero first.
std::map<std::string, std::vector<std::uint8_t>> SavedRecords(const std::string& folder, const std::string& top) {
  std::map<std::string, std::vector<std::uint8_t>> records;
  CDataFile file(folder);
  file.ReadTree(top, [&](const CDirData& saved) {
    CDirData record = saved;
    record.m_times = {};
    if (CDirInfo* free = record.FindEntry(kTotalFree)) free->sizes[0] = 0;
    records[record.m_currentScanDir] = EncodeRecord(record);
  });
  return records;
}

// The program without a display, as the scheduler starts it.
int RunUnattended(const std::vector<std::string>& arguments) {
  std::vector<std::string> command{std::string(std::getenv("VARNOW_BIN_DIR")) + "/varnow"};
  command.insert(command.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& argument : command) argv.push_back(argument.data());
  argv.push_back(nullptr);
  std::vector<char*> env;
  for (char** variable = environ; *variable; ++variable)
    if (std::strncmp(*variable, "DISPLAY=", 8) != 0 && std::strncmp(*variable, "WAYLAND_DISPLAY=", 16) != 0 &&
        std::strncmp(*variable, "QT_QPA_PLATFORM=", 16) != 0)
      env.push_back(*variable);
  env.push_back(nullptr);
  pid_t pid = 0;
  if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), env.data()) != 0) return -1;
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(ScanPathsTest, WindowAndCommandLineSaveTheSameRecords) {
  test::CTestHome home;
  const std::string tree = home.MakeFolder("tree");
  for (int i = 0; i < 60; ++i) {
    const std::string sub = tree + "d" + std::to_string(i % 5) + "/e" + std::to_string(i % 7) + "/";
    std::filesystem::create_directories(sub);
    test::WriteWholeFile(sub + "f" + std::to_string(i), std::string(100 * i + 1, 'x'));
  }
  ASSERT_EQ(::link((tree + "d0/e0/f0").c_str(), (tree + "d1/linked").c_str()), 0);  // counted once
  std::filesystem::create_directories(tree + "empty");
  ASSERT_TRUE(WriteProfileInt(kSettingsSection, "PreferredClusterSetting", 1));

  const std::string unattended = home.MakeFolder("unattended data");
  ASSERT_TRUE(WriteProfileString(kSettingsSection, "DataDirectory", unattended));
  ASSERT_EQ(RunUnattended({"/SCAN", "/SAVESUBDIRS", "/DIR=" + tree}), 0);

  const std::string fromWindow = home.MakeFolder("window data");
  ASSERT_TRUE(WriteProfileString(kSettingsSection, "DataDirectory", fromWindow));
  bool progressShown = false;
  {
    CQtPrompts prompts;
    CVarnowDlg dlg(prompts);
    dlg.SetAutoSave(1);
    dlg.SetSubDirSave(1);
    CVarnowWindow window(dlg, prompts);
    window.OnInitDialog();
    window.show();
    window.DirectoryField()->setText(QString::fromStdString(tree));
    QTimer::singleShot(0, [&] { progressShown = qobject_cast<CScanProgressDialog*>(QApplication::activeModalWidget()); });
    window.CommandButton(CVarnowWindow::kScan)->click();
    dlg.Session().SaveOutData();
  }
  EXPECT_TRUE(progressShown);

  const auto expected = SavedRecords(unattended, tree);
  EXPECT_EQ(expected.size(), 1u + 5 + 5 * 7 + 1);  // every directory, the top included
  EXPECT_EQ(SavedRecords(fromWindow, tree), expected);
}

}  // namespace
}  // namespace varnow

int main(int argc, char** argv) { return varnow::test::RunOffscreenTests(argc, argv); }
