// The treemap of a directory's saved tree: the tree built from the saved records, its squarified
// layout in a rectangle, the colour that tells each tile's change between the two newest scans,
// and hit testing. No widgets and no painting here (see TreemapPicture), so the command line,
// the window and the tests share one layout.
#pragma once

#include <QColor>
#include <QPointF>
#include <QRectF>

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "varnow/scan/DirData.h"

namespace varnow {

// One box of the tree: a directory, or the files directly in a directory.
struct CTreemapNode {
  std::string name;                 // the path component (bytes); "" for the top and for own files
  std::int64_t now = 0;             // size at the newer scan
  std::int64_t before = kNoSize;    // size at the older scan; kNoSize: new since then (or no older scan)
  std::int32_t parent = -1;
  std::int32_t firstChild = 0;      // children are stored one after another
  std::int32_t childCount = 0;
  bool ownFiles = false;            // the files directly in the parent
  bool hasRecord = false;           // its saved record was read (its children are known)
};

class CTreemapTree {
 public:
  // Builds on the record of top (the shown one; it ends in "/"; one that was never scanned gives
  // an empty tree), then on the records below it in
  // the order IScanStore::ReadTree gives them (parents before children). A record of top itself
  // or of a directory not reached from top is ignored.
  void SetTop(const CDirData& record);
  void Add(const CDirData& record);

  bool Empty() const { return m_nodes.empty() || m_nodes[0].now <= 0; }
  const std::vector<CTreemapNode>& Nodes() const { return m_nodes; }
  const CTreemapNode& Node(std::int32_t index) const { return m_nodes[static_cast<std::size_t>(index)]; }
  // Full path of a node ("/a/b/"), the top for its own files.
  std::string PathOf(std::int32_t index) const;
  const std::string& Top() const { return m_top; }
  // The times of the two scans compared at the top (0: none).
  std::int32_t NewerTime() const { return m_newerTime; }
  std::int32_t OlderTime() const { return m_olderTime; }

 private:
  void AddChildren(std::int32_t index, const CDirData& record);

  std::string m_top;
  std::int32_t m_newerTime = 0;
  std::int32_t m_olderTime = 0;
  std::vector<CTreemapNode> m_nodes;
  std::unordered_map<std::string, std::int32_t> m_pending;  // directories whose record may come
};

// What a tile's colour tells.
enum class TileChange { Grown, Shrunk, Unchanged, New };

struct CTileColour {
  TileChange change;
  double depth;  // 0..1: how much of the tile grew (or of the older size went away)
  QColor colour;
};
CTileColour TileColourOf(std::int64_t now, std::int64_t before);
// The colours of the legend: a pale and a deep one for growth and for shrinking, one each for
// unchanged and new.
QColor ChangeColour(TileChange change, double depth);

struct CTile {
  QRectF rect;
  std::int32_t node = -1;     // -1: several small tiles merged into one
  std::int32_t depth = 0;     // 0 for the top's children
  std::int32_t merged = 0;    // how many boxes a merged tile stands for
  std::int64_t now = 0;       // the merged tiles' sizes together
  std::int64_t before = 0;
  QRectF inner;               // where the children went (empty: none laid out)
};

class CTreemapLayout {
 public:
  // Boxes whose tile would be smaller than this many pixels are merged into one tile.
  static constexpr double kMinTileArea = 1.0;

  // Lays the tree out in bounds: tiles of parents before those of their children.
  void Lay(const CTreemapTree& tree, const QRectF& bounds);
  // The strip a directory's tile keeps above its children for its name (a line of the label
  // font); tiles less than three strips high or wide keep none.
  void SetHeaderHeight(double height) { m_header = height; }

  const std::vector<CTile>& Tiles() const { return m_tiles; }
  // The innermost tile at point, or -1.
  int TileAt(const QPointF& point) const;
  // The first tile of a node, or -1.
  int TileOfNode(std::int32_t node) const;

 private:
  void LayChildren(const CTreemapTree& tree, std::int32_t node, const QRectF& rect, int depth);

  std::vector<CTile> m_tiles;
  double m_header = 14.0;
};

}  // namespace varnow
