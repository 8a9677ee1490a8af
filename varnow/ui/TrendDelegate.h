// Draws an entry's six sizes as a small bar chart, oldest scan on the left and the newest on the
// right, each bar against the largest of the six, so that a trend shows at a glance. The newest
// bar takes the highlight colour; a scan without a value leaves its place empty.
#pragma once

#include <QStyledItemDelegate>

namespace varnow {

class CTrendDelegate : public QStyledItemDelegate {
 public:
  // Data role that carries the sizes: a QVariantList of six qint64, newest first, -1 for none.
  static constexpr int kSizesRole = Qt::UserRole + 2;
  static constexpr int kBarWidth = 7;
  static constexpr int kBarGap = 3;
  static constexpr int kMargin = 4;

  using QStyledItemDelegate::QStyledItemDelegate;

  void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

  // The height of each bar in pixels for a chart height, oldest first; 0 for no value.
  static QList<int> BarHeights(const QVariantList& sizesNewestFirst, int height);
};

}  // namespace varnow
