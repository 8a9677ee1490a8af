#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <filesystem>

#include "varnow/ui/PrintDlg.h"
#include "varnow/testsupport/PrintJobTestSupport.h"
#include "varnow/testsupport/WindowTestSupport.h"

namespace varnow {
namespace {

namespace fs = std::filesystem;

class PrintDlgTest : public PrintTestBase {
 protected:
  template <typename T>
  static T* Control(PrintOptionsDialog& dlg, const char* name) {
    T* control = dlg.findChild<T*>(name);
    EXPECT_NE(control, nullptr) << name;
    return control;
  }
};

bool operator==(const CPrintSettings& a, const CPrintSettings& b) {
  return a.printDestination == b.printDestination && a.printFilePath == b.printFilePath &&
         a.commaDelimited == b.commaDelimited && a.enhancedPrinting == b.enhancedPrinting &&
         a.printColumns == b.printColumns;
}

TEST_F(PrintDlgTest, OpensWithTheSettingsAndFollowsTheClicks) {
  owner.settings = {PrintDestination::kFile, "x.txt", 1, 1, 5};
  PrintOptionsDialog dlg(owner);
  EXPECT_EQ(dlg.windowTitle(), "Print Options");
  EXPECT_TRUE(Control<QRadioButton>(dlg, "printToFile")->isChecked());
  EXPECT_FALSE(Control<QRadioButton>(dlg, "printToPrinter")->isChecked());
  EXPECT_TRUE(Control<QLineEdit>(dlg, "filePath")->isEnabled());
  EXPECT_EQ(Control<QLineEdit>(dlg, "filePath")->text(), "x.txt");
  EXPECT_EQ(Control<QLineEdit>(dlg, "columns")->text(), "5");
  // Comma-delimited reports have neither a column count nor an enhanced form.
  EXPECT_FALSE(Control<QLineEdit>(dlg, "columns")->isEnabled());
  EXPECT_FALSE(Control<QCheckBox>(dlg, "enhanced")->isEnabled());

  Control<QCheckBox>(dlg, "commaDelimited")->click();
  EXPECT_TRUE(Control<QLineEdit>(dlg, "columns")->isEnabled());
  EXPECT_TRUE(Control<QCheckBox>(dlg, "enhanced")->isEnabled());
  Control<QRadioButton>(dlg, "printToPrinter")->click();
  EXPECT_FALSE(Control<QLineEdit>(dlg, "filePath")->isEnabled());
}

TEST_F(PrintDlgTest, ColumnCountOutsideOneToSixIsRefused) {
  const fs::path out = dir / "r.txt";
  owner.settings = {PrintDestination::kFile, out.string(), 0, 0, 3};
  const CPrintSettings before = owner.settings;
  const std::pair<const char*, const char*> cases[] = {
      {"0", "Please enter an integer between 1 and 6."},
      {"7", "Please enter an integer between 1 and 6."},
      {"two", "Please enter an integer."}};
  for (const auto& [text, message] : cases) {
    PrintOptionsDialog dlg(owner);
    dlg.SetMessageSink(sink);
    shown.clear();
    Control<QLineEdit>(dlg, "columns")->setText(text);
    dlg.OnPrint();
    ASSERT_EQ(shown.size(), 1u) << text;
    EXPECT_EQ(shown[0].second, message);
    EXPECT_NE(dlg.result(), QDialog::Accepted);
    EXPECT_FALSE(fs::exists(out));
    dlg.reject();
    EXPECT_TRUE(owner.settings == before);
  }
}

TEST_F(PrintDlgTest, PrintKeepsAllFiveSettings) {
  const fs::path out = dir / "r.csv";
  owner.settings = {PrintDestination::kPrinter, "DIRSIZE.TXT", 0, 1, 3};
  PrintOptionsDialog dlg(owner);
  dlg.SetMessageSink(sink);
  std::vector<std::string> notes;
  dlg.SetWrittenNotice([&notes](const std::string& path) { notes.push_back(path); });
  Control<QRadioButton>(dlg, "printToFile")->click();
  Control<QLineEdit>(dlg, "filePath")->setText(QString::fromStdString(out.string()));
  Control<QCheckBox>(dlg, "enhanced")->click();
  Control<QLineEdit>(dlg, "columns")->setText("1");
  Control<QCheckBox>(dlg, "commaDelimited")->click();
  dlg.OnPrint();
  EXPECT_EQ(dlg.result(), QDialog::Accepted);
  EXPECT_TRUE(shown.empty());
  EXPECT_EQ(notes, std::vector<std::string>{out.string()});
  EXPECT_TRUE(owner.settings == (CPrintSettings{PrintDestination::kFile, out.string(), 1, 0, 1}));
  EXPECT_EQ(ReadAll(out), Golden("report_comma_k.csv"));
}

TEST_F(PrintDlgTest, CancelKeepsNone) {
  owner.settings = {PrintDestination::kPrinter, "DIRSIZE.TXT", 0, 1, 3};
  const CPrintSettings before = owner.settings;
  PrintOptionsDialog dlg(owner);
  Control<QRadioButton>(dlg, "printToFile")->click();
  Control<QLineEdit>(dlg, "filePath")->setText("other.txt");
  Control<QCheckBox>(dlg, "commaDelimited")->click();
  Control<QLineEdit>(dlg, "columns")->setText("6");
  dlg.reject();
  EXPECT_TRUE(owner.settings == before);
}

TEST_F(PrintDlgTest, BrowseChoosesTheFileAndTheNoteSaysWhereARelativePathWrote) {
  owner.settings = {PrintDestination::kPrinter, "DIRSIZE.TXT", 0, 0, 3};
  PrintOptionsDialog dlg(owner);
  dlg.SetMessageSink(sink);
  QPushButton* browse = Control<QPushButton>(dlg, "browse");
  EXPECT_FALSE(browse->isEnabled());  // printing to the printer: no file
  Control<QRadioButton>(dlg, "printToFile")->click();
  ASSERT_TRUE(browse->isEnabled());
  const fs::path chosen = dir / "chosen report.txt";
  test::CModalWatch watch([&](QWidget* modal) {
    auto* files = qobject_cast<QFileDialog*>(modal);
    ASSERT_NE(files, nullptr);
    files->selectFile(QString::fromStdString(chosen.string()));
    QMetaObject::invokeMethod(files, "accept");
  });
  browse->click();
  EXPECT_EQ(Control<QLineEdit>(dlg, "filePath")->text().toStdString(), chosen.string());

  // A path without a folder is written in the current one: the note gives the whole path.
  const fs::path before = fs::current_path();
  fs::current_path(dir);
  std::vector<std::string> notes;
  dlg.SetWrittenNotice([&notes](const std::string& path) { notes.push_back(path); });
  Control<QLineEdit>(dlg, "filePath")->setText("relative.txt");
  dlg.OnPrint();
  fs::current_path(before);
  EXPECT_TRUE(shown.empty());
  EXPECT_EQ(notes, std::vector<std::string>{(dir / "relative.txt").string()});
  EXPECT_TRUE(fs::exists(dir / "relative.txt"));
}

}  // namespace
}  // namespace varnow
int main(int argc, char** argv) { return varnow::test::RunOffscreenTests(argc, argv); }
