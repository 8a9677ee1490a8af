// The prompts with windows, offscreen: the "Varnow Alert" box, and a write failure found by the
// save thread reaching a message box on the GUI thread.
#include "varnow/ui/QtPrompts.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QThread>
#include <QTimer>

#include "varnow/scan/Scaninfo.h"
#include "varnow/testsupport/ScanTestSupport.h"
#include "varnow/testsupport/TestHome.h"
#include "varnow/testsupport/WindowTestSupport.h"

namespace varnow {
namespace {

class AlertBoxTest : public ::testing::Test {
 protected:
  test::CTestHome m_home;
  CQtPrompts m_prompts;
};

TEST_F(AlertBoxTest, BoxIsCaptionedInFrontAndShowsTextAsItIs) {
  const std::string text = "Free disk space on /srv/<b>x</b>/ has dropped below 1 K";
  bool seen = false;
  test::CModalWatch watch([&](QWidget* modal) {
    auto* box = qobject_cast<QMessageBox*>(modal);
    ASSERT_NE(box, nullptr);
    seen = true;
    EXPECT_EQ(box->windowTitle(), "Varnow Alert");
    EXPECT_EQ(box->text().toStdString(), text);
    EXPECT_EQ(box->textFormat(), Qt::PlainText);
    EXPECT_EQ(box->icon(), QMessageBox::Warning);
    EXPECT_TRUE(box->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    ASSERT_NE(box->button(QMessageBox::Ok), nullptr);
    box->button(QMessageBox::Ok)->click();
  });
  m_prompts.ShowAlert(varnow::CAlertNotice{"/srv/<b>x</b>/", varnow::EAlertKind::kFreeSpace, text});
  EXPECT_TRUE(seen);
}

// Closes every message box as soon as it is shown, noting its caption, text and thread.
class CBoxCloser {
 public:
  CBoxCloser() {
    QObject::connect(&m_timer, &QTimer::timeout, [this] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (!box) return;
      boxes.push_back(box->windowTitle().toStdString() + ": " + box->text().toStdString());
      onGuiThread.push_back(QThread::currentThread() == qApp->thread());
      box->button(QMessageBox::Ok)->click();
    });
    m_timer.start(5);
  }
  // Handles events until count boxes were seen or the time is up.
  void WaitFor(std::size_t count, int milliseconds = 10000) {
    QElapsedTimer clock;
    clock.start();
    while (boxes.size() < count && clock.elapsed() < milliseconds)
      QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  }
  std::vector<std::string> boxes;
  std::vector<bool> onGuiThread;

 private:
  QTimer m_timer;
};

TEST_F(AlertBoxTest, WriteFailureOfTheSaveThreadIsShownOnceOnTheGuiThread) {
  test::FakeOwner owner;
  auto state = std::make_shared<test::MemoryStore::State>();
  state->failWith = 0x8003001D;  // STG_E_WRITEFAULT (a full disk is told once per save instead)
  CScanOptions options;
  options.idleFlush = std::chrono::milliseconds(50);
  CScanInfo session(&owner, &m_prompts, std::make_unique<test::MemoryStore>(state), options);
  CBoxCloser closer;

  auto queueBatch = [&](const std::string& prefix) {
    for (const char* name : {"a/", "b/", "c/"}) {
      CDirData record;
      record.m_currentScanDir = prefix + name;
      session.QueueSave(record);
    }
  };
  queueBatch("/first/");
  closer.WaitFor(1);
  ASSERT_EQ(closer.boxes.size(), 1u);  // three records, one batch, one status: one box
  EXPECT_THAT(closer.boxes[0], ::testing::StartsWith("Disk Write Error: The data for /first/"));
  EXPECT_THAT(closer.boxes[0], ::testing::HasSubstr("(Error=0x8003001D)"));
  EXPECT_TRUE(closer.onGuiThread[0]);

  queueBatch("/second/");  // the next batch tells again
  closer.WaitFor(2);
  closer.WaitFor(3, 300);  // and nothing more comes
  ASSERT_EQ(closer.boxes.size(), 2u);
  EXPECT_THAT(closer.boxes[1], ::testing::StartsWith("Disk Write Error: The data for /second/"));
  EXPECT_TRUE(closer.onGuiThread[1]);
  EXPECT_EQ(state->batches, 2);
}

}  // namespace
}  // namespace varnow

int main(int argc, char** argv) { return varnow::test::RunOffscreenTests(argc, argv); }
