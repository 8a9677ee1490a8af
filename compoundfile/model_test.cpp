// The parts of the parsed file model that keep it small: the name pool, the id lists of the
// entries, the entry fields kept beside the nodes, and the directory read in runs.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <new>
#include <numeric>
#include <string>
#include <vector>

#include "compoundfile/compoundfile.h"
#include "compoundfile/document.h"
#include "compoundfile/format.h"
#include "compoundfile/modelcache.h"
#include "compoundfile/readcache.h"

namespace cfb {
namespace {

namespace fs = std::filesystem;

std::u16string Numbered(std::u16string prefix, std::size_t n) {
  return prefix.append(WidenBytes(std::to_string(n)));
}

TEST(NamePool, KeepsEveryNameAsGivenAndSharesEqualOnes) {
  NamePool pool;
  EXPECT_EQ(pool.Add(u"").length, 0);
  EXPECT_EQ(pool.Units(), 0u);

  const NamePool::Ref one = pool.Add(u"KOB[VNData]");
  EXPECT_EQ(pool.View(one.at, one.length), u"KOB[VNData]");
  const NamePool::Ref again = pool.Add(u"KOB[VNData]");
  EXPECT_EQ(again.at, one.at);
  EXPECT_EQ(pool.Units(), 11u);

  // Names the sibling order counts as equal are still kept apart, each spelled as given.
  const NamePool::Ref upper = pool.Add(u"KOB[VNDATA]");
  EXPECT_NE(upper.at, one.at);
  EXPECT_EQ(pool.View(upper.at, upper.length), u"KOB[VNDATA]");
  EXPECT_EQ(pool.View(one.at, one.length), u"KOB[VNData]");

  const std::u16string longest(format::kMaxNameUnits, u'\u00e9');
  const NamePool::Ref full = pool.Add(longest);
  EXPECT_EQ(pool.View(full.at, full.length), longest);
  EXPECT_EQ(pool.View(pool.Add(std::u16string(255, u'x')).at, 255), std::u16string(255, u'x'));
  EXPECT_THROW(pool.Add(std::u16string(256, u'x')), std::bad_alloc);

  pool.Clear();
  EXPECT_EQ(pool.Units(), 0u);
  const NamePool::Ref fresh = pool.Add(u"KOB[VNData]");
  EXPECT_EQ(pool.View(fresh.at, fresh.length), u"KOB[VNData]");
}

TEST(NamePool, ANameTakenFromThePoolItselfSurvivesItsGrowth) {
  NamePool pool;
  NamePool::Ref first = pool.Add(u"first name of all");
  for (std::size_t i = 0; i < 5000; ++i) {
    const NamePool::Ref copy = pool.Add(pool.View(first.at, first.length));
    ASSERT_EQ(pool.View(copy.at, copy.length), u"first name of all");
    pool.Add(Numbered(u"n", i));  // moves the name out of the shared slot now and then
  }
}

// Checks list against the same ids kept by a vector, through every way of reading it.
void ExpectIds(const IdList& list, const std::vector<std::uint32_t>& ids) {
  ASSERT_EQ(list.size(), ids.size());
  EXPECT_EQ(list.empty(), ids.empty());
  EXPECT_TRUE(std::equal(list.begin(), list.end(), ids.begin(), ids.end()));
  if (!ids.empty()) {
    EXPECT_EQ(list.front(), ids.front());
    EXPECT_EQ(list.back(), ids.back());
  }
}

TEST(IdList, BehavesAsAVectorOnBothSidesOfItsInlineRoom) {
  static_assert(sizeof(IdList) == sizeof(std::vector<std::uint32_t>));
  IdList list;
  std::vector<std::uint32_t> ids;
  ExpectIds(list, ids);
  // Grown one id at a time past the inline room and far beyond, with the largest id.
  for (std::uint32_t i = 0; i < 1000; ++i) {
    const std::uint32_t id = i == 3 ? 0xFFFFFFFFu : i * 7;
    list.push_back(id);
    ids.push_back(id);
    if (i < 8 || i == 999) ExpectIds(list, ids);
  }
  list.resize(2);
  ids.resize(2);
  ExpectIds(list, ids);
  list.resize(6, 9);
  ids.resize(6, 9);
  ExpectIds(list, ids);
  list.pop_back();
  ids.pop_back();
  ExpectIds(list, ids);
  list.clear();
  EXPECT_TRUE(list.empty());
  list.push_back(5);  // room kept after clear
  ExpectIds(list, {5});

  IdList exact;
  exact.reserve(IdList::kInline + 1);
  EXPECT_EQ(exact.capacity(), IdList::kInline + 1);
  std::vector<std::uint32_t> many(5000);
  std::iota(many.begin(), many.end(), 1u);
  exact.assign(many.data(), many.data() + many.size());
  ExpectIds(exact, many);
  std::sort(exact.begin(), exact.end(), std::greater<>());
  EXPECT_EQ(exact.front(), 5000u);
}

TEST(IdList, CopiesAndMovesKeepTheIdsWhereverTheyAreHeld) {
  for (const std::size_t n : {std::size_t{0}, std::size_t{1}, IdList::kInline, IdList::kInline + 1, std::size_t{300}}) {
    std::vector<std::uint32_t> ids(n);
    std::iota(ids.begin(), ids.end(), 100u);
    IdList list;
    list.assign(ids.data(), ids.data() + ids.size());

    IdList copy(list);
    ExpectIds(copy, ids);
    copy.push_back(1);  // the copy is its own
    ExpectIds(list, ids);

    IdList moved(std::move(list));
    ExpectIds(moved, ids);
    EXPECT_TRUE(list.empty());
    list.push_back(7);  // a list moved from is usable again
    ExpectIds(list, {7});

    IdList target{1, 2, 3, 4, 5, 6};
    target = std::move(moved);
    ExpectIds(target, ids);
    target = copy;
    EXPECT_EQ(target, copy);
    IdList& same = target;
    target = std::move(same);  // onto itself: nothing lost
    EXPECT_EQ(target, copy);
  }
}

TEST(ModelNames, ReplacedNamesDoNotPileUp) {
  Model m;
  m.nodes.resize(3);
  m.SetName(m.nodes[0], u"Root Entry");
  m.SetName(m.nodes[1], u"kept");
  for (std::size_t i = 0; i < 20000; ++i)
    m.SetName(m.nodes[2], Numbered(u"a name long enough to fill the pool ", i).substr(0, 31));
  EXPECT_EQ(m.NameOf(m.nodes[0]), u"Root Entry");
  EXPECT_EQ(m.NameOf(m.nodes[1]), u"kept");
  EXPECT_EQ(m.NameOf(m.nodes[2]), Numbered(u"a name long enough to fill the pool ", 19999).substr(0, 31));
  EXPECT_EQ(m.nameUnits, 10u + 4u + 31u);
  EXPECT_LE(m.names.Units(), 2 * m.nameUnits + (1 << 16) + 31);

  m.DropSideData(2, m.nodes[2]);
  EXPECT_EQ(m.nameUnits, 14u);
}

TEST(ModelEntries, RareFieldsAreKeptBesideTheNodeOnlyWhenSet) {
  Model m;
  m.nodes.resize(2);
  format::DirEntry plain;
  plain.name = u"plain";
  plain.type = format::kStream;
  plain.size = 0xFFFFFFFFFFull;  // larger than 32 bits, as a version 4 file may hold
  plain.start = 7;
  m.SetEntry(0, m.nodes[0], plain);
  EXPECT_TRUE(m.extras.empty());

  format::DirEntry rich = plain;
  rich.name = std::u16string(31, u'R');
  rich.type = format::kStorage;
  rich.color = format::kRed;
  rich.left = 1;
  rich.right = 2;
  rich.child = 3;
  rich.clsid[15] = 0xAB;
  rich.stateBits = 0x80000001u;
  rich.created = 0x01D0000000000001ull;
  rich.modified = ~0ull;
  m.SetEntry(1, m.nodes[1], rich);
  EXPECT_EQ(m.extras.size(), 1u);

  auto bytesOf = [](const format::DirEntry& e) {
    std::string b(format::kEntrySize, '\0');
    format::SerializeEntry(e, reinterpret_cast<std::uint8_t*>(b.data()));
    return b;
  };
  format::DirEntry back;
  m.GetEntry(0, m.nodes[0], back);
  EXPECT_EQ(bytesOf(back), bytesOf(plain));
  m.GetEntry(1, m.nodes[1], back);
  EXPECT_EQ(bytesOf(back), bytesOf(rich));

  // Parsed again without them, the entry loses them.
  m.SetEntry(1, m.nodes[1], plain);
  EXPECT_TRUE(m.extras.empty());
  m.SetEntry(1, m.nodes[1], rich);
  m.DropSideData(1, m.nodes[1]);
  EXPECT_TRUE(m.extras.empty());
}

TEST(LoadedNodes, FindsWhatWasReadAndNothingElse) {
  LoadedNodes loaded;
  EXPECT_EQ(loaded.Find(0), nullptr);
  EXPECT_EQ(loaded.Find(format::kNoStream), nullptr);
  EXPECT_EQ(loaded.size(), 0u);

  Node root;
  root.entry.type = format::kRoot;
  Node& first = loaded.Add(0, std::move(root));
  EXPECT_EQ(loaded.Find(0), &first);
  EXPECT_EQ(loaded.Find(1), nullptr);

  // Read out of order, far apart; the nodes read first stay where they are.
  constexpr std::uint32_t kLast = (1u << 22) - 1;
  Node last;
  last.parent = 0;
  last.entry.size = 77;
  loaded.Add(kLast, std::move(last));
  for (std::uint32_t id = 1000; id < 3000; ++id) loaded[id].entry.start = id;
  EXPECT_EQ(loaded.Find(0), &first);
  EXPECT_EQ(loaded.Find(0)->entry.type, format::kRoot);
  ASSERT_TRUE(loaded.Holds(kLast));
  EXPECT_EQ(loaded.Find(kLast)->entry.size, 77u);
  EXPECT_FALSE(loaded.Holds(kLast - 1));
  EXPECT_FALSE(loaded.Holds(kLast + 1));
  EXPECT_EQ(loaded[2999].entry.start, 2999u);  // found, not made again
  EXPECT_EQ(loaded.size(), 2002u);
}

class ModelFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "cfbmodelXXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    m_dir = pattern;
    m_path = (m_dir / "data.db").string();
    cache::Clear();
  }
  void TearDown() override {
    cache::Clear();
    fs::remove_all(m_dir);
  }

  Model Parse() const {
    Model m;
    const int fd = ::open(m_path.c_str(), O_RDONLY);
    EXPECT_GE(fd, 0);
    EXPECT_EQ(LoadModel(fd, false, m), S_OK);
    ::close(fd);
    return m;
  }

  fs::path m_dir;
  std::string m_path;
};

// Reads through the cache give the bytes a plain read gives, short only at the end of the file.
TEST_F(ModelFileTest, CachedReadsMatchTheFile) {
  constexpr std::size_t kBlock = ReadCache::kBlockBytes;
  const std::size_t size = kBlock * (ReadCache::kBlocks + 3) + 100;  // more blocks than kept
  std::string content(size, '\0');
  for (std::size_t i = 0; i < size; ++i) content[i] = static_cast<char>(i * 131 + i / 7);
  std::ofstream(m_path, std::ios::binary) << content;
  const int fd = ::open(m_path.c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  ReadCache cache(fd);
  auto read = [&](std::uint64_t at, std::size_t len) {
    std::string out(len, '\x55');
    std::size_t got = 99;
    EXPECT_EQ(cache.ReadAt(at, out.data(), len, &got), S_OK);
    out.resize(got);
    return out;
  };
  EXPECT_EQ(read(0, 0), "");
  EXPECT_EQ(read(0, 1), content.substr(0, 1));
  EXPECT_EQ(read(kBlock - 3, 10), content.substr(kBlock - 3, 10));          // across two blocks
  EXPECT_EQ(read(5, kBlock + 9), content.substr(5, kBlock + 9));            // larger than a block
  for (std::size_t b = 0; b <= ReadCache::kBlocks + 3; ++b)                  // every block, twice
    for (int pass = 0; pass < 2; ++pass) EXPECT_EQ(read(b * kBlock + 17, 64), content.substr(b * kBlock + 17, 64));
  EXPECT_EQ(read(size - 10, 64), content.substr(size - 10));                 // short at the end
  EXPECT_EQ(read(size, 64), "");
  EXPECT_EQ(read(size + 5 * kBlock, 8), "");
  EXPECT_EQ(read(0, 1), content.substr(0, 1));                               // evicted, read again
  ::close(fd);

  std::ofstream(m_path, std::ios::binary | std::ios::trunc).flush();
  const int empty = ::open(m_path.c_str(), O_RDONLY);
  ReadCache none(empty);
  char c = 0;
  std::size_t got = 1;
  EXPECT_EQ(none.ReadAt(0, &c, 1, &got), S_OK);
  EXPECT_EQ(got, 0u);
  ::close(empty);
}

// More than one run of directory sectors, interleaved with the mini stream's sectors the same
// batch added, so that reads skip sectors and runs end inside a stretch of them.
TEST_F(ModelFileTest, ADirectoryLargerThanOneRunIsReadWhole) {
  constexpr std::size_t kStreams = 34000;  // over 8192 sectors of four entries
  {
    OpenOptions o;
    o.create = true;
    Storage root, folder;
    ASSERT_EQ(StgOpenStorage(m_path, o, root), S_OK);
    ASSERT_EQ(root.CreateStorage(u"folder", folder), S_OK);
    for (std::size_t i = 0; i < kStreams; ++i) {
      Stream s;
      ASSERT_EQ(folder.CreateStream(Numbered(u"KOB[VNData] ", i), s), S_OK);
      const std::string data = std::to_string(i * 7);
      ASSERT_EQ(s.Write(data.data(), static_cast<std::uint32_t>(data.size()), nullptr), S_OK);
    }
  }
  const Model m = Parse();
  EXPECT_GT(m.dirChain.size(), (std::size_t{1} << 20) / 512);
  ASSERT_EQ(m.nodes[0].children().size(), 1u);
  const Node& folder = m.nodes[m.nodes[0].children().front()];
  ASSERT_EQ(folder.children().size(), kStreams);

  cache::Clear();
  OpenOptions read;
  read.readOnly = true;
  Storage root, st;
  ASSERT_EQ(StgOpenStorage(m_path, read, root), S_OK);
  ASSERT_EQ(root.OpenStorage(u"folder", st), S_OK);
  for (std::size_t i : {std::size_t{0}, std::size_t{8191}, std::size_t{8192}, kStreams - 1}) {
    Stream s;
    ASSERT_EQ(st.OpenStream(Numbered(u"kob[vndata] ", i), s), S_OK);
    char buffer[32] = {};
    std::uint32_t got = 0;
    ASSERT_EQ(s.Read(buffer, sizeof buffer, &got), S_OK);
    EXPECT_EQ(std::string(buffer, got), std::to_string(i * 7));
  }
}

// Another writer's class ids, state bits and times stay in the file when this library rewrites
// the sector that holds them.
TEST_F(ModelFileTest, ForeignEntryFieldsSurviveARewriteOfTheirSector) {
  OpenOptions o;
  o.create = true;
  {
    Storage root, st;
    ASSERT_EQ(StgOpenStorage(m_path, o, root), S_OK);
    ASSERT_EQ(root.CreateStorage(u"A", st), S_OK);
    ASSERT_EQ(root.CreateStorage(u"B", st), S_OK);
  }
  const Model before = Parse();
  std::uint32_t b = 0;
  for (std::uint32_t id : before.nodes[0].children())
    if (before.NameOf(before.nodes[id]) == u"B") b = id;
  ASSERT_NE(b, 0u);
  const std::uint64_t at = before.SectorOffset(before.dirChain[b / before.EntriesPerSector()]) +
                           (b % before.EntriesPerSector()) * format::kEntrySize;
  std::string image;
  {
    std::ifstream in(m_path, std::ios::binary);
    image.assign(std::istreambuf_iterator<char>(in), {});
  }
  for (std::size_t i = 0x50; i < 0x74; ++i) image[at + i] = static_cast<char>(i);  // clsid .. modified
  std::ofstream(m_path, std::ios::binary | std::ios::trunc) << image;
  const std::string foreign = image.substr(at + 0x50, 0x74 - 0x50);

  cache::Clear();
  {
    Storage root, st;
    ASSERT_EQ(StgOpenStorage(m_path, o, root), S_OK);
    ASSERT_EQ(root.CreateStorage(u"C", st), S_OK);  // rebuilds the root's tree, B's sector too
    ASSERT_EQ(root.Commit(), S_OK);
  }
  std::ifstream in(m_path, std::ios::binary);
  image.assign(std::istreambuf_iterator<char>(in), {});
  EXPECT_EQ(image.substr(at + 0x50, 0x74 - 0x50), foreign);
  EXPECT_EQ(image.substr(at, 2), std::string("B\0", 2));
}

// A reader meets entries as it needs them; one met in a second tree, the root included, makes
// the directory a graph and is refused.
TEST_F(ModelFileTest, AReaderRefusesTheRootInsideATree) {
  OpenOptions o;
  o.create = true;
  {
    Storage root, st;
    ASSERT_EQ(StgOpenStorage(m_path, o, root), S_OK);
    ASSERT_EQ(root.CreateStorage(u"A", st), S_OK);
  }
  const Model m = Parse();
  auto offsetOf = [&](std::uint32_t id) {
    return m.SectorOffset(m.dirChain[id / m.EntriesPerSector()]) + (id % m.EntriesPerSector()) * format::kEntrySize;
  };
  std::string image;
  {
    std::ifstream in(m_path, std::ios::binary);
    image.assign(std::istreambuf_iterator<char>(in), {});
  }
  // The child link of A, then of the root itself, pointed at the root.
  for (const std::uint32_t holder : {m.nodes[0].children().front(), std::uint32_t{0}}) {
    std::string damaged = image;
    format::Put32(reinterpret_cast<std::uint8_t*>(damaged.data() + offsetOf(holder) + 0x4C), 0);
    std::ofstream(m_path, std::ios::binary | std::ios::trunc) << damaged;
    cache::Clear();
    OpenOptions read;
    read.readOnly = true;
    Storage root, st;
    ASSERT_EQ(StgOpenStorage(m_path, read, root), S_OK);
    std::vector<ElementInfo> children;
    if (holder == 0) {
      EXPECT_EQ(root.EnumElements(children), STG_E_DOCFILECORRUPT);
    } else {
      ASSERT_EQ(root.OpenStorage(u"A", st), S_OK);
      EXPECT_EQ(st.EnumElements(children), STG_E_DOCFILECORRUPT);
    }
  }
}

}  // namespace
}  // namespace cfb
