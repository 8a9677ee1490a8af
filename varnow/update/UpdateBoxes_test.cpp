// The boxes of the update check, offscreen: the About box's answer for each status and the
// automatic check's messages.
#include "varnow/update/UpdateBoxes.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QTimer>
#include <QWidget>

#include "varnow/settings/Settings.h"
#include "varnow/testsupport/TestHome.h"
#include "varnow/testsupport/WindowTestSupport.h"
#include "varnow/update/TestServer.h"

namespace varnow {
namespace {

using ::testing::ElementsAre;

constexpr CProgramVersion kOwn{2, 0, 74};

struct CBox {
  std::string caption, text;
  bool plain, information, onlyOk;
  QWidget* parent;
  friend bool operator==(const CBox&, const CBox&) = default;
};

// Closes every message box that comes up, noting what it showed.
class CBoxRecorder {
 public:
  CBoxRecorder() {
    QObject::connect(&m_timer, &QTimer::timeout, [this] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (!box) return;
      m_boxes.push_back({box->windowTitle().toStdString(), box->text().toStdString(),
                         box->textFormat() == Qt::PlainText, box->icon() == QMessageBox::Information,
                         box->buttons().size() == 1 && box->button(QMessageBox::Ok), box->parentWidget()});
      box->button(QMessageBox::Ok)->click();
    });
    m_timer.start(5);
  }
  std::vector<std::string> Texts() const {
    std::vector<std::string> texts;
    for (const CBox& box : m_boxes) texts.push_back(box.caption + ": " + box.text);
    return texts;
  }
  std::vector<CBox> m_boxes;

 private:
  QTimer m_timer;
};

class UpdateBoxesTest : public ::testing::Test {
 protected:
  UpdateBoxesTest() { WriteProfileString(kSettingsSection, "HomePage", m_server.HomePage()); }
  // Clicks "Check For Update" and keeps the window's events going until its boxes are closed.
  CManualCheckResult CheckManually(CUpdateCheckOptions options = {}) {
    CAboutUpdateCheck* check = ShowManualUpdateCheck(&m_about, kOwn, options);
    QElapsedTimer waited;
    waited.start();
    while (check->Running() && waited.elapsed() < 30000) QApplication::processEvents(QEventLoop::AllEvents, 20);
    return check->Result().value_or(CManualCheckResult{});
  }
  void Publish(int major, int minor, int build, const std::string& more = "") {
    m_server.Answer(200, "REG:LatestMajor-" + std::to_string(major) + "\nREG:LatestMinor-" + std::to_string(minor) +
                             "\nREG:LatestBuild-" + std::to_string(build) + "\n" + more);
  }

  test::CTestHome m_home;
  test::CTestServer m_server;
  QWidget m_about;
  CBoxRecorder m_boxes;
};

TEST_F(UpdateBoxesTest, AboutBoxAnswersInWordsForEachStatus) {
  Publish(2, 0, 74);
  EXPECT_EQ(CheckManually().status, 0);
  Publish(2, 1, 0);
  EXPECT_EQ(CheckManually().status, 1);
  Publish(2, 0, 75);
  EXPECT_EQ(CheckManually().status, 2);
  CUpdateCheckOptions quick;
  quick.timeLimit = std::chrono::milliseconds(300);
  m_server.NeverAnswer();
  EXPECT_EQ(CheckManually(quick).status, 3);
  EXPECT_THAT(m_boxes.Texts(),
              ElementsAre("Update Status: There are currently no updates available.",
                          "Update Status: There is currently a newer version of Varnow available.",
                          "Update Status: There is a minor update (minor bug fixes) available.",
                          "Update Status: Varnow is unable to determine if there are updates available.  "
                          "Please check that this computer is connected to the network, then try again."));
  for (const CBox& box : m_boxes.m_boxes) {
    EXPECT_TRUE(box.information && box.onlyOk && box.plain);
    EXPECT_EQ(box.parent, &m_about);
  }
}

TEST_F(UpdateBoxesTest, AboutBoxShowsTheNewestMessageBeforeTheStatus) {
  Publish(2, 0, 74, "MSG01 Read me\nMSG03 <b>And me</b>\nMSG02 Not me\n");
  CheckManually();
  EXPECT_THAT(m_boxes.Texts(), ElementsAre("Varnow Message: <b>And me</b>",
                                           "Update Status: There are currently no updates available."));
  EXPECT_TRUE(m_boxes.m_boxes[0].plain);
}

// The box stays responsive while the server takes its time, a second click starts no second
// check, and closing the box ends the check without a box coming up afterwards.
TEST_F(UpdateBoxesTest, AboutBoxCheckRunsBesideTheWindow) {
  m_server.NeverAnswer();
  auto about = std::make_unique<QWidget>();
  CUpdateCheckOptions slow;
  slow.timeLimit = std::chrono::minutes(5);
  QElapsedTimer clicked;
  clicked.start();
  CAboutUpdateCheck* check = ShowManualUpdateCheck(about.get(), kOwn, slow);
  EXPECT_LT(clicked.elapsed(), 2000);
  EXPECT_EQ(ShowManualUpdateCheck(about.get(), kOwn, slow), check);
  bool ticked = false;
  QTimer::singleShot(50, [&] { ticked = true; });
  while ((!ticked || m_server.Requests().empty()) && clicked.elapsed() < 10000)
    QApplication::processEvents(QEventLoop::AllEvents, 20);
  EXPECT_TRUE(ticked);
  EXPECT_TRUE(check->Running());
  EXPECT_EQ(m_server.Requests().size(), 1u);
  about.reset();
  QApplication::processEvents(QEventLoop::AllEvents, 100);
  EXPECT_TRUE(m_boxes.m_boxes.empty());
}

TEST_F(UpdateBoxesTest, AutomaticCheckShowsTheNewestMessageOnTheGuiThread) {
  QWidget window;
  Publish(2, 0, 74, "MSG03 First\nMSG04 Second\n");
  CWindowUpdateCheck check(&window);
  check.Start();
  check.Start();  // once per start of the window
  EXPECT_EQ(check.Wait(), UpdateCheckResult::Completed);
  QElapsedTimer waited;
  waited.start();
  while (m_boxes.m_boxes.empty() && waited.elapsed() < 10000) QApplication::processEvents(QEventLoop::AllEvents, 50);
  QApplication::processEvents(QEventLoop::AllEvents, 200);
  EXPECT_THAT(m_boxes.Texts(), ElementsAre("Varnow Message: Second"));
  for (const CBox& box : m_boxes.m_boxes) EXPECT_EQ(box.parent, &window);
  EXPECT_EQ(m_server.Requests().size(), 1u);
}

TEST_F(UpdateBoxesTest, WindowClosingDuringTheCheckEndsIt) {
  m_server.NeverAnswer();
  auto window = std::make_unique<QWidget>();
  auto check = std::make_unique<CWindowUpdateCheck>(window.get());
  CUpdateCheckOptions slow;
  slow.timeLimit = std::chrono::minutes(5);  // well past the test's own time-out
  check->Start(slow);
  for (int i = 0; i < 500 && m_server.Requests().empty(); ++i) QThread::msleep(10);
  window.reset();
  check.reset();  // returns without waiting for the server or the time limit
  EXPECT_TRUE(m_boxes.m_boxes.empty());
}

}  // namespace
}  // namespace varnow

int main(int argc, char** argv) { return varnow::test::RunOffscreenTests(argc, argv); }
