#include "varnow/ui/TrendDelegate.h"

#include <QPainter>

#include <algorithm>
#include <cmath>

namespace varnow {

QList<int> CTrendDelegate::BarHeights(const QVariantList& sizesNewestFirst, int height) {
  qint64 largest = 0;
  for (const QVariant& size : sizesNewestFirst) largest = std::max(largest, size.toLongLong());
  QList<int> heights;
  for (auto it = sizesNewestFirst.crbegin(); it != sizesNewestFirst.crend(); ++it) {
    const qint64 size = it->toLongLong();
    if (size < 0 || largest <= 0) {
      heights << 0;
      continue;
    }
    // A size that is not zero keeps at least one pixel, so it never reads as missing.
    const int bar = static_cast<int>(std::lround(static_cast<double>(size) / static_cast<double>(largest) * height));
    heights << (size > 0 ? std::max(bar, 1) : 0);
  }
  return heights;
}

void CTrendDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const {
  QStyledItemDelegate::paint(painter, option, index);  // background and selection
  const QVariantList sizes = index.data(kSizesRole).toList();
  if (sizes.isEmpty()) return;
  const QRect area = option.rect.adjusted(kMargin, 3, -kMargin, -3);
  const QList<int> heights = BarHeights(sizes, area.height());
  const bool selected = option.state & QStyle::State_Selected;
  const QPalette& palette = option.palette;
  const QColor older = selected ? palette.color(QPalette::HighlightedText) : palette.color(QPalette::Mid);
  const QColor newest = selected ? palette.color(QPalette::HighlightedText) : palette.color(QPalette::Highlight);
  painter->save();
  painter->setPen(Qt::NoPen);
  int x = area.left() + std::max(0, area.width() - static_cast<int>(heights.size()) * (kBarWidth + kBarGap) + kBarGap);
  for (qsizetype i = 0; i < heights.size(); ++i, x += kBarWidth + kBarGap) {
    if (heights[i] == 0) continue;
    painter->setBrush(i + 1 == heights.size() ? newest : older);
    painter->drawRect(QRect(x, area.bottom() + 1 - heights[i], kBarWidth, heights[i]));
  }
  painter->restore();
}

QSize CTrendDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const {
  const QSize text = QStyledItemDelegate::sizeHint(option, index);
  return {2 * kMargin + 6 * kBarWidth + 5 * kBarGap, text.height()};
}

}  // namespace varnow
