#include "varnow/ui/GrowthDlg.h"

#include <QDialogButtonBox>
#include <QEvent>
#include <QHeaderView>
#include <QLabel>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "platform/guarded.h"
#include "platform/tracelog.h"
#include "varnow/report/GrowthText.h"
#include "varnow/ui/FileActions.h"

namespace varnow {
namespace {

QString Text(const std::string& bytes) { return QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size())); }

// The columns a growth line has; the directory is the last, so long paths push nothing aside.
constexpr int kDirectoryColumn = 7;
// The sizes and the percentage are read by their right edges.
constexpr bool kRightAligned[] = {true, true, true, true, true, false, false, false};

}  // namespace

CGrowthDlg::CGrowthDlg(const CGrowthReport& report, SizeUnit unit, const std::string& projection, GoTo goTo,
                       QWidget* parent)
    : QDialog(parent), m_goTo(std::move(goTo)) {
  setWindowTitle("Growth of " + Text(report.top));
  auto* layout = new QVBoxLayout(this);
  const bool nothing = report.grown.empty() && report.shrunk.empty() && report.added.empty();
  QString introText = "Directories that changed most between their two newest saved scans. Double-click one to show it.";
  if (!report.whyEmpty.empty()) introText = Text(report.whyEmpty);
  else if (nothing) introText = "No directory changed between its two newest saved scans.";
  auto* intro = new QLabel(introText, this);
  intro->setObjectName("intro");
  intro->setWordWrap(true);
  layout->addWidget(intro);
  m_list = new QTreeWidget(this);
  m_list->setAccessibleName("Growth");
  m_list->setRootIsDecorated(false);
  m_list->setUniformRowHeights(true);
  m_list->setAllColumnsShowFocus(true);
  QStringList headings;
  for (const std::string& heading : GrowthHeadings()) headings << Text(heading);
  m_list->setHeaderLabels(headings);
  layout->addWidget(m_list, 1);
  m_projection = new QLabel(Text(projection), this);
  m_projection->setAccessibleName("Disk full projection");
  m_projection->setWordWrap(true);
  layout->addWidget(m_projection);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  layout->addWidget(buttons);
  // A double click, or Enter on the current line.
  connect(m_list, &QTreeWidget::itemActivated, this, [this](QTreeWidgetItem* item) { OnDblClickItem(item); });
  FillList(report, unit);
  resize(920, 440);
}

void CGrowthDlg::FillList(const CGrowthReport& report, SizeUnit unit) {
  const struct {
    const char* title;
    const std::vector<CGrowthLine>* lines;
  } sections[] = {{"Grew", &report.grown}, {"Shrunk or removed", &report.shrunk}, {"New directories", &report.added}};
  for (const auto& section : sections) {
    if (section.lines->empty()) continue;
    // A title row between the sections, in bold, that nothing happens to.
    auto* title = new QTreeWidgetItem(m_list, QStringList(section.title));
    title->setFlags(Qt::ItemIsEnabled);
    title->setFirstColumnSpanned(true);
    QFont bold = title->font(0);
    bold.setBold(true);
    title->setFont(0, bold);
    for (const CGrowthLine& line : *section.lines) {
      QStringList fields;
      for (const std::string& field : GrowthLineFields(line, report.top, true, unit)) fields << Text(field);
      auto* item = new QTreeWidgetItem(m_list, fields);
      item->setData(0, kPathRole, QByteArray::fromStdString(line.path));
      item->setData(0, kPathRole + 1, QVariant::fromValue<qlonglong>(line.now == kNoSize ? 0 : line.now));
      item->setToolTip(kDirectoryColumn, Text(line.path));
      for (int column = 0; column < kDirectoryColumn; ++column)
        if (kRightAligned[column]) item->setTextAlignment(column, Qt::AlignRight | Qt::AlignVCenter);
    }
  }
  FitColumns();
  // The first directory is current, for the keyboard; a section's title never is.
  for (int i = 0; i < m_list->topLevelItemCount(); ++i) {
    if (!m_list->topLevelItem(i)->data(0, kPathRole).isNull()) {
      m_list->setCurrentItem(m_list->topLevelItem(i));
      break;
    }
  }
}

void CGrowthDlg::FitColumns() {
  for (int column = 0; column < kDirectoryColumn; ++column) m_list->resizeColumnToContents(column);
}

void CGrowthDlg::changeEvent(QEvent* event) {
  QDialog::changeEvent(event);
  if (event->type() == QEvent::FontChange && m_list) FitColumns();
}

void CGrowthDlg::SetFileActions(CFileActions* actions) {
  m_list->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(m_list, &QWidget::customContextMenuRequested, this, [this, actions](const QPoint& pos) {
    QTreeWidgetItem* item = m_list->itemAt(pos);
    const QByteArray path = item ? item->data(0, kPathRole).toByteArray() : QByteArray();
    if (path.isEmpty()) return;  // a section's title
    actions->ShowMenu({path.toStdString(), item->data(0, kPathRole + 1).toLongLong()}, m_list->viewport()->mapToGlobal(pos));
  });
  connect(actions, &CFileActions::Trashed, this, [this](const QString& trashed) {
    for (int i = 0; i < m_list->topLevelItemCount(); ++i) {
      QTreeWidgetItem* item = m_list->topLevelItem(i);
      if (QString::fromUtf8(item->data(0, kPathRole).toByteArray()) != trashed) continue;
      for (int column = 0; column < m_list->columnCount(); ++column) {
        QFont font = item->font(column);
        font.setStrikeOut(true);
        item->setFont(column, font);
        item->setForeground(column, m_list->palette().brush(QPalette::Disabled, QPalette::Text));
      }
      item->setToolTip(kDirectoryColumn, item->toolTip(kDirectoryColumn) + "\nMoved to the trash");
    }
  });
}

void CGrowthDlg::OnDblClickItem(QTreeWidgetItem* item) {
  platform::Guarded("OnDblClickItem", [&] {
    if (!item) return;
    const QByteArray path = item->data(0, kPathRole).toByteArray();
    if (path.isEmpty() || !m_goTo) return;  // a section's title
    m_goTo(path.toStdString());
    accept();
  });
}

}  // namespace varnow
