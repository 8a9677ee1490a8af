// The offer to convert old data files, driven offscreen on temporary data directories.
#include "varnow/ui/DataFormatDialog.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>

#include <filesystem>
#include <functional>

#include "varnow/scan/Scaninfo.h"
#include "varnow/store/DataFile.h"
#include "varnow/testsupport/TestHome.h"
#include "varnow/testsupport/WindowTestSupport.h"

namespace varnow {
namespace {

namespace fs = std::filesystem;

QPushButton* Button(QDialog& dialog, QDialogButtonBox::StandardButton which) {
  auto* box = dialog.findChild<QDialogButtonBox*>();
  return box ? box->button(which) : nullptr;
}

class DataFormatDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_data = m_home.MakeFolder("data");
    m_record.m_currentScanDir = "/srv/one/";
    m_record.m_times = {1'700'000'000, 1'600'000'000, 0, 0, 0, 0};
    m_record.m_entries.push_back({"docs", {4096, 8192, -1, -1, -1, -1}});
    m_record.m_entries.push_back({std::string(kTotalUsed), {4096, 8192, -1, -1, -1, -1}});
    const std::vector<std::uint8_t> bytes = EncodeRecord(m_record);
    test::WriteWholeFile(m_data + "QWERTYUI.DAT", std::string(bytes.begin(), bytes.end()));
    test::WriteWholeFile(m_data + "VNOWDATA.FAT", "[SourcePath]\n/srv/one/=" + m_data +
                                                      "QWERTYUI.DAT\n[DataFile]\n" + m_data +
                                                      "QWERTYUI.DAT=/srv/one/\n");
  }

  // Runs the dialog; `answer` acts on it once it is shown. Returns exec's result.
  int Run(const std::function<void(DataFormatDialog&)>& answer) {
    CScanInfo session(&m_owner, &m_owner, std::make_unique<CDataFile>(m_owner.DataDirectory()));
    DataFormatDialog dialog(nullptr, session, m_data);
    m_shown = false;
    test::CModalWatch watch([&](QWidget* modal) {
      if (modal != &dialog) return;
      m_shown = true;
      answer(dialog);
    });
    return dialog.exec();
  }

  bool Converted() {
    CDataFile file(m_owner.DataDirectory());
    CDirData stored;
    stored.m_currentScanDir = "/srv/one/";
    return file.Read(stored) == IScanStore::LoadResult::Loaded && stored.m_times == m_record.m_times &&
           stored.m_entries == m_record.m_entries;
  }
  bool OldFilesLeft() const {
    return fs::exists(m_data + "QWERTYUI.DAT") && fs::exists(m_data + "VNOWDATA.FAT");
  }

  test::CTestHome m_home;
  std::string m_data;
  test::CFolderOwner m_owner{m_home.Root() + "/data/"};
  CDirData m_record;
  bool m_shown = false;
};

TEST_F(DataFormatDialogTest, TextsAndDefaults) {
  CScanInfo session(&m_owner, &m_owner, nullptr);
  DataFormatDialog dialog(nullptr, session, m_data);
  EXPECT_EQ(dialog.windowTitle(), "Update Data Format");
  QStringList texts;
  for (QLabel* label : dialog.findChildren<QLabel*>())
    if (!label->text().isEmpty()) texts << label->text();
  EXPECT_EQ(texts, QStringList({"This version of Varnow saves all scan data in a single data file (rather than "
                                "saving each directory's data in a separate date file like previous versions did).",
                                "Data files in the old format have been detected.  Please indicate what you would "
                                "like done below."}));
  EXPECT_EQ(dialog.ConvertBox()->text(), "Convert the old data files into the new single file format");
  EXPECT_EQ(dialog.CleanupBox()->text(), "Cleanup (delete) the old data files");
  EXPECT_TRUE(dialog.ConvertBox()->isChecked());
  EXPECT_TRUE(dialog.CleanupBox()->isChecked());
  ASSERT_NE(Button(dialog, QDialogButtonBox::Ok), nullptr);
  ASSERT_NE(Button(dialog, QDialogButtonBox::Cancel), nullptr);
}

TEST_F(DataFormatDialogTest, OkWithBothBoxesConvertsAndCleansUp) {
  EXPECT_EQ(Run([](DataFormatDialog& d) { Button(d, QDialogButtonBox::Ok)->click(); }), QDialog::Accepted);
  EXPECT_TRUE(m_shown);
  EXPECT_TRUE(Converted());
  EXPECT_FALSE(fs::exists(m_data + "QWERTYUI.DAT"));
  EXPECT_FALSE(fs::exists(m_data + "VNOWDATA.FAT"));

  // Nothing left to offer: the dialog ends without being shown.
  EXPECT_EQ(Run([](DataFormatDialog& d) { d.accept(); }), QDialog::Rejected);
  EXPECT_FALSE(m_shown);
}

TEST_F(DataFormatDialogTest, ConvertOnlyKeepsTheOldFiles) {
  Run([](DataFormatDialog& d) {
    d.CleanupBox()->click();
    Button(d, QDialogButtonBox::Ok)->click();
  });
  EXPECT_TRUE(Converted());
  EXPECT_TRUE(OldFilesLeft());
}

TEST_F(DataFormatDialogTest, CancelOrNothingTickedChangesNothing) {
  EXPECT_EQ(Run([](DataFormatDialog& d) { Button(d, QDialogButtonBox::Cancel)->click(); }), QDialog::Rejected);
  EXPECT_TRUE(m_shown);
  EXPECT_FALSE(Converted());
  EXPECT_TRUE(OldFilesLeft());

  Run([](DataFormatDialog& d) {
    d.ConvertBox()->click();
    d.CleanupBox()->click();
    Button(d, QDialogButtonBox::Ok)->click();
  });
  EXPECT_TRUE(m_shown);
  EXPECT_FALSE(Converted());
  EXPECT_TRUE(OldFilesLeft());
}

}  // namespace
}  // namespace varnow

int main(int argc, char** argv) { return varnow::test::RunOffscreenTests(argc, argv); }
