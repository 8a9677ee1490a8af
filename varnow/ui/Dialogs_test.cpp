// The scan session's dialogs, driven offscreen.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <chrono>
#include <functional>
#include <stdexcept>
#include <thread>

#include "varnow/ui/MissingDirectoryDialog.h"
#include "varnow/ui/ScanProgressDialog.h"
#include "varnow/settings/Settings.h"
#include "varnow/testsupport/TestHome.h"
#include "varnow/testsupport/WindowTestSupport.h"

namespace varnow {
namespace {

QPushButton* Button(QWidget* dialog, const QString& text) {
  for (QPushButton* button : dialog->findChildren<QPushButton*>())
    if (button->text() == text) return button;
  return nullptr;
}

// Runs action on the modal dialog once it is shown.
void WhenShown(std::function<void(CMissingDirectoryDialog*)> action) {
  QTimer::singleShot(0, [action] {
    auto* dialog = qobject_cast<CMissingDirectoryDialog*>(QApplication::activeModalWidget());
    ASSERT_NE(dialog, nullptr);
    action(dialog);
  });
}

int DontAsk() { return GetProfileInt(kSettingsSection, "DontAskNonExistantDir", -1); }

class DialogsTest : public ::testing::Test {
 protected:
  test::CTestHome m_home;
};

TEST_F(DialogsTest, MissingDirectoryTexts) {
  CMissingDirectoryDialog dialog;
  EXPECT_EQ(dialog.windowTitle(), "Directory Doesn't Exist!");
  auto* label = dialog.findChild<QLabel*>();
  ASSERT_NE(label, nullptr);
  EXPECT_EQ(label->text(),
            "The directory you are trying to scan doesn't appear to exist.  Do you want to try and scan it anyway?  "
            "Note: A directory that does not exist scans as empty, and a save keeps it so.");
  ASSERT_NE(Button(&dialog, "&Scan"), nullptr);
  ASSERT_NE(Button(&dialog, "&Don't Scan"), nullptr);
  EXPECT_TRUE(Button(&dialog, "&Scan")->isDefault());
  EXPECT_EQ(dialog.DontAskAgainBox()->text(), "Don't ask again");
  EXPECT_FALSE(dialog.DontAskAgainBox()->isChecked());
}

TEST_F(DialogsTest, MissingDirectoryAnswersAndDontAskAgain) {
  WhenShown([](CMissingDirectoryDialog* dialog) { Button(dialog, "&Scan")->click(); });
  EXPECT_TRUE(CMissingDirectoryDialog::Ask(nullptr));
  EXPECT_EQ(DontAsk(), 0);

  WhenShown([](CMissingDirectoryDialog* dialog) { dialog->reject(); });  // Escape or the close box
  EXPECT_FALSE(CMissingDirectoryDialog::Ask(nullptr));

  WhenShown([](CMissingDirectoryDialog* dialog) {
    dialog->DontAskAgainBox()->setChecked(true);
    Button(dialog, "&Don't Scan")->click();
  });
  EXPECT_FALSE(CMissingDirectoryDialog::Ask(nullptr));
  EXPECT_EQ(DontAsk(), 1);

  // Not asked again: the answer is to scan, and no dialog appears.
  bool shown = false;
  test::CModalWatch watch([&shown](QWidget* dialog) {  // destroyed unfired when nothing was shown
    if (dialog) {
      shown = true;
      dialog->close();
    }
  });
  EXPECT_TRUE(CMissingDirectoryDialog::Ask(nullptr));
  EXPECT_FALSE(shown);
}

TEST_F(DialogsTest, ScanProgressRunsTheWalkElsewhereShowsItsCountersAndCancels) {
  QWidget owner;
  owner.show();
  {
    CScanProgressDialog progress(&owner);
    EXPECT_EQ(progress.windowTitle(), "Varnow Scan Progress");
    EXPECT_TRUE(progress.isVisible());
    EXPECT_EQ(QApplication::activeModalWidget(), &progress);  // the owner takes no input
    EXPECT_TRUE(progress.isEnabled());

    // The walk counts, then has the GUI thread press Cancel and waits until it sees the flag:
    // it ends only if that thread handles its events while the walk runs.
    CScanCounters counters;
    std::thread::id walkThread;
    progress.Run(counters, [&] {
      walkThread = std::this_thread::get_id();
      counters.topSubdirectories = 3;
      counters.topStarted = 2;
      counters.directories = 12;
      counters.files = 3456789;
      QMetaObject::invokeMethod(
          &progress, [&] { Button(&progress, "Cancel")->click(); }, Qt::QueuedConnection);
      while (!counters.Cancelled()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    });
    EXPECT_NE(walkThread, std::this_thread::get_id());
    EXPECT_TRUE(progress.Cancelled());
    EXPECT_EQ(progress.Maximum(), 4);   // the directory and its three subdirectories
    EXPECT_EQ(progress.Position(), 2);  // two entered, none taken in yet
    EXPECT_EQ(progress.DirectoriesText(), "12");
    EXPECT_EQ(progress.FilesText(), "3456789");
    EXPECT_TRUE(progress.isVisible());  // stays until the scan ends

    // What the walk throws reaches the caller, after the walk's thread has ended.
    CScanCounters again;
    EXPECT_THROW(progress.Run(again, [] { throw std::runtime_error("walk"); }), std::runtime_error);
    EXPECT_TRUE(again.Cancelled());  // a display once cancelled cancels what it runs
  }
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
  EXPECT_TRUE(owner.isEnabled());
}

}  // namespace
}  // namespace varnow

int main(int argc, char** argv) { return varnow::test::RunOffscreenTests(argc, argv); }
