// The About box, the link text and the splash, offscreen. Links open through a handler that the
// tests install, so nothing leaves the test.
#include <gtest/gtest.h>

#include <QDesktopServices>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QUrl>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/versionrecord.h"
#include "varnow/ui/AboutDlg.h"
#include "varnow/ui/Images.h"
#include "varnow/settings/Settings.h"
#include "varnow/ui/SplashWnd.h"
#include "varnow/ui/StaticLink.h"
#include "varnow/testsupport/TestHome.h"
#include "varnow/testsupport/WindowTestSupport.h"

// The version the About box reads from this program's file.
[[gnu::used]] constexpr platform::CVersionRecordBytes kVersionRecord =
    platform::MakeVersionRecord(7, 3, 0, 91, "Varnow");

namespace varnow {
namespace {

// Stands in for the desktop's browser.
class CUrlCatcher : public QObject {
  Q_OBJECT
 public:
  CUrlCatcher() { QDesktopServices::setUrlHandler("https", this, "Open"); }
  ~CUrlCatcher() override { QDesktopServices::unsetUrlHandler("https"); }
  QList<QUrl> opened;
 public slots:
  void Open(const QUrl& url) { opened << url; }
};

// The label texts, sorted (creation order is not the reading order).
std::vector<std::string> Texts(const QWidget& dialog) {
  std::vector<std::string> texts;
  for (const QLabel* label : dialog.findChildren<QLabel*>())
    if (!label->text().isEmpty()) texts.push_back(label->text().toStdString());
  std::sort(texts.begin(), texts.end());
  return texts;
}

class AboutTest : public ::testing::Test {
 protected:
  test::CTestHome m_home;
};

TEST_F(AboutTest, TextsVersionAndSettings) {
  ASSERT_TRUE(WriteProfileString(kSettingsSection, "HomePage", "https://example.org/varnow/"));
  CAboutDlg about;
  EXPECT_EQ(about.windowTitle(), "About Varnow");
  EXPECT_EQ(about.VersionLabel()->text(), "Varnow Version 7.3 (Build 91)");
  EXPECT_EQ(Texts(about), std::vector<std::string>({"Varnow Version 7.3 (Build 91)",
                                                    "Varnow is made for people who want to keep track of disk space "
                                                    "on local hard drives or on network drives.",
                                                    "Visit the Varnow home page for the latest releases at:",
                                                    "https://example.org/varnow/", "or send e-mail to:",
                                                    setting::kEMailAddr.defaultValue}));
  // The missing e-mail address was written back with its default.
  EXPECT_EQ(GetProfileString(kSettingsSection, "EMailAddr", "none"), setting::kEMailAddr.defaultValue);
  EXPECT_FALSE(about.findChild<QLabel*>()->pixmap().isNull());

  QStringList buttons;
  for (const QPushButton* button : about.findChildren<QPushButton*>()) buttons << button->text();
  EXPECT_EQ(buttons, QStringList({"OK", "Check For\nUpdate"}));
}

TEST_F(AboutTest, CheckForUpdateRunsTheHookAndOkCloses) {
  CAboutDlg about;
  about.CheckForUpdateButton()->click();  // no hook yet: nothing happens
  int checks = 0;
  about.SetCheckForUpdate([&checks] { ++checks; });
  about.CheckForUpdateButton()->click();
  EXPECT_EQ(checks, 1);

  test::CModalWatch watch([](QWidget* dialog) {
    ASSERT_NE(dialog, nullptr);
    for (QPushButton* button : dialog->findChildren<QPushButton*>())
      if (button->text() == "OK") button->click();
  });
  EXPECT_EQ(about.exec(), QDialog::Accepted);
}

TEST(StaticLinkTest, OpensItsTextOrLinkAndTurnsPurple) {
  CUrlCatcher browser;
  CStaticLink link("https://example.org/home/");
  EXPECT_EQ(link.Colour(), QColor(0, 0, 255));
  EXPECT_EQ(link.palette().color(QPalette::WindowText), QColor(0, 0, 255));
  EXPECT_TRUE(link.font().underline());
  EXPECT_EQ(link.cursor().shape(), Qt::PointingHandCursor);

  link.show();
  QTest::mouseClick(&link, Qt::LeftButton);
  EXPECT_EQ(browser.opened, QList<QUrl>({QUrl("https://example.org/home/")}));
  EXPECT_EQ(link.Colour(), QColor(128, 0, 128));
  EXPECT_EQ(link.palette().color(QPalette::WindowText), QColor(128, 0, 128));

  link.SetLink("https://example.org/other/");
  QTest::mouseClick(&link, Qt::RightButton);  // only the left button opens
  link.setFocus();
  QTest::keyClick(&link, Qt::Key_Return);
  EXPECT_EQ(browser.opened.size(), 2);
  EXPECT_EQ(browser.opened.back(), QUrl("https://example.org/other/"));

  CStaticLink bare("example.org/bare/");  // no scheme: taken as a web address
  QDesktopServices::setUrlHandler("http", &browser, "Open");
  EXPECT_TRUE(bare.Open());
  QDesktopServices::unsetUrlHandler("http");
  EXPECT_EQ(browser.opened.back(), QUrl("http://example.org/bare/"));
}

TEST(StaticLinkTest, FailureKeepsItBlue) {
  CStaticLink empty;
  EXPECT_FALSE(empty.Open());
  CStaticLink broken("http://[not an address");  // openUrl refuses it: a beep, no colour change
  EXPECT_FALSE(broken.Open());
  EXPECT_EQ(broken.Colour(), QColor(0, 0, 255));
}

TEST(ImagesTest, EveryPictureDraws) {
  for (const char* path : {kProgramIconImage, kScanImage, kSaveImage, kPrintImage, kGrowthImage, kPreferencesImage, kAlertsImage,
                           kHelpImage, kExitImage}) {
    const QIcon icon = ResourceIcon(path);
    ASSERT_FALSE(icon.isNull()) << path;
    const QImage small = icon.pixmap(24, 24).toImage();
    EXPECT_EQ(small.size(), QSize(24, 24)) << path;
    // Something is drawn: not every pixel is transparent.
    bool drawn = false;
    for (int y = 0; y < small.height() && !drawn; ++y)
      for (int x = 0; x < small.width() && !drawn; ++x) drawn = qAlpha(small.pixel(x, y)) > 0;
    EXPECT_TRUE(drawn) << path;
  }
  EXPECT_EQ(ResourcePixmap(kAboutImage).size(), QSize(400, 150));
  EXPECT_TRUE(ResourcePixmap(":/varnow/missing.svg").isNull());
}

TEST(SplashTest, OneAtATimeCentredAndGoneAfterItsTime) {
  QWidget owner;
  owner.setGeometry(100, 100, 800, 600);
  owner.show();
  CSplashWnd* splash = CSplashWnd::ShowSplashScreen(&owner, 50);
  ASSERT_NE(splash, nullptr);
  EXPECT_EQ(CSplashWnd::ShowSplashScreen(&owner), splash);
  EXPECT_EQ(CSplashWnd::Current(), splash);
  EXPECT_TRUE(splash->isVisible());
  EXPECT_TRUE(splash->windowFlags() & Qt::FramelessWindowHint);
  EXPECT_EQ(splash->size(), QSize(400, 150));
  EXPECT_LE((splash->geometry().center() - owner.frameGeometry().center()).manhattanLength(), 2);

  QPointer<CSplashWnd> watched(splash);
  EXPECT_TRUE(QTest::qWaitFor([&watched] { return watched.isNull(); }, 5000));
  EXPECT_EQ(CSplashWnd::Current(), nullptr);

  CSplashWnd* next = CSplashWnd::ShowSplashScreen(nullptr);
  EXPECT_EQ(next->Milliseconds(), 2000);
  delete static_cast<QWidget*>(next);  // a splash that goes early (with its owner) leaves no trace
  EXPECT_EQ(CSplashWnd::Current(), nullptr);
}

}  // namespace
}  // namespace varnow

#include "AboutDlg_test.moc"

int main(int argc, char** argv) { return varnow::test::RunOffscreenTests(argc, argv); }
