// The directory grid, driven offscreen with real mouse events.
#include <gtest/gtest.h>

#include <QAccessible>
#include <QApplication>
#include <QHeaderView>
#include <QMouseEvent>
#include <QPushButton>
#include <QTest>
#include <QToolButton>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "varnow/report/EntryOrder.h"
#include "varnow/report/FormatSize.h"
#include "varnow/report/ReportText.h"
#include "varnow/testsupport/WindowTestSupport.h"
#include "varnow/ui/Grid.h"
#include "varnow/ui/HeadingTimes.h"
#include "varnow/ui/TrendDelegate.h"

namespace varnow {
namespace {

constexpr std::int64_t kMB = 1024 * 1024;

class CFakeOwner : public IGridOwner {
 public:
  void OnDblClickGrid(const std::string& name) override {
    opened.push_back(name);
    if (then) then();
  }
  void OnBack() override { ++backs; }
  void OnSortMethodChosen(SortMethod sortMethod) override { chosen.push_back(sortMethod); }
  std::vector<std::string> opened;
  std::vector<SortMethod> chosen;
  int backs = 0;
  std::function<void()> then;  // what the window does next, e.g. refill the grid
};

CDirInfo Entry(std::string name, std::int64_t latest, std::int64_t previous = kNoSize) {
  CDirInfo entry{std::move(name)};
  entry.sizes[0] = latest;
  entry.sizes[1] = previous;
  return entry;
}

// Summary rows first in the record, so that their place at the end comes from the sort.
CDirData Record(std::vector<CDirInfo> subdirectories) {
  CDirData record;
  record.m_currentScanDir = "/data/";
  record.m_entries.push_back(Entry(std::string(kTotalFree), 900 * kMB, 901 * kMB));
  record.m_entries.push_back(Entry(std::string(kTotalUsed), 1, 1));
  for (CDirInfo& entry : subdirectories) record.m_entries.push_back(std::move(entry));
  return record;
}

QStringList RowHeadings(const CGrid& grid) {
  QStringList names;
  for (int row = 0; row < grid.Model()->rowCount(); ++row)
    names << grid.Model()->headerData(row, Qt::Vertical).toString();
  return names;
}

QString Cell(const CGrid& grid, int row, int column) {
  return grid.Model()->index(row, column).data().toString();
}

class GridTest : public ::testing::Test {
 protected:
  GridTest() {
    m_grid.SetOwner(&m_owner);
    m_grid.resize(900, 400);
    m_grid.show();
  }

  // A double click as the window system delivers it: a click, then the second press.
  static void DoubleClick(QWidget* widget, QPoint at) {
    QTest::mouseClick(widget, Qt::LeftButton, Qt::NoModifier, at);
    QTest::mouseDClick(widget, Qt::LeftButton, Qt::NoModifier, at);
  }
  QPoint CellCentre(int row, int column) {
    return m_grid.visualRect(m_grid.Model()->index(row, column)).center();
  }
  QPoint RowHeadingCentre(int row) {
    QHeaderView* names = m_grid.verticalHeader();
    return {names->width() / 2, names->sectionViewportPosition(row) + names->sectionSize(row) / 2};
  }

  CFakeOwner m_owner;
  CGrid m_grid;
};

TEST_F(GridTest, SortsBySizeWithSummaryRowsLast) {
  const CDirData record = Record({Entry("none", kNoSize), Entry("five", 5 * kMB), Entry("ten", 10 * kMB)});
  m_grid.FillInGrid(record, SizeUnit::kMB, SortMethod::kBySize);
  EXPECT_EQ(RowHeadings(m_grid), QStringList({"ten", "five", "none", "[Total Used]", "[Total Free]"}));
  EXPECT_EQ(Cell(m_grid, 0, 0), "10 MB");
  EXPECT_EQ(Cell(m_grid, 2, 0), "");  // -1: no value
  EXPECT_EQ(Cell(m_grid, 4, 0), "900 MB");
  EXPECT_EQ(Cell(m_grid, 4, 1), "901 MB");
  EXPECT_EQ(Cell(m_grid, 0, 5), "");
  EXPECT_EQ(m_grid.Model()->index(0, 0).data(Qt::TextAlignmentRole).value<Qt::Alignment>(),
            Qt::AlignRight | Qt::AlignVCenter);
  // The record keeps its own order: the grid only points into it.
  EXPECT_EQ(record.m_entries[2].name, "none");
  EXPECT_EQ(m_grid.Model()->EntryName(0), "ten");
}

TEST_F(GridTest, SortsByNameBytesAndByChange) {
  const CDirData names = Record({Entry("alpha", 1), Entry("Zeta", 2)});
  m_grid.FillInGrid(names, SizeUnit::kBytes, SortMethod::kByName);
  EXPECT_EQ(RowHeadings(m_grid), QStringList({"Zeta", "alpha", "[Total Used]", "[Total Free]"}));
  EXPECT_EQ(Cell(m_grid, 0, 0), "2 bytes");

  const CDirData changes = Record({Entry("shrank", 1 * kMB, 2 * kMB), Entry("new", 3 * kMB / 2),
                                   Entry("grew", 3 * kMB, 1 * kMB)});
  m_grid.FillInGrid(changes, SizeUnit::kK, SortMethod::kByChange);
  EXPECT_EQ(RowHeadings(m_grid), QStringList({"grew", "new", "shrank", "[Total Used]", "[Total Free]"}));
  EXPECT_EQ(Cell(m_grid, 1, 0), "1,536 K");
  EXPECT_EQ(Cell(m_grid, 1, 1), "");
}

TEST_F(GridTest, ScanTimesAreTheColumnHeadings) {
  CDirData record = Record({Entry("a", 1)});
  record.m_times = {1425589620, 1425500000, 0, 0, 0, 0};  // 2015-03-05 21:07 UTC
  m_grid.FillInGrid(record, SizeUnit::kK, SortMethod::kBySize);
  QAbstractItemModel* model = m_grid.Model();
  EXPECT_EQ(model->columnCount(), 7);  // six scans and the trend
  EXPECT_EQ(model->headerData(0, Qt::Horizontal).toString(), "Mar 5, 9:07 PM");
  EXPECT_EQ(model->headerData(1, Qt::Horizontal).toString(),
            QString::fromStdString(FormatScanTime(1425500000, kHeadingDateFormat)));
  EXPECT_EQ(model->headerData(2, Qt::Horizontal).toString(), "");
  EXPECT_EQ(model->headerData(0, Qt::Horizontal, Qt::TextAlignmentRole).value<Qt::Alignment>(), Qt::AlignCenter);
}

TEST_F(GridTest, TrendColumnCarriesTheSixSizesForItsBars) {
  CDirData record = Record({Entry("a", 1)});
  record.FindEntry("a")->sizes = {3072, 1024, -1, 2048, -1, -1};
  m_grid.FillInGrid(record, SizeUnit::kK, SortMethod::kBySize);
  QAbstractItemModel* model = m_grid.Model();
  EXPECT_EQ(model->headerData(kTrendColumn, Qt::Horizontal).toString(), "Trend");
  const QModelIndex trend = model->index(0, kTrendColumn);
  EXPECT_EQ(model->data(trend).toString(), "");
  EXPECT_EQ(model->data(trend, Qt::ToolTipRole).toString(), "Trend, oldest scan first: 2 K, 1 K, 3 K");
  const QVariantList sizes = model->data(trend, CTrendDelegate::kSizesRole).toList();
  ASSERT_EQ(sizes.size(), 6);
  // Oldest on the left; against the largest; a scan without a value has no bar, a tiny size
  // still a pixel.
  EXPECT_EQ(CTrendDelegate::BarHeights(sizes, 30), (QList<int>{0, 0, 20, 0, 10, 30}));
  EXPECT_EQ(CTrendDelegate::BarHeights({qint64(1), qint64(100000), qint64(0)}, 10), (QList<int>{0, 10, 1}));
  EXPECT_EQ(CTrendDelegate::BarHeights({qint64(-1), qint64(0)}, 10), (QList<int>{0, 0}));
  // Wide enough for the bars and for its heading.
  EXPECT_GE(m_grid.columnWidth(kTrendColumn), 2 * CTrendDelegate::kMargin + 6 * CTrendDelegate::kBarWidth + 5 * CTrendDelegate::kBarGap);
  EXPECT_GE(m_grid.columnWidth(kTrendColumn), QFontMetrics(m_grid.horizontalHeader()->font()).horizontalAdvance("Trend"));
}

TEST_F(GridTest, RecordWithoutEntriesGivesOneEmptyRowAndNoHeadings) {
  CDirData record;
  record.m_times = {1425589620, 0, 0, 0, 0, 0};
  const CDirData before = Record({Entry("a", 1)});
  m_grid.FillInGrid(before, SizeUnit::kK, SortMethod::kBySize);
  m_grid.FillInGrid(record, SizeUnit::kK, SortMethod::kBySize);
  ASSERT_EQ(m_grid.Model()->rowCount(), 1);
  EXPECT_EQ(RowHeadings(m_grid), QStringList({""}));
  EXPECT_EQ(m_grid.Model()->headerData(0, Qt::Horizontal).toString(), "");
  for (int column = 0; column < 6; ++column) EXPECT_EQ(Cell(m_grid, 0, column), "");
  EXPECT_EQ(m_grid.Model()->EntryName(0), "");
}

TEST_F(GridTest, ShowsTheRecordItHoldsWhateverBecomesOfWhereItCameFrom) {
  // A snapshot outlives its publisher's hold on it for as long as the grid shows it.
  auto snapshot = std::make_shared<const CDirData>(Record({Entry("a", kMB)}));
  const std::weak_ptr<const CDirData> held = snapshot;
  m_grid.FillInGrid(snapshot, SizeUnit::kK, SortMethod::kBySize);
  snapshot.reset();
  ASSERT_FALSE(held.expired());
  EXPECT_EQ(m_grid.Model()->EntryName(0), "a");
  EXPECT_EQ(Cell(m_grid, 0, 0), "1,024 K");
  m_grid.grab();

  // A record given by value is shown from a copy: moving its entries changes nothing shown.
  CDirData record = Record({Entry("b", kMB), Entry("c", 2 * kMB)});
  m_grid.FillInGrid(record, SizeUnit::kK, SortMethod::kBySize);
  EXPECT_TRUE(held.expired());  // the older snapshot was let go
  record.m_entries.resize(5000);
  record.m_entries[2].name = "changed";
  EXPECT_EQ(RowHeadings(m_grid), QStringList({"c", "b", "[Total Used]", "[Total Free]"}));
  EXPECT_EQ(Cell(m_grid, 1, 0), "1,024 K");
  m_grid.OnHeadingClicked(0);  // a new order of the same rows
  EXPECT_EQ(RowHeadings(m_grid), QStringList({"b", "c", "[Total Used]", "[Total Free]"}));
  m_grid.grab();
  m_grid.Model()->Clear();
  EXPECT_EQ(m_grid.Model()->Record(), nullptr);
  EXPECT_EQ(m_grid.Model()->EntryName(0), "");
}

TEST_F(GridTest, OddNamesAreShownAndReachTheOwnerByteForByte) {
  const std::string newline = "two\nlines";
  const std::string latin1 = "caf\xE9";  // not UTF-8
  const CDirData record = Record({Entry(newline, 3), Entry(latin1, 2), Entry("plain", 1)});
  m_grid.FillInGrid(record, SizeUnit::kBytes, SortMethod::kBySize);
  EXPECT_EQ(RowHeadings(m_grid), QStringList({QString::fromUtf8("two\u21B5lines"), QString::fromUtf8("caf\uFFFD"),
                                              "plain", "[Total Used]", "[Total Free]"}));
  EXPECT_EQ(m_grid.Model()->headerData(1, Qt::Vertical, CDirGridModel::kNameBytesRole).toByteArray(),
            QByteArray::fromStdString(latin1));

  // Like the window, the owner shows the opened directory at once, from inside the double click.
  const CDirData below = Record({Entry("deeper", 1)});
  m_owner.then = [this, &below] { m_grid.FillInGrid(below, SizeUnit::kBytes, SortMethod::kBySize); };
  DoubleClick(m_grid.viewport(), CellCentre(0, 3));  // a cell of the row
  EXPECT_EQ(m_grid.Model()->EntryName(0), "deeper");
  m_owner.then = nullptr;
  m_grid.FillInGrid(record, SizeUnit::kBytes, SortMethod::kBySize);
  DoubleClick(m_grid.verticalHeader()->viewport(), RowHeadingCentre(1));  // the row's heading
  EXPECT_EQ(m_owner.opened, std::vector<std::string>({newline, latin1}));
}

TEST_F(GridTest, SummaryRowsAndTheHeadingRowOpenNothing) {
  // A real directory may be called "[Total Free]"; only the summary row is left alone.
  const CDirData record = Record({Entry("[Total Free]", 5)});
  m_grid.FillInGrid(record, SizeUnit::kBytes, SortMethod::kBySize);
  DoubleClick(m_grid.viewport(), CellCentre(1, 0));  // [Total Used]
  DoubleClick(m_grid.verticalHeader()->viewport(), RowHeadingCentre(2));  // [Total Free]
  QHeaderView* times = m_grid.horizontalHeader();
  DoubleClick(times->viewport(), {times->sectionViewportPosition(2) + 10, times->height() / 2});
  EXPECT_TRUE(m_owner.opened.empty());
  DoubleClick(m_grid.viewport(), CellCentre(0, 0));
  EXPECT_EQ(m_owner.opened, std::vector<std::string>({"[Total Free]"}));
}

TEST_F(GridTest, BackButtonSitsInTheCornerAndCallsTheOwner) {
  QPushButton* back = m_grid.BackButton();
  EXPECT_EQ(back->text(), "Back ...");
  EXPECT_TRUE(back->isVisible());
  m_grid.SetColWidth(0, 210);
  EXPECT_EQ(back->geometry().left(), m_grid.verticalHeader()->geometry().left());
  // Its own width, then the name heading up to the column's edge.
  EXPECT_EQ(back->width(), back->sizeHint().width());
  QToolButton* name = m_grid.NameHeading();
  EXPECT_TRUE(name->isVisible());
  EXPECT_EQ(name->geometry().left(), back->geometry().right() + 1);
  EXPECT_EQ(name->geometry().right(), m_grid.verticalHeader()->geometry().right());
  EXPECT_EQ(back->geometry().top(), m_grid.horizontalHeader()->geometry().top());
  EXPECT_EQ(back->height(), m_grid.horizontalHeader()->height());
  QTest::mouseClick(back, Qt::LeftButton);
  EXPECT_EQ(m_owner.backs, 1);
  EXPECT_TRUE(m_owner.opened.empty());
}

TEST_F(GridTest, NameColumnEdgeDragsAndItsDoubleClickOpensNothing) {
  const CDirData record = Record({Entry("a", 1)});
  m_grid.FillInGrid(record, SizeUnit::kBytes, SortMethod::kBySize);
  QWidget* names = m_grid.verticalHeader()->viewport();
  const int y = RowHeadingCentre(0).y();
  const int edge = m_grid.ColWidth(0) - 2;
  QTest::mousePress(names, Qt::LeftButton, Qt::NoModifier, {edge, y});
  QMouseEvent move(QEvent::MouseMove, QPointF(edge + 60, y), names->mapToGlobal(QPointF(edge + 60, y)),
                   Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(names, &move);
  QTest::mouseRelease(names, Qt::LeftButton, Qt::NoModifier, {edge + 60, y});
  EXPECT_EQ(m_grid.ColWidth(0), kDefaultNameWidth + 60);
  EXPECT_EQ(m_grid.NameHeading()->geometry().right(), m_grid.verticalHeader()->geometry().right());
  EXPECT_EQ(m_grid.viewport()->geometry().left(), m_grid.verticalHeader()->geometry().right() + 1);

  DoubleClick(names, {m_grid.ColWidth(0) - 2, y});
  EXPECT_TRUE(m_owner.opened.empty());
}

TEST_F(GridTest, WidthsAndFonts) {
  EXPECT_EQ(m_grid.ColWidth(0), kDefaultNameWidth);
  EXPECT_EQ(m_grid.ColWidth(6), kDefaultColWidth);
  m_grid.SetColWidth(0, 240);
  m_grid.SetColWidth(3, 77);
  EXPECT_EQ(m_grid.ColWidth(0), 240);
  EXPECT_EQ(m_grid.ColWidth(3), 77);
  EXPECT_EQ(m_grid.ColWidth(7), 0);

  EXPECT_EQ(WidthFromSetting(500, 170), 500);
  EXPECT_EQ(WidthFromSetting(501, 170), 170);
  EXPECT_EQ(WidthFromSetting(0, 130), 130);
  EXPECT_EQ(WidthFromSetting(20, 130), 20);
  EXPECT_EQ(WidthToStore(99, kMinStoredNameWidth), 100);
  EXPECT_EQ(WidthToStore(49, kMinStoredColWidth), 50);
  EXPECT_EQ(WidthToStore(300, kMinStoredColWidth), 300);

  // Bold 10 points until the window's font arrives; then cells normal, headings bold.
  EXPECT_EQ(m_grid.font().pointSize(), 10);
  EXPECT_EQ(m_grid.font().weight(), QFont::Bold);
  QFont chosen("DejaVu Sans", 14);
  chosen.setWeight(QFont::Light);
  m_grid.SetGridFont(chosen);
  EXPECT_EQ(m_grid.font().weight(), QFont::Normal);
  EXPECT_EQ(m_grid.font().pointSize(), 14);
  EXPECT_EQ(m_grid.horizontalHeader()->font().weight(), QFont::Bold);
  EXPECT_EQ(m_grid.verticalHeader()->font().weight(), QFont::Bold);
  EXPECT_EQ(m_grid.BackButton()->font().weight(), QFont::Bold);
  EXPECT_GE(m_grid.verticalHeader()->defaultSectionSize(), QFontMetrics(chosen).height());
}

TEST_F(GridTest, CellsAreReadOnlyAndTheTableIsNamed) {
  const CDirData record = Record({Entry("a", 1)});
  m_grid.FillInGrid(record, SizeUnit::kBytes, SortMethod::kBySize);
  EXPECT_FALSE(m_grid.Model()->flags(m_grid.Model()->index(0, 0)) & Qt::ItemIsEditable);
  EXPECT_EQ(m_grid.editTriggers(), QAbstractItemView::NoEditTriggers);
  EXPECT_EQ(m_grid.accessibleName(), "Directory grid");
  EXPECT_EQ(m_grid.BackButton()->accessibleName(), "Back ...");
  EXPECT_EQ(m_grid.verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);

  // Screen readers see a table whose cells know their row and column headings.
  QAccessibleInterface* table = QAccessible::queryAccessibleInterface(&m_grid);
  ASSERT_NE(table, nullptr);
  EXPECT_EQ(table->role(), QAccessible::Table);
  EXPECT_EQ(table->text(QAccessible::Name), "Directory grid");
  QAccessibleTableInterface* cells = table->tableInterface();
  ASSERT_NE(cells, nullptr);
  EXPECT_EQ(cells->rowCount(), 3);
  EXPECT_EQ(cells->columnCount(), 7);
  QAccessibleInterface* cell = cells->cellAt(0, 0);
  ASSERT_NE(cell, nullptr);
  EXPECT_EQ(cell->text(QAccessible::Name), "1 byte");
  const QList<QAccessibleInterface*> rowHeadings = cell->tableCellInterface()->rowHeaderCells();
  // Qt makes heading cells without keeping them; registered, its cache frees them at the end.
  for (QAccessibleInterface* heading : rowHeadings) QAccessible::uniqueId(heading);
  ASSERT_EQ(rowHeadings.size(), 1);
  EXPECT_EQ(rowHeadings[0]->text(QAccessible::Name), "a");
}


TEST_F(GridTest, KeysOpenGoUpMoveAndFindNames) {
  const CDirData record = Record({Entry("beta", 4), Entry("bar", 3), Entry("Zeta", 2), Entry("alpha", 1)});
  m_grid.FillInGrid(record, SizeUnit::kBytes, SortMethod::kByName);  // Zeta alpha bar beta [Total Used] [Total Free]
  m_grid.setFocus();
  QTest::keyClick(&m_grid, Qt::Key_Home);
  QTest::keyClick(&m_grid, Qt::Key_Down);
  QTest::keyClick(&m_grid, Qt::Key_Return);
  QTest::keyClick(&m_grid, Qt::Key_End);
  QTest::keyClick(&m_grid, Qt::Key_Enter);  // [Total Free] opens nothing
  QTest::keyClick(&m_grid, Qt::Key_PageUp);
  QTest::keyClick(&m_grid, Qt::Key_Enter, Qt::KeypadModifier);
  EXPECT_EQ(m_owner.opened, std::vector<std::string>({"alpha", "Zeta"}));

  QTest::keyClick(&m_grid, Qt::Key_Backspace);
  QTest::keyClick(&m_grid, Qt::Key_Left, Qt::AltModifier);
  QTest::keyClick(&m_grid, Qt::Key_Left);  // without Alt: only the cursor moves
  EXPECT_EQ(m_owner.backs, 2);

  // Type-ahead: letters in quick succession narrow the name, in any case; the same letter again
  // steps through the names that start with it.
  const auto selected = [this] { return m_grid.Model()->EntryName(m_grid.currentIndex().row()); };
  QTest::keyClicks(&m_grid, "be");
  EXPECT_EQ(selected(), "beta");
  QTest::qWait(QApplication::keyboardInputInterval() + 50);
  QTest::keyClicks(&m_grid, "z");
  EXPECT_EQ(selected(), "Zeta");
  QTest::qWait(QApplication::keyboardInputInterval() + 50);
  QTest::keyClicks(&m_grid, "bb");
  EXPECT_EQ(selected(), "beta");  // bar, then beta
  QTest::keyClick(&m_grid, Qt::Key_Return);
  EXPECT_EQ(m_owner.opened.back(), "beta");
  // Tab leaves the grid for "Back ...".
  EXPECT_FALSE(m_grid.tabKeyNavigation());
  EXPECT_EQ(m_grid.BackButton()->focusPolicy() & Qt::TabFocus, Qt::TabFocus);
}

TEST_F(GridTest, HeadingClicksSortAndTurnTheOrderRound) {
  CDirData record = Record({Entry("b", 5, 1), Entry("A", 1, 9), Entry("c", 3, kNoSize)});
  m_grid.FillInGrid(record, SizeUnit::kBytes, SortMethod::kByChange);
  QHeaderView* times = m_grid.horizontalHeader();
  const auto clickHeading = [&](int section) {
    QTest::mouseClick(times->viewport(), Qt::LeftButton, Qt::NoModifier,
                      {times->sectionViewportPosition(section) + 10, times->height() / 2});
  };
  const QStringList summary{"[Total Used]", "[Total Free]"};

  QTest::mouseClick(m_grid.NameHeading(), Qt::LeftButton);
  EXPECT_EQ(RowHeadings(m_grid), QStringList({"A", "b", "c"}) + summary);
  EXPECT_TRUE(m_grid.NameHeading()->text().startsWith("Name "));  // with its arrow
  QTest::mouseClick(m_grid.NameHeading(), Qt::LeftButton);
  EXPECT_EQ(RowHeadings(m_grid), QStringList({"c", "b", "A"}) + summary);
  clickHeading(0);  // the newest sizes, largest first
  EXPECT_EQ(RowHeadings(m_grid), QStringList({"b", "c", "A"}) + summary);
  EXPECT_TRUE(times->isSortIndicatorShown());
  EXPECT_EQ(times->sortIndicatorSection(), 0);
  clickHeading(0);
  EXPECT_EQ(RowHeadings(m_grid), QStringList({"A", "c", "b"}) + summary);
  clickHeading(1);  // the scan before: -1 counts as nothing
  EXPECT_EQ(RowHeadings(m_grid), QStringList({"A", "b", "c"}) + summary);
  EXPECT_EQ(m_grid.NameHeading()->text(), "Name");
  // Only the name and the newest sizes, the usual way round, are sort methods of the settings.
  EXPECT_EQ(m_owner.chosen, std::vector<SortMethod>({SortMethod::kByName, SortMethod::kBySize}));

  // A session order stays through fills with the same sort method; a new one replaces it.
  m_grid.FillInGrid(record, SizeUnit::kBytes, SortMethod::kBySize);
  EXPECT_EQ(RowHeadings(m_grid), QStringList({"A", "b", "c"}) + summary);
  m_grid.FillInGrid(record, SizeUnit::kBytes, SortMethod::kByName);
  EXPECT_EQ(RowHeadings(m_grid), QStringList({"A", "b", "c"}) + summary);
  EXPECT_FALSE(times->isSortIndicatorShown());
  // The record's own order is left alone.
  EXPECT_EQ(record.m_entries[2].name, "b");
}

TEST_F(GridTest, ScanTimeHeadingsFitTellSecondsApartAndGiveTheFullTimeAsTip) {
  // 2026-12-08 08:16:05 and 08:16:50 UTC, one the minute after, one a year before.
  constexpr std::int32_t kNow = 1796717765;
  const std::array<std::int32_t, 6> times = {kNow, kNow + 45, kNow + 100, kNow - 365 * 86400, 0, 0};
  const auto headings = HeadingTimes(times, kNow);
  EXPECT_EQ(headings[0].longText, "Dec 8, 8:16:05 AM");
  EXPECT_EQ(headings[0].shortText, "12-08 08:16:05");
  EXPECT_EQ(headings[1].shortText, "12-08 08:16:50");
  EXPECT_EQ(headings[2].longText, "Dec 8, 8:17 AM");
  EXPECT_EQ(headings[2].shortText, "12-08 08:17");
  EXPECT_EQ(headings[3].shortText, "2025-12-08 08:16");
  EXPECT_EQ(headings[0].toolTip, "Tuesday, December 8, 2026, 8:16:05 AM");
  EXPECT_EQ(headings[4].longText, "");

  CDirData record = Record({Entry("a", 1)});
  record.m_times = times;
  m_grid.FillInGrid(record, SizeUnit::kK, SortMethod::kBySize);
  QAbstractItemModel* model = m_grid.Model();
  EXPECT_EQ(model->headerData(3, Qt::Horizontal, CDirGridModel::kShortHeadingRole).toString(), "2025-12-08 08:16");
  EXPECT_EQ(model->headerData(0, Qt::Horizontal, Qt::ToolTipRole).toString(), "Tuesday, December 8, 2026, 8:16:05 AM");

  // The long form where it fits, else the short one; "..." only when neither fits.
  const QFontMetrics metrics(m_grid.horizontalHeader()->font());
  const QString longText = "Dec 28, 12:59:59 PM", shortText = "12-28 12:59:59";
  const int shortWidth = metrics.horizontalAdvance(shortText);
  EXPECT_EQ(FittedHeading(longText, shortText, metrics, metrics.horizontalAdvance(longText)), longText);
  EXPECT_EQ(FittedHeading(longText, shortText, metrics, shortWidth), shortText);
  EXPECT_TRUE(FittedHeading(longText, shortText, metrics, shortWidth - 5).endsWith(QChar(0x2026)));
  // Every size column has room for its short heading beside the sort mark, seconds included.
  for (int column = 0; column < 4; ++column) {
    const int needed = metrics.horizontalAdvance(QString::fromStdString(headings[column].shortText)) + 2 * 4 +
                       m_grid.horizontalHeader()->height() / 2;
    EXPECT_GT(m_grid.columnWidth(column), needed) << column;
  }
}

TEST_F(GridTest, SizeColumnsGrowWithTheFontSoNoNumberIsCut) {
  CDirData record = Record({Entry("big", 243013611 * 1024LL, 1)});
  m_grid.FillInGrid(record, SizeUnit::kK, SortMethod::kBySize);
  m_grid.SetColWidth(2, 400);
  QFont large("DejaVu Sans");
  large.setPointSize(14);
  m_grid.SetGridFont(large);
  const int number = QFontMetrics(m_grid.font()).horizontalAdvance("243,013,611 K");
  EXPECT_EQ(Cell(m_grid, 0, 0), "243,013,611 K");
  EXPECT_GT(m_grid.ColWidth(1), number);
  EXPECT_EQ(m_grid.ColWidth(2), 400);  // a wider column keeps its width
  // Never beyond the widest width the settings keep.
  QFont huge = large;
  huge.setPointSize(60);
  m_grid.SetGridFont(huge);
  EXPECT_EQ(m_grid.ColWidth(1), kMaxReadWidth);
}

}  // namespace
}  // namespace varnow

int main(int argc, char** argv) { return varnow::test::RunOffscreenTests(argc, argv); }
