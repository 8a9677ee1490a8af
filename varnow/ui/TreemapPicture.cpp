#include "varnow/ui/TreemapPicture.h"

#include <QBuffer>
#include <QFile>
#include <QFontMetrics>
#include <QImage>
#include <QImageWriter>
#include <QSaveFile>
#include <QSvgGenerator>

#include <cerrno>
#include <cstring>

#include "platform/asciicase.h"
#include "varnow/report/FormatSize.h"
#include "varnow/report/GrowthText.h"
#include "varnow/report/ReportText.h"

namespace varnow {
namespace {

QString Text(const std::string& bytes) { return QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size())); }

// Control characters would break a label's line: shown as "?", as the reports show them.
QString Shown(const std::string& bytes) { return Text(PrintableText(bytes)); }

QColor LabelColour(const QColor& fill) { return fill.lightnessF() < 0.55 ? Qt::white : Qt::black; }

QString SizeText(std::int64_t size, SizeUnit units) { return Text(FormatSize(size, true, units)); }

std::string Extension(const std::string& file) {
  const std::size_t slash = file.rfind('/');
  const std::size_t dot = file.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
  return platform::ToAsciiLower(file.substr(dot + 1));
}

void PaintLabel(QPainter& painter, const QFontMetrics& metrics, const QRectF& rect, const QString& first,
                const QString& second, const QColor& fill) {
  const int line = metrics.height();
  if (rect.width() < 4 * metrics.averageCharWidth() || rect.height() < line + 2) return;
  painter.setPen(LabelColour(fill));
  const QRectF inside = rect.adjusted(3, 1, -3, -1);
  const int width = static_cast<int>(inside.width());
  if (rect.height() >= 2 * line + 4 && !second.isEmpty()) {
    painter.drawText(QRectF(inside.x(), inside.y(), inside.width(), line), Qt::AlignLeft | Qt::AlignVCenter,
                     metrics.elidedText(first, Qt::ElideMiddle, width));
    painter.drawText(QRectF(inside.x(), inside.y() + line, inside.width(), line), Qt::AlignLeft | Qt::AlignVCenter,
                     metrics.elidedText(second, Qt::ElideRight, width));
  } else {
    // One line (a directory's strip): its name first, the size as far as it goes.
    painter.drawText(QRectF(inside.x(), inside.y(), inside.width(), line), Qt::AlignLeft | Qt::AlignVCenter,
                     metrics.elidedText(first, Qt::ElideRight, width));
  }
}

}  // namespace

QString TreemapNodeName(const CTreemapTree& tree, std::int32_t node) {
  const CTreemapNode& n = tree.Node(node);
  if (n.ownFiles) return QStringLiteral("(files)");
  if (node == 0) return Shown(tree.Top());
  return Shown(n.name);
}

QString TreemapTileTip(const CTreemapTree& tree, const CTile& tile, SizeUnit units) {
  QString tip;
  if (tile.node < 0) {
    tip = QString("%1 small directories and files together").arg(tile.merged);
  } else {
    const CTreemapNode& node = tree.Node(tile.node);
    tip = Shown(tree.PathOf(tile.node));
    if (node.ownFiles) tip += "\nThe files directly in this directory";
  }
  tip += "\nNow: " + SizeText(tile.now, units);
  const bool fresh = tile.node >= 0 && tile.before == kNoSize;
  if (tree.OlderTime() == 0) {
    tip += "\nOnly one saved scan: nothing to compare yet";
  } else if (fresh) {
    tip += "\nNew since the older scan";
  } else {
    tip += "\nBefore: " + SizeText(tile.before, units);
    tip += "\nChange: " + Text(SignedSizeText(tile.now - tile.before, true, units));
    if (tile.before > 0)
      tip += QString(" (%1%2%)").arg(tile.now >= tile.before ? "+" : "").arg(100.0 * static_cast<double>(tile.now - tile.before) / static_cast<double>(tile.before), 0, 'f', 1);
  }
  if (tree.NewerTime() != 0) tip += "\nNewer scan: " + Text(FormatScanTime(tree.NewerTime(), kHeadingDateFormat));
  if (tree.OlderTime() != 0) tip += "\nOlder scan: " + Text(FormatScanTime(tree.OlderTime(), kHeadingDateFormat));
  return tip;
}

void PaintTreemapTiles(QPainter& painter, const CTreemapTree& tree, const CTreemapLayout& layout,
                       const CTreemapPaintOptions& options) {
  painter.save();
  painter.setRenderHint(QPainter::Antialiasing, false);
  const QBrush mergedBrush(QColor(0x90, 0x90, 0x90), Qt::Dense5Pattern);
  const QFontMetrics metrics(painter.font());
  const auto& tiles = layout.Tiles();
  for (const CTile& tile : tiles) {
    const CTileColour colour = TileColourOf(tile.now, tile.node < 0 ? tile.now : tile.before);
    if (tile.node < 0) {
      painter.fillRect(tile.rect, QColor(0xd0, 0xd0, 0xd0));
      painter.fillRect(tile.rect, mergedBrush);
      continue;
    }
    // Small tiles are only filled: an outline would hide their colour.
    if (tile.rect.width() >= 6 && tile.rect.height() >= 6) {
      painter.setPen(colour.colour.darker(150));
      painter.setBrush(colour.colour);
      painter.drawRect(tile.rect.adjusted(0, 0, -1, -1));
    } else {
      painter.fillRect(tile.rect, colour.colour);
    }
  }
  // Labels after every fill: a child's fill never covers its parent's name.
  for (std::size_t i = 0; i < tiles.size(); ++i) {
    const CTile& tile = tiles[i];
    if (tile.rect.width() < 30 || tile.rect.height() < metrics.height() + 2) continue;
    const CTileColour colour = TileColourOf(tile.now, tile.node < 0 ? tile.now : tile.before);
    const QString size = SizeText(tile.now, options.units);
    if (tile.node < 0) {
      PaintLabel(painter, metrics, tile.rect, QString("%1 small").arg(tile.merged), size, QColor(0xd0, 0xd0, 0xd0));
    } else if (!tile.inner.isEmpty()) {
      // A directory whose children fill it: its name in the strip above them.
      const QRectF strip(tile.rect.x(), tile.rect.y(), tile.rect.width(), tile.inner.y() - tile.rect.y());
      PaintLabel(painter, metrics, strip, TreemapNodeName(tree, tile.node) + "  " + size, QString(), colour.colour);
    } else {
      PaintLabel(painter, metrics, tile.rect, TreemapNodeName(tree, tile.node), size, colour.colour);
    }
  }
  if (options.removed) {
    for (const CTile& tile : tiles) {
      if (tile.node < 0 || tree.Node(tile.node).ownFiles || !options.removed(tree.PathOf(tile.node))) continue;
      painter.fillRect(tile.rect, QColor(0xf0, 0xf0, 0xf0));
      painter.fillRect(tile.rect, QBrush(QColor(0x80, 0x80, 0x80), Qt::BDiagPattern));
      PaintLabel(painter, metrics, tile.rect, TreemapNodeName(tree, tile.node), "moved to the trash", QColor(0xf0, 0xf0, 0xf0));
    }
  }
  if (options.selectedTile >= 0 && options.selectedTile < static_cast<int>(tiles.size())) {
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(QColor(0x10, 0x10, 0x10), 3));
    painter.drawRect(tiles[static_cast<std::size_t>(options.selectedTile)].rect.adjusted(1, 1, -2, -2));
    painter.setPen(QPen(Qt::white, 1));
    painter.drawRect(tiles[static_cast<std::size_t>(options.selectedTile)].rect.adjusted(3, 3, -4, -4));
  }
  painter.restore();
}

double TreemapHeaderHeight(const QFont& font) { return QFontMetrics(font).height() + 3; }

int TreemapLegendHeight(const QFont& font) { return QFontMetrics(font).height() + 10; }

void PaintTreemapLegend(QPainter& painter, const QRect& area) {
  painter.save();
  painter.fillRect(area, QColor(0xfa, 0xfa, 0xfa));
  const QFontMetrics metrics(painter.font());
  const int box = metrics.height() - 2;
  int x = area.x() + 6;
  const int y = area.y() + (area.height() - box) / 2;
  struct Item {
    QColor pale;
    QColor deep;
    const char* text;
  };
  const Item items[] = {
      {ChangeColour(TileChange::Grown, 0.25), ChangeColour(TileChange::Grown, 1), "Grew (deeper: more of it new)"},
      {ChangeColour(TileChange::Shrunk, 0.25), ChangeColour(TileChange::Shrunk, 1), "Shrank"},
      {ChangeColour(TileChange::Unchanged, 0), ChangeColour(TileChange::Unchanged, 0), "Unchanged"},
      {ChangeColour(TileChange::New, 0), ChangeColour(TileChange::New, 0), "New"},
      {QColor(0xd0, 0xd0, 0xd0), QColor(0xd0, 0xd0, 0xd0), "Small ones merged"},
  };
  painter.setPen(Qt::black);
  for (const Item& item : items) {
    const bool ramp = item.pale != item.deep;
    const int width = ramp ? 2 * box : box;
    if (ramp) {
      QLinearGradient gradient(x, 0, x + width, 0);
      gradient.setColorAt(0, item.pale);
      gradient.setColorAt(1, item.deep);
      painter.fillRect(QRect(x, y, width, box), gradient);
    } else {
      painter.fillRect(QRect(x, y, width, box), item.pale);
    }
    painter.drawRect(QRect(x, y, width - 1, box - 1));
    x += width + 4;
    const QString text = QString::fromUtf8(item.text);
    painter.drawText(QRect(x, area.y(), metrics.horizontalAdvance(text) + 2, area.height()), Qt::AlignLeft | Qt::AlignVCenter, text);
    x += metrics.horizontalAdvance(text) + 14;
  }
  painter.restore();
}

void PaintTreemapPicture(QPainter& painter, const QSize& size, const CTreemapTree& tree, SizeUnit units) {
  const QFontMetrics metrics(painter.font());
  const int titleHeight = metrics.height() + 8;
  const int legendHeight = TreemapLegendHeight(painter.font());
  painter.fillRect(QRect(QPoint(0, 0), size), Qt::white);
  QString title = Shown(tree.Top());
  if (!tree.Empty()) title += "  " + SizeText(tree.Node(0).now, units);
  if (tree.OlderTime() != 0)
    title += "   changes from " + Text(FormatScanTime(tree.OlderTime(), kHeadingDateFormat)) + " to " +
             Text(FormatScanTime(tree.NewerTime(), kHeadingDateFormat));
  else if (tree.NewerTime() != 0)
    title += "   scanned " + Text(FormatScanTime(tree.NewerTime(), kHeadingDateFormat)) + ", no older scan to compare";
  painter.setPen(Qt::black);
  painter.drawText(QRect(6, 0, size.width() - 12, titleHeight), Qt::AlignLeft | Qt::AlignVCenter,
                   metrics.elidedText(title, Qt::ElideMiddle, size.width() - 12));
  const QRect tiles(0, titleHeight, size.width(), std::max(0, size.height() - titleHeight - legendHeight));
  if (tree.Empty()) {
    painter.drawText(tiles, Qt::AlignCenter, "No saved scan of this directory");
  } else {
    CTreemapLayout layout;
    layout.SetHeaderHeight(TreemapHeaderHeight(painter.font()));
    layout.Lay(tree, tiles);
    PaintTreemapTiles(painter, tree, layout, {units});
  }
  PaintTreemapLegend(painter, QRect(0, size.height() - legendHeight, size.width(), legendHeight));
}

bool IsTreemapPictureName(const std::string& file) {
  const std::string ext = Extension(file);
  return ext == "png" || ext == "svg";
}

bool WriteTreemapPicture(const std::string& file, const QSize& size, const CTreemapTree& tree, SizeUnit units,
                         std::string& why) {
  const std::string ext = Extension(file);
  if (ext != "png" && ext != "svg") {
    why = file + ": the picture is written as PNG or SVG; name the file .png or .svg";
    return false;
  }
  // Written beside the file and renamed over it: a failed write leaves no half picture.
  QSaveFile out(Text(file));
  if (!out.open(QIODevice::WriteOnly)) {
    why = file + ": " + out.errorString().toStdString();
    return false;
  }
  if (ext == "svg") {
    QSvgGenerator svg;
    svg.setOutputDevice(&out);
    svg.setSize(size);
    svg.setViewBox(QRect(QPoint(0, 0), size));
    svg.setTitle("Varnow treemap");
    QPainter painter(&svg);
    PaintTreemapPicture(painter, size, tree, units);
  } else {
    QImage image(size, QImage::Format_RGB32);
    {
      QPainter painter(&image);
      PaintTreemapPicture(painter, size, tree, units);
    }
    if (!image.save(&out, "PNG")) {
      why = file + ": the PNG picture could not be written";
      out.cancelWriting();
      return false;
    }
  }
  if (!out.commit()) {
    why = file + ": " + out.errorString().toStdString();
    return false;
  }
  return true;
}

}  // namespace varnow
