#include "varnow/ui/PreferencesDlg.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QFontDialog>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include <algorithm>
#include <iterator>
#include <optional>

#include "platform/guarded.h"
#include "platform/tracelog.h"
#include "varnow/ui/AboutDlg.h"
#include "varnow/ui/ClusterSizeDialog.h"
#include "varnow/ui/DisplayFont.h"
#include "varnow/ui/VarnowDlg.h"

namespace varnow {

namespace {

constexpr const char* kSortTexts[] = {"By Directory Size", "By Change in Size", "By Directory Name"};
constexpr const char* kUnitTexts[] = {"Bytes", "KiloBytes (KB = 1024 bytes)", "MegaBytes (MB =  1048576 bytes)",
                                      "GigaBytes (GB =  1073741824 bytes)", "Smart (Display most significant value)"};
constexpr const char* kClusterTexts[] = {"Normal (Read size from drive)", "Compressed (Assume very small cluster size)",
                                         "Smart (Try to determine if compressed)",
                                         "Ignore (Just count file sizes in bytes)"};
constexpr char kClusterNote[] =
    "If the disk space numbers aren't what you expect, see the Help topic of Disk Size Considerations.";

// Radio index i of each group stands for the value at i.
constexpr SortMethod kSortMethods[] = {SortMethod::kBySize, SortMethod::kByChange, SortMethod::kByName};
constexpr SizeUnit kUnits[] = {SizeUnit::kBytes, SizeUnit::kK, SizeUnit::kMB, SizeUnit::kGB, SizeUnit::kSmart};
constexpr ClusterMode kClusterModes[] = {ClusterMode::kNormal, ClusterMode::kCompressed, ClusterMode::kSmart,
                                         ClusterMode::kIgnore};

// The radio index of a value, -1 for one that has no button.
template <typename Value, std::size_t N>
int IndexOf(const Value (&values)[N], Value value) {
  const auto* found = std::find(std::begin(values), std::end(values), value);
  return found == std::end(values) ? -1 : static_cast<int>(found - std::begin(values));
}

// The value of a radio index, none for an index that has no value.
template <typename Value, std::size_t N>
std::optional<Value> ValueAt(const Value (&values)[N], int index) {
  if (index < 0 || index >= static_cast<int>(N)) return std::nullopt;
  return values[index];
}

template <std::size_t N>
QGroupBox* RadioGroup(const char* title, const char* const (&texts)[N], QButtonGroup* group, QWidget* parent) {
  auto* box = new QGroupBox(QString::fromUtf8(title), parent);
  auto* layout = new QVBoxLayout(box);
  for (std::size_t i = 0; i < N; ++i) {
    auto* radio = new QRadioButton(QString::fromUtf8(texts[i]), box);
    group->addButton(radio, static_cast<int>(i));
    layout->addWidget(radio);
  }
  return box;
}

QPushButton* Button(const char* text, QWidget* parent) {
  auto* button = new QPushButton(QString::fromUtf8(text), parent);
  button->setAutoDefault(false);
  return button;
}

void Check(QButtonGroup* group, int index) {
  if (QAbstractButton* button = group->button(index)) button->setChecked(true);
}

}  // namespace

int CPreferencesDlg::SortIndexOf(SortMethod sortMethod) { return IndexOf(kSortMethods, sortMethod); }
std::optional<SortMethod> CPreferencesDlg::SortMethodOf(int sortIndex) { return ValueAt(kSortMethods, sortIndex); }
int CPreferencesDlg::UnitIndexOf(SizeUnit unit) { return IndexOf(kUnits, unit); }
std::optional<SizeUnit> CPreferencesDlg::UnitOf(int unitIndex) { return ValueAt(kUnits, unitIndex); }
int CPreferencesDlg::ClusterIndexOf(ClusterMode cluster) { return IndexOf(kClusterModes, cluster); }
std::optional<ClusterMode> CPreferencesDlg::ClusterOf(int clusterIndex) { return ValueAt(kClusterModes, clusterIndex); }

CPreferencesDlg::CPreferencesDlg(CVarnowDlg& dlg, QWidget* parent) : QDialog(parent), m_dlg(dlg) {
  BuildControls();
  ConnectControls();
  OnInitDialog();
}

void CPreferencesDlg::BuildControls() {
  setWindowTitle("Varnow Preferences");
  m_sort = new QButtonGroup(this);
  m_units = new QButtonGroup(this);
  m_cluster = new QButtonGroup(this);
  QGroupBox* sortBox = RadioGroup("Sort Method", kSortTexts, m_sort, this);
  QGroupBox* unitBox = RadioGroup("Display Units", kUnitTexts, m_units, this);
  QGroupBox* clusterBox = RadioGroup("Cluster Size", kClusterTexts, m_cluster, this);

  auto* note = new QLabel(kClusterNote, clusterBox);
  note->setWordWrap(true);
  m_clusterOverride = Button("Cluster Size Override ...", clusterBox);
  auto* clusterLayout = static_cast<QVBoxLayout*>(clusterBox->layout());
  clusterLayout->addWidget(note);
  clusterLayout->addWidget(m_clusterOverride, 0, Qt::AlignLeft);

  auto* dataBox = new QGroupBox("Data", this);
  m_dataFolder = new QLineEdit(dataBox);
  m_dataFolder->setObjectName("dataFolder");
  auto* dataLabel = new QLabel("Data Storage Path:", dataBox);
  dataLabel->setBuddy(m_dataFolder);
  auto* dataLayout = new QHBoxLayout(dataBox);
  dataLayout->addWidget(dataLabel);
  dataLayout->addWidget(m_dataFolder, 1);

  m_autoSave = new QCheckBox("Automatically save data after scanning directories", this);
  m_scanOnClick = new QCheckBox("Rescan directory when double clicked on", this);
  m_subDirSave = new QCheckBox("Save data for all subdirectories scanned", this);

  auto* fontBox = new QGroupBox("Display Fonts", this);
  m_chooseFont = Button("Choose Font ...", fontBox);
  m_resetFont = Button("Reset to Default", fontBox);
  auto* fontLayout = new QHBoxLayout(fontBox);
  fontLayout->addWidget(m_chooseFont);
  fontLayout->addWidget(m_resetFont);
  fontLayout->addStretch();

  m_ok = new QPushButton("&OK", this);
  m_ok->setDefault(true);
  m_cancel = Button("&Cancel", this);
  m_about = Button("&About ...", this);

  auto* left = new QVBoxLayout;
  left->addWidget(sortBox);
  left->addWidget(unitBox);
  left->addWidget(fontBox);
  left->addStretch();
  auto* right = new QVBoxLayout;
  right->addWidget(clusterBox);
  right->addWidget(dataBox);
  right->addWidget(m_autoSave);
  right->addWidget(m_subDirSave);
  right->addWidget(m_scanOnClick);
  right->addStretch();
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(m_about);
  buttons->addStretch();
  buttons->addWidget(m_ok);
  buttons->addWidget(m_cancel);

  auto* columns = new QHBoxLayout;
  columns->addLayout(left, 1);
  columns->addLayout(right, 1);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(columns);
  layout->addLayout(buttons);
}

void CPreferencesDlg::ConnectControls() {
  connect(m_ok, &QPushButton::clicked, this, &CPreferencesDlg::OnOK);
  connect(m_cancel, &QPushButton::clicked, this, &QDialog::reject);
  connect(m_about, &QPushButton::clicked, this, &CPreferencesDlg::OnAbout);
  connect(m_chooseFont, &QPushButton::clicked, this, &CPreferencesDlg::OnChooseFont);
  connect(m_resetFont, &QPushButton::clicked, this, &CPreferencesDlg::OnResetFont);
  connect(m_clusterOverride, &QPushButton::clicked, this, &CPreferencesDlg::OnClusterSizeOverride);
}

QAbstractButton* CPreferencesDlg::SortButton(int index) const { return m_sort->button(index); }
QAbstractButton* CPreferencesDlg::UnitButton(int index) const { return m_units->button(index); }
QAbstractButton* CPreferencesDlg::ClusterButton(int index) const { return m_cluster->button(index); }

void CPreferencesDlg::OnInitDialog() {
  platform::Guarded("OnInitDialog", [&] {
    const CVarnowSettings& settings = m_dlg.Settings();
    m_autoSaveChecked = settings.autoSave != 0;
    // The default folder is shown greyed as the field's placeholder: an empty field means it.
    const std::string defaultFolder = DefaultDataDirectory();
    m_dataFolder->setPlaceholderText(QString::fromStdString(defaultFolder));
    const std::string shown = settings.dataDirectory == defaultFolder ? std::string() : settings.dataDirectory;
    m_dataFolderText = QString::fromUtf8(shown.data(), static_cast<qsizetype>(shown.size()));
    m_subDirSaveChecked = settings.subDirSave != 0;
    // A code that has no button leaves the index as it was.
    if (int index = SortIndexOf(settings.preferredSortMethod); index >= 0) m_sortIndex = index;
    if (int index = UnitIndexOf(settings.preferredUnits); index >= 0) m_unitIndex = index;
    if (int index = ClusterIndexOf(settings.preferredClusterSetting); index >= 0) m_clusterIndex = index;
    m_scanOnClickChecked = settings.scanOnClick != 0;
    PushFields();
  });
}

void CPreferencesDlg::PushFields() {
  Check(m_sort, m_sortIndex);
  Check(m_units, m_unitIndex);
  Check(m_cluster, m_clusterIndex);
  m_dataFolder->setText(m_dataFolderText);
  m_autoSave->setChecked(m_autoSaveChecked);
  m_scanOnClick->setChecked(m_scanOnClickChecked);
  m_subDirSave->setChecked(m_subDirSaveChecked);
}

void CPreferencesDlg::ReadFields() {
  m_sortIndex = m_sort->checkedId();
  m_unitIndex = m_units->checkedId();
  m_clusterIndex = m_cluster->checkedId();
  m_dataFolderText = m_dataFolder->text();
  m_autoSaveChecked = m_autoSave->isChecked();
  m_scanOnClickChecked = m_scanOnClick->isChecked();
  m_subDirSaveChecked = m_subDirSave->isChecked();
}

void CPreferencesDlg::OnOK() {
  ReadFields();
  platform::Guarded("OnOK", [&] {
    CVarnowSettings& settings = m_dlg.MutableSettings();
    const ClusterMode clusterBefore = settings.preferredClusterSetting;
    if (auto method = SortMethodOf(m_sortIndex)) settings.preferredSortMethod = *method;
    if (auto unit = UnitOf(m_unitIndex)) settings.preferredUnits = *unit;
    if (auto mode = ClusterOf(m_clusterIndex)) settings.preferredClusterSetting = *mode;
    settings.autoSave = m_autoSaveChecked ? 1 : 0;
    settings.subDirSave = m_subDirSaveChecked ? 1 : 0;
    // The folder gets its "/"; an emptied field stands for the default folder, as a stored empty
    // value does.
    const std::string folder = ResolveDataDirectory(m_dataFolderText.toUtf8().toStdString());
    if (folder != settings.dataDirectory) m_dlg.SetDataDirectory(folder);
    settings.scanOnClick = m_scanOnClickChecked ? 1 : 0;
    // The cluster size shown with the statistics follows the new mode at once.
    if (settings.preferredClusterSetting != clusterBefore) m_dlg.RereadClusterSize();
  });
  QDialog::accept();
}

void CPreferencesDlg::OnAbout() { ShowAboutBox(this); }

void CPreferencesDlg::OnChooseFont() {
  platform::Guarded("OnChooseFont", [&] {
    const CLogFont stored = ReadFontSetting().value_or(DefaultLogFont());
    QFontDialog dialog(FontDialogStart(stored), this);
    if (dialog.exec() != QDialog::Accepted) return;
    WriteFontSetting(ChosenLogFont(dialog.selectedFont(), stored));
    ApplyDisplayFont(parentWidget());
  });
}

void CPreferencesDlg::OnResetFont() {
  platform::Guarded("OnResetFont", [&] {
    WriteFontSetting(DefaultLogFont());
    ApplyDisplayFont(parentWidget());
  });
}

void CPreferencesDlg::OnClusterSizeOverride() {
  platform::Guarded("OnClusterSizeOverride", [&] {
    ClusterSizeDialog(std::string(), this);
  });
}

}  // namespace varnow
