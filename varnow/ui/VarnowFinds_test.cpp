// The window's treemap, largest files and file actions, offscreen on real trees, a real data
// file and a private home (whose trash the moves go to).
#include <QApplication>
#include <QClipboard>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSplitter>
#include <QTest>
#include <QToolButton>
#include <QTreeWidget>

#include <filesystem>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "varnow/report/FormatSize.h"
#include "varnow/settings/Settings.h"
#include "varnow/testsupport/TestHome.h"
#include "varnow/testsupport/WindowTestSupport.h"
#include "varnow/ui/FileActions.h"
#include "varnow/ui/LargestFilesDlg.h"
#include "varnow/ui/QtPrompts.h"
#include "varnow/ui/TreemapView.h"
#include "varnow/ui/VarnowWindow.h"

namespace varnow {
namespace {

using ::testing::HasSubstr;

const std::string kOdd = "caf\xe9";  // a name that is not UTF-8

class FindsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_data = m_home.MakeFolder("data");
    m_tree = m_home.MakeFolder("tree");
    test::WriteWholeFile(m_tree + "alpha/deep/f", std::string(5000, 'x'));
    test::WriteWholeFile(m_tree + "Zeta/g", std::string(3000, 'x'));
    test::WriteWholeFile(m_tree + kOdd + "/h", std::string(2000, 'x'));
    test::WriteWholeFile(m_tree + "top-file", std::string(700, 'x'));
    WriteProfileString(kSettingsSection, setting::kDataDirectory.name, m_data);
    WriteProfileInt(kSettingsSection, setting::kPreferredClusterSetting.name, 4);  // bytes
    WriteProfileInt(kSettingsSection, setting::kSubDirSave.name, 1);
    WriteProfileString(kSettingsSection, setting::kHomePage.name, "http://127.0.0.1:9/varnow/");
  }
  void Open() {
    m_dlg = std::make_unique<CVarnowDlg>(m_prompts);
    m_window = std::make_unique<CVarnowWindow>(*m_dlg, m_prompts);
    m_window->OnInitDialog();
    m_window->resize(900, 700);
    m_window->show();
    Settle();
  }
  // Runs the events, and waits for the treemap's tree (read in the background).
  void Settle() {
    for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
    for (int i = 0; i < 1000 && !m_window->TreemapUpToDate(); ++i) QTest::qWait(10);
    ASSERT_TRUE(m_window->TreemapUpToDate());
  }
  void ScanAndSave(const std::string& dir) {
    m_window->DirectoryField()->setText(QString::fromUtf8(dir.c_str()));
    m_window->CommandButton(CVarnowWindow::kScan)->click();
    m_window->CommandButton(CVarnowWindow::kSaveData)->click();
    m_dlg->Session().SaveOutData();
    Settle();
  }
  // Two saved scans; alpha grew by 20000 bytes between them.
  void TwoScansWithGrowth() {
    Open();
    ScanAndSave(m_tree);
    test::WriteWholeFile(m_tree + "alpha/deep/more", std::string(20000, 'x'));
    ScanAndSave(m_tree);
  }
  CTreemapView& Map() { return *m_window->Treemap(); }
  // The treemap's tile of a top-level entry.
  int TileOf(const std::string& name) {
    const CTreemapLayout& layout = Map().Layout();
    for (std::size_t i = 0; i < layout.Tiles().size(); ++i) {
      const CTile& tile = layout.Tiles()[i];
      if (tile.depth == 0 && tile.node > 0 && Map().Tree().Node(tile.node).name == name) return static_cast<int>(i);
    }
    return -1;
  }
  QPoint Inside(int tile) { return Map().Layout().Tiles()[static_cast<std::size_t>(tile)].rect.center().toPoint(); }
  std::string CurrentGridName() {
    const QModelIndex current = m_window->Grid()->currentIndex();
    return current.isValid() ? m_window->Grid()->Model()->EntryName(current.row()) : std::string();
  }
  int GridRow(const std::string& name) {
    for (int row = 0; row < m_window->Grid()->Model()->rowCount(); ++row)
      if (m_window->Grid()->Model()->EntryName(row) == name) return row;
    return -1;
  }

  test::CTestHome m_home;
  std::string m_data;
  std::string m_tree;
  CQtPrompts m_prompts;
  std::unique_ptr<CVarnowDlg> m_dlg;
  std::unique_ptr<CVarnowWindow> m_window;
};

TEST_F(FindsTest, TreemapShowsTheSavedTreeColouredByChangeAndSelectsWithTheGrid) {
  TwoScansWithGrowth();
  ASSERT_FALSE(Map().Tree().Empty());
  EXPECT_EQ(Map().Tree().Top(), m_tree);
  EXPECT_TRUE(m_window->Splitter()->isAncestorOf(m_window->Grid()));
  EXPECT_TRUE(m_window->Splitter()->isAncestorOf(&Map()));
  const int alpha = TileOf("alpha");
  const int zeta = TileOf("Zeta");
  ASSERT_GE(alpha, 0);
  ASSERT_GE(zeta, 0);
  const CTile& grown = Map().Layout().Tiles()[static_cast<std::size_t>(alpha)];
  EXPECT_EQ(TileColourOf(grown.now, grown.before).change, TileChange::Grown);
  const CTile& same = Map().Layout().Tiles()[static_cast<std::size_t>(zeta)];
  EXPECT_EQ(TileColourOf(same.now, same.before).change, TileChange::Unchanged);
  // The saved record of alpha nests its subdirectory inside its tile.
  EXPECT_FALSE(grown.inner.isEmpty());

  // Grid to treemap.
  m_window->Grid()->selectRow(GridRow("Zeta"));
  EXPECT_EQ(Map().SelectedPath(), m_tree + "Zeta/");
  EXPECT_THAT(Map().accessibleDescription().toStdString(), HasSubstr(m_tree + "Zeta/"));
  EXPECT_FALSE(Map().accessibleName().isEmpty());
  // Treemap to grid: a click on a tile inside alpha selects alpha's row.
  QTest::mouseClick(&Map(), Qt::LeftButton, {}, Inside(alpha) + QPoint(0, 3));
  EXPECT_EQ(CurrentGridName(), "alpha");
  EXPECT_THAT(Map().SelectedPath(), ::testing::StartsWith(m_tree + "alpha/"));

  // A double click goes there; Backspace comes back up.
  QTest::mouseDClick(&Map(), Qt::LeftButton, {}, Inside(zeta));
  Settle();
  EXPECT_EQ(m_dlg->Session().GetScanDir(), m_tree + "Zeta/");
  EXPECT_EQ(Map().Tree().Top(), m_tree + "Zeta/");
  QTest::keyClick(&Map(), Qt::Key_Backspace);
  Settle();
  EXPECT_EQ(m_dlg->Session().GetScanDir(), m_tree);
  EXPECT_EQ(Map().Tree().Top(), m_tree);

  // A name that is not UTF-8 is shown (replaced characters) and reachable by its exact bytes.
  const int odd = TileOf(kOdd);
  ASSERT_GE(odd, 0);
  EXPECT_THAT(TreemapNodeName(Map().Tree(), Map().Layout().Tiles()[static_cast<std::size_t>(odd)].node).toStdString(),
              HasSubstr("caf"));
  QTest::mouseDClick(&Map(), Qt::LeftButton, {}, Inside(odd));
  Settle();
  EXPECT_EQ(m_dlg->Session().GetScanDir(), m_tree + kOdd + "/");
}

TEST_F(FindsTest, TheSplitterPositionIsKeptWithTheSettings) {
  Open();
  QSplitter* split = m_window->Splitter();
  const int total = split->sizes()[0] + split->sizes()[1];
  split->setSizes({total * 3 / 4, total / 4});
  m_window->reject();
  EXPECT_NEAR(GetProfileIntEx(kSettingsSection, "TreemapShare", 0), 250, 15);
  m_window.reset();
  Open();
  const QList<int> sizes = m_window->Splitter()->sizes();
  EXPECT_NEAR(1000.0 * sizes[1] / (sizes[0] + sizes[1]), 250, 30);
  m_window->reject();
}

TEST_F(FindsTest, MoveToTrashAsksNamingWhatAndItsSizeAndShowsTheRowRemovedUntilTheNextScan) {
  TwoScansWithGrowth();
  CFileActions& actions = *m_window->FileActions();
  QString asked;
  bool answer = false;
  actions.SetConfirm([&](QWidget*, const QString& question) {
    asked = question;
    return answer;
  });
  std::vector<std::string> told;
  actions.SetTell([&](QWidget*, const QString& text) { told.push_back(text.toStdString()); });
  const std::string zeta = m_tree + "Zeta/";
  EXPECT_FALSE(actions.MoveToTrash({zeta, 3000}));  // declined: nothing moves
  EXPECT_THAT(asked.toStdString(), HasSubstr(m_tree + "Zeta"));
  EXPECT_THAT(asked.toStdString(), HasSubstr(FormatSize(3000, true, m_dlg->Settings().preferredUnits)));
  EXPECT_TRUE(std::filesystem::exists(zeta));

  answer = true;
  ASSERT_TRUE(actions.MoveToTrash({zeta, 3000})) << (told.empty() ? "" : told[0]);
  EXPECT_FALSE(std::filesystem::exists(zeta));
  const std::string trash = m_home.Root() + "/data/Trash/";
  EXPECT_TRUE(std::filesystem::exists(trash + "files/Zeta/g"));
  const std::string info = test::ReadWholeFile(trash + "info/Zeta.trashinfo");
  EXPECT_THAT(info, HasSubstr("[Trash Info]"));
  EXPECT_THAT(info, HasSubstr("Path=" + m_tree + "Zeta"));
  EXPECT_THAT(info, HasSubstr("DeletionDate="));
  const int row = GridRow("Zeta");
  ASSERT_GE(row, 0);
  EXPECT_THAT(m_window->Grid()->Model()->headerData(row, Qt::Vertical).toString().toStdString(), HasSubstr("trash"));

  // What cannot go to the trash says why and is left where it is.
  told.clear();
  EXPECT_FALSE(actions.MoveToTrash({zeta, 3000}));
  ASSERT_EQ(told.size(), 1u);
  EXPECT_THAT(told[0], HasSubstr("no longer exists"));
  told.clear();
  EXPECT_FALSE(actions.MoveToTrash({m_tree + kOdd + "/", 2000}));
  ASSERT_EQ(told.size(), 1u);
  EXPECT_THAT(told[0], HasSubstr("UTF-8"));
  EXPECT_TRUE(std::filesystem::exists(m_tree + kOdd + "/h"));

  // The next scan shows what is left.
  m_window->CommandButton(CVarnowWindow::kScan)->click();
  Settle();
  for (int r = 0; r < m_window->Grid()->Model()->rowCount(); ++r)
    EXPECT_THAT(m_window->Grid()->Model()->headerData(r, Qt::Vertical).toString().toStdString(),
                ::testing::Not(HasSubstr("trash")));
}

TEST_F(FindsTest, AFileGoesToTheTrashWithItsInfoAndCopyPathKeepsItsName) {
  Open();
  const std::string file = m_tree + "top-file";
  std::string why;
  ASSERT_TRUE(MoveItemToTrash(file, why)) << why;
  EXPECT_FALSE(std::filesystem::exists(file));
  EXPECT_EQ(std::filesystem::file_size(m_home.Root() + "/data/Trash/files/top-file"), 700u);
  EXPECT_THAT(test::ReadWholeFile(m_home.Root() + "/data/Trash/info/top-file.trashinfo"), HasSubstr("Path=" + file));

  CopyPathToClipboard(m_tree + "alpha/");
  EXPECT_EQ(QApplication::clipboard()->text().toStdString(), m_tree + "alpha");
}

TEST_F(FindsTest, LargestFilesListTheScanOfThisSessionAndSaySoWhenThereIsNone) {
  Open();
  {
    test::CModalWatch watch([](QWidget* modal) {
      auto* dialog = qobject_cast<CLargestFilesDlg*>(modal);
      ASSERT_NE(dialog, nullptr);
      EXPECT_EQ(dialog->List()->topLevelItemCount(), 0);
      EXPECT_THAT(dialog->Intro()->text().toStdString(), HasSubstr("No scan"));
      dialog->reject();
    });
    m_window->LargestButton()->click();
  }
  ScanAndSave(m_tree);
  std::string shownDirectory;
  {
    test::CModalWatch watch([&](QWidget* modal) {
      auto* dialog = qobject_cast<CLargestFilesDlg*>(modal);
      ASSERT_NE(dialog, nullptr);
      QTreeWidget* list = dialog->List();
      ASSERT_EQ(list->topLevelItemCount(), 4);
      EXPECT_EQ(list->topLevelItem(0)->text(2).toStdString(), "alpha/deep/f");
      EXPECT_EQ(list->topLevelItem(3)->text(2).toStdString(), "top-file");
      dialog->OnDblClickItem(list->topLevelItem(0));
    });
    m_window->LargestButton()->click();
  }
  Settle();
  EXPECT_EQ(m_dlg->Session().GetScanDir(), m_tree + "alpha/deep/");
}

}  // namespace
}  // namespace varnow

int main(int argc, char** argv) { return varnow::test::RunOffscreenTests(argc, argv); }
