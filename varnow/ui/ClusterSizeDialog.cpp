#include "varnow/ui/ClusterSizeDialog.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QScrollBar>
#include <QTableWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <charconv>

#include "platform/guarded.h"
#include "platform/tracelog.h"
#include "varnow/settings/Settings.h"
#include "varnow/ui/HeadlessPrompts.h"

namespace varnow {

namespace {

constexpr int kDirectoryWidth = 250;
constexpr int kSizeWidth = 150;
constexpr int kVisibleRows = 7;
// Empty rows for new entries after the last filled one; two when nothing is filled.
constexpr int kEmptyRowsAfterFilled = 3;
constexpr int kEmptyRowsAlone = 2;

// A table whose open editor can be committed before its rows are read.
class CEditTable : public QTableWidget {
 public:
  using QTableWidget::QTableWidget;
  void CommitEdit() {
    QWidget* editor = indexWidget(currentIndex());
    if (state() != EditingState || !editor) return;
    commitData(editor);
    closeEditor(editor, QAbstractItemDelegate::NoHint);
  }
};

QString Text(const std::string& bytes) { return QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size())); }

std::string CellText(const QTableWidget* table, int row, int column) {
  const QTableWidgetItem* item = table->item(row, column);
  return item ? item->text().toUtf8().toStdString() : std::string();
}

// Scan roots carry no trailing "/" (except the root "/"): one typed with it would never match.
std::string RootName(std::string directory) {
  while (directory.size() > 1 && directory.back() == '/') directory.pop_back();
  return directory;
}

}  // namespace

int CClusterSizeDialog::SizeOfText(const std::string& text) {
  const std::size_t start = text.find_first_not_of(" \t");
  if (start == std::string::npos) return 0;
  int size = 0;
  const auto [end, error] = std::from_chars(text.data() + start, text.data() + text.size(), size);
  if (error != std::errc() || size < 0) return 0;  // no digits, too large, or a sign
  return size;
}

CClusterSizeDialog::CClusterSizeDialog(const std::string& directory, QWidget* parent) : QDialog(parent) {
  setWindowTitle(kClusterSizeCaption);
  auto* text = new QLabel(kClusterSizeText, this);
  text->setWordWrap(true);
  m_table = new CEditTable(0, 2, this);
  m_table->setAccessibleName("Cluster sizes");
  m_table->setHorizontalHeaderLabels({"Directory", "Cluster size in bytes"});
  m_table->verticalHeader()->hide();
  m_table->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  m_table->horizontalHeader()->setHighlightSections(false);
  m_table->horizontalHeader()->setStretchLastSection(true);
  m_table->setWordWrap(false);
  m_table->setTextElideMode(Qt::ElideMiddle);  // both ends of a path tell most
  m_table->setSelectionMode(QAbstractItemView::SingleSelection);
  // The widths grow with a large desktop font, so that the headings stay whole.
  const int directoryWidth = std::max(kDirectoryWidth, m_table->horizontalHeader()->sectionSizeHint(0));
  const int sizeWidth = std::max(kSizeWidth, m_table->horizontalHeader()->sectionSizeHint(1));
  m_table->setColumnWidth(0, directoryWidth);
  m_table->setColumnWidth(1, sizeWidth);
  m_table->setMinimumWidth(directoryWidth + sizeWidth + 2 * m_table->frameWidth() +
                           m_table->verticalScrollBar()->sizeHint().width());
  m_table->setMinimumHeight(m_table->horizontalHeader()->sizeHint().height() +
                            kVisibleRows * m_table->verticalHeader()->defaultSectionSize() + 2 * m_table->frameWidth());

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(text);
  layout->addWidget(m_table, 1);
  layout->addWidget(buttons);

  OnInitDialog(directory);
  connect(m_table, &QTableWidget::cellChanged, this, [this](int row, int) { OnCellChanged(row); });
}

void CClusterSizeDialog::OnInitDialog(const std::string& directory) {
  platform::Guarded("OnInitDialog", [&] {
    for (const auto& [name, size] : GetFixedClusterSizes()) AddRow(name, std::to_string(size));
    if (!directory.empty()) {
      AddRow(directory, std::to_string(kDefaultClusterSize));
      m_table->setCurrentCell(m_table->rowCount() - 1, 1);
    }
    const int empty = m_table->rowCount() > 0 ? kEmptyRowsAfterFilled : kEmptyRowsAlone;
    for (int i = 0; i < empty; ++i) AddRow({}, {});
  });
}

void CClusterSizeDialog::AddRow(const std::string& directory, const std::string& size) {
  const int row = m_table->rowCount();
  m_table->insertRow(row);
  m_table->setItem(row, 0, new QTableWidgetItem(Text(directory)));
  auto* sizeItem = new QTableWidgetItem(Text(size));
  sizeItem->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
  m_table->setItem(row, 1, sizeItem);
}

void CClusterSizeDialog::OnCellChanged(int row) {
  // Filling the last empty row makes room for one more.
  if (row != m_table->rowCount() - 1) return;
  if (CellText(m_table, row, 0).empty() && CellText(m_table, row, 1).empty()) return;
  QSignalBlocker quiet(m_table);
  AddRow({}, {});
}

std::vector<std::pair<std::string, std::string>> CClusterSizeDialog::Rows() const {
  std::vector<std::pair<std::string, std::string>> rows;
  for (int row = 0; row < m_table->rowCount(); ++row)
    rows.emplace_back(CellText(m_table, row, 0), CellText(m_table, row, 1));
  return rows;
}

void CClusterSizeDialog::accept() {
  platform::Guarded("ClusterSizeDialog", [&] {
    static_cast<CEditTable*>(m_table)->CommitEdit();
    std::vector<std::pair<std::string, int>> overrides;
    // Every row is stored, empty ones under the empty name, which readers skip.
    for (const auto& [directory, size] : Rows()) overrides.emplace_back(RootName(directory), SizeOfText(size));
    if (!WriteFixedClusterSizes(overrides)) VN_TRACE("The cluster size overrides could not be stored");
  });
  QDialog::accept();
}

bool ClusterSizeDialog(const std::string& directory, QWidget* owner) {
  CClusterSizeDialog dialog(directory, owner);
  return dialog.exec() == QDialog::Accepted;
}

}  // namespace varnow
