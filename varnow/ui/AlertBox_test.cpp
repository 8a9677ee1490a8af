// The main window object's "Varnow Alert" box, offscreen.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>

#include "varnow/ui/TestHome.h"
#include "varnow/ui/TestSupport.h"
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
  m_dlg.ShowAlert(text);
  EXPECT_TRUE(seen);
}

}  // namespace
}  // namespace varnow

int main(int argc, char** argv) { return varnow::test::RunOffscreenTests(argc, argv); }
