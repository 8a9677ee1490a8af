// Painting a treemap: the tiles, their labels, the title with the two scans compared and the
// legend, with any QPainter (a widget, a QImage, an SVG generator). Needs Qt Gui only, so the
// command line writes the same picture the window shows.
#pragma once

#include <QPainter>
#include <QSize>

#include <functional>
#include <string>

#include "varnow/report/FormatSize.h"
#include "varnow/ui/Treemap.h"

namespace varnow {

struct CTreemapPaintOptions {
  SizeUnit units = SizeUnit::kK;  // the display unit of the sizes (see FormatSize)
  int selectedTile = -1;          // outlined
  std::function<bool(const std::string& path)> removed;  // shown as moved to the trash
};

// The text of a node for labels and tooltips: its name (bytes that are not UTF-8 replaced),
// "(files)" for the files directly in a directory.
QString TreemapNodeName(const CTreemapTree& tree, std::int32_t node);
// The tooltip of a tile: path, both sizes, the change and the two scan dates.
QString TreemapTileTip(const CTreemapTree& tree, const CTile& tile, SizeUnit units);

// The header strip a layout keeps for a directory's name in the painter's font.
double TreemapHeaderHeight(const QFont& font);

// Paints the laid-out tiles (and nothing else) with their labels.
void PaintTreemapTiles(QPainter& painter, const CTreemapTree& tree, const CTreemapLayout& layout,
                       const CTreemapPaintOptions& options);

// Height of the legend strip PaintTreemapLegend draws, for the painter's font.
int TreemapLegendHeight(const QFont& font);
// The legend along the bottom of area: the four colours and what they mean.
void PaintTreemapLegend(QPainter& painter, const QRect& area);

// The whole picture: title line (the directory, the scans compared), tiles, legend.
void PaintTreemapPicture(QPainter& painter, const QSize& size, const CTreemapTree& tree, SizeUnit units);

// Writes the picture of tree as PNG or SVG, chosen by the file's extension (".png", ".svg", any
// letter case). False, with why, when the extension is neither or the file cannot be written.
bool WriteTreemapPicture(const std::string& file, const QSize& size, const CTreemapTree& tree, SizeUnit units,
                         std::string& why);
// True when the file's extension names a picture format that WriteTreemapPicture writes.
bool IsTreemapPictureName(const std::string& file);

}  // namespace varnow
