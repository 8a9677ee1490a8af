// For tests of the windows: an owner that only names a data folder, a watch that acts on the
// modal window once it is shown, and a main() body for offscreen test programs.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QTimer>

#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <utility>

#include "varnow/scan/Prompts.h"
#include "varnow/scan/ScanOwner.h"

namespace varnow::test {

// An owner that only names a data folder; nothing else is asked of it or of its prompts here.
class CFolderOwner : public IScanOwner, public IPrompts {
 public:
  explicit CFolderOwner(std::string folder) : m_folder(std::move(folder)) {}
  ClusterMode PreferredClusterSetting() const override { return ClusterMode::kIgnore; }
  std::string DataDirectory() const { return m_folder; }
  int AutoSave() const override { return 0; }
  int SubDirSave() const override { return 0; }
  bool AskScanMissingDirectory() override { return false; }
  void AskClusterSize(const std::string&) override {}
  std::unique_ptr<CScanProgress> CreateScanProgress() override { return nullptr; }
  void ShowMessage(const std::string& text, const std::string&) override { ADD_FAILURE() << text; }
  void ShowAlert(const CAlertNotice& alert) override { ADD_FAILURE() << alert.message; }
  void RefreshView() override {}

 private:
  std::string m_folder;
};

// Calls action with the active modal window (or nullptr) once the event loop next runs, that is
// inside the exec() under test. Goes with its scope: when nothing ran an event loop, it never fires.
class CModalWatch {
 public:
  explicit CModalWatch(std::function<void(QWidget*)> action) {
    m_timer.setSingleShot(true);
    QObject::connect(&m_timer, &QTimer::timeout,
                     [action = std::move(action)] { action(QApplication::activeModalWidget()); });
    m_timer.start(0);
  }

 private:
  QTimer m_timer;
};

// The whole of main() for a test program that shows windows, offscreen.
inline int RunOffscreenTests(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}

}  // namespace varnow::test
