#include "setup/SetupWindows.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QFontMetrics>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

namespace {

using setup::CSetupScreen;

TEST(SetupScreenTest, CaptionShrinksUntilItFitsAndIsPaintedOverTheBackground) {
  const QString caption = QStringLiteral("Varnow Setup");
  EXPECT_EQ(CSetupScreen::CaptionFont(caption, 2000).pixelSize(), 48);
  const QFont narrow = CSetupScreen::CaptionFont(caption, 200);
  EXPECT_LT(narrow.pixelSize(), 48);
  EXPECT_LE(34 + QFontMetrics(narrow).horizontalAdvance(caption), 200);
  EXPECT_TRUE(narrow.bold() && narrow.italic());

  CSetupScreen screen(caption);
  screen.resize(640, 400);
  const QImage image = screen.grab().toImage();
  EXPECT_EQ(image.pixelColor(600, 200), QColor(36, 57, 179));
  int white = 0, cyan = 0;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x) {
      const QColor colour = image.pixelColor(x, y);
      if (colour == Qt::white && y < 120) ++white;
      if (colour == QColor(0, 255, 255) && y > 360 && x > 320) ++cyan;
    }
  EXPECT_GT(white, 50) << "the caption at the top left";
  EXPECT_GT(cyan, 10) << "the product line at the bottom right";
}

TEST(SetupDialogsTest, DirectoryDialogOffersTheProposalAndCopyWindowCancels) {
  setup::CDirectoryDialog dialog(nullptr, QStringLiteral("Varnow"), QStringLiteral("/home/ann/Varnow"));
  EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Application Directory"));
  EXPECT_EQ(dialog.Directory(), QStringLiteral("/home/ann/Varnow"));
  bool textFound = false;
  for (QLabel* label : dialog.findChildren<QLabel*>())
    textFound |= label->text() ==
                 QStringLiteral("Enter the directory where you want Varnow installed in the space below and press OK.");
  EXPECT_TRUE(textFound);
  QStringList buttons;
  for (QPushButton* button : dialog.findChildren<QPushButton*>()) buttons << button->text();
  buttons.sort();
  EXPECT_EQ(buttons, (QStringList{QStringLiteral("&Exit"), QStringLiteral("&OK")}));

  setup::CCopyingDialog copying(nullptr);
  copying.show();
  copying.ShowFiles(QStringLiteral("/media/varnow"), QStringLiteral("/home/ann/Varnow/varnow"));
  EXPECT_FALSE(copying.Cancelled());
  QTest::mouseClick(copying.findChild<QPushButton*>(), Qt::LeftButton);
  EXPECT_TRUE(copying.Cancelled());
  EXPECT_TRUE(copying.isVisible()) << "the copy window stays until the copy ends";
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
