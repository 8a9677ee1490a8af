#include "varnow/ui/Treemap.h"

#include <algorithm>
#include <cmath>

namespace varnow {
namespace {

// A directory below this share of the top cannot get a pixel even on a large screen: its saved
// record is not needed, so a huge tree of tiny directories costs no memory for them.
constexpr double kMinShareRead = 1e-7;

// Inside a directory's tile its children leave a frame of its own colour, and a strip at the top
// for its name where the tile is large enough.
constexpr double kFrame = 1.0;

std::int64_t TotalAt(const CDirData& record, int scan) {
  const CDirInfo* total = record.FindEntry(kTotalUsed);
  if (total && total->sizes[static_cast<std::size_t>(scan)] != kNoSize) return total->sizes[static_cast<std::size_t>(scan)];
  return scan == 0 ? std::max<std::int64_t>(record.m_total, 0) : kNoSize;
}

}  // namespace

void CTreemapTree::SetTop(const CDirData& record) {
  m_nodes.clear();
  m_pending.clear();
  m_top = record.m_currentScanDir;
  m_newerTime = record.m_times[0];
  m_olderTime = record.m_times[1];
  if (m_newerTime == 0) return;  // neither scanned nor saved: nothing to draw
  CTreemapNode top;
  top.now = TotalAt(record, 0);
  top.before = m_olderTime != 0 ? TotalAt(record, 1) : top.now;
  m_nodes.push_back(top);
  AddChildren(0, record);
}

void CTreemapTree::Add(const CDirData& record) {
  const auto pending = m_pending.find(record.m_currentScanDir);
  if (pending == m_pending.end()) return;
  const std::int32_t index = pending->second;
  m_pending.erase(pending);
  AddChildren(index, record);
}

void CTreemapTree::AddChildren(std::int32_t index, const CDirData& record) {
  // Without an older scan nothing is known to have changed: every tile shows as unchanged, unless
  // the directory itself is new, and with it everything in it.
  const bool compared = record.m_times[1] != 0;
  const bool fresh = index > 0 && m_nodes[static_cast<std::size_t>(index)].before == kNoSize;
  const std::string& path = record.m_currentScanDir;
  const std::int64_t topNow = m_nodes[0].now;
  std::int64_t childrenNow = 0;
  std::int64_t childrenBefore = 0;
  const auto first = static_cast<std::int32_t>(m_nodes.size());
  for (const CDirInfo& entry : record.m_entries) {
    if (IsSpecialEntryName(entry.name)) continue;
    // A directory gone since the older scan takes no room, but its older size was not files.
    if (compared && entry.sizes[1] > 0 && (entry.sizes[0] == kNoSize || entry.sizes[0] < 0)) childrenBefore += entry.sizes[1];
    if (entry.sizes[0] == kNoSize || entry.sizes[0] < 0) continue;
    CTreemapNode child;
    child.name = entry.name;
    child.now = entry.sizes[0];
    child.before = fresh ? kNoSize : compared ? entry.sizes[1] : child.now;
    child.parent = index;
    childrenNow += child.now;
    if (child.before != kNoSize) childrenBefore += child.before;
    if (static_cast<double>(child.now) >= kMinShareRead * static_cast<double>(topNow))
      m_pending.emplace(path + entry.name + "/", static_cast<std::int32_t>(m_nodes.size()));
    m_nodes.push_back(std::move(child));
  }
  // The files directly in the directory: its total less its subdirectories'.
  const std::int64_t totalNow = TotalAt(record, 0);
  const std::int64_t totalBefore = compared ? TotalAt(record, 1) : totalNow;
  if (totalNow - childrenNow > 0) {
    CTreemapNode own;
    own.ownFiles = true;
    own.parent = index;
    own.now = totalNow - childrenNow;
    own.before = fresh || totalBefore == kNoSize ? kNoSize : std::max<std::int64_t>(totalBefore - childrenBefore, 0);
    m_nodes.push_back(own);
  }
  CTreemapNode& node = m_nodes[static_cast<std::size_t>(index)];
  node.hasRecord = true;
  node.firstChild = first;
  node.childCount = static_cast<std::int32_t>(m_nodes.size()) - first;
}

std::string CTreemapTree::PathOf(std::int32_t index) const {
  std::vector<const std::string*> names;
  for (std::int32_t i = index; i > 0; i = Node(i).parent)
    if (!Node(i).ownFiles) names.push_back(&Node(i).name);
  std::string path = m_top;
  for (auto it = names.rbegin(); it != names.rend(); ++it) path += **it + "/";
  return path;
}

QColor ChangeColour(TileChange change, double depth) {
  depth = std::clamp(depth, 0.0, 1.0);
  // Pale at no change, deep at a tile that is all growth (or lost all of its older size).
  auto blend = [depth](QColor pale, QColor deep) {
    return QColor::fromRgbF(static_cast<float>(pale.redF() + (deep.redF() - pale.redF()) * depth),
                            static_cast<float>(pale.greenF() + (deep.greenF() - pale.greenF()) * depth),
                            static_cast<float>(pale.blueF() + (deep.blueF() - pale.blueF()) * depth));
  };
  switch (change) {
    case TileChange::Grown: return blend(QColor(0xf4, 0xb4, 0xa8), QColor(0xb7, 0x1c, 0x1c));
    case TileChange::Shrunk: return blend(QColor(0xb3, 0xcd, 0xf0), QColor(0x1f, 0x4e, 0xa8));
    case TileChange::New: return QColor(0x3f, 0xa3, 0x4d);
    case TileChange::Unchanged: break;
  }
  return QColor(0xb4, 0xb4, 0xb4);
}

CTileColour TileColourOf(std::int64_t now, std::int64_t before) {
  CTileColour result{TileChange::Unchanged, 0.0, {}};
  if (before == kNoSize) {
    result.change = TileChange::New;
  } else if (now > before) {
    result.change = TileChange::Grown;
    // The share of the tile that is new: a tile that tripled is two thirds growth.
    result.depth = static_cast<double>(now - before) / static_cast<double>(now);
  } else if (now < before) {
    result.change = TileChange::Shrunk;
    result.depth = static_cast<double>(before - now) / static_cast<double>(before);
  }
  // The palest shade of a change must still differ from its colour's neighbour on screen: a tile
  // that changed at all is drawn at a quarter of the depth at least.
  if (result.change == TileChange::Grown || result.change == TileChange::Shrunk)
    result.depth = 0.25 + 0.75 * result.depth;
  result.colour = ChangeColour(result.change, result.depth);
  return result;
}

namespace {

// Worst aspect ratio of a row of areas (sum, largest, smallest) laid along a side.
double Worst(double sum, double largest, double smallest, double side) {
  const double side2 = side * side;
  const double sum2 = sum * sum;
  return std::max(side2 * largest / sum2, sum2 / (side2 * smallest));
}

}  // namespace

void CTreemapLayout::Lay(const CTreemapTree& tree, const QRectF& bounds) {
  m_tiles.clear();
  if (tree.Empty() || bounds.width() <= 0 || bounds.height() <= 0) return;
  LayChildren(tree, 0, bounds, 0);
}

void CTreemapLayout::LayChildren(const CTreemapTree& tree, std::int32_t index, const QRectF& rect, int depth) {
  const CTreemapNode& parent = tree.Node(index);
  std::vector<std::int32_t> order;
  order.reserve(static_cast<std::size_t>(parent.childCount));
  double total = 0;
  for (std::int32_t i = parent.firstChild; i < parent.firstChild + parent.childCount; ++i) {
    if (tree.Node(i).now <= 0) continue;  // a size of 0 takes no room
    order.push_back(i);
    total += static_cast<double>(tree.Node(i).now);
  }
  if (order.empty() || total <= 0) return;
  std::sort(order.begin(), order.end(), [&tree](std::int32_t a, std::int32_t b) {
    const std::int64_t sa = tree.Node(a).now;
    const std::int64_t sb = tree.Node(b).now;
    return sa != sb ? sa > sb : a < b;
  });
  const double scale = rect.width() * rect.height() / total;
  auto area = [&](std::size_t k) { return static_cast<double>(tree.Node(order[k]).now) * scale; };

  QRectF free = rect;
  std::size_t next = 0;
  struct Placed {
    std::int32_t node;
    QRectF rect;
  };
  std::vector<Placed> placed;
  placed.reserve(order.size());
  CTile merged;
  while (next < order.size()) {
    if (area(next) < kMinTileArea && next + 1 < order.size()) {
      // The rest are smaller still: one tile, after the others, stands for them all.
      merged.rect = free;
      merged.depth = depth;
      for (std::size_t k = next; k < order.size(); ++k) {
        const CTreemapNode& small = tree.Node(order[k]);
        ++merged.merged;
        merged.now += small.now;
        merged.before += small.before == kNoSize ? 0 : small.before;
      }
      break;
    }
    const double side = std::min(free.width(), free.height());
    double sum = area(next);
    double largest = sum;
    double smallest = sum;
    std::size_t end = next + 1;
    while (end < order.size()) {
      const double a = area(end);
      if (a < kMinTileArea) break;
      if (Worst(sum + a, largest, a, side) > Worst(sum, largest, smallest, side)) break;
      sum += a;
      smallest = a;
      ++end;
    }
    // The row fills the free rectangle's short side; its thickness follows from its area.
    const bool column = free.width() >= free.height();
    const double thickness = side > 0 ? std::min(sum / side, column ? free.width() : free.height()) : 0;
    double offset = 0;
    for (std::size_t k = next; k < end; ++k) {
      const double length = thickness > 0 ? area(k) / thickness : 0;
      QRectF tile = column ? QRectF(free.x(), free.y() + offset, thickness, length)
                           : QRectF(free.x() + offset, free.y(), length, thickness);
      offset += length;
      placed.push_back({order[k], tile});
    }
    if (column) free.setLeft(free.left() + thickness);
    else free.setTop(free.top() + thickness);
    next = end;
  }
  for (const Placed& p : placed) {
    const CTreemapNode& node = tree.Node(p.node);
    CTile tile;
    tile.rect = p.rect;
    tile.node = p.node;
    tile.depth = depth;
    tile.now = node.now;
    tile.before = node.before;
    m_tiles.push_back(tile);
    if (!node.hasRecord || node.childCount == 0) continue;
    const double header = p.rect.height() >= 3 * m_header && p.rect.width() >= 3 * m_header ? m_header : 0;
    QRectF inner = p.rect.adjusted(kFrame, kFrame + header, -kFrame, -kFrame);
    if (inner.width() < 2 || inner.height() < 2) continue;
    const std::size_t at = m_tiles.size() - 1;
    m_tiles[at].inner = inner;
    LayChildren(tree, p.node, inner, depth + 1);
  }
  if (merged.merged > 0) m_tiles.push_back(merged);
}

int CTreemapLayout::TileAt(const QPointF& point) const {
  // Children follow their parents and siblings never overlap: the last tile that holds the point
  // is the innermost.
  for (std::size_t i = m_tiles.size(); i-- > 0;)
    if (m_tiles[i].rect.contains(point)) return static_cast<int>(i);
  return -1;
}

int CTreemapLayout::TileOfNode(std::int32_t node) const {
  for (std::size_t i = 0; i < m_tiles.size(); ++i)
    if (m_tiles[i].node == node) return static_cast<int>(i);
  return -1;
}

}  // namespace varnow
