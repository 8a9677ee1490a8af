// The directory grid: one row per entry of a directory record (subdirectories, then the two
// summary rows), the sizes of the last six scans side by side, the scan times as column
// headings and the names as row headings. The corner cell holds "Back ..."; a double click on a
// row asks the owner to open that subdirectory.
//
// The model shows the record in place through pointers to its entries: nothing is copied and
// the record's order is left alone. The record must stay alive, and must not gain or lose
// entries, until the next FillInGrid or Clear; the model checks this and shows nothing rather
// than read freed entries.
#pragma once

#include <QAbstractTableModel>
#include <QElapsedTimer>
#include <QTableView>

#include <array>
#include <functional>
#include <string>
#include <vector>

#include "varnow/report/EntryOrder.h"
#include "varnow/scan/DirData.h"
#include "varnow/ui/HeadingTimes.h"

class QFontMetrics;
class QPushButton;
class QToolButton;

namespace varnow {

// What the grid asks of the window that holds it.
class IGridOwner {
 public:
  virtual ~IGridOwner() = default;
  // A subdirectory's row was double-clicked: its name as the record holds it (bytes unchanged).
  virtual void OnDblClickGrid(const std::string& name) = 0;
  // "Back ..." was clicked, or Backspace or Alt+Left pressed.
  virtual void OnBack() = 0;
  // A heading click chose an order that the preferences also offer (1 size, 2 name).
  virtual void OnSortMethodChosen(int /*sortMethod*/) {}
};

// Column widths in pixels. Column 0 is the name column, 1 to 6 the size columns.
inline constexpr int kGridSizeColumns = 6;
// After the size columns, a column of its own shows the six sizes as a small bar chart.
inline constexpr int kTrendColumn = kGridSizeColumns;  // model column
inline constexpr int kDefaultNameWidth = 170;
inline constexpr int kDefaultColWidth = 130;
inline constexpr int kMaxReadWidth = 500;
inline constexpr int kMinStoredNameWidth = 100;
inline constexpr int kMinStoredColWidth = 50;

// A width read from the settings: values above kMaxReadWidth (and widths of 0 or less, which
// would hide the column for good) give the default.
int WidthFromSetting(int stored, int defaultWidth);
// A width to write to the settings: at least the minimum.
int WidthToStore(int width, int minimum);

class CDirGridModel : public QAbstractTableModel {
  Q_OBJECT
 public:
  // Data role of every cell and row heading: the entry's name as bytes (QByteArray).
  static constexpr int kNameBytesRole = Qt::UserRole + 1;
  // The trend column's sizes: see CTrendDelegate::kSizesRole.
  static constexpr int kSizesRole = Qt::UserRole + 2;
  // A scan-time heading's short form, for a column too narrow for the long one.
  static constexpr int kShortHeadingRole = Qt::UserRole + 3;

  explicit CDirGridModel(QObject* parent = nullptr);

  // Shows record in the given display unit (1 bytes .. 5 smart) and sort method (1 size,
  // 2 name, 3 change). A record without entries gives one empty row and no column headings.
  void Fill(const CDirData& record, int unit, int sortMethod);
  void Fill(const CDirData&& record, int unit, int sortMethod) = delete;  // would dangle
  void Fill(const CDirData& record, int unit, const CEntryOrder& order);
  void Fill(const CDirData&& record, int unit, const CEntryOrder& order) = delete;
  // Shows the same record in another order; nothing when it changed since the fill.
  void Reorder(const CEntryOrder& order);
  // The width of the widest cell text of size column 0 to 5.
  int WidestCellText(int column, const QFontMetrics& metrics) const;
  // Shows one empty row and forgets the record.
  void Clear();

  // Rows whose entry this names are shown as moved to the trash (greyed, marked), until the
  // next fill without it.
  void SetRemoved(std::function<bool(const std::string& name)> removed);

  // The entry name of a row as the record holds it; "" for the empty row or a row out of range.
  std::string EntryName(int row) const;
  // True for the rows of "[Total Used]" and "[Total Free]".
  bool IsSummaryRow(int row) const;

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;

 private:
  // The entry of a row, or nullptr for the empty row or when the record changed under us.
  const CDirInfo* Entry(int row) const;
  QVariant TrendData(const CDirInfo& entry, int role) const;

  const CDirData* m_record = nullptr;
  const CDirInfo* m_entriesData = nullptr;  // where the entries were at the fill
  std::size_t m_entryCount = 0;
  std::vector<const CDirInfo*> m_rows;
  std::array<CHeadingTime, kGridSizeColumns> m_headings;
  int m_unit = 2;
  std::function<bool(const std::string&)> m_removed;
  bool Removed(const CDirInfo& entry) const { return m_removed && m_removed(entry.name); }
};

// A name as a row heading shows it: summary rows without "KOB*", a line break as a return arrow
// (U+21B5), other control characters and bytes that are not UTF-8 as U+FFFD.
QString GridDisplayName(const std::string& name);

// The text of a scan-time heading in width pixels: the long form when it fits, else the short
// form, ending in "..." only when even that is too wide.
QString FittedHeading(const QString& longText, const QString& shortText, const QFontMetrics& metrics, int width);

class CGrid : public QTableView {
  Q_OBJECT
 public:
  explicit CGrid(QWidget* parent = nullptr);

  // Who hears of double clicks and "Back ..."; may be null.
  void SetOwner(IGridOwner* owner) { m_owner = owner; }

  // Rebuilds the grid from the record (see CDirGridModel::Fill). The order is the sort method,
  // unless a heading click chose one for this session that the sort method cannot express; a
  // new sort method ends that. False after an exception.
  bool FillInGrid(const CDirData& record, int unit, int sortMethod);
  bool FillInGrid(const CDirData&& record, int unit, int sortMethod) = delete;  // would dangle
  CDirGridModel* Model() const { return m_model; }
  QPushButton* BackButton() const { return m_back; }
  // The heading of the name column, beside "Back ...": a click sorts by name.
  QToolButton* NameHeading() const { return m_nameHeading; }
  const CEntryOrder& Order() const { return m_order; }

  // A heading click: the name (column 0) or a scan's sizes (1 to 6). The same heading again
  // turns the order round.
  void OnHeadingClicked(int column);

  // Width in pixels of column 0 (names) or 1 to 6 (sizes).
  int ColWidth(int column) const;
  void SetColWidth(int column, int width);

  // The display font: data cells take it at weight 400, both headings and "Back ..." at 700.
  void SetGridFont(const QFont& font);

  // The row of a double click reaches the owner as the entry's name ("" for the empty row of a
  // record without entries); the summary rows and the heading row do nothing.
  void OnLButtonDblClkRowCol(int row);
  void OnClickedButtonRowCol();

  // Type-ahead: the next row whose name starts with what was typed in quick succession.
  void keyboardSearch(const QString& search) override;

 protected:
  void updateGeometries() override;
  // Enter opens the current row as a double click does; Backspace and Alt+Left go up.
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void PlaceBackButton();
  void SetUniformRowHeight();
  void ShowOrder();
  // Size columns grow to show their widest text whole, up to the widest width kept.
  void FitSizeColumns();

  CDirGridModel* m_model;
  QPushButton* m_back = nullptr;
  QToolButton* m_nameHeading = nullptr;
  IGridOwner* m_owner = nullptr;
  CEntryOrder m_order;
  bool m_sessionOrder = false;  // m_order came from a heading, not from the sort method
  int m_sortMethod = kSortBySize;
  QString m_typed;              // type-ahead so far
  QElapsedTimer m_typedClock;   // since its last key
};

}  // namespace varnow
