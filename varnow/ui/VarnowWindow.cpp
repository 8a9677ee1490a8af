#include "varnow/ui/VarnowWindow.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QDesktopServices>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QScopeGuard>
#include <QSplitter>
#include <QStandardPaths>
#include <QTimer>
#include <QToolButton>
#include <QUrl>

#include <algorithm>

#include "platform/dirlist.h"
#include "platform/guarded.h"
#include "platform/process.h"
#include "platform/tracelog.h"
#include "varnow/ui/AboutDlg.h"
#include "varnow/ui/AlertDlg.h"
#include "varnow/ui/DataFormatDialog.h"
#include "varnow/ui/DisplayFont.h"
#include "varnow/ui/FileActions.h"
#include "varnow/ui/GrowthDlg.h"
#include "varnow/ui/Images.h"
#include "varnow/ui/PreferencesDlg.h"
#include "varnow/ui/PrintDlg.h"
#include "varnow/ui/QtPrompts.h"
#include "varnow/ui/SplashWnd.h"
#include "varnow/ui/TreemapReader.h"
#include "varnow/ui/WindowKeys.h"
#include "varnow/ui/osinfo.h"
#include "varnow/update/UpdateBoxes.h"

namespace varnow {

namespace {

constexpr char kHelpPage[] = "VNHELP.HTM";
// The window's height in dialog units when it opens: room for the grid and the treemap below it.
constexpr int kWindowHeightUnits = 300;
// The command buttons' width once the window is wide enough, in dialog units: what the first
// size gives them, so that they do not stretch with the window.
constexpr int kButtonUnits = 20;
constexpr int kScanButtonLeftUnits = 156;

struct CButtonSpec {
  const char* name;
  const char* image;
  QRect units;  // where the dialog template puts it, in dialog units
};

constexpr CButtonSpec kButtonSpecs[CVarnowWindow::kButtonCount] = {
    {"Scan", kScanImage, {156, 1, 24, 21}},          {"Save Data", kSaveImage, {169, 1, 24, 21}},
    {"Print", kPrintImage, {186, 0, 24, 21}},        {"Growth", kGrowthImage, {198, 0, 24, 21}},
    {"Preferences", kPreferencesImage, {211, 0, 24, 21}},
    {"Alerts", kAlertsImage, {235, 0, 24, 21}},      {"Help", kHelpImage, {260, 0, 24, 21}},
    {"Exit", kExitImage, {285, 0, 24, 21}},
};

QString Text(const std::string& bytes) { return QString::fromUtf8(bytes.data(), static_cast<int>(bytes.size())); }

std::string Bytes(const QString& text) { return text.toUtf8().toStdString(); }

}  // namespace

CVarnowWindow::CVarnowWindow(CVarnowDlg& dlg, CQtPrompts& prompts, QWidget* parent)
    : QDialog(parent), m_dlg(dlg), m_prompts(prompts), m_picker(&CVarnowWindow::PickFolder) {
  setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinMaxButtonsHint |
                 Qt::WindowCloseButtonHint);
  setSizeGripEnabled(true);
  BuildControls();
  PlaceControls();
  ConnectControls();
  AddCommandKeys(*this);
  GetProgramVersion(&m_version.major, &m_version.minor, &m_version.build);
  // Last: a window whose construction failed leaves nothing pointing at it.
  m_prompts.SetParent(this);
  m_dlg.SetView(this);
}

CVarnowWindow::~CVarnowWindow() {
  DetachFindViews();
  m_dlg.SetView(nullptr);
  if (m_prompts.Parent() == this) m_prompts.SetParent(nullptr);
}

int CVarnowWindow::DoModal() {
  OnInitDialog();
  return exec();
}

QRect CVarnowWindow::DialogUnits(int x, int y, int width, int height) const {
  const QFontMetrics metrics(font());
  // The width unit of dialog layouts: the mean width of the 52 letters, rounded as dialog
  // templates expect. A font's own average character width is narrower for most Linux fonts and
  // cuts the labels short.
  const int baseX = (metrics.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz")) / 26 + 1) / 2;
  const int baseY = metrics.height();
  return QRect(x * baseX / 4, y * baseY / 8, width * baseX / 4, height * baseY / 8);
}

QLabel* CVarnowWindow::AddLabel(const char* text, const QRect& units, bool rightAligned, const char* accessibleName) {
  auto* label = new QLabel(QString::fromUtf8(text), this);
  Place(label, units);
  label->setAlignment((rightAligned ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter);
  if (accessibleName) label->setAccessibleName(QString::fromUtf8(accessibleName));
  return label;
}

void CVarnowWindow::Place(QWidget* control, const QRect& units) {
  m_placed.emplace_back(control, units);
  control->setGeometry(DialogUnits(units.x(), units.y(), units.width(), units.height()));
}

void CVarnowWindow::BuildControls() {
  setWindowTitle("Varnow");
  m_programIcon = new QLabel(this);
  m_programIcon->setObjectName("programIcon");
  m_programIcon->setAccessibleName("About Varnow");
  m_programIcon->setToolTip("About Varnow");
  m_programIcon->setCursor(Qt::PointingHandCursor);
  m_programIcon->installEventFilter(this);

  m_directory = new QLineEdit(this);
  m_directory->setObjectName("directory");
  m_directory->setAccessibleName("Directory");
  m_browse = new QPushButton("Browse ...", this);
  m_browse->setObjectName("browse");
  m_browse->setAccessibleName("Browse ...");
  m_browse->setAutoDefault(false);  // Enter in the directory field scans; it presses no button

  for (int i = 0; i < kButtonCount; ++i) {
    auto* button = new QToolButton(this);
    button->setObjectName(kButtonSpecs[i].name);
    button->setAccessibleName(kButtonSpecs[i].name);
    button->setToolTip(kButtonSpecs[i].name);
    button->setAutoRaise(false);
    m_buttons[i] = button;
  }
  m_grid = new CGrid(this);
  m_grid->setObjectName("grid");
  BuildFindViews();
}

void CVarnowWindow::PlaceControls() {
  resize(DialogUnits(0, 0, 315, kWindowHeightUnits).size());
  setMinimumSize(DialogUnits(0, 0, 315, 150).size());
  Place(m_programIcon, QRect(5, 5, 20, 20));
  Place(m_directory, QRect(40, 25, 192, 12));
  Place(m_browse, QRect(235, 25, 66, 14));
  for (int i = 0; i < kButtonCount; ++i) {
    const QRect& u = kButtonSpecs[i].units;
    Place(m_buttons[i], u);
  }
  Place(m_split, QRect(6, 81, 259, kWindowHeightUnits - 87));
  AddLabel("Directory", QRect(5, 27, 32, 8), false, nullptr);

  // The right-aligned labels end two units before their values.
  m_freeSpaceLabel = AddLabel("Free Space:", QRect(170, 40, 74, 8), true, nullptr);
  m_freeSpace = AddLabel("0", QRect(246, 40, 60, 8), true, "Free Space");
  m_scannedSizeLabel = AddLabel("Scanned Directory Size:", QRect(148, 50, 96, 8), true, nullptr);
  m_scannedSize = AddLabel("0", QRect(246, 50, 60, 8), true, "Scanned Directory Size");
  m_totalUsedLabel = AddLabel("Total Used:", QRect(181, 60, 63, 8), true, nullptr);
  m_totalUsed = AddLabel("0", QRect(246, 60, 60, 8), true, "Total Used");
  m_directoriesLabel = AddLabel("Directories Scanned:", QRect(5, 40, 64, 8), false, nullptr);
  m_directories = AddLabel("0", QRect(70, 40, 70, 8), false, "Directories Scanned");
  m_filesLabel = AddLabel("Files Scanned:", QRect(5, 50, 64, 8), false, nullptr);
  m_files = AddLabel("0", QRect(70, 50, 70, 8), false, "Files Scanned");
  m_clusterLabel = AddLabel("Cluster Size:", QRect(5, 60, 64, 8), false, nullptr);
  m_clusterSize = AddLabel("0", QRect(70, 60, 76, 8), false, "Cluster Size");
  m_projection = AddLabel("", QRect(5, 70, 301, 8), false, "Disk full projection");
  FitCountLabels();
}

// A font wider than the layout was drawn for leaves the count labels too little room: they keep
// their whole text, and the three values beside them move right together.
void CVarnowWindow::FitCountLabels() {
  int overflow = 0;
  for (const char* text : {"Directories Scanned:", "Files Scanned:", "Cluster Size* :"})
    overflow = std::max(overflow, fontMetrics().horizontalAdvance(QString::fromUtf8(text)) - m_directoriesLabel->width());
  if (overflow <= 0) return;
  for (QLabel* label : {m_directoriesLabel, m_filesLabel, m_clusterLabel})
    label->resize(label->width() + overflow, label->height());
  for (QLabel* value : {m_directories, m_files, m_clusterSize}) value->move(value->x() + overflow, value->y());
}

// A new font changes the dialog units: the controls go back to their places in the new units
// (then the resize rules apply), so that no text is cut off.
void CVarnowWindow::changeEvent(QEvent* event) {
  QDialog::changeEvent(event);
  if (event->type() != QEvent::FontChange || m_placed.empty()) return;
  for (const auto& [control, units] : m_placed)
    control->setGeometry(DialogUnits(units.x(), units.y(), units.width(), units.height()));
  FitCountLabels();
  setMinimumSize(DialogUnits(0, 0, 315, 150).size());
  if (!m_shown) resize(DialogUnits(0, 0, 315, kWindowHeightUnits).size());
  OnSize();
}

void CVarnowWindow::ConnectControls() {
  connect(m_browse, &QPushButton::clicked, this, &CVarnowWindow::OnBrowse);
  connect(m_directory, &QLineEdit::textChanged, this, [this] {
    if (!m_pushing) OnChangePath();
  });
  connect(m_directory, &QLineEdit::returnPressed, this, &CVarnowWindow::OnScan);
  connect(m_buttons[kScan], &QToolButton::clicked, this, &CVarnowWindow::OnScan);
  connect(m_buttons[kSaveData], &QToolButton::clicked, this, &CVarnowWindow::OnSave);
  connect(m_buttons[kPrint], &QToolButton::clicked, this, &CVarnowWindow::OnPrint);
  connect(m_buttons[kGrowth], &QToolButton::clicked, this, &CVarnowWindow::OnGrowth);
  connect(m_buttons[kPreferences], &QToolButton::clicked, this, &CVarnowWindow::OnPreference);
  connect(m_buttons[kAlerts], &QToolButton::clicked, this, &CVarnowWindow::OnAlerts);
  connect(m_buttons[kHelp], &QToolButton::clicked, this, &CVarnowWindow::OnHelp);
  connect(m_buttons[kExit], &QToolButton::clicked, this, &QDialog::reject);
  ConnectFindViews();
}

QString CVarnowWindow::TitleFor(unsigned major, unsigned minor, int updateStatus) {
  return QString("Varnow %1.%2").arg(major).arg(minor) + QString::fromStdString(UpdateTitleSuffix(updateStatus));
}

void CVarnowWindow::OnInitDialog() {
  platform::Guarded("OnInitDialog", [&] {
    VN_TRACE("CVarnowDlg::OnInitDialog");
    m_grid->SetOwner(this);
    if (!ApplyDisplayFont(this)) m_grid->SetGridFont(font());
    setWindowIcon(ResourceIcon(kProgramIconImage));
    m_programIcon->setPixmap(ResourcePixmap(kProgramIconImage, m_programIcon->size()));
    ApplyColumnWidths();
    RestoreSplitter();
    bool iconsLoaded = true;
    for (int i = 0; i < kButtonCount; ++i) {
      const QIcon icon = ResourceIcon(kButtonSpecs[i].image);
      iconsLoaded = iconsLoaded && !icon.isNull();
      m_buttons[i]->setIcon(icon);
    }
    if (!iconsLoaded) VN_TRACE("OnInitDialog:: failed to load an icon resource");
    // The title tells what the previous check found; this start's check runs in the background.
    setWindowTitle(TitleFor(m_version.major, m_version.minor, GetUpdateStatus(m_version)));
    DataFormatDialog legacy(this, m_dlg.Settings().dataDirectory,
                            [this](bool convert, bool cleanup) { return m_dlg.ConvertLegacyData(convert, cleanup); });
    legacy.exec();
    m_updateCheck = std::make_unique<CWindowUpdateCheck>(this);
    m_updateCheck->Start();
  });
}

void CVarnowWindow::ApplyColumnWidths() {
  m_grid->SetColWidth(0, WidthFromSetting(GetProfileIntEx(setting::kDirNameWidth), kDefaultNameWidth));
  for (int column = 1; column <= kGridSizeColumns; ++column) {
    const std::string name = "Col" + std::to_string(column) + "Width";
    m_grid->SetColWidth(column, WidthFromSetting(GetProfileIntEx(kSettingsSection, name, kDefaultColWidth),
                                                 kDefaultColWidth));
  }
}

void CVarnowWindow::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (m_shown) return;
  m_shown = true;
  OnShowWindow();
  CSplashWnd::ShowSplashScreen(this);
}

void CVarnowWindow::OnShowWindow() {
  platform::Guarded("OnShowWindow", [&] {
    m_dlg.SetDirectoryText(m_dlg.ScanDir());
    PushDirectoryText(m_dlg.DirectoryText());
    UpdateStats();
    OnSize();
  });
}

void CVarnowWindow::resizeEvent(QResizeEvent* event) {
  QDialog::resizeEvent(event);
  OnSize();
}

void CVarnowWindow::OnSize() {
  platform::Guarded("OnSize", [&] {
    const int width = this->width();
    const int height = this->height();
    // The command buttons share the width right of the Scan button's first left edge, up to
    // their comfortable width; then they end where the Browse button does.
    const int left = DialogUnits(kScanButtonLeftUnits, 0, 0, 0).x();
    const int w = std::min((width - left) / kButtonCount, DialogUnits(0, 0, kButtonUnits, 0).width());
    const int start = std::max(left, width - 10 - kButtonCount * w);
    for (int i = 0; i < kButtonCount; ++i)
      m_buttons[i]->setGeometry(start + i * w, 0, w, m_buttons[i]->height());
    m_split->setGeometry(10, m_split->y(), width - 20, height - 10 - m_split->y());
    m_browse->move(width - 10 - m_browse->width(), m_browse->y());
    m_projection->resize(width - 10 - m_projection->x(), m_projection->height());
    ShowProjection();
    m_directory->resize(m_browse->x() - 10 - m_directory->x(), m_directory->height());
    const int shift = width - 10 - m_totalUsed->geometry().right() - 1;
    for (QLabel* status :
         {m_freeSpaceLabel, m_freeSpace, m_scannedSizeLabel, m_scannedSize, m_totalUsedLabel, m_totalUsed})
      status->move(status->x() + shift, status->y());
  });
}

// A line longer than the window loses the middle of its directory, never its date; the whole
// line is the label's tip.
void CVarnowWindow::ShowProjection() {
  m_projection->setText(m_projection->fontMetrics().elidedText(m_projectionText, Qt::ElideMiddle, m_projection->width()));
  m_projection->setToolTip(m_projectionText);
}

void CVarnowWindow::PushDirectoryText(const std::string& text) {
  const QString shown = Text(text);
  m_fieldText = shown;
  m_fieldBytes = text;
  if (m_directory->text() == shown) return;
  m_pushing = true;
  m_directory->setText(shown);
  m_pushing = false;
}

// The text the window put into the field stands for its bytes; what was typed after it is
// added as typed.
std::string CVarnowWindow::ReadDirectoryText() const {
  const QString text = m_directory->text();
  if (!m_fieldText.isEmpty() && text.startsWith(m_fieldText))
    return m_fieldBytes + Bytes(text.mid(m_fieldText.size()));
  return Bytes(text);
}

std::string CVarnowWindow::PickFolder(QWidget* parent, const std::string& start) {
  const QString folder = QFileDialog::getExistingDirectory(parent, "Select Directory to Scan", Text(start));
  if (folder.isEmpty()) return {};
  std::string chosen = Bytes(folder);
  if (chosen.back() != '/') chosen += '/';
  return chosen;
}

void CVarnowWindow::OnBrowse() {
  platform::Guarded("OnBrowse", [&] {
    const std::string folder = m_picker(this, ReadDirectoryText());
    if (!folder.empty()) m_directory->setText(Text(folder));
  });
}

void CVarnowWindow::OnChangePath() {
  platform::Guarded("OnChangePath", [&] {
    const std::string previous = m_dlg.DirectoryText();
    std::string typed = ReadDirectoryText();
    // The field adds the separator when a directory is named; the one typed next is dropped
    // instead of doubled.
    if (typed.size() == previous.size() + 1 && typed.ends_with("//") && typed.compare(0, previous.size(), previous) == 0) {
      typed.pop_back();
      PushDirectoryText(typed);
    }
    const bool grew = typed.size() >= previous.size();
    if (!m_dlg.ChangeDirectoryText(typed) || !grew) return;
    PushDirectoryText(m_dlg.DirectoryText());
    if (m_dlg.DirectoryText() != typed) m_directory->setCursorPosition(m_directory->text().size());
  });
}

void CVarnowWindow::OnScan() {
  m_dlg.SetDirectoryText(ReadDirectoryText());
  m_trashed->Clear();  // the scan shows what is left
  m_dlg.OnScan();
  PushDirectoryText(m_dlg.DirectoryText());
}

void CVarnowWindow::OnSave() { m_dlg.OnSave(); }

void CVarnowWindow::OnPrint() {
  platform::Guarded("OnPrint", [&] {
    PrintOptionsDialog dialog(m_dlg, this);
    dialog.exec();
  });
}

void CVarnowWindow::OnGrowth() {
  platform::Guarded("OnGrowth", [&] {
    // Growth lists more lines here than on the command line: the list scrolls.
    constexpr int kWindowGrowthLines = 100;
    CGrowthReport report;
    {
      QApplication::setOverrideCursor(Qt::WaitCursor);
      const auto restore = qScopeGuard([] { QApplication::restoreOverrideCursor(); });
      report = m_dlg.GrowthReport(kWindowGrowthLines);
    }
    CGrowthDlg dialog(report, m_dlg.Settings().preferredUnits, m_dlg.ProjectionLine(),
                      [this](const std::string& path) { GoToDirectory(path); }, this);
    dialog.SetFileActions(m_actions);
    dialog.exec();
  });
}

void CVarnowWindow::OnPreference() {
  platform::Guarded("OnPreference", [&] {
    CPreferencesDlg preferences(m_dlg, this);
    preferences.exec();
    UpdateStats();  // a new unit, order or cluster mode: one new snapshot
  });
}

void CVarnowWindow::OnAlerts() {
  platform::Guarded("OnAlerts", [&] {
    m_dlg.SetDirectoryText(ReadDirectoryText());
    AlertManagementDialog alerts(ReadDirectoryText(), this);
    alerts.SetFolderPicker(m_picker);
    alerts.DoModal();
  });
}

QString HelpPagePath() {
  const QString beside = Text(platform::ProgramFolder() + kHelpPage);
  if (QFileInfo::exists(beside)) return beside;
  // Installed by a package, the page is documentation: <prefix>/share/doc/varnow/ beside the
  // program's bin/, or wherever the data folders hold doc/varnow/.
  const QString installed = QFileInfo(Text(platform::ProgramFolder() + "../share/doc/varnow/" + kHelpPage)).absoluteFilePath();
  if (QFileInfo::exists(installed)) return installed;
  const QString documented = QStandardPaths::locate(QStandardPaths::GenericDataLocation, QString("doc/varnow/") + kHelpPage);
  if (!documented.isEmpty()) return documented;
  return QStandardPaths::locate(QStandardPaths::GenericDataLocation, QString("varnow/") + kHelpPage);
}

void CVarnowWindow::OnHelp() {
  platform::Guarded("OnHelp", [&] {
    const QString page = HelpPagePath();
    if (page.isEmpty()) {
      ShowMessageBox(this, "The help page could not be found. It belongs beside the program, as " +
                               platform::ProgramFolder() + kHelpPage + ", or in /usr/share/doc/varnow/.",
                     "Varnow Help");
    } else if (!QDesktopServices::openUrl(QUrl::fromLocalFile(page))) {
      ShowMessageBox(this, "There is no program set up to open web pages, so the help page could not be shown. "
                           "You can open it in a browser yourself: " + Bytes(page), "Varnow Help");
    }
  });
}

void CVarnowWindow::OnAbout() { ShowAboutBox(this); }

// Escape does not close the main window, and Enter presses no default button: the focused
// control has handled either key already (the directory field scans, the grid opens a row).
void CVarnowWindow::keyPressEvent(QKeyEvent* event) {
  switch (event->key()) {
    case Qt::Key_Escape:
    case Qt::Key_Return:
    case Qt::Key_Enter:
      return event->accept();
    default:
      QDialog::keyPressEvent(event);
  }
}

void CVarnowWindow::contextMenuEvent(QContextMenuEvent* event) {
  if (m_split->geometry().contains(event->pos())) return;
  QMenu menu(this);
  menu.addAction("&About Varnow...", this, &CVarnowWindow::OnAbout);
  menu.exec(event->globalPos());
}

bool CVarnowWindow::eventFilter(QObject* watched, QEvent* event) {
  if (watched == m_programIcon && event->type() == QEvent::MouseButtonRelease) {
    OnAbout();
    return true;
  }
  return QDialog::eventFilter(watched, event);
}

void CVarnowWindow::UpdateStats() { m_dlg.UpdateStats(); }

void CVarnowWindow::ShowSnapshot(const std::shared_ptr<const CDirSnapshot>& snapshot) {
  if (!snapshot || !snapshot->record) return;
  m_snapshot = snapshot;
  ShowStats(StatusTexts(*snapshot, m_dlg.Settings().preferredUnits));
  FillInGrid();
  RefreshTreemap();
}

void CVarnowWindow::ShowStats(const CStatusTexts& texts) {
  platform::Guarded("UpdateStats", [&] {
    m_freeSpace->setText(Text(texts.freeSpace));
    m_scannedSize->setText(Text(texts.scannedSize));
    m_totalUsed->setText(Text(texts.totalUsed));
    m_directories->setText(Text(texts.directories));
    m_files->setText(Text(texts.files));
    m_clusterSize->setText(Text(texts.clusterSize));
    m_clusterLabel->setText(texts.compressed ? "Cluster Size* :" : "Cluster Size :");
    m_projectionText = Text(m_snapshot->projection);
    ShowProjection();
    PushDirectoryText(m_dlg.DirectoryText());
  });
}

bool CVarnowWindow::FillInGrid() {
  return platform::Guarded("FillInGrid", [&] {
    if (!m_snapshot) return false;
    const CVarnowSettings& settings = m_dlg.Settings();
    return m_grid->FillInGrid(m_snapshot->record, settings.preferredUnits, settings.preferredSortMethod);
  });
}

void CVarnowWindow::OnSortMethodChosen(SortMethod sortMethod) { m_dlg.MutableSettings().preferredSortMethod = sortMethod; }

void CVarnowWindow::OnDblClickGrid(const std::string& name) {
  if (!m_dlg.OpenSubdirectory(name)) return;
  PushDirectoryText(m_dlg.DirectoryText());
  ScanOnClick();
}

void CVarnowWindow::GoToDirectory(const std::string& path) {
  if (!m_dlg.GoToDirectory(path)) return;
  PushDirectoryText(m_dlg.DirectoryText());
  ScanOnClick();
}

void CVarnowWindow::ScanOnClick() {
  if (m_dlg.Settings().scanOnClick != 1) return;
  m_dlg.CommandLineFields().automatedRun = 0;
  OnScan();
}

void CVarnowWindow::OnBack() {
  m_dlg.GoUp();
  PushDirectoryText(m_dlg.DirectoryText());
}

void CVarnowWindow::done(int result) {
  if (result == QDialog::Accepted) m_dlg.SetDirectoryText(ReadDirectoryText());  // OK reads the fields back
  OnDestroy();
  QDialog::done(result);
}

void CVarnowWindow::OnDestroy() {
  if (m_destroyed) return;
  m_destroyed = true;
  VN_TRACE("CVarnowDlg::OnDestroy");
  std::array<int, 7> widths{};
  widths[0] = WidthToStore(m_grid->ColWidth(0), kMinStoredNameWidth);
  for (int column = 1; column <= kGridSizeColumns; ++column)
    widths[column] = WidthToStore(m_grid->ColWidth(column), kMinStoredColWidth);
  WriteWindowSettings(m_dlg.Settings(), widths);
  SaveSplitter();
}

}  // namespace varnow
