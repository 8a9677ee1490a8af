// What the main window object gives the alert checks, and its "Varnow Alert" box, offscreen.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QTimer>

#include "varnow/ui/TestHome.h"
#include "varnow/ui/VarnowDlg.h"

namespace varnow {
namespace {

class CNoStore : public IScanStore {
 public:
  LoadResult Read(CDirData&) override { return LoadResult::NoStorage; }
  void Write(const std::vector<CDirData>&, const FailureHandler&) override {}
};

class AlertBoxTest : public ::testing::Test {
 protected:
  test::CTestHome m_home;
  CVarnowDlg m_dlg{std::make_unique<CNoStore>()};
};

TEST_F(AlertBoxTest, AlertRunCarriesTheSessionAndTheCommandLine) {
  const std::string tree = m_home.MakeFolder("tree");
  m_dlg.SetScanDirectory(tree);
  m_dlg.CommandLineFields().percentThreshold = 7;
  m_dlg.CommandLineFields().sizeThreshold = 2048;
  m_dlg.CommandLineFields().freeMinimum = 4096;
  m_dlg.CommandLineFields().notifyCommand = "notify $MSG$";
  CAlertRun run = m_dlg.AlertRun();
  EXPECT_EQ(run.dd, &m_dlg.Session().dd);
  EXPECT_EQ(run.scanDir, tree);
  EXPECT_EQ(run.displayUnit, m_dlg.Settings().preferredUnits);
  EXPECT_EQ(run.alertPercent, 7);
  EXPECT_EQ(run.alertSize, 2048);
  EXPECT_EQ(run.freeAlert, 4096);
  EXPECT_EQ(run.notifyCommand, "notify $MSG$");
  EXPECT_EQ(run.owner, &m_dlg);
  std::uint64_t freeBytes = 0;
  ASSERT_TRUE(run.getFreeSpace);
  EXPECT_TRUE(run.getFreeSpace(tree, freeBytes));
  EXPECT_FALSE(run.getFreeSpace(tree + "missing/", freeBytes));
}

TEST_F(AlertBoxTest, BoxIsCaptionedInFrontAndShowsTextAsItIs) {
  const std::string text = "Free disk space on /srv/<b>x</b>/ has dropped below 1 K";
  bool seen = false;
  QTimer watch;
  watch.setSingleShot(true);
  QObject::connect(&watch, &QTimer::timeout, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
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
  watch.start(0);
  m_dlg.ShowAlert(text);
  EXPECT_TRUE(seen);
}

}  // namespace
}  // namespace varnow

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
