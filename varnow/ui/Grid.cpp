#include "varnow/ui/Grid.h"

#include <QBrush>
#include <QApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QProxyStyle>
#include <QPushButton>
#include <QStyleOptionHeader>
#include <QToolButton>

#include <algorithm>
#include <ctime>
#include <functional>
#include <optional>

#include "platform/guarded.h"
#include "platform/tracelog.h"
#include "varnow/report/EntryOrder.h"
#include "varnow/report/FormatSize.h"
#include "varnow/report/ReportText.h"
#include "varnow/ui/TrendDelegate.h"

namespace varnow {

int WidthFromSetting(int stored, int defaultWidth) {
  return stored > kMaxReadWidth || stored <= 0 ? defaultWidth : stored;
}

int WidthToStore(int width, int minimum) { return std::max(width, minimum); }

QString GridDisplayName(const std::string& name) {
  const std::string_view shown =
      IsSpecialEntryName(name) ? std::string_view(name).substr(kSpecialPrefix.size()) : std::string_view(name);
  QString text = QString::fromUtf8(shown.data(), static_cast<qsizetype>(shown.size()));
  for (QChar& c : text) {
    if (c == u'\n' || c == u'\r') c = QChar(0x21B5);  // a return arrow: the common fonts have it
    else if (c.unicode() < 0x20 || c.unicode() == 0x7F) c = QChar::ReplacementCharacter;
  }
  return text;
}

QString FittedHeading(const QString& longText, const QString& shortText, const QFontMetrics& metrics, int width) {
  const QString& text = metrics.horizontalAdvance(longText) <= width || shortText.isEmpty() ? longText : shortText;
  return metrics.elidedText(text, Qt::ElideRight, width);
}

// ---- model ----

static_assert(CDirGridModel::kSizesRole == CTrendDelegate::kSizesRole);

CDirGridModel::CDirGridModel(QObject* parent) : QAbstractTableModel(parent) {}

void CDirGridModel::Fill(std::shared_ptr<const CDirData> record, SizeUnit unit, SortMethod sortMethod) {
  Fill(std::move(record), unit, CEntryOrder{sortMethod});
}

void CDirGridModel::Fill(std::shared_ptr<const CDirData> record, SizeUnit unit, const CEntryOrder& order) {
  if (!record) record = std::make_shared<const CDirData>();
  beginResetModel();
  m_record = std::move(record);
  m_unit = unit;
  m_rows = SortedEntries(*m_record, order);
  m_headings = m_rows.empty() ? decltype(m_headings){} : HeadingTimes(m_record->m_times, std::time(nullptr));
  endResetModel();
}

void CDirGridModel::Reorder(const CEntryOrder& order) {
  if (m_rows.empty()) return;
  beginResetModel();
  m_rows = SortedEntries(*m_record, order);
  endResetModel();
}

int CDirGridModel::WidestCellText(int column, const QFontMetrics& metrics) const {
  if (column < 0 || column >= kGridSizeColumns || m_rows.empty()) return 0;
  // The longest texts are the widest: only those are measured.
  std::size_t longest = 0;
  std::vector<std::string> widest;
  for (const CDirInfo* entry : m_rows) {
    std::string text = FormatSize(entry->sizes[static_cast<std::size_t>(column)], true, m_unit);
    if (text.size() < longest) continue;
    if (text.size() > longest) widest.clear();
    longest = text.size();
    widest.push_back(std::move(text));
  }
  int width = 0;
  for (const std::string& text : widest) width = std::max(width, metrics.horizontalAdvance(QString::fromStdString(text)));
  return width;
}

void CDirGridModel::Clear() {
  beginResetModel();
  m_rows.clear();
  m_record = nullptr;
  m_headings = {};
  endResetModel();
}

const CDirInfo* CDirGridModel::Entry(int row) const {
  if (row < 0 || static_cast<std::size_t>(row) >= m_rows.size()) return nullptr;
  return m_rows[static_cast<std::size_t>(row)];
}

std::string CDirGridModel::EntryName(int row) const {
  const CDirInfo* entry = Entry(row);
  return entry ? entry->name : std::string();
}

bool CDirGridModel::IsSummaryRow(int row) const {
  const CDirInfo* entry = Entry(row);
  return entry && (entry->name == kTotalUsed || entry->name == kTotalFree);
}

int CDirGridModel::rowCount(const QModelIndex& parent) const {
  if (parent.isValid()) return 0;
  return std::max<int>(1, static_cast<int>(m_rows.size()));
}

int CDirGridModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : kGridSizeColumns + 1; }

QVariant CDirGridModel::TrendData(const CDirInfo& entry, int role) const {
  switch (role) {
    case kSizesRole: {
      QVariantList sizes;
      for (std::int64_t size : entry.sizes) sizes << QVariant::fromValue<qint64>(size);
      return sizes;
    }
    case Qt::ToolTipRole:
    case Qt::AccessibleTextRole: {  // what the bars show, oldest first
      QStringList texts;
      for (auto it = entry.sizes.rbegin(); it != entry.sizes.rend(); ++it)
        if (*it != kNoSize) texts << QString::fromStdString(FormatSize(*it, true, m_unit));
      return "Trend, oldest scan first: " + texts.join(", ");
    }
    case kNameBytesRole:
      return QByteArray::fromStdString(entry.name);
    default:
      return {};
  }
}

QVariant CDirGridModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid()) return {};
  if (role == Qt::TextAlignmentRole) return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
  const CDirInfo* entry = Entry(index.row());
  if (!entry) return {};
  if (index.column() == kTrendColumn) return TrendData(*entry, role);
  switch (role) {
    case Qt::DisplayRole:
      return QString::fromStdString(FormatSize(entry->sizes[static_cast<std::size_t>(index.column())], true, m_unit));
    case Qt::ForegroundRole:
      if (Removed(*entry)) return QBrush(Qt::gray);
      return {};
    case kNameBytesRole:
      return QByteArray::fromStdString(entry->name);
    default:
      return {};
  }
}

QVariant CDirGridModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation == Qt::Horizontal) {
    if (role == Qt::TextAlignmentRole) return QVariant::fromValue(Qt::AlignCenter);
    if (section >= 0 && section < kGridSizeColumns) {
      const CHeadingTime& heading = m_headings[static_cast<std::size_t>(section)];
      switch (role) {
        case Qt::DisplayRole: return QString::fromStdString(heading.longText);
        case kShortHeadingRole: return QString::fromStdString(heading.shortText);
        case Qt::ToolTipRole: return QString::fromStdString(heading.toolTip);
        default: return {};
      }
    }
    const bool text = role == Qt::DisplayRole || role == Qt::ToolTipRole;
    if (text && section == kTrendColumn && !m_rows.empty()) return QStringLiteral("Trend");
    return {};
  }
  if (role == Qt::TextAlignmentRole) return QVariant::fromValue(Qt::AlignLeft | Qt::AlignVCenter);
  const CDirInfo* entry = Entry(section);
  if (!entry) return role == Qt::DisplayRole ? QVariant(QString()) : QVariant();
  switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole:  // names wider than the column
      return Removed(*entry) ? GridDisplayName(entry->name) + " (in the trash)" : GridDisplayName(entry->name);
    case Qt::ForegroundRole:
      if (Removed(*entry)) return QBrush(Qt::gray);
      return {};
    case kNameBytesRole:
      return QByteArray::fromStdString(entry->name);
    default:
      return {};
  }
}

void CDirGridModel::SetRemoved(std::function<bool(const std::string& name)> removed) {
  m_removed = std::move(removed);
  if (rowCount() > 0) {
    emit dataChanged(index(0, 0), index(rowCount() - 1, columnCount() - 1));
    emit headerDataChanged(Qt::Vertical, 0, rowCount() - 1);
  }
}

Qt::ItemFlags CDirGridModel::flags(const QModelIndex& index) const {
  return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable : Qt::NoItemFlags;
}

// ---- view ----

namespace {
// Flat headings: one plain colour with a thin line after each section, no bevel or gradient.
// Labels keep a small margin; a scan time too wide for its section takes its short form, and
// only what is wider still ends in "...".
class CFlatHeadingStyle : public QProxyStyle {
 public:
  static constexpr int kLabelMargin = 4;

  void drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                   const QWidget* widget) const override {
    if (element == CE_HeaderLabel) {
      if (const auto* header = qstyleoption_cast<const QStyleOptionHeader*>(option)) {
        QStyleOptionHeader label(*header);
        label.rect = header->rect.adjusted(kLabelMargin, 0, -kLabelMargin, 0);
        QString shorter;
        const auto* view = qobject_cast<const QHeaderView*>(widget);
        if (view && view->model() && header->orientation == Qt::Horizontal)
          shorter = view->model()->headerData(header->section, Qt::Horizontal, CDirGridModel::kShortHeadingRole).toString();
        label.text = FittedHeading(header->text, shorter, header->fontMetrics, label.rect.width());
        return QProxyStyle::drawControl(element, &label, painter, widget);
      }
    }
    if (element != CE_HeaderSection) return QProxyStyle::drawControl(element, option, painter, widget);
    const QRect& r = option->rect;
    painter->fillRect(r, option->palette.button());
    painter->setPen(option->palette.color(QPalette::Mid));
    painter->drawLine(r.topRight(), r.bottomRight());
    painter->drawLine(r.bottomLeft(), r.bottomRight());
  }
};

// The row headings (names). A table's row-heading column has no width handle of its own, so its
// right edge is one: dragging it changes the name column's width.
class CNameHeading : public QHeaderView {
 public:
  static constexpr int kHandle = 4;     // pixels left of the edge that grab it
  static constexpr int kMinWidth = 30;  // never dragged out of sight

  CNameHeading(std::function<void(int)> setWidth, QWidget* parent)
      : QHeaderView(Qt::Vertical, parent), m_setWidth(std::move(setWidth)) {
    setMouseTracking(true);
  }

 protected:
  void mousePressEvent(QMouseEvent* event) override {
    if (event->button() == Qt::LeftButton && OnEdge(event)) {
      m_dragging = true;
      m_dragOffset = width() - static_cast<int>(event->position().x());
    } else {
      QHeaderView::mousePressEvent(event);
    }
  }
  void mouseMoveEvent(QMouseEvent* event) override {
    if (m_dragging) return m_setWidth(std::max(kMinWidth, static_cast<int>(event->position().x()) + m_dragOffset));
    if (OnEdge(event)) viewport()->setCursor(Qt::SplitHCursor);
    else viewport()->unsetCursor();
    QHeaderView::mouseMoveEvent(event);
  }
  void mouseReleaseEvent(QMouseEvent* event) override {
    if (m_dragging) m_dragging = false;
    else QHeaderView::mouseReleaseEvent(event);
  }
  void mouseDoubleClickEvent(QMouseEvent* event) override {
    if (!OnEdge(event)) QHeaderView::mouseDoubleClickEvent(event);  // a double click on the edge opens nothing
  }

 private:
  bool OnEdge(const QMouseEvent* event) const { return event->position().x() >= width() - kHandle; }

  std::function<void(int)> m_setWidth;
  bool m_dragging = false;
  int m_dragOffset = 0;  // from the pointer to the edge, kept while dragging
};

QFont WithWeight(QFont font, QFont::Weight weight) {
  font.setWeight(weight);
  return font;
}
}  // namespace

CGrid::CGrid(QWidget* parent) : QTableView(parent), m_model(new CDirGridModel(this)) {
  platform::Guarded("OnGridInitialUpdate", [&] {
    setAccessibleName("Directory grid");
    setModel(m_model);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setWordWrap(false);
    setCornerButtonEnabled(false);
    setTabKeyNavigation(false);  // Tab leaves the grid, for "Back ..." and the other controls
    setVerticalHeader(new CNameHeading([this](int width) { SetColWidth(0, width); }, this));
    horizontalHeader()->setHighlightSections(false);
    verticalHeader()->setHighlightSections(false);
    auto* flat = new CFlatHeadingStyle;
    flat->setParent(this);
    horizontalHeader()->setStyle(flat);
    verticalHeader()->setStyle(flat);
    horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    horizontalHeader()->setTextElideMode(Qt::ElideRight);
    auto* trend = new CTrendDelegate(this);
    setItemDelegateForColumn(kTrendColumn, trend);
    horizontalHeader()->setSectionResizeMode(kTrendColumn, QHeaderView::Fixed);
    // Shown beside the names, where it stays in sight whatever the width; the model keeps it last
    // so that column i is still scan i.
    horizontalHeader()->moveSection(kTrendColumn, 0);
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setTextElideMode(Qt::ElideRight);

    m_back = new QPushButton("Back ...", this);
    m_back->setAccessibleName("Back ...");
    m_back->setToolTip("Back to the parent directory (Backspace)");
    m_back->setFocusPolicy(Qt::TabFocus);
    connect(m_back, &QPushButton::clicked, this, &CGrid::OnClickedButtonRowCol);
    m_nameHeading = new QToolButton(this);
    m_nameHeading->setAutoRaise(true);
    m_nameHeading->setFocusPolicy(Qt::NoFocus);
    m_nameHeading->setAccessibleName("Sort by name");
    m_nameHeading->setToolTip("Sort by name");
    connect(m_nameHeading, &QToolButton::clicked, this, [this] { OnHeadingClicked(0); });
    horizontalHeader()->setSectionsClickable(true);
    connect(horizontalHeader(), &QHeaderView::sectionClicked, this, [this](int section) {
      if (section >= 0 && section < kGridSizeColumns) OnHeadingClicked(section + 1);
    });
    connect(this, &QTableView::doubleClicked, this, [this](const QModelIndex& index) {
      if (index.isValid()) OnLButtonDblClkRowCol(index.row());
    });
    connect(verticalHeader(), &QHeaderView::sectionDoubleClicked, this, &CGrid::OnLButtonDblClkRowCol);

    QFont start = font();
    start.setPointSize(10);
    SetGridFont(start);
    // Until the window's font arrives the cells are bold as well.
    QTableView::setFont(WithWeight(start, QFont::Bold));
    SetUniformRowHeight();
    ShowOrder();
    SetColWidth(0, kDefaultNameWidth);
    for (int column = 1; column <= kGridSizeColumns; ++column) SetColWidth(column, kDefaultColWidth);
  });
}

bool CGrid::FillInGrid(std::shared_ptr<const CDirData> record, SizeUnit unit, SortMethod sortMethod) {
  return platform::Guarded("FillInGrid", [&] {
    if (sortMethod != m_sortMethod) m_sessionOrder = false;
    m_sortMethod = sortMethod;
    if (!m_sessionOrder) m_order = CEntryOrder{sortMethod};
    m_model->Fill(std::move(record), unit, m_order);
    ShowOrder();
    FitSizeColumns();
    if (hasFocus()) selectRow(0);  // Enter and the arrow keys go on from the first row
    return true;
  });
}

bool CGrid::FillInGrid(const CDirData& record, SizeUnit unit, SortMethod sortMethod) {
  return platform::Guarded("FillInGrid", [&] {
    return FillInGrid(std::make_shared<const CDirData>(record), unit, sortMethod);
  });
}

int CGrid::ColWidth(int column) const {
  if (column == 0) return verticalHeader()->width();
  if (column < 1 || column > kGridSizeColumns) return 0;
  return columnWidth(column - 1);
}

void CGrid::SetColWidth(int column, int width) {
  if (column == 0) {
    verticalHeader()->setFixedWidth(width);
    updateGeometries();  // the cells move with the heading's edge
  } else if (column >= 1 && column <= kGridSizeColumns) {
    setColumnWidth(column - 1, width);
  }
}

void CGrid::SetGridFont(const QFont& font) {
  const QFont heading = WithWeight(font, QFont::Bold);
  QTableView::setFont(WithWeight(font, QFont::Normal));
  horizontalHeader()->setFont(heading);
  verticalHeader()->setFont(heading);
  m_back->setFont(heading);
  m_nameHeading->setFont(heading);
  SetUniformRowHeight();
  FitSizeColumns();
  PlaceBackButton();
}

void CGrid::FitSizeColumns() {
  const QFontMetrics cells(font());
  const QFontMetrics heading(horizontalHeader()->font());
  // The cell's margins and focus frame; a heading's margins and its sort mark.
  const int cellRoom = 2 * (style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, this) + 1) + 6;
  const int headingRoom = 2 * CFlatHeadingStyle::kLabelMargin + horizontalHeader()->height() / 2 +
                          2 * style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, horizontalHeader()) + 4;
  for (int column = 0; column < kGridSizeColumns; ++column) {
    const QString shortHeading = m_model->headerData(column, Qt::Horizontal, CDirGridModel::kShortHeadingRole).toString();
    int needed = m_model->WidestCellText(column, cells) + cellRoom;
    if (!shortHeading.isEmpty()) needed = std::max(needed, heading.horizontalAdvance(shortHeading) + headingRoom);
    needed = std::min(needed, kMaxReadWidth);
    if (columnWidth(column) < needed) setColumnWidth(column, needed);
  }
}

namespace {
// Which heading an order belongs to: 0 the names, 1 to 6 a scan's sizes, -1 none (by change).
int HeadingOf(const CEntryOrder& order) {
  if (order.sizeIndex >= 0) return order.sizeIndex + 1;
  if (order.sortMethod == SortMethod::kByName) return 0;
  return order.sortMethod == SortMethod::kBySize ? 1 : -1;
}
}  // namespace

void CGrid::OnHeadingClicked(int column) {
  platform::Guarded("OnHeadingClicked", [&] {
    if (column < 0 || column > kGridSizeColumns) return;
    CEntryOrder next;
    if (column == 0) next.sortMethod = SortMethod::kByName;
    else next.sizeIndex = column - 1;
    next.reversed = HeadingOf(m_order) == column && !m_order.reversed;
    m_order = next;
    // The name and the newest sizes, in their usual direction, are sort methods of the settings.
    std::optional<SortMethod> method;
    if (!next.reversed && column == 0) method = SortMethod::kByName;
    if (!next.reversed && column == 1) method = SortMethod::kBySize;
    m_sessionOrder = !method;
    if (method) {
      m_sortMethod = *method;
      if (m_owner) m_owner->OnSortMethodChosen(*method);
    }
    m_model->Reorder(m_order);
    ShowOrder();
  });
}

void CGrid::ShowOrder() {
  const int heading = HeadingOf(m_order);
  QHeaderView* times = horizontalHeader();
  times->setSortIndicatorShown(heading >= 1);
  // Largest first is the descending order; names go up from A.
  if (heading >= 1) times->setSortIndicator(heading - 1, m_order.reversed ? Qt::AscendingOrder : Qt::DescendingOrder);
  QString name = QStringLiteral("Name");
  if (heading == 0) name += m_order.reversed ? QStringLiteral(" \u25BC") : QStringLiteral(" \u25B2");
  m_nameHeading->setText(name);
}

void CGrid::keyPressEvent(QKeyEvent* event) {
  const bool alt = event->modifiers() & Qt::AltModifier;
  switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
      if (currentIndex().isValid()) OnLButtonDblClkRowCol(currentIndex().row());
      return event->accept();
    case Qt::Key_Backspace:
      OnClickedButtonRowCol();
      return event->accept();
    case Qt::Key_Left:
      if (!alt) break;
      OnClickedButtonRowCol();
      return event->accept();
    case Qt::Key_Home:
    case Qt::Key_End:
      if (event->modifiers() != Qt::NoModifier) break;
      {
        // The first and the last row, as in a list; a table's Home and End stay in the row.
        QKeyEvent toRow(event->type(), event->key(), Qt::ControlModifier, event->text());
        QTableView::keyPressEvent(&toRow);
        return event->accept();
      }
    default:
      break;
  }
  QTableView::keyPressEvent(event);
}

void CGrid::keyboardSearch(const QString& search) {
  const int rows = m_model->rowCount();
  if (search.isEmpty() || rows == 0) return;
  const bool going = m_typedClock.isValid() && m_typedClock.elapsed() < QApplication::keyboardInputInterval();
  m_typedClock.start();
  m_typed = going ? m_typed + search : search;
  // The same letter again steps through the names that start with it.
  const bool oneLetter = m_typed.count(m_typed.front()) == m_typed.size();
  const QString prefix = oneLetter ? QString(m_typed.front()) : m_typed;
  const int current = currentIndex().isValid() ? currentIndex().row() : -1;
  const int start = (going && !oneLetter) ? std::max(current, 0) : current + 1;
  for (int i = 0; i < rows; ++i) {
    const int row = (start + i) % rows;
    if (m_model->headerData(row, Qt::Vertical).toString().startsWith(prefix, Qt::CaseInsensitive)) {
      selectRow(row);
      scrollTo(m_model->index(row, 0));
      return;
    }
  }
}

void CGrid::SetUniformRowHeight() {
  // One height for every row keeps the fill independent of the number of rows.
  const int height = std::max(QFontMetrics(font()).height(), QFontMetrics(verticalHeader()->font()).height()) + 6;
  verticalHeader()->setMinimumSectionSize(height);
  verticalHeader()->setDefaultSectionSize(height);
  // Room for "Back ..." to look like a button.
  horizontalHeader()->setMinimumHeight(QFontMetrics(horizontalHeader()->font()).height() + 10);
  // The trend column holds its bars and its whole heading.
  const int heading = QFontMetrics(horizontalHeader()->font()).horizontalAdvance(QStringLiteral("Trend")) +
                      2 * CFlatHeadingStyle::kLabelMargin + 4;
  const int bars = 2 * CTrendDelegate::kMargin + 6 * CTrendDelegate::kBarWidth + 5 * CTrendDelegate::kBarGap;
  setColumnWidth(kTrendColumn, std::max(heading, bars));
}

void CGrid::OnLButtonDblClkRowCol(int row) {
  platform::Guarded("OnLButtonDblClkRowCol", [&] {
    if (row < 0 || row >= m_model->rowCount() || m_model->IsSummaryRow(row) || !m_owner) return;
    m_owner->OnDblClickGrid(m_model->EntryName(row));
  });
}

void CGrid::OnClickedButtonRowCol() {
  platform::Guarded("OnClickedButtonRowCol", [&] {
    if (m_owner) m_owner->OnBack();
  });
}

void CGrid::updateGeometries() {
  QTableView::updateGeometries();
  PlaceBackButton();
}

void CGrid::PlaceBackButton() {
  if (!m_back || !m_nameHeading) return;  // the view lays itself out while it is being built
  // The corner above the names and left of the scan times: "Back ...", then the name heading in
  // what is left.
  const QRect names = verticalHeader()->geometry();
  const QRect times = horizontalHeader()->geometry();
  const int back = std::min(names.width(), m_back->sizeHint().width());
  m_back->setGeometry(names.left(), times.top(), back, times.height());
  m_back->raise();
  const int rest = names.width() - back;
  m_nameHeading->setGeometry(names.left() + back, times.top(), rest, times.height());
  m_nameHeading->setVisible(rest >= m_nameHeading->fontMetrics().horizontalAdvance(QStringLiteral("Name")));
  m_nameHeading->raise();
}

}  // namespace varnow
