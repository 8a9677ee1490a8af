// The directory grid: one row per entry of a directory record (subdirectories, then the two
// summary rows), the sizes of the last six scans side by side, the scan times as column
// headings and the names as row headings. The corner cell holds "Back ..."; a double click on a
// row asks the owner to open that subdirectory.
//
// The model holds the record it shows (an immutable snapshot, shared with whoever published it)
// and shows it through pointers to its entries: nothing is copied and the record's order is left
// alone. Whatever happens to the record it was taken from, the grid shows the snapshot whole
// until the next FillInGrid or Clear.
#pragma once

#include <QAbstractTableModel>
#include <QElapsedTimer>
#include <QTableView>

#include <array>
#include <functional>
#include <memory>
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
  // A heading click chose an order that the preferences also offer (by size or by name).
  virtual void OnSortMethodChosen(SortMethod /*sortMethod*/) {}
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

  // Shows record (null: as a record without entries) in the given display unit and sort
  // method. A record without entries gives one empty row and no column headings.
  void Fill(std::shared_ptr<const CDirData> record, SizeUnit unit, SortMethod sortMethod);
  void Fill(std::shared_ptr<const CDirData> record, SizeUnit unit, const CEntryOrder& order);
  // Shows the same record in another order.
  void Reorder(const CEntryOrder& order);
  // The record shown; nullptr after Clear.
  const std::shared_ptr<const CDirData>& Record() const { return m_record; }
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
  // The entry of a row, or nullptr for the empty row.
  const CDirInfo* Entry(int row) const;
  QVariant TrendData(const CDirInfo& entry, int role) const;

  std::shared_ptr<const CDirData> m_record;
  std::vector<const CDirInfo*> m_rows;  // into m_record
  std::array<CHeadingTime, kGridSizeColumns> m_headings;
  SizeUnit m_unit = SizeUnit::kK;
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
  bool FillInGrid(std::shared_ptr<const CDirData> record, SizeUnit unit, SortMethod sortMethod);
  // Shows a copy of record.
  bool FillInGrid(const CDirData& record, SizeUnit unit, SortMethod sortMethod);
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
  SortMethod m_sortMethod = SortMethod::kBySize;
  QString m_typed;              // type-ahead so far
  QElapsedTimer m_typedClock;   // since its last key
};

}  // namespace varnow
