#include "varnow/ui/LargestFilesDlg.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "platform/guarded.h"
#include "platform/tracelog.h"
#include "varnow/report/LargestText.h"
#include "varnow/report/ReportText.h"
#include "varnow/ui/FileActions.h"

namespace varnow {
namespace {

QString Text(const std::string& bytes) { return QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size())); }

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(0, slash + 1);
}

}  // namespace

CLargestFilesDlg::CLargestFilesDlg(const std::vector<CLargeFile>& files, const std::string& top, std::time_t scanned,
                                   SizeUnit unit, GoTo goTo, CFileActions* actions, const CTrashedPaths* trashed,
                                   QWidget* parent)
    : QDialog(parent), m_goTo(std::move(goTo)), m_actions(actions), m_trashed(trashed) {
  setWindowTitle("Largest Files");
  auto* layout = new QVBoxLayout(this);
  QString intro;
  if (scanned == 0)
    intro = "No scan in this session yet: the list shows the largest files a scan finds. Scan a directory first.";
  else if (files.empty())
    intro = "The scan of " + Text(PrintableText(top)) + " found no file.";
  else
    intro = QString("The %1 largest files below %2 at the scan of %3. Double-click one to show its directory.")
                .arg(files.size())
                .arg(Text(PrintableText(top)), Text(FormatScanTime(scanned, kHeadingDateFormat)));
  m_intro = new QLabel(intro, this);
  m_intro->setObjectName("intro");
  m_intro->setWordWrap(true);
  layout->addWidget(m_intro);
  m_list = new QTreeWidget(this);
  m_list->setAccessibleName("Largest files");
  m_list->setRootIsDecorated(false);
  m_list->setUniformRowHeights(true);
  m_list->setAllColumnsShowFocus(true);
  m_list->setHeaderLabels({"Size", "Modified", "File"});
  for (const CLargeFile& file : files) {
    QStringList fields;
    for (const std::string& field : LargestFileFields(file, top, true, unit)) fields << Text(field);
    auto* item = new QTreeWidgetItem(m_list, fields);
    item->setData(0, kPathRole, QByteArray::fromStdString(file.path));
    item->setData(0, kPathRole + 1, QVariant::fromValue<qlonglong>(file.size));
    item->setToolTip(2, Text(PrintableText(file.path)));
    item->setTextAlignment(0, Qt::AlignRight | Qt::AlignVCenter);
  }
  // Room beside the widest text: a column fitted to it exactly cuts it off in some styles.
  for (int column = 0; column < 2; ++column) {
    m_list->resizeColumnToContents(column);
    m_list->setColumnWidth(column, m_list->columnWidth(column) + m_list->fontMetrics().averageCharWidth() * 3);
  }
  if (m_list->topLevelItemCount() > 0) m_list->setCurrentItem(m_list->topLevelItem(0));
  layout->addWidget(m_list, 1);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  layout->addWidget(buttons);
  connect(m_list, &QTreeWidget::itemActivated, this, [this](QTreeWidgetItem* item) { OnDblClickItem(item); });
  if (m_actions) {
    m_list->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_list, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
      QTreeWidgetItem* item = m_list->itemAt(pos);
      if (!item) return;
      const CFoundItem found{item->data(0, kPathRole).toByteArray().toStdString(),
                             item->data(0, kPathRole + 1).toLongLong()};
      m_actions->ShowMenu(found, m_list->viewport()->mapToGlobal(pos));
      MarkTrashed();
    });
  }
  MarkTrashed();
  resize(820, 440);
}

void CLargestFilesDlg::MarkTrashed() {
  if (!m_trashed) return;
  for (int i = 0; i < m_list->topLevelItemCount(); ++i) {
    QTreeWidgetItem* item = m_list->topLevelItem(i);
    const bool gone = m_trashed->Contains(item->data(0, kPathRole).toByteArray().toStdString());
    for (int column = 0; column < m_list->columnCount(); ++column) {
      QFont font = item->font(column);
      font.setStrikeOut(gone);
      item->setFont(column, font);
      item->setForeground(column, gone ? m_list->palette().brush(QPalette::Disabled, QPalette::Text)
                                       : m_list->palette().brush(QPalette::Active, QPalette::Text));
    }
    if (gone) item->setToolTip(2, item->toolTip(2).section('\n', 0, 0) + "\nMoved to the trash");
  }
}

void CLargestFilesDlg::OnDblClickItem(QTreeWidgetItem* item) {
  platform::Guarded("CLargestFilesDlg::OnDblClickItem", [&] {
    if (!item || !m_goTo) return;
    const std::string path = item->data(0, kPathRole).toByteArray().toStdString();
    if (path.empty()) return;
    m_goTo(FolderOf(path));
    accept();
  });
}

}  // namespace varnow
