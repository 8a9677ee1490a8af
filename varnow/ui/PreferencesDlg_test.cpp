// The preferences, the display font and the cluster size overrides, offscreen: the dialogs driven
// as a user would, with the main window around them where they act on it.
#include "varnow/ui/PreferencesDlg.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QFontDatabase>
#include <QFontDialog>
#include <QFontInfo>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <QElapsedTimer>
#include <QTimer>
#include <QToolButton>

#include <sys/stat.h>

#include <algorithm>
#include <fstream>

#include "platform/mounts.h"
#include "platform/registry.h"
#include "varnow/report/FormatSize.h"
#include "varnow/settings/Settings.h"
#include "varnow/store/DataFile.h"
#include "varnow/testsupport/TestHome.h"
#include "varnow/testsupport/WindowTestSupport.h"
#include "varnow/ui/AboutDlg.h"
#include "varnow/ui/ClusterSizeDialog.h"
#include "varnow/ui/DisplayFont.h"
#include "varnow/ui/QtPrompts.h"
#include "varnow/ui/VarnowWindow.h"

namespace varnow {
namespace {

using ::testing::ElementsAre;
using ::testing::IsSupersetOf;
using platform::Hive;
using platform::Registry;

QPushButton* ButtonNamed(QWidget* parent, const QString& text) {
  for (QPushButton* button : parent->findChildren<QPushButton*>())
    if (button->text() == text) return button;
  return nullptr;
}

void Click(QWidget* parent, const QString& text) {
  QPushButton* button = ButtonNamed(parent, text);
  if (!button) {
    ADD_FAILURE() << "no button " << text.toStdString();
    return;
  }
  button->click();
}

// Runs action on the modal dialog of the given class once the event loop next runs; anything
// else that is modal then is closed, so that a failing test never hangs.
template <class Dialog>
void WhenShown(std::function<void(Dialog*)> action) {
  QTimer::singleShot(0, [action] {
    QWidget* modal = QApplication::activeModalWidget();
    auto* dialog = qobject_cast<Dialog*>(modal);
    if (!dialog) {
      ADD_FAILURE() << "expected " << Dialog::staticMetaObject.className() << ", found "
                    << (modal ? modal->metaObject()->className() : "nothing");
      if (modal) modal->close();
      return;
    }
    action(dialog);
  });
}

std::vector<std::uint8_t> StoredFontBytes() {
  auto value = Registry::GetValue(Hive::CurrentUser, SettingsKey(kSettingsSection), "Font");
  return value ? value->bytes : std::vector<std::uint8_t>{};
}

std::vector<std::uint8_t> BytesOf(const CLogFont& font) {
  const auto bytes = EncodeLogFont(font);
  return {bytes.begin(), bytes.end()};
}

// The stored overrides as "name=text", in order.
std::vector<std::string> StoredOverrides() {
  std::vector<std::string> stored;
  auto values = Registry::EnumValues(Hive::CurrentUser, SettingsKey(kFixedClusterSizesSection));
  if (!values) return stored;
  for (const auto& [name, value] : *values)
    stored.push_back(name + "=" + (value.type == platform::RegType::Dword ? std::to_string(value.dword) : value.text));
  return stored;
}

QStringList RowHeadings(const CGrid& grid) {
  QStringList names;
  for (int row = 0; row < grid.Model()->rowCount(); ++row)
    names << grid.Model()->headerData(row, Qt::Vertical).toString();
  return names;
}

class PreferencesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_data = m_home.MakeFolder("data");
    m_tree = m_home.MakeFolder("tree");
    m_home.MakeFolder("tree/alpha");
    m_home.MakeFolder("tree/Zeta");
    test::WriteWholeFile(m_tree + "alpha/f", std::string(5000, 'x'));
    test::WriteWholeFile(m_tree + "Zeta/g", std::string(100, 'x'));
    WriteProfileString(kSettingsSection, setting::kDataDirectory.name, m_data);
    WriteProfileInt(kSettingsSection, setting::kPreferredClusterSetting.name, 4);
  }
  CVarnowDlg& Dlg() {
    if (!m_dlg) m_dlg = std::make_unique<CVarnowDlg>(m_prompts, nullptr, m_options);
    return *m_dlg;
  }
  CVarnowWindow& Window() {
    if (!m_window) {
      m_window = std::make_unique<CVarnowWindow>(Dlg(), m_prompts);
      m_window->OnInitDialog();
      m_window->show();
      QCoreApplication::processEvents();
    }
    return *m_window;
  }
  void CloseWindow() {
    m_window.reset();
    m_dlg.reset();
  }
  // Runs the preferences over the main window (when there is one) with action on the dialog.
  void RunPreferences(std::function<void(CPreferencesDlg*)> action) {
    WhenShown<CPreferencesDlg>(std::move(action));
    CPreferencesDlg dialog(Dlg(), m_window.get());
    dialog.exec();
  }

  test::CTestHome m_home;
  std::string m_data;
  std::string m_tree;
  CScanOptions m_options;
  CQtPrompts m_prompts;
  std::unique_ptr<CVarnowDlg> m_dlg;
  std::unique_ptr<CVarnowWindow> m_window;
};

// ---------------------------------------------------------------------------------------------
// Preferences

TEST_F(PreferencesTest, CaptionGroupsAndTexts) {
  CPreferencesDlg dialog(Dlg());
  EXPECT_EQ(dialog.windowTitle(), "Varnow Preferences");
  QStringList groups, buttons, labels, boxes;
  for (auto* group : dialog.findChildren<QGroupBox*>()) groups << group->title();
  for (auto* button : dialog.findChildren<QPushButton*>()) buttons << button->text();
  for (auto* label : dialog.findChildren<QLabel*>()) labels << label->text();
  for (auto* box : dialog.findChildren<QCheckBox*>()) boxes << box->text();
  EXPECT_THAT(groups, IsSupersetOf({"Sort Method", "Display Units", "Cluster Size", "Data", "Display Fonts"}));
  EXPECT_THAT(buttons, IsSupersetOf({"&OK", "&Cancel", "&About ...", "Choose Font ...", "Reset to Default",
                                     "Cluster Size Override ..."}));
  EXPECT_THAT(labels, IsSupersetOf({"Data Storage Path:", "If the disk space numbers aren't what you expect, see the "
                                                          "Help topic of Disk Size Considerations."}));
  EXPECT_THAT(boxes, IsSupersetOf({"Automatically save data after scanning directories",
                                   "Rescan directory when double clicked on",
                                   "Save data for all subdirectories scanned"}));
  EXPECT_EQ(dialog.SortButton(1)->text(), "By Change in Size");
  EXPECT_EQ(dialog.UnitButton(2)->text(), "MegaBytes (MB =  1048576 bytes)");
  EXPECT_EQ(dialog.ClusterButton(3)->text(), "Ignore (Just count file sizes in bytes)");
}

TEST_F(PreferencesTest, OpensWithTheSettingsOkKeepsTheChoicesCancelNone) {
  CVarnowSettings& settings = Dlg().MutableSettings();
  settings.preferredSortMethod = SortMethodFromStored(3);
  settings.preferredUnits = SizeUnitFromStored(4);
  settings.preferredClusterSetting = ClusterModeFromStored(2);
  settings.autoSave = 0;
  settings.subDirSave = 1;
  settings.scanOnClick = 1;
  RunPreferences([](CPreferencesDlg* dialog) {
    EXPECT_TRUE(dialog->SortButton(1)->isChecked());  // "By Change in Size"
    EXPECT_TRUE(dialog->UnitButton(3)->isChecked());
    EXPECT_TRUE(dialog->ClusterButton(1)->isChecked());
    EXPECT_FALSE(dialog->AutoSaveBox()->isChecked());
    EXPECT_TRUE(dialog->SubDirSaveBox()->isChecked());
    EXPECT_TRUE(dialog->ScanOnClickBox()->isChecked());
    dialog->SortButton(2)->click();  // "By Directory Name"
    dialog->UnitButton(0)->click();
    dialog->ClusterButton(3)->click();
    dialog->AutoSaveBox()->click();
    dialog->SubDirSaveBox()->click();
    dialog->ScanOnClickBox()->click();
    Click(dialog, "&Cancel");
  });
  EXPECT_EQ(StoredCode(Dlg().Settings().preferredSortMethod), 3);
  EXPECT_EQ(StoredCode(Dlg().Settings().preferredUnits), 4);
  EXPECT_EQ(Dlg().Settings().subDirSave, 1);

  RunPreferences([](CPreferencesDlg* dialog) {
    dialog->SortButton(2)->click();
    dialog->UnitButton(0)->click();
    dialog->ClusterButton(3)->click();
    dialog->AutoSaveBox()->click();
    dialog->SubDirSaveBox()->click();
    dialog->ScanOnClickBox()->click();
    Click(dialog, "&OK");
  });
  EXPECT_EQ(StoredCode(settings.preferredSortMethod), 2);
  EXPECT_EQ(StoredCode(settings.preferredUnits), 1);
  EXPECT_EQ(StoredCode(settings.preferredClusterSetting), 4);
  EXPECT_EQ(settings.autoSave, 1);
  EXPECT_EQ(settings.subDirSave, 0);
  EXPECT_EQ(settings.scanOnClick, 0);
  EXPECT_EQ(Dlg().Session().ClusterSize(), 1u);  // the new mode is in effect at once

  // Codes without a button leave the indexes at their start, which OK then stores.
  settings.preferredSortMethod = SortMethodFromStored(7);
  settings.preferredUnits = SizeUnitFromStored(0);
  settings.preferredClusterSetting = ClusterModeFromStored(9);
  RunPreferences([](CPreferencesDlg* dialog) {
    EXPECT_TRUE(dialog->SortButton(1)->isChecked());
    EXPECT_TRUE(dialog->UnitButton(1)->isChecked());
    EXPECT_TRUE(dialog->ClusterButton(1)->isChecked());
    Click(dialog, "&OK");
  });
  EXPECT_EQ(StoredCode(settings.preferredSortMethod), 3);
  EXPECT_EQ(StoredCode(settings.preferredUnits), 2);
  EXPECT_EQ(StoredCode(settings.preferredClusterSetting), 2);
}

TEST_F(PreferencesTest, DataFolderGetsItsSlashAnEmptyFieldMeansTheDefaultAndSavesGoThere) {
  auto enter = [this](const std::string& text) {
    RunPreferences([this, text](CPreferencesDlg* dialog) {
      // The folder in effect; the default one greyed as the placeholder of an empty field.
      QLineEdit* field = dialog->DataFolderField();
      EXPECT_EQ(field->placeholderText().toStdString(), DefaultDataDirectory());
      if (Dlg().Settings().dataDirectory == DefaultDataDirectory()) EXPECT_TRUE(field->text().isEmpty());
      else EXPECT_EQ(field->text().toStdString(), Dlg().Settings().dataDirectory);
      field->setText(QString::fromStdString(text));
      Click(dialog, "&OK");
    });
    return Dlg().Settings().dataDirectory;
  };
  EXPECT_EQ(enter("/srv/scandata"), "/srv/scandata/");
  EXPECT_EQ(enter("/srv/scandata/"), "/srv/scandata/");
  EXPECT_EQ(enter(""), DefaultDataDirectory());
  EXPECT_EQ(enter(""), DefaultDataDirectory());  // shown empty, kept as the default

  // The session writes into the folder chosen.
  const std::string other = m_home.MakeFolder("other");
  EXPECT_EQ(enter(other.substr(0, other.size() - 1)), other);
  Dlg().Session().SetScanDir(m_tree);
  Dlg().Session().QueueSave(Dlg().Session().dd);
  Dlg().Session().SaveOutData();
  EXPECT_TRUE(std::filesystem::exists(other + std::string(kDataFileName)));
  EXPECT_FALSE(std::filesystem::exists(m_data + std::string(kDataFileName)));
}

TEST_F(PreferencesTest, WindowPreferencesButtonChangesOrderAndUnitAndTheStoreKeepsThem) {
  WriteProfileInt(kSettingsSection, setting::kPreferredSortMethod.name, 1);
  WriteProfileInt(kSettingsSection, setting::kPreferredUnits.name, 1);
  Window().DirectoryField()->setText(QString::fromStdString(m_tree));
  Window().CommandButton(CVarnowWindow::kScan)->click();
  EXPECT_EQ(RowHeadings(*Window().Grid()), QStringList({"alpha", "Zeta", "[Total Used]", "[Total Free]"}));
  EXPECT_EQ(Window().TotalUsedValue()->text(), "5,100 bytes");

  WhenShown<CPreferencesDlg>([this](CPreferencesDlg* dialog) {
    EXPECT_EQ(dialog->parentWidget(), m_window.get());
    dialog->SortButton(2)->click();
    dialog->UnitButton(2)->click();
    Click(dialog, "&OK");
  });
  Window().CommandButton(CVarnowWindow::kPreferences)->click();
  EXPECT_EQ(RowHeadings(*Window().Grid()), QStringList({"Zeta", "alpha", "[Total Used]", "[Total Free]"}));
  EXPECT_EQ(Window().Grid()->Model()->index(1, 0).data().toString(), "0 MB");
  EXPECT_EQ(Window().TotalUsedValue()->text(), "0 MB");

  Window().CommandButton(CVarnowWindow::kExit)->click();
  CloseWindow();
  EXPECT_EQ(GetProfileInt(kSettingsSection, "PreferredSortMethod", -1), 2);
  EXPECT_EQ(GetProfileInt(kSettingsSection, "PreferredUnits", -1), 3);
}

// ---------------------------------------------------------------------------------------------
// Display font

TEST_F(PreferencesTest, FontRecordRoundTripsThroughQFontByteForByte) {
  const std::vector<std::uint8_t> defaultBytes = BytesOf(DefaultLogFont());
  EXPECT_EQ(BytesOf(LogFontFromFont(FontFromLogFont(*DecodeLogFont(defaultBytes)))), defaultBytes);

  QFont serif("DejaVu Serif");
  serif.setPointSize(16);
  serif.setBold(true);
  serif.setItalic(true);
  QFont mono("DejaVu Sans Mono");
  mono.setPixelSize(13);
  mono.setUnderline(true);
  mono.setStrikeOut(true);
  mono.setFixedPitch(true);
  mono.setStyleHint(QFont::Monospace);
  for (const QFont& chosen : {serif, mono}) {
    const CLogFont record = LogFontFromFont(chosen);
    const std::vector<std::uint8_t> bytes = BytesOf(record);
    EXPECT_EQ(BytesOf(LogFontFromFont(FontFromLogFont(*DecodeLogFont(bytes)))), bytes) << record.faceName;
  }
  EXPECT_EQ(LogFontFromFont(serif).height, -21);  // 16 points at 96 dots per inch
  EXPECT_EQ(LogFontFromFont(serif).weight, 700);
  EXPECT_EQ(LogFontFromFont(mono).pitchAndFamily, 0x31);

  // A face that is not installed keeps its name and draws with the desktop's sans-serif.
  const QFont standIn = FontFromLogFont(DefaultLogFont());
  EXPECT_EQ(standIn.family(), "MS Sans Serif");
  EXPECT_EQ(standIn.pixelSize(), 14);
  EXPECT_EQ(standIn.weight(), 400);
  if (!QFontDatabase::hasFamily("MS Sans Serif")) {
    EXPECT_EQ(QFontInfo(standIn).family(), QFontInfo(QFontDatabase::systemFont(QFontDatabase::GeneralFont)).family());
  }

  // A damaged size is bounded, not drawn at a million pixels.
  CLogFont huge;
  huge.height = std::numeric_limits<std::int32_t>::min();
  huge.weight = -5;
  EXPECT_EQ(FontFromLogFont(huge).pixelSize(), 400);
  EXPECT_EQ(FontFromLogFont(huge).weight(), 1);
}

TEST_F(PreferencesTest, MissingOrDamagedFontIsReplacedByTheDefaultAtTheWindowsStart) {
  const std::vector<std::uint8_t> defaultBytes = BytesOf(DefaultLogFont());
  Window();
  EXPECT_EQ(StoredFontBytes(), defaultBytes);  // written at the first start
  CloseWindow();

  CLogFont big;
  big.height = -30;
  std::vector<std::uint8_t> longer = BytesOf(big), shorter = BytesOf(big);
  longer.push_back(0);
  shorter.pop_back();
  const std::string key = SettingsKey(kSettingsSection);
  for (const auto& bytes : {shorter, longer}) {
    ASSERT_TRUE(Registry::SetBinary(Hive::CurrentUser, key, "Font", bytes));
    Window();
    EXPECT_EQ(StoredFontBytes(), defaultBytes) << bytes.size();
    EXPECT_EQ(Window().font().pixelSize(), 14) << bytes.size();
    CloseWindow();
  }
  ASSERT_TRUE(Registry::SetString(Hive::CurrentUser, key, "Font", "MS Sans Serif"));
  Window();
  EXPECT_EQ(StoredFontBytes(), defaultBytes);
  CloseWindow();

  // A good one is shown as it is.
  ASSERT_TRUE(WriteFontSetting(big));
  Window();
  EXPECT_EQ(Window().DirectoryField()->font().pixelSize(), 30);
  EXPECT_EQ(StoredFontBytes(), BytesOf(big));
}

TEST_F(PreferencesTest, ChosenFontIsWrittenAtOnceAndStaysAfterCancel) {
  Window();
  CVarnowSettings& settings = Dlg().MutableSettings();
  const SortMethod sortBefore = settings.preferredSortMethod;
  QFont selected;
  RunPreferences([&](CPreferencesDlg* dialog) {
    dialog->SortButton(0)->click();
    WhenShown<QFontDialog>([&](QFontDialog* fonts) {
      QFont serif("DejaVu Serif");
      serif.setPointSize(16);
      serif.setBold(true);
      fonts->setCurrentFont(serif);
      selected = fonts->currentFont();
      fonts->accept();
    });
    Click(dialog, "Choose Font ...");
    Click(dialog, "&Cancel");
  });
  EXPECT_EQ(settings.preferredSortMethod, sortBefore);
  const std::vector<std::uint8_t> stored = StoredFontBytes();
  EXPECT_EQ(stored, BytesOf(LogFontFromFont(selected)));
  ASSERT_TRUE(DecodeLogFont(stored));
  EXPECT_EQ(DecodeLogFont(stored)->faceName, "DejaVu Serif");
  EXPECT_EQ(DecodeLogFont(stored)->weight, 700);
  // The window shows it, and its font goes back to the same 60 bytes.
  EXPECT_EQ(BytesOf(LogFontFromFont(Window().font())), stored);
  EXPECT_EQ(Window().DirectoryField()->font().family(), "DejaVu Serif");
  EXPECT_EQ(Window().Grid()->font().weight(), QFont::Normal);
  // The controls moved to their places in the units of the new font.
  // (a font too wide for the count labels moves their values right, never left)
  EXPECT_EQ(Window().DirectoriesValue()->y(), Window().DialogUnits(70, 40, 0, 0).y());
  EXPECT_GE(Window().DirectoriesValue()->x(), Window().DialogUnits(70, 40, 0, 0).x());

  // Cancel in the font dialog changes nothing.
  RunPreferences([&](CPreferencesDlg* dialog) {
    WhenShown<QFontDialog>([](QFontDialog* fonts) {
      fonts->setCurrentFont(QFont("DejaVu Sans Mono"));
      fonts->reject();
    });
    Click(dialog, "Choose Font ...");
    Click(dialog, "&OK");
  });
  EXPECT_EQ(StoredFontBytes(), stored);
}

TEST_F(PreferencesTest, FontDialogOpensOnTheStoredFontAndOkWithoutChangesKeepsIt) {
  struct CCase {
    const char* face;
    std::int32_t height, weight;
    std::uint8_t italic;
  };
  const CCase cases[] = {{"MS Sans Serif", -14, 400, 0}, {"DejaVu Serif", -21, 700, 1},
                         {"DejaVu Sans", -19, 400, 0}, {"DejaVu Sans Mono", -13, 700, 0}};
  Window();
  for (const CCase& c : cases) {
    CLogFont record;
    record.faceName = c.face;
    record.height = c.height;
    record.weight = c.weight;
    record.italic = c.italic;
    ASSERT_TRUE(WriteFontSetting(record));
    QFont opened;
    RunPreferences([&](CPreferencesDlg* dialog) {
      WhenShown<QFontDialog>([&](QFontDialog* fonts) {
        opened = fonts->currentFont();
        fonts->accept();
      });
      Click(dialog, "Choose Font ...");
      Click(dialog, "&Cancel");
    });
    // The face that draws the record, in its style (never a stray oblique), at its size.
    const QString drawn = QFontInfo(FontFromLogFont(record)).family();
    EXPECT_EQ(opened.family(), drawn) << c.face;
    EXPECT_EQ(opened.italic(), c.italic != 0) << c.face;
    EXPECT_EQ(opened.weight(), c.weight) << c.face;
    EXPECT_EQ(opened.pointSize(), qRound(-c.height * 72.0 / 96.0)) << c.face;
    // OK without a change writes the same font back, its pixel height included.
    const std::optional<CLogFont> stored = DecodeLogFont(StoredFontBytes());
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->faceName, drawn.toStdString());
    EXPECT_EQ(stored->italic, c.italic) << c.face;
    EXPECT_EQ(stored->weight, c.weight) << c.face;
    EXPECT_EQ(stored->height, c.height) << c.face;
    EXPECT_EQ(Window().font().italic(), c.italic != 0) << c.face;
  }
}

TEST_F(PreferencesTest, AboutBoxOfThePreferencesChecksForUpdates) {
  // Nothing listens here: the check ends at once, unable to tell.
  WriteProfileString(kSettingsSection, setting::kHomePage.name, "http://127.0.0.1:9/varnow/");
  Window();
  std::vector<std::string> boxes;
  QTimer closer;
  QObject::connect(&closer, &QTimer::timeout, [&] {
    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
      boxes.push_back(box->windowTitle().toStdString() + " over " + box->parentWidget()->metaObject()->className());
      box->accept();
    }
  });
  closer.start(5);
  RunPreferences([&](CPreferencesDlg* dialog) {
    WhenShown<CAboutDlg>([&](CAboutDlg* about) {
      about->CheckForUpdateButton()->click();
      // The check runs beside the window: its answer comes while the About box is open.
      QElapsedTimer waited;
      waited.start();
      while (boxes.empty() && waited.elapsed() < 10000) QApplication::processEvents(QEventLoop::AllEvents, 20);
      about->accept();
    });
    Click(dialog, "&About ...");
    Click(dialog, "&Cancel");
  });
  EXPECT_EQ(boxes, std::vector<std::string>{"Update Status over varnow::CAboutDlg"});
}

TEST_F(PreferencesTest, ResetToDefaultRestylesEveryControlAndTheGridHeadingsBold) {
  CLogFont other;
  other.faceName = "DejaVu Serif";
  other.height = -25;
  other.italic = 1;
  ASSERT_TRUE(WriteFontSetting(other));
  Window();
  ASSERT_TRUE(Window().DirectoryField()->font().italic());
  RunPreferences([](CPreferencesDlg* dialog) {
    Click(dialog, "Reset to Default");
    Click(dialog, "&Cancel");
  });
  EXPECT_EQ(StoredFontBytes(), BytesOf(DefaultLogFont()));

  CGrid* grid = Window().Grid();
  for (QWidget* control : Window().findChildren<QWidget*>()) {
    if (control->isWindow() || control == grid || grid->isAncestorOf(control)) continue;  // the splash is no control
    const QFont font = control->font();
    EXPECT_EQ(font.family(), "MS Sans Serif") << control->metaObject()->className();
    EXPECT_EQ(font.pixelSize(), 14) << control->metaObject()->className();
    EXPECT_EQ(font.weight(), QFont::Normal) << control->metaObject()->className();
    EXPECT_FALSE(font.italic());
  }
  EXPECT_EQ(grid->font().family(), "MS Sans Serif");
  EXPECT_EQ(grid->font().weight(), QFont::Normal);
  for (QWidget* heading : {static_cast<QWidget*>(grid->horizontalHeader()), static_cast<QWidget*>(grid->verticalHeader()),
                           static_cast<QWidget*>(grid->BackButton())}) {
    EXPECT_EQ(heading->font().family(), "MS Sans Serif");
    EXPECT_EQ(heading->font().pixelSize(), 14);
    EXPECT_EQ(heading->font().weight(), QFont::Bold);
  }
}

// ---------------------------------------------------------------------------------------------
// Cluster size overrides

TEST_F(PreferencesTest, OverrideDialogFromThePreferencesWithoutOverridesStoresOnlyTheEmptyName) {
  RunPreferences([](CPreferencesDlg* dialog) {
    WhenShown<CClusterSizeDialog>([](CClusterSizeDialog* sizes) {
      EXPECT_EQ(sizes->windowTitle(), "Get Cluster Size");
      ASSERT_NE(sizes->findChild<QLabel*>(), nullptr);
      EXPECT_EQ(sizes->findChild<QLabel*>()->text(), kClusterSizeText);
      QTableWidget* table = sizes->Table();
      EXPECT_EQ(table->horizontalHeaderItem(0)->text(), "Directory");
      EXPECT_EQ(table->horizontalHeaderItem(1)->text(), "Cluster size in bytes");
      EXPECT_EQ(table->columnWidth(0), 250);
      EXPECT_TRUE(table->verticalHeader()->isHidden());
      using Rows = std::vector<std::pair<std::string, std::string>>;
      EXPECT_EQ(sizes->Rows(), (Rows{{"", ""}, {"", ""}}));
      sizes->accept();
    });
    Click(dialog, "Cluster Size Override ...");
    Click(dialog, "&Cancel");
  });
  EXPECT_THAT(StoredOverrides(), ElementsAre("=0"));
}

TEST_F(PreferencesTest, OverridesListedInOrderWithTheOfferedRowAndOkRewritesTheKey) {
  const std::string section = kFixedClusterSizesSection;
  WriteProfileString(section, "/srv/b", "8192");
  WriteProfileString(section, "", "0");
  WriteProfileString(section, "/srv/a", "junk");
  WriteProfileInt(section, "/mnt", 512);
  WriteProfileString(section, "/old", "1024");
  const std::vector<std::string> before = StoredOverrides();
  using Rows = std::vector<std::pair<std::string, std::string>>;
  {
    CClusterSizeDialog dialog("/net/share");
    EXPECT_EQ(dialog.Rows(), (Rows{{"/srv/b", "8192"}, {"/srv/a", "0"}, {"/mnt", "512"}, {"/old", "1024"},
                                   {"/net/share", "16384"}, {"", ""}, {"", ""}, {"", ""}}));
    EXPECT_EQ(dialog.Table()->currentRow(), 4);
    EXPECT_EQ(dialog.Table()->currentColumn(), 1);
    dialog.Table()->item(0, 1)->setText("4096");
    dialog.reject();  // Cancel stores nothing
  }
  EXPECT_EQ(StoredOverrides(), before);

  CClusterSizeDialog dialog("/net/share");
  QTableWidget* table = dialog.Table();
  table->item(0, 1)->setText("4096 bytes");
  table->item(3, 0)->setText("");  // a row emptied: gone
  table->item(3, 1)->setText("");
  table->item(7, 0)->setText("/media/usb/");  // the last empty row: one more comes
  EXPECT_EQ(table->rowCount(), 9);
  // A size still being typed when OK is pressed counts.
  table->setCurrentCell(7, 1);
  table->editItem(table->item(7, 1));
  QWidget* editor = table->indexWidget(table->model()->index(7, 1));
  ASSERT_NE(editor, nullptr);
  QTest::keyClicks(editor, "32768");
  dialog.accept();
  EXPECT_THAT(StoredOverrides(),
              ElementsAre("/srv/b=4096", "/srv/a=0", "/mnt=512", "=0", "/net/share=16384", "/media/usb=32768"));
  EXPECT_EQ(GetFixedClusterSize("/net/share"), 16384u);
  EXPECT_EQ(GetFixedClusterSize("/old"), 0u);
}

TEST(ClusterSizeTextTest, LeadingDigitsOrZero) {
  const std::pair<const char*, int> cases[] = {{"", 0},        {"abc", 0},   {"4096", 4096}, {" 512", 512},
                                               {"4096 bytes", 4096}, {"-5", 0}, {"+5", 0},      {"99999999999", 0},
                                               {"2147483647", 2147483647}};
  for (auto [text, size] : cases) EXPECT_EQ(CClusterSizeDialog::SizeOfText(text), size) << text;
}

TEST_F(PreferencesTest, UnreadableVolumeAsksOnceAndTheNextScanUsesTheOverride) {
  // A faked mount table: the tree's "vol" folder is a network share whose figures cannot be read.
  const std::string vol = m_tree + "vol";
  m_home.MakeFolder("tree/vol/data");
  test::WriteWholeFile(vol + "/data/f", std::string(3000, 'x'));
  const std::string mounts = m_home.Root() + "/mountinfo";
  std::ofstream(mounts) << "1 0 8:1 / / rw,relatime - ext4 /dev/sda1 rw\n"
                        << "2 1 0:99 / " << vol << " rw,relatime - cifs //srv/share rw\n";
  if (platform::MountTable::Load(mounts).Mounts().empty()) GTEST_SKIP() << "mount table not available";
  m_options.mountinfoPath = mounts;
  m_options.queryVolume = [vol](const std::string& path, platform::VolumeFigures& out) {
    if (path == vol) return false;
    return platform::QueryVolume(path, out);
  };
  WriteProfileInt(kSettingsSection, setting::kPreferredClusterSetting.name, 1);
  WriteProfileInt(kSettingsSection, setting::kPreferredUnits.name, 1);
  Window();

  int asked = 0;
  QTimer answer;
  QObject::connect(&answer, &QTimer::timeout, [&] {
    auto* dialog = qobject_cast<CClusterSizeDialog*>(QApplication::activeModalWidget());
    if (!dialog) return;
    ++asked;
    QTableWidget* table = dialog->Table();
    const int row = table->currentRow();
    EXPECT_EQ(table->item(row, 0)->text().toStdString(), vol);
    EXPECT_EQ(table->item(row, 1)->text(), "16384");
    table->item(row, 1)->setText("8192");
    dialog->accept();
  });
  answer.start(5);
  Window().DirectoryField()->setText(QString::fromStdString(vol + "/data/"));
  Window().CommandButton(CVarnowWindow::kScan)->click();
  EXPECT_EQ(asked, 1);
  EXPECT_THAT(StoredOverrides(), ElementsAre(vol + "=8192", "=0"));  // the empty rows under the empty name
  EXPECT_EQ(Dlg().Session().ClusterSize(), 8192u);
  // One file: one unit of the override, but never more than the blocks it holds on disk.
  struct stat held {};
  ASSERT_EQ(::stat((vol + "/data/f").c_str(), &held), 0);
  EXPECT_EQ(Window().TotalUsedValue()->text().toStdString(),
            FormatSize(std::min<std::int64_t>(8192, static_cast<std::int64_t>(held.st_blocks) * 512), true, SizeUnit::kBytes));

  Window().CommandButton(CVarnowWindow::kScan)->click();  // the next scan: no question
  EXPECT_EQ(asked, 1);
  EXPECT_EQ(Dlg().Session().ClusterSize(), 8192u);
}

}  // namespace
}  // namespace varnow

int main(int argc, char** argv) { return varnow::test::RunOffscreenTests(argc, argv); }
