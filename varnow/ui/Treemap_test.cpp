#include "varnow/ui/Treemap.h"

#include <QFile>
#include <QGuiApplication>
#include <QImage>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <random>

#include <gtest/gtest.h>

#include "varnow/ui/TreemapPicture.h"

namespace varnow {
namespace {

constexpr std::int32_t kNewer = 1700003600;
constexpr std::int32_t kOlder = 1700000000;

// A saved record with two scans: each entry (name, size before, size now); kNoSize marks a
// directory that is new or gone. own: the files directly inside at both scans.
CDirData Record(const std::string& path, const std::vector<std::tuple<std::string, std::int64_t, std::int64_t>>& entries,
                std::int64_t ownBefore = 0, std::int64_t ownNow = 0, bool twoScans = true) {
  CDirData record;
  record.m_currentScanDir = path;
  record.m_times[0] = kNewer;
  if (twoScans) record.m_times[1] = kOlder;
  std::int64_t before = ownBefore;
  std::int64_t now = ownNow;
  for (const auto& [name, b, n] : entries) {
    CDirInfo entry;
    entry.name = name;
    entry.sizes[0] = n;
    if (twoScans) entry.sizes[1] = b;
    record.m_entries.push_back(entry);
    if (b != kNoSize) before += b;
    if (n != kNoSize) now += n;
  }
  CDirInfo total;
  total.name = std::string(kTotalUsed);
  total.sizes[0] = now;
  if (twoScans) total.sizes[1] = before;
  record.m_entries.push_back(total);
  record.m_total = now;
  return record;
}

// A flat tree of the given sizes below /t/.
CTreemapTree Flat(const std::vector<std::int64_t>& sizes) {
  std::vector<std::tuple<std::string, std::int64_t, std::int64_t>> entries;
  for (std::size_t i = 0; i < sizes.size(); ++i) entries.emplace_back("d" + std::to_string(i), sizes[i], sizes[i]);
  CTreemapTree tree;
  tree.SetTop(Record("/t/", entries));
  return tree;
}

double Area(const QRectF& r) { return r.width() * r.height(); }

bool Inside(const QRectF& inner, const QRectF& outer) {
  constexpr double e = 1e-6;
  return inner.left() >= outer.left() - e && inner.top() >= outer.top() - e && inner.right() <= outer.right() + e &&
         inner.bottom() <= outer.bottom() + e;
}

bool Overlap(const QRectF& a, const QRectF& b) {
  constexpr double e = 1e-6;
  return a.left() < b.right() - e && b.left() < a.right() - e && a.top() < b.bottom() - e && b.top() < a.bottom() - e;
}

// The tile of each node and, for every tile, the rectangle its siblings share.
void CheckGeometry(const CTreemapTree& tree, const CTreemapLayout& layout, const QRectF& bounds) {
  std::map<std::int32_t, const CTile*> byNode;
  for (const CTile& tile : layout.Tiles())
    if (tile.node >= 0) byNode[tile.node] = &tile;
  std::map<std::int32_t, std::vector<const CTile*>> siblings;  // by parent node
  for (const CTile& tile : layout.Tiles()) {
    const std::int32_t parent = tile.node >= 0 ? tree.Node(tile.node).parent : -2;
    if (tile.node < 0) continue;
    siblings[parent].push_back(&tile);
    const QRectF room = parent == 0 ? bounds : byNode.at(parent)->inner;
    EXPECT_TRUE(Inside(tile.rect, room)) << tree.PathOf(tile.node);
  }
  for (const auto& [parent, tiles] : siblings) {
    for (std::size_t i = 0; i < tiles.size(); ++i)
      for (std::size_t j = i + 1; j < tiles.size(); ++j)
        EXPECT_FALSE(Overlap(tiles[i]->rect, tiles[j]->rect)) << tree.PathOf(tiles[i]->node) << " " << tree.PathOf(tiles[j]->node);
  }
}

TEST(TreemapLayout, AreasFollowSizesTilesStayInsideAndNeverOverlap) {
  std::mt19937 random(3);
  for (int round = 0; round < 20; ++round) {
    std::vector<std::int64_t> sizes;
    const int count = 1 + static_cast<int>(random() % 60);
    for (int i = 0; i < count; ++i) sizes.push_back(1 + static_cast<std::int64_t>(random() % 1000000));
    const CTreemapTree tree = Flat(sizes);
    const QRectF bounds(5, 7, 300 + random() % 900, 200 + random() % 700);
    CTreemapLayout layout;
    layout.Lay(tree, bounds);
    ASSERT_EQ(layout.Tiles().size(), sizes.size());
    double total = 0;
    for (std::int64_t size : sizes) total += static_cast<double>(size);
    double covered = 0;
    for (const CTile& tile : layout.Tiles()) {
      const double expected = Area(bounds) * static_cast<double>(tree.Node(tile.node).now) / total;
      EXPECT_NEAR(Area(tile.rect), expected, expected * 0.01 + 1e-9);
      covered += Area(tile.rect);
    }
    EXPECT_NEAR(covered, Area(bounds), Area(bounds) * 0.01);
    CheckGeometry(tree, layout, bounds);
  }
}

TEST(TreemapLayout, SquarifiedTilesOfEqualSizesAreNearlySquare) {
  for (int count : {4, 9, 24, 100, 333}) {
    const CTreemapTree tree = Flat(std::vector<std::int64_t>(static_cast<std::size_t>(count), 4096));
    for (const QRectF bounds : {QRectF(0, 0, 1200, 800), QRectF(0, 0, 400, 900), QRectF(0, 0, 1600, 300)}) {
      CTreemapLayout layout;
      layout.Lay(tree, bounds);
      for (const CTile& tile : layout.Tiles()) {
        const double ratio = std::max(tile.rect.width() / tile.rect.height(), tile.rect.height() / tile.rect.width());
        EXPECT_LE(ratio, 3.0) << count << " tiles in " << bounds.width() << "x" << bounds.height();
      }
    }
  }
}

TEST(TreemapTree, NestsSavedRecordsGivesOwnFilesATileAndKeepsNamesAsBytes) {
  const std::string odd = "caf\xe9 \xff";  // not UTF-8
  CTreemapTree tree;
  tree.SetTop(Record("/t/", {{"a", 600, 900}, {odd, 100, 100}, {"new", kNoSize, 50}, {"gone", 70, kNoSize}, {"empty", 0, 0}},
                     10, 30));
  tree.Add(Record("/t/a/", {{"x", 500, 800}}, 100, 100));
  tree.Add(Record("/elsewhere/", {{"y", 1, 1}}));  // not below the top: ignored
  tree.Add(Record("/t/" + odd + "/", {{"inner", 100, 100}}));
  ASSERT_FALSE(tree.Empty());
  EXPECT_EQ(tree.Node(0).now, 1080);
  std::map<std::string, const CTreemapNode*> byPath;
  for (std::int32_t i = 1; i < static_cast<std::int32_t>(tree.Nodes().size()); ++i)
    byPath[tree.PathOf(i) + (tree.Node(i).ownFiles ? "(files)" : "")] = &tree.Node(i);
  EXPECT_EQ(byPath.count("/t/gone/"), 0u);  // nothing at the newer scan
  ASSERT_EQ(byPath.count("/t/(files)"), 1u);
  EXPECT_EQ(byPath["/t/(files)"]->now, 30);
  EXPECT_EQ(byPath["/t/(files)"]->before, 10);
  ASSERT_EQ(byPath.count("/t/a/x/"), 1u);
  EXPECT_EQ(byPath["/t/a/(files)"]->now, 100);
  ASSERT_EQ(byPath.count("/t/" + odd + "/inner/"), 1u);  // reachable by its exact bytes
  EXPECT_EQ(byPath["/t/new/"]->before, kNoSize);
  // What a new directory holds is new too, though its own record has one scan only.
  tree.Add(Record("/t/new/", {{"sub", 0, 20}}, 0, 30, false));
  for (std::int32_t i = 1; i < static_cast<std::int32_t>(tree.Nodes().size()); ++i)
    if (tree.PathOf(i).rfind("/t/new/", 0) == 0) EXPECT_EQ(tree.Node(i).before, kNoSize) << tree.PathOf(i);
  EXPECT_TRUE(byPath["/t/a/"]->hasRecord);

  // A size of 0 takes no room; every other box has a tile, the parents theirs too.
  CTreemapLayout layout;
  const QRectF bounds(0, 0, 800, 600);
  layout.Lay(tree, bounds);
  for (const CTile& tile : layout.Tiles()) EXPECT_NE(tree.PathOf(tile.node), "/t/empty/");
  EXPECT_GE(layout.TileOfNode(static_cast<std::int32_t>(byPath["/t/a/x/"] - tree.Nodes().data())), 0);
  CheckGeometry(tree, layout, bounds);
}

TEST(TreemapTree, ADirectoryWithoutRecordsBelowGetsOneTilePerEntryAndOneScanShowsNoChange) {
  CTreemapTree tree;
  tree.SetTop(Record("/t/", {{"a", 5, 5}, {"b", 3, 3}, {"c", 2, 2}}, 0, 0, false));
  CTreemapLayout layout;
  layout.Lay(tree, QRectF(0, 0, 100, 100));
  ASSERT_EQ(layout.Tiles().size(), 3u);
  for (const CTile& tile : layout.Tiles()) {
    EXPECT_TRUE(tile.inner.isEmpty());
    EXPECT_EQ(TileColourOf(tile.now, tile.before).change, TileChange::Unchanged);
  }
  EXPECT_EQ(tree.OlderTime(), 0);

  // Nothing saved, or only zero sizes: no tiles, and no division by zero.
  CTreemapTree empty;
  empty.SetTop(Record("/t/", {{"z", 0, 0}}));
  EXPECT_TRUE(empty.Empty());
  layout.Lay(empty, QRectF(0, 0, 100, 100));
  EXPECT_TRUE(layout.Tiles().empty());
  layout.Lay(Flat({1, 2}), QRectF(0, 0, 0, 0));
  EXPECT_TRUE(layout.Tiles().empty());
}

TEST(TreemapColour, GrownRedShrunkBlueUnchangedGreyNewItsOwnHue) {
  const CTileColour grown = TileColourOf(300, 100);
  const CTileColour grownLittle = TileColourOf(101, 100);
  const CTileColour shrunk = TileColourOf(50, 100);
  const CTileColour same = TileColourOf(100, 100);
  const CTileColour fresh = TileColourOf(100, kNoSize);
  EXPECT_EQ(grown.change, TileChange::Grown);
  EXPECT_EQ(shrunk.change, TileChange::Shrunk);
  EXPECT_EQ(same.change, TileChange::Unchanged);
  EXPECT_EQ(fresh.change, TileChange::New);
  EXPECT_GT(grown.colour.red(), grown.colour.blue() + 60);
  EXPECT_GT(shrunk.colour.blue(), shrunk.colour.red() + 60);
  EXPECT_EQ(same.colour.red(), same.colour.blue());
  EXPECT_EQ(same.colour.red(), same.colour.green());
  EXPECT_GT(fresh.colour.green(), fresh.colour.red() + 40);
  // Deeper for a larger share of growth: two thirds new is darker than one per cent.
  EXPECT_GT(grown.depth, grownLittle.depth);
  EXPECT_LT(grown.colour.lightness(), grownLittle.colour.lightness());
  EXPECT_EQ(grownLittle.change, TileChange::Grown);
  EXPECT_NE(grownLittle.colour, same.colour);
  // Grown to or from nothing stays within the scale.
  EXPECT_LE(TileColourOf(100, 0).depth, 1.0);
  EXPECT_EQ(TileColourOf(0, 100).change, TileChange::Shrunk);
  EXPECT_EQ(TileColourOf(0, 0).change, TileChange::Unchanged);
}

TEST(TreemapLayout, HitTestingFindsTheInnermostTile) {
  CTreemapTree tree;
  tree.SetTop(Record("/t/", {{"a", 700, 700}, {"b", 300, 300}}));
  tree.Add(Record("/t/a/", {{"x", 400, 400}, {"y", 300, 300}}));
  CTreemapLayout layout;
  layout.Lay(tree, QRectF(0, 0, 400, 300));
  for (std::size_t i = 0; i < layout.Tiles().size(); ++i) {
    const CTile& tile = layout.Tiles()[i];
    if (!tile.inner.isEmpty()) {
      // The parent's own strip above its children is the parent's.
      EXPECT_EQ(layout.TileAt(QPointF(tile.rect.center().x(), tile.rect.top() + 2)), static_cast<int>(i));
      continue;
    }
    EXPECT_EQ(layout.TileAt(tile.rect.center()), static_cast<int>(i)) << tree.PathOf(tile.node);
  }
  EXPECT_EQ(layout.TileAt(QPointF(-1, 5)), -1);
  EXPECT_EQ(layout.TileAt(QPointF(401, 5)), -1);
}

TEST(TreemapLayout, AMillionTinyDirectoriesAreMergedBelowAPixel) {
  std::vector<std::tuple<std::string, std::int64_t, std::int64_t>> entries;
  entries.emplace_back("big", 1000000000000, 1000000000000);
  for (int i = 0; i < 1000000; ++i) entries.emplace_back("t" + std::to_string(i), 4096, 4096);
  CTreemapTree tree;
  tree.SetTop(Record("/t/", entries));
  const QRectF bounds(0, 0, 1600, 1000);
  CTreemapLayout layout;
  layout.Lay(tree, bounds);
  ASSERT_GE(layout.Tiles().size(), 2u);
  EXPECT_LE(layout.Tiles().size(), 3u);
  const CTile& merged = layout.Tiles().back();
  EXPECT_EQ(merged.node, -1);
  EXPECT_EQ(merged.merged, 1000000);
  EXPECT_EQ(merged.now, 4096LL * 1000000);
  EXPECT_TRUE(Inside(merged.rect, bounds));
  // The merged tile answers hit tests like any other.
  EXPECT_EQ(layout.TileAt(merged.rect.center()), static_cast<int>(layout.Tiles().size() - 1));
}

class TreemapPictureTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder = std::filesystem::temp_directory_path() / ("treemap-test-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
  }
  void TearDown() override { std::filesystem::remove_all(folder); }
  std::filesystem::path folder;
};

// A grown directory of a known share of the tree is drawn in its colour on about that share of
// the picture's tile area.
TEST_F(TreemapPictureTest, PngShowsTheGrownDirectoryOnItsShareOfTheArea) {
  CTreemapTree tree;
  tree.SetTop(Record("/t/", {{"grew", 100, 300}, {"same", 700, 700}}));
  const std::string file = (folder / "map.PNG").string();
  std::string why;
  const QSize size(600, 400);
  ASSERT_TRUE(WriteTreemapPicture(file, size, tree, SizeUnit::kK, why)) << why;
  QImage image(QString::fromStdString(file));
  ASSERT_EQ(image.size(), size);
  const QColor grown = TileColourOf(300, 100).colour;
  const QColor same = TileColourOf(700, 700).colour;
  int grownPixels = 0;
  int samePixels = 0;
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) {
      const QRgb pixel = image.pixel(x, y);
      if (pixel == grown.rgb()) ++grownPixels;
      if (pixel == same.rgb()) ++samePixels;
    }
  }
  ASSERT_GT(grownPixels + samePixels, 0);
  // 300 of 1000: labels and outlines take a little of each tile.
  EXPECT_NEAR(static_cast<double>(grownPixels) / (grownPixels + samePixels), 0.3, 0.03);
}

TEST_F(TreemapPictureTest, SvgIsWrittenAndBadNamesOrPlacesAreRefusedWithAReason) {
  CTreemapTree tree;
  tree.SetTop(Record("/t/", {{"caf\xe9", 1, 2}, {"b", 5, 5}}));
  std::string why;
  const std::string svg = (folder / "map.svg").string();
  ASSERT_TRUE(WriteTreemapPicture(svg, QSize(300, 200), tree, SizeUnit::kK, why)) << why;
  QFile file(QString::fromStdString(svg));
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  const QByteArray text = file.readAll();
  EXPECT_TRUE(text.contains("<svg")) << text.left(200).toStdString();
  EXPECT_TRUE(text.contains("</svg>"));

  EXPECT_FALSE(WriteTreemapPicture((folder / "map.jpg").string(), QSize(300, 200), tree, SizeUnit::kK, why));
  EXPECT_NE(why.find(".png or .svg"), std::string::npos);
  why.clear();
  EXPECT_FALSE(WriteTreemapPicture((folder / "missing" / "map.png").string(), QSize(300, 200), tree, SizeUnit::kK, why));
  EXPECT_FALSE(why.empty());
  // An existing picture is left whole when the new one cannot be written.
  const std::filesystem::path locked = folder / "locked";
  std::filesystem::create_directories(locked);
  const std::string kept = (locked / "old.png").string();
  ASSERT_TRUE(WriteTreemapPicture(kept, QSize(50, 40), tree, SizeUnit::kK, why));
  const auto before = std::filesystem::file_size(kept);
  std::filesystem::permissions(locked, std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
  if (::geteuid() != 0) {
    EXPECT_FALSE(WriteTreemapPicture(kept, QSize(300, 200), tree, SizeUnit::kK, why));
    EXPECT_EQ(std::filesystem::file_size(kept), before);
  }
  std::filesystem::permissions(locked, std::filesystem::perms::owner_all);
}

}  // namespace
}  // namespace varnow

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
