// The main window offscreen, on real trees and a real data file: typing, scanning, drilling
// down and back up, the status fields, the layout rules of a resize and the settings written
// when it closes.
#include "varnow/ui/VarnowWindow.h"

#include <sys/stat.h>
#include <sys/statvfs.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QFontMetrics>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QDir>
#include <QFile>
#include <QSplitter>
#include <QShortcut>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>

#include "varnow/report/FormatSize.h"
#include "varnow/scan/scandir.h"
#include "varnow/settings/Settings.h"
#include "varnow/store/DataFile.h"
#include "varnow/testsupport/TestHome.h"
#include "varnow/testsupport/WindowTestSupport.h"
#include "varnow/ui/GrowthDlg.h"
#include "varnow/ui/MissingDirectoryDialog.h"
#include "varnow/ui/PreferencesDlg.h"
#include "varnow/ui/QtPrompts.h"
#include "varnow/ui/ScanProgressDialog.h"

namespace varnow {
namespace {

using ::testing::HasSubstr;

QStringList RowHeadings(const CGrid& grid) {
  QStringList names;
  for (int row = 0; row < grid.Model()->rowCount(); ++row)
    names << grid.Model()->headerData(row, Qt::Vertical).toString();
  return names;
}

// Closes message boxes as they come, noting their texts; the missing-directory question is
// declined.
class CBoxCloser {
 public:
  CBoxCloser() {
    QObject::connect(&m_timer, &QTimer::timeout, [this] {
      QWidget* modal = QApplication::activeModalWidget();
      if (auto* box = qobject_cast<QMessageBox*>(modal)) {
        boxes.push_back(box->windowTitle().toStdString() + ": " + box->text().toStdString());
        box->button(QMessageBox::Ok)->click();
      } else if (auto* dialog = qobject_cast<CMissingDirectoryDialog*>(modal)) {
        questions.push_back(dialog->windowTitle().toStdString());
        dialog->reject();
      }
    });
    m_timer.start(5);
  }
  void Wait(int milliseconds) {
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < milliseconds) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  }
  // Until count boxes were shown (a slow machine's writer may take seconds), then a little
  // longer for any that should not come.
  void WaitForBoxes(std::size_t count) {
    QElapsedTimer clock;
    clock.start();
    while (boxes.size() < count && clock.elapsed() < 20000)
      QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    Wait(100);
  }
  std::vector<std::string> boxes;
  std::vector<std::string> questions;

 private:
  QTimer m_timer;
};

class VarnowWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_data = m_home.MakeFolder("data");
    m_tree = m_home.MakeFolder("tree");
    m_home.MakeFolder("tree/alpha/deep");
    m_home.MakeFolder("tree/Zeta");
    test::WriteWholeFile(m_tree + "alpha/deep/f", std::string(5000, 'x'));
    test::WriteWholeFile(m_tree + "Zeta/g", std::string(100, 'x'));
    WriteProfileString(kSettingsSection, setting::kDataDirectory.name, m_data);
    WriteProfileInt(kSettingsSection, setting::kPreferredClusterSetting.name, 4);  // bytes
    // The window's update check finds nothing listening here and ends quietly.
    WriteProfileString(kSettingsSection, setting::kHomePage.name, "http://127.0.0.1:9/varnow/");
  }
  void Open(CScanOptions options = {}) {
    m_dlg = std::make_unique<CVarnowDlg>(m_prompts, nullptr, std::move(options));
    m_window = std::make_unique<CVarnowWindow>(*m_dlg, m_prompts);
    m_window->OnInitDialog();
    m_window->show();
    QCoreApplication::processEvents();
  }
  void Type(const std::string& text) {
    m_window->DirectoryField()->clear();
    QTest::keyClicks(m_window->DirectoryField(), QString::fromUtf8(text.c_str()));
  }
  void Scan(const std::string& dir) {
    m_window->DirectoryField()->setText(QString::fromUtf8(dir.c_str()));
    m_window->CommandButton(CVarnowWindow::kScan)->click();
  }
  std::string Field() const { return m_window->DirectoryField()->text().toUtf8().toStdString(); }

  test::CTestHome m_home;
  std::string m_data;
  std::string m_tree;
  CQtPrompts m_prompts;
  std::unique_ptr<CVarnowDlg> m_dlg;
  std::unique_ptr<CVarnowWindow> m_window;
};

TEST_F(VarnowWindowTest, TitleControlsAndAccessibleNames) {
  Open();
  EXPECT_TRUE(m_window->windowTitle().startsWith("Varnow "));  // the version of this test program
  EXPECT_EQ(CVarnowWindow::TitleFor(2, 0, 0).toStdString(), "Varnow 2.0");
  EXPECT_EQ(CVarnowWindow::TitleFor(2, 0, 1).toStdString(), "Varnow 2.0 - < Update Available >");
  EXPECT_EQ(CVarnowWindow::TitleFor(2, 0, 2).toStdString(), "Varnow 2.0 - < Minor Update Available >");
  const char* names[] = {"Scan", "Save Data", "Print", "Growth", "Preferences", "Alerts", "Help", "Exit"};
  for (int i = 0; i < CVarnowWindow::kButtonCount; ++i) {
    auto* button = m_window->CommandButton(static_cast<CVarnowWindow::Button>(i));
    EXPECT_EQ(button->accessibleName().toStdString(), names[i]);
    EXPECT_FALSE(button->icon().isNull()) << names[i];
  }
  EXPECT_EQ(m_window->DirectoryField()->accessibleName().toStdString(), "Directory");
  EXPECT_EQ(m_window->FreeSpaceValue()->accessibleName().toStdString(), "Free Space");
  EXPECT_EQ(m_window->ClusterValue()->accessibleName().toStdString(), "Cluster Size");
  EXPECT_EQ(m_window->ClusterLabel()->text().toStdString(), "Cluster Size :");  // not a compressed volume
}

TEST_F(VarnowWindowTest, TypingShowsAnExistingDirectoryWithItsSlashAndTheCaretAtTheEnd) {
  Open();
  Scan(m_tree);
  m_window->CommandButton(CVarnowWindow::kSaveData)->click();
  m_dlg->Session().SaveOutData();
  const std::string shown = m_dlg->Session().dd.m_currentScanDir;

  Type(m_tree + "alph");  // no such directory yet: nothing changes
  EXPECT_EQ(m_dlg->Session().dd.m_currentScanDir, shown);
  EXPECT_EQ(Field(), m_tree + "alph");
  QTest::keyClicks(m_window->DirectoryField(), "a");
  EXPECT_EQ(Field(), m_tree + "alpha/");
  EXPECT_EQ(m_window->DirectoryField()->cursorPosition(), m_window->DirectoryField()->text().size());
  EXPECT_EQ(m_dlg->Session().dd.m_currentScanDir, m_tree + "alpha/");
  EXPECT_THAT(RowHeadings(*m_window->Grid()), ::testing::Contains("deep"));  // its saved record

  // A separator typed after the one the field added is not doubled.
  QTest::keyClicks(m_window->DirectoryField(), "/de");
  EXPECT_EQ(Field(), m_tree + "alpha/de");
  QTest::keyClicks(m_window->DirectoryField(), "ep");
  EXPECT_EQ(Field(), m_tree + "alpha/deep/");

  // Deleting characters never rewrites the field.
  QTest::keyClick(m_window->DirectoryField(), Qt::Key_Backspace);
  EXPECT_EQ(Field(), m_tree + "alpha/deep");
}

TEST_F(VarnowWindowTest, ScanFillsGridAndStatusAndACancelledScanLeavesThem) {
  Open();
  Scan(m_tree);
  EXPECT_EQ(Field(), m_tree);
  EXPECT_EQ(RowHeadings(*m_window->Grid()), QStringList({"Zeta", "alpha", "[Total Used]", "[Total Free]"}));
  EXPECT_EQ(m_window->DirectoriesValue()->text().toStdString(), "3");
  EXPECT_EQ(m_window->FilesValue()->text().toStdString(), "2");
  EXPECT_EQ(m_window->TotalUsedValue()->text().toStdString(), "4 K");  // 5,100 bytes
  EXPECT_EQ(m_window->ClusterValue()->text().toStdString(), "apparent sizes");  // "ignore": plain lengths

  // Cancel at once: grid and status stay as they were.
  const QString total = m_window->TotalUsedValue()->text();
  test::WriteWholeFile(m_tree + "alpha/more", std::string(100000, 'x'));
  bool cancelled = false;
  QTimer::singleShot(0, [&] {
    if (QWidget* progress = QApplication::activeModalWidget()) {
      cancelled = true;
      QMetaObject::invokeMethod(progress, "reject");
    }
  });
  Scan(m_tree);
  EXPECT_TRUE(cancelled);
  EXPECT_EQ(m_window->TotalUsedValue()->text(), total);
  EXPECT_EQ(RowHeadings(*m_window->Grid()).size(), 4);
}

TEST_F(VarnowWindowTest, DrillDownWithAndWithoutScanOnClickAndBackUp) {
  Open();
  Scan(m_tree);
  m_window->OnDblClickGrid("alpha");  // ScanOnClick 0: the saved data, no scan
  EXPECT_EQ(Field(), m_tree + "alpha/");
  EXPECT_EQ(m_dlg->Session().dd.m_currentScanDir, m_tree + "alpha/");
  m_window->OnDblClickGrid(std::string(kTotalFree));  // the summary rows open nothing
  EXPECT_EQ(m_dlg->Session().dd.m_currentScanDir, m_tree + "alpha/");

  m_dlg->MutableSettings().scanOnClick = 1;
  m_window->OnDblClickGrid("deep");
  EXPECT_EQ(m_dlg->Session().dd.m_currentScanDir, m_tree + "alpha/deep/");
  ASSERT_NE(m_dlg->Session().dd.FindEntry(kTotalUsed), nullptr);  // it was scanned
  EXPECT_EQ(m_dlg->Session().dd.FindEntry(kTotalUsed)->sizes[0], 5000);

  m_window->OnBack();  // from /.../alpha/deep/ to /.../alpha/
  EXPECT_EQ(Field(), m_tree + "alpha/");
  m_window->OnBack();
  EXPECT_EQ(Field(), m_tree);
  m_dlg->Session().SetScanDir("/a/");
  m_window->OnBack();  // from /a/ to the root
  EXPECT_EQ(m_dlg->Session().GetScanDir(), "/");
  m_window->OnBack();  // the root stays the root
  EXPECT_EQ(m_dlg->Session().GetScanDir(), "/");
}

TEST_F(VarnowWindowTest, TheGridShowsItsSnapshotUntilTheNextIsPublished) {
  Open();
  Scan(m_tree);
  const std::shared_ptr<const CDirSnapshot> shown = m_window->Shown();
  ASSERT_NE(shown, nullptr);
  EXPECT_EQ(m_window->Grid()->Model()->Record(), shown->record);
  const QStringList rows = RowHeadings(*m_window->Grid());
  ASSERT_THAT(rows, ::testing::Contains("alpha"));
  const QString alphaSize = m_window->Grid()->Model()->index(rows.indexOf("alpha"), 0).data().toString();

  // The session's record is replaced, as a scan hands over its result: until that is published
  // the grid reads and paints only what it was given.
  CDirData replaced;
  replaced.m_currentScanDir = m_tree;
  replaced.m_entries.push_back({"other", {1, -1, -1, -1, -1, -1}});
  m_dlg->Session().dd = std::move(replaced);
  m_dlg->Session().dd.m_entries.shrink_to_fit();
  EXPECT_EQ(RowHeadings(*m_window->Grid()), rows);
  EXPECT_EQ(m_window->Grid()->Model()->index(rows.indexOf("alpha"), 0).data().toString(), alphaSize);
  m_window->grab();
  m_window->Grid()->OnHeadingClicked(0);  // reordered from the snapshot, too
  EXPECT_THAT(RowHeadings(*m_window->Grid()), ::testing::Contains("alpha"));

  m_window->UpdateStats();  // published
  EXPECT_NE(m_window->Shown(), shown);
  EXPECT_THAT(RowHeadings(*m_window->Grid()), ::testing::ElementsAre("other"));
  EXPECT_THAT(rows, ::testing::Contains("alpha"));
  EXPECT_EQ(shown->record->m_currentScanDir, m_tree);  // the old snapshot is still whole for whoever holds it
  EXPECT_NE(shown->record->FindEntry("alpha"), nullptr);
}

TEST_F(VarnowWindowTest, OddNamesAreShownAndReachable) {
  const std::string odd = std::string("bad\xff") + "name";
  const std::string newline = "two\nlines";
  m_home.MakeFolder("tree/" + odd);
  m_home.MakeFolder("tree/" + newline);
  test::WriteWholeFile(m_tree + newline + "/f", std::string(10, 'x'));
  Open();
  Scan(m_tree);
  m_window->OnDblClickGrid(newline);
  EXPECT_EQ(m_dlg->Session().dd.m_currentScanDir, m_tree + newline + "/");
  m_window->OnBack();
  m_window->OnDblClickGrid(odd);
  EXPECT_EQ(m_dlg->Session().dd.m_currentScanDir, m_tree + odd + "/");
}

TEST_F(VarnowWindowTest, BadDirectoryTextIsHarmless) {
  Open();
  test::WriteWholeFile(m_tree + "file", "x");
  Type(m_tree + "file");  // a file is not shown as a directory
  EXPECT_NE(m_dlg->Session().dd.m_currentScanDir, m_tree + "file");
  const std::string longPath = "/" + std::string(4000, 'a');
  m_window->DirectoryField()->setText(QString::fromStdString(longPath));
  EXPECT_EQ(Field(), longPath);
  CBoxCloser closer;
  m_window->OnScan();
  EXPECT_EQ(closer.questions, std::vector<std::string>{"Directory Doesn't Exist!"});
  EXPECT_TRUE(m_window->isVisible());
}

TEST_F(VarnowWindowTest, UnwritableDataFolderTellsOnceAndTheWindowStaysUsable) {
  if (::geteuid() == 0) {
    // root writes anywhere: a file in the folder's place makes the data file impossible instead
    std::filesystem::remove_all(m_data);
    test::WriteWholeFile(m_data.substr(0, m_data.size() - 1), "not a folder");
  } else {
    ::chmod(m_data.c_str(), 0500);
  }
  Open();
  CBoxCloser closer;
  Scan(m_tree);  // AutoSave and SubDirSave: four records in one batch
  m_dlg->Session().SaveOutData();
  closer.WaitForBoxes(1);
  ASSERT_EQ(closer.boxes.size(), 1u);
  EXPECT_THAT(closer.boxes[0], HasSubstr("Disk Write Error: The data for "));
  Scan(m_tree + "alpha/");
  EXPECT_EQ(Field(), m_tree + "alpha/");
  // The last records are written when the session ends: told again, while someone answers.
  m_window.reset();
  m_dlg.reset();
  EXPECT_EQ(closer.boxes.size(), 2u);
  ::chmod(m_data.c_str(), 0700);
}

TEST_F(VarnowWindowTest, GrowthListsTheSavedGrowthAndADoubleClickGoesThere) {
  // Two saved scans a week apart: alpha/deep/ grew by its own files; free space fell each day.
  constexpr std::int32_t kNewer = 1764547200;
  constexpr std::int32_t kOlder = kNewer - 7 * 86400;
  auto record = [&](const std::string& path, std::vector<CDirInfo> entries) {
    CDirData made;
    made.m_currentScanDir = path;
    made.m_times = {kNewer, kOlder, kOlder - 86400, 0, 0, 0};
    made.m_entries = std::move(entries);
    return made;
  };
  const SizeHistory grew{5000, 1000, 1000, -1, -1, -1};
  std::vector<CDirData> records{
      record(m_tree, {{"alpha", grew}, {"Zeta", {100, 100, 100, -1, -1, -1}}, {std::string(kTotalUsed), {5100, 1100, 1100, -1, -1, -1}},
                      {std::string(kTotalFree), {1 << 20, 2 << 20, 3 << 20, -1, -1, -1}}}),
      record(m_tree + "alpha/", {{"deep", grew}, {std::string(kTotalUsed), grew}}),
      record(m_tree + "alpha/deep/", {{std::string(kTotalUsed), grew}}),
  };
  test::CFolderOwner owner(m_data);
  CDataFile file(owner.DataDirectory());
  file.Write(records, [](const CDirData&, std::int32_t status) { ADD_FAILURE() << status; });

  Open();
  Type(m_tree);
  // The whole line is the tip; the label shows what fits, the date always.
  QLabel* projection = m_window->ProjectionValue();
  EXPECT_EQ(projection->toolTip().toStdString(),
            "At the current rate the disk holding " + m_tree + " fills around December 5, 2025");
  EXPECT_TRUE(projection->text().endsWith(" fills around December 5, 2025"));
  EXPECT_LE(projection->fontMetrics().horizontalAdvance(projection->text()), projection->width());
  QStringList shown;
  test::CModalWatch watch([&](QWidget* modal) {
    auto* dialog = qobject_cast<CGrowthDlg*>(modal);
    ASSERT_NE(dialog, nullptr);
    QTreeWidget* list = dialog->List();
    ASSERT_GE(list->topLevelItemCount(), 2);
    for (int i = 0; i < list->topLevelItemCount(); ++i) shown << list->topLevelItem(i)->text(7);
    dialog->OnDblClickItem(list->topLevelItem(0));  // the section's title: nothing happens
    EXPECT_TRUE(dialog->isVisible());
    dialog->OnDblClickItem(list->topLevelItem(1));
  });
  m_window->CommandButton(CVarnowWindow::kGrowth)->click();
  // alpha/ grew only by deep/: the list leads straight to where the growth happened.
  EXPECT_EQ(shown, QStringList({"", "alpha/deep/"}));
  EXPECT_EQ(Field(), m_tree + "alpha/deep/");
  EXPECT_EQ(m_dlg->Session().GetScanDir(), m_tree + "alpha/deep/");
}

TEST_F(VarnowWindowTest, ResizeMovesControlsByTheRules) {
  Open();
  const QPoint directoriesValue = m_window->DirectoriesValue()->pos();
  for (QSize size : {QSize(900, 600), QSize(700, 500)}) {
    m_window->resize(size);
    QCoreApplication::processEvents();
    const int width = m_window->width();
    const int height = m_window->height();
    // Once the window is wider than at first, the buttons keep their width and end where the
    // Browse button does.
    auto* scan = m_window->CommandButton(CVarnowWindow::kScan);
    const int left = m_window->DialogUnits(156, 0, 0, 0).x();
    const int comfortable = m_window->DialogUnits(0, 0, 20, 0).width();
    const int w = std::min((width - left) / CVarnowWindow::kButtonCount, comfortable);
    const int start = std::max(left, width - 10 - CVarnowWindow::kButtonCount * w);
    if (width >= 900) EXPECT_EQ(w, comfortable);
    for (int i = 0; i < CVarnowWindow::kButtonCount; ++i) {
      auto* button = m_window->CommandButton(static_cast<CVarnowWindow::Button>(i));
      EXPECT_EQ(button->geometry(), QRect(start + i * w, 0, w, scan->height())) << i;
    }
    // The grid shares its place with the treemap below it.
    const QRect grid = m_window->Splitter()->geometry();
    EXPECT_EQ(grid.left(), 10);
    EXPECT_EQ(grid.right() + 1, width - 10);
    EXPECT_EQ(grid.bottom() + 1, height - 10);
    EXPECT_EQ(m_window->BrowseButton()->geometry().right() + 1, width - 10);
    EXPECT_EQ(m_window->DirectoryField()->geometry().right() + 1, m_window->BrowseButton()->x() - 10);
    EXPECT_EQ(m_window->TotalUsedValue()->geometry().right() + 1, width - 10);
    EXPECT_EQ(m_window->FreeSpaceValue()->x(), m_window->TotalUsedValue()->x());
    EXPECT_EQ(m_window->DirectoriesValue()->pos(), directoriesValue);
  }
}

TEST_F(VarnowWindowTest, StatusLabelsKeepTheirWholeTextBesideTheirValues) {
  Open();
  EXPECT_GE(m_window->DirectoriesValue()->x(), m_window->DialogUnits(70, 40, 0, 0).x());
  const QFontMetrics metrics(m_window->font());
  const QList<QLabel*> labels = m_window->findChildren<QLabel*>();
  for (const char* text : {"Directory", "Directories Scanned:", "Files Scanned:", "Free Space:",
                           "Scanned Directory Size:", "Total Used:"}) {
    const auto label = std::find_if(labels.begin(), labels.end(), [&](QLabel* l) { return l->text() == text; });
    ASSERT_NE(label, labels.end()) << text;
    EXPECT_GE((*label)->width(), metrics.horizontalAdvance(text)) << text;
  }
  m_window->ClusterLabel()->setText("Cluster Size* :");
  EXPECT_GE(m_window->ClusterLabel()->width(), metrics.horizontalAdvance("Cluster Size* :"));
  for (QLabel* value : {m_window->DirectoriesValue(), m_window->FilesValue(), m_window->ClusterValue()})
    EXPECT_EQ(value->x(), m_window->DirectoriesValue()->x());
  EXPECT_LT(m_window->ClusterLabel()->geometry().right(), m_window->ClusterValue()->x());
}

// The default mode counts space on disk in the volume's unit, and the cluster field says so,
// whole, beside its label.
TEST_F(VarnowWindowTest, ClusterFieldSaysTheSizesAreOnDisk) {
  WriteProfileInt(kSettingsSection, setting::kPreferredClusterSetting.name, 1);
  Open();
  Scan(m_tree);
  struct statvfs volume {};
  ASSERT_EQ(::statvfs(m_tree.c_str(), &volume), 0);
  const QString text = m_window->ClusterValue()->text();
  EXPECT_EQ(text.toStdString(), FormatSize(volume.f_frsize, true, SizeUnit::kSmart) + ", on disk");
  EXPECT_GE(m_window->ClusterValue()->width(), QFontMetrics(m_window->font()).horizontalAdvance(text));
  EXPECT_LT(m_window->ClusterValue()->geometry().right(), m_window->ScannedSizeValue()->x());
  // 5,000 and 100 bytes written: two units and one on disk.
  EXPECT_EQ(m_window->TotalUsedValue()->text().toStdString(),
            FormatSize(3 * static_cast<std::int64_t>(volume.f_frsize), true, SizeUnit::kK));
}

TEST_F(VarnowWindowTest, ColumnWidthsAreReadClampedAndStoredBounded) {
  WriteProfileInt(kSettingsSection, "DirNameWidth", 501);
  WriteProfileInt(kSettingsSection, "Col2Width", 90);
  Open();
  EXPECT_EQ(m_window->Grid()->ColWidth(0), 170);
  EXPECT_EQ(m_window->Grid()->ColWidth(2), 90);
  m_window->Grid()->SetColWidth(0, 60);
  m_window->Grid()->SetColWidth(3, 20);
  m_window->CommandButton(CVarnowWindow::kExit)->click();
  EXPECT_EQ(GetProfileInt(kSettingsSection, "DirNameWidth", -1), 100);
  EXPECT_EQ(GetProfileInt(kSettingsSection, "Col3Width", -1), 50);
  EXPECT_EQ(GetProfileInt(kSettingsSection, "Col2Width", -1), 90);
  EXPECT_EQ(GetProfileInt(kSettingsSection, "FirstRun", -1), 0);
  EXPECT_EQ(GetProfileString(kSettingsSection, "DataDirectory", ""), m_data);
}

TEST_F(VarnowWindowTest, DamagedDataFileNeitherCrashesNorBlocks) {
  test::WriteWholeFile(m_data + std::string(kDataFileName), std::string(3000, '\x5a'));
  CBoxCloser closer;  // the window tells about the damaged file as soon as it reads it
  Open();
  Scan(m_tree);
  EXPECT_EQ(RowHeadings(*m_window->Grid()).size(), 4);
  m_dlg->Session().SaveOutData();
  closer.WaitForBoxes(2);
  EXPECT_TRUE(m_window->isVisible());
  ASSERT_EQ(closer.boxes.size(), 2u);
  EXPECT_THAT(closer.boxes[0], HasSubstr("VNDATA.DB can not be read"));
  EXPECT_THAT(closer.boxes[1], HasSubstr("VNDATA.DB was damaged. It has been kept as"));
  m_window.reset();
  m_dlg.reset();
}

// ---- keys ----

class VarnowWindowKeysTest : public VarnowWindowTest {
 protected:
  void OpenActive(CScanOptions options = {}) {
    Open(std::move(options));
    m_dlg->MutableSettings().autoSave = 0;  // only what the test saves is saved
    m_dlg->MutableSettings().subDirSave = 0;
    Activate();
  }
  void Activate() {
    if (QApplication::activeWindow() == m_window.get()) return;
    m_window->activateWindow();
    EXPECT_TRUE(QTest::qWaitForWindowActive(m_window.get()));
  }
  // A key as the user types it: to the control that has the focus. The offscreen platform does
  // not give the window back its activation when a dialog closes, as a desktop does: call
  // Activate() first (before any watch for a dialog, which its event loop would set off).
  void Press(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QWidget* focus = QApplication::focusWidget();
    QTest::keyClick(focus ? focus : m_window.get(), key, modifiers);
  }
  bool Scanned() const { return m_dlg->Session().dd.m_newScans > 0; }  // not only loaded
};

TEST_F(VarnowWindowKeysTest, EnterInTheFieldScansAndEscapeNeverClosesTheWindow) {
  OpenActive();
  Type(m_tree);
  QTest::keyClick(m_window->DirectoryField(), Qt::Key_Return);
  EXPECT_TRUE(Scanned());
  EXPECT_EQ(RowHeadings(*m_window->Grid()), QStringList({"Zeta", "alpha", "[Total Used]", "[Total Free]"}));
  for (QWidget* focus : {static_cast<QWidget*>(m_window->DirectoryField()), static_cast<QWidget*>(m_window->Grid()),
                         static_cast<QWidget*>(m_window.get())})
    QTest::keyClick(focus, Qt::Key_Escape);
  QTest::keyClick(m_window->BrowseButton(), Qt::Key_Return);  // presses no other button
  EXPECT_TRUE(m_window->isVisible());
  Activate();
  Press(Qt::Key_Q, Qt::ControlModifier);
  EXPECT_FALSE(m_window->isVisible());
  EXPECT_EQ(GetProfileInt(kSettingsSection, "FirstRun", -1), 0);  // closed as Exit closes it
}

TEST_F(VarnowWindowKeysTest, EscapeCancelsARunningScanAndClosesDialogs) {
  // The scan's readers wait for the Escape: it comes while the scan runs, however fast it is.
  std::atomic<bool> escaped{true};
  CScanOptions options;
  options.onListing = [&](const std::string&) {
    while (!escaped) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  };
  OpenActive(std::move(options));
  Scan(m_tree);
  const QString total = m_window->TotalUsedValue()->text();
  test::WriteWholeFile(m_tree + "alpha/more", std::string(100000, 'x'));
  bool cancelled = false;
  int progressWidth = 0, titleWidth = 0;
  Activate();
  QTimer::singleShot(0, [&] {
    if (auto* progress = qobject_cast<CScanProgressDialog*>(QApplication::activeModalWidget())) {
      cancelled = true;
      progressWidth = progress->minimumWidth();
      titleWidth = progress->fontMetrics().horizontalAdvance(progress->windowTitle());
      QTest::keyClick(progress, Qt::Key_Escape);
    }
    escaped = true;
  });
  escaped = false;
  QTest::keyClick(m_window->DirectoryField(), Qt::Key_F5);
  EXPECT_TRUE(cancelled);
  EXPECT_GT(progressWidth, titleWidth);  // room for the whole title
  EXPECT_EQ(m_window->TotalUsedValue()->text(), total);
  EXPECT_TRUE(m_window->isVisible());

  bool preferencesShown = false;
  Activate();
  test::CModalWatch watch([&](QWidget* modal) {
    preferencesShown = qobject_cast<CPreferencesDlg*>(modal) != nullptr;
    if (modal) QTest::keyClick(modal, Qt::Key_Escape);
  });
  Press(Qt::Key_Comma, Qt::ControlModifier);
  EXPECT_TRUE(preferencesShown);
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
  EXPECT_TRUE(m_window->isVisible());
}

TEST_F(VarnowWindowKeysTest, CommandKeysAreNamedInTheTooltipsAndDoWhatTheButtonsDo) {
  OpenActive();
  const std::pair<CVarnowWindow::Button, const char*> named[] = {
      {CVarnowWindow::kScan, "Scan (F5)"},          {CVarnowWindow::kSaveData, "Save Data (Ctrl+S)"},
      {CVarnowWindow::kPrint, "Print (Ctrl+P)"},     {CVarnowWindow::kGrowth, "Growth (Ctrl+G)"},
      {CVarnowWindow::kPreferences, "Preferences (Ctrl+,)"}, {CVarnowWindow::kHelp, "Help (F1)"},
      {CVarnowWindow::kExit, "Exit (Ctrl+Q)"}};
  for (const auto& [button, tip] : named) EXPECT_EQ(m_window->CommandButton(button)->toolTip().toStdString(), tip);

  m_window->DirectoryField()->setText(QString::fromStdString(m_tree));
  Activate();
  Press(Qt::Key_F5);
  ASSERT_TRUE(Scanned());
  Activate();
  Press(Qt::Key_S, Qt::ControlModifier);
  m_dlg->Session().SaveOutData();
  CDataFile file(m_data);
  CDirData saved;
  saved.m_currentScanDir = m_tree;
  EXPECT_EQ(file.Read(saved), IScanStore::LoadResult::Loaded);

  std::vector<std::string> dialogs;
  for (Qt::Key key : {Qt::Key_P, Qt::Key_G}) {
    Activate();
    test::CModalWatch watch([&](QWidget* modal) {
      dialogs.push_back(modal ? modal->windowTitle().toStdString() : "none");
      if (modal) modal->close();
    });
    Press(key, Qt::ControlModifier);
  }
  EXPECT_EQ(dialogs, std::vector<std::string>({"Print Options", "Growth of " + m_tree}));
}

TEST_F(VarnowWindowKeysTest, HelpWithoutAProgramForThePageSaysWhereThePageIs) {
  const std::string page = m_home.MakeFolder("data/varnow") + "VNHELP.HTM";
  test::WriteWholeFile(page, "<html></html>");
  const std::string path = std::getenv("PATH") ? std::getenv("PATH") : "";
  ::setenv("PATH", m_home.MakeFolder("no programs").c_str(), 1);  // no xdg-open to be found
  OpenActive();
  CBoxCloser closer;
  Activate();
  Press(Qt::Key_F1);
  ::setenv("PATH", path.c_str(), 1);
  ASSERT_EQ(closer.boxes.size(), 1u);
  EXPECT_THAT(closer.boxes[0], HasSubstr("Varnow Help: "));
  EXPECT_THAT(closer.boxes[0], HasSubstr(page));
}

TEST_F(VarnowWindowKeysTest, GridKeysOpenRowsAsADoubleClickDoesAndGoBackUp) {
  OpenActive();
  Scan(m_tree);
  CGrid* grid = m_window->Grid();
  grid->setFocus();
  QTest::keyClicks(grid, "al");
  QTest::keyClick(grid, Qt::Key_Return);
  EXPECT_EQ(Field(), m_tree + "alpha/");
  EXPECT_FALSE(Scanned());  // ScanOnClick 0: the saved data only
  QTest::keyClick(grid, Qt::Key_Backspace);
  EXPECT_EQ(Field(), m_tree);

  // "Back ..." is the next stop of Tab after the grid, and Space presses it.
  m_window->OnDblClickGrid("alpha");
  Activate();
  grid->setFocus();
  QTest::keyClick(grid, Qt::Key_Tab);
  EXPECT_EQ(QApplication::focusWidget(), grid->BackButton());
  QTest::keyClick(grid->BackButton(), Qt::Key_Space);
  EXPECT_EQ(Field(), m_tree);
}

TEST_F(VarnowWindowKeysTest, HeadingClicksChooseTheSortMethodThePreferencesKeep) {
  OpenActive();
  Scan(m_tree);
  CGrid* grid = m_window->Grid();
  QHeaderView* times = grid->horizontalHeader();
  const auto clickNewest = [times] {
    QTest::mouseClick(times->viewport(), Qt::LeftButton, Qt::NoModifier,
                      {times->sectionViewportPosition(0) + 10, times->height() / 2});
  };
  const QStringList bySize{"alpha", "Zeta", "[Total Used]", "[Total Free]"};  // 5,000 and 100 bytes
  const QStringList byName{"Zeta", "alpha", "[Total Used]", "[Total Free]"};
  clickNewest();
  EXPECT_EQ(RowHeadings(*grid), bySize);
  EXPECT_EQ(StoredCode(m_dlg->Settings().preferredSortMethod), 1);
  QTest::mouseClick(grid->NameHeading(), Qt::LeftButton);
  EXPECT_EQ(RowHeadings(*grid), byName);
  EXPECT_EQ(StoredCode(m_dlg->Settings().preferredSortMethod), 2);
  QTest::mouseClick(grid->NameHeading(), Qt::LeftButton);  // the other way round: for now only
  EXPECT_EQ(RowHeadings(*grid), bySize);
  EXPECT_EQ(StoredCode(m_dlg->Settings().preferredSortMethod), 2);
  clickNewest();
  EXPECT_EQ(StoredCode(m_dlg->Settings().preferredSortMethod), 1);
  m_window->CommandButton(CVarnowWindow::kExit)->click();
  EXPECT_EQ(GetProfileInt(kSettingsSection, "PreferredSortMethod", -1), 1);
}

// ---- what the window shows for a directory ----

TEST_F(VarnowWindowTest, NamesThatAreNotUtf8AreScannedWhereTheyAre) {
  const std::string odd = std::string("bad\xff") + "name";
  m_home.MakeFolder("tree/" + odd + "/inner");
  test::WriteWholeFile(m_tree + odd + "/inner/f", std::string(300, 'x'));
  Open();
  CBoxCloser closer;
  Scan(m_tree);
  m_window->OnDblClickGrid(odd);  // ScanOnClick 0, then Scan
  EXPECT_TRUE(Field().find("\xEF\xBF\xBD") != std::string::npos);  // shown with U+FFFD
  m_window->CommandButton(CVarnowWindow::kScan)->click();
  ASSERT_NE(m_dlg->Session().dd.FindEntry(kTotalUsed), nullptr);
  EXPECT_EQ(m_dlg->Session().dd.m_currentScanDir, m_tree + odd + "/");
  EXPECT_EQ(m_dlg->Session().dd.FindEntry(kTotalUsed)->sizes[0], 300);

  // With ScanOnClick 1, and typing a name after the one shown.
  m_window->OnBack();
  m_dlg->MutableSettings().scanOnClick = 1;
  m_window->OnDblClickGrid(odd);
  EXPECT_EQ(m_dlg->Session().dd.m_currentScanDir, m_tree + odd + "/");
  ASSERT_NE(m_dlg->Session().dd.FindEntry("inner"), nullptr);
  QTest::keyClicks(m_window->DirectoryField(), "inner");
  EXPECT_EQ(m_dlg->Session().dd.m_currentScanDir, m_tree + odd + "/inner/");
  EXPECT_TRUE(closer.questions.empty());  // never "Directory Doesn't Exist!"
}

TEST_F(VarnowWindowTest, CountsAreShownOnlyForTheDirectoryTheyCounted) {
  Open();
  EXPECT_EQ(m_window->DirectoriesValue()->text(), "");  // nothing scanned yet
  Scan(m_tree);
  EXPECT_EQ(m_window->DirectoriesValue()->text(), "3");
  EXPECT_EQ(m_window->FilesValue()->text(), "2");
  m_window->OnDblClickGrid("alpha");
  EXPECT_EQ(m_window->DirectoriesValue()->text(), "");
  EXPECT_EQ(m_window->FilesValue()->text(), "");
  m_window->OnBack();
  EXPECT_EQ(m_window->DirectoriesValue()->text(), "3");

  // A cancelled scan leaves the window as it was, but it counted only part of the tree: its
  // counts are shown for no directory.
  QTimer::singleShot(0, [] {
    if (QWidget* progress = QApplication::activeModalWidget()) QMetaObject::invokeMethod(progress, "reject");
  });
  Scan(m_tree);
  EXPECT_EQ(m_window->DirectoriesValue()->text(), "3");
  m_window->OnDblClickGrid("alpha");
  m_window->OnBack();
  EXPECT_EQ(m_window->DirectoriesValue()->text(), "");
  EXPECT_EQ(m_window->FilesValue()->text(), "");
}

}  // namespace

// Installed by a package, the help page is documentation under the shared data folders.
TEST(HelpPage, FoundWhereAPackagePutsItWhenNotBesideTheProgram) {
  QTemporaryDir root;
  ASSERT_TRUE(root.isValid());
  const QByteArray oldDirs = qgetenv("XDG_DATA_DIRS");
  qputenv("XDG_DATA_DIRS", QFile::encodeName(root.filePath("usr/share")));
  EXPECT_EQ(HelpPagePath(), QString());
  ASSERT_TRUE(QDir().mkpath(root.filePath("usr/share/doc/varnow")));
  QFile page(root.filePath("usr/share/doc/varnow/VNHELP.HTM"));
  ASSERT_TRUE(page.open(QIODevice::WriteOnly));
  page.close();
  EXPECT_EQ(HelpPagePath(), page.fileName());
  qputenv("XDG_DATA_DIRS", oldDirs);
}

}  // namespace varnow

int main(int argc, char** argv) { return varnow::test::RunOffscreenTests(argc, argv); }
