#include "compoundfile/compoundfile.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <thread>

#include "compoundfile/document.h"
#include "compoundfile/format.h"
#include "compoundfile/journal.h"
#include "compoundfile/modelcache.h"

namespace cfb {
namespace {

namespace fs = std::filesystem;

// A name made of a prefix and a number.
std::u16string Numbered(std::u16string prefix, std::size_t n) {
  return prefix.append(WidenBytes(std::to_string(n)));
}

class CompoundFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "cfbtestXXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    m_dir = pattern;
    m_path = (m_dir / "data.db").string();
    cache::Clear();
  }
  void TearDown() override { fs::remove_all(m_dir); }

  HRESULT Open(Storage& root, bool create = true) {
    OpenOptions o;
    o.create = create;
    return StgOpenStorage(m_path, o, root);
  }

  static std::string Pattern(std::size_t size, unsigned seed) {
    std::string s(size, '\0');
    std::mt19937 rng(seed);
    for (char& c : s) c = static_cast<char>(rng());
    return s;
  }

  static void WriteStream(Storage& st, std::u16string_view name, const std::string& data) {
    Stream s;
    ASSERT_EQ(st.CreateStream(name, s, true), S_OK);
    std::uint32_t written = 0;
    ASSERT_EQ(s.Write(data.data(), static_cast<std::uint32_t>(data.size()), &written), S_OK);
    ASSERT_EQ(written, data.size());
  }

  static std::string ReadStream(Storage& st, std::u16string_view name) {
    Stream s;
    EXPECT_EQ(st.OpenStream(name, s), S_OK);
    std::uint64_t size = 0;
    EXPECT_EQ(s.Size(&size), S_OK);
    std::string out(static_cast<std::size_t>(size), '\0');
    std::uint32_t got = 0;
    EXPECT_EQ(s.Read(out.data(), static_cast<std::uint32_t>(out.size()), &got), S_OK);
    EXPECT_EQ(got, size);
    return out;
  }

  std::uint64_t FileSize() const { return fs::file_size(m_path); }

  // Parses the file as it is on disk, bypassing the cache.
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

TEST_F(CompoundFileTest, StreamsOfEverySizeClassSurviveReopen) {
  const std::vector<std::size_t> sizes = {0, 1, 63, 64, 4095, 4096, 4097, 3 * 1024 * 1024 + 7};
  {
    Storage root, a, b;
    ASSERT_EQ(Open(root), S_OK);
    ASSERT_EQ(root.CreateStorage(u"A", a), S_OK);
    ASSERT_EQ(a.CreateStorage(u"B \u00e9t\u00e9", b), S_OK);
    for (std::size_t i = 0; i < sizes.size(); ++i)
      WriteStream(b, Numbered(u"s", sizes[i]), Pattern(sizes[i], unsigned(i)));
  }
  Storage root, a, b;
  ASSERT_EQ(Open(root, false), S_OK);
  ASSERT_EQ(root.OpenStorage(u"a", a), S_OK);  // names match without regard to case
  ASSERT_EQ(a.OpenStorage(u"B \u00c9T\u00c9", b), S_OK);
  std::vector<ElementInfo> list;
  ASSERT_EQ(b.EnumElements(list), S_OK);
  ASSERT_EQ(list.size(), sizes.size());
  for (std::size_t i = 0; i < sizes.size(); ++i) {
    const std::u16string name = Numbered(u"s", sizes[i]);
    EXPECT_EQ(ReadStream(b, name), Pattern(sizes[i], unsigned(i))) << sizes[i];
  }
  // The root entry's size covers the mini stream and the file is whole sectors.
  const Model m = Parse();
  EXPECT_GE(m.nodes[0].entry.size, m.miniFat.empty() ? 0 : 64u);
  EXPECT_EQ(FileSize() % 512, 0u);
}

TEST_F(CompoundFileTest, NameRulesAndElementKinds) {
  Storage root, s;
  Stream st;
  ASSERT_EQ(Open(root), S_OK);
  EXPECT_EQ(root.CreateStorage(std::u16string(32, u'x'), s), STG_E_INVALIDNAME);
  EXPECT_EQ(root.CreateStorage(std::u16string(31, u'x'), s), S_OK);
  for (const char16_t* bad : {u"a/b", u"a\\b", u"a:b", u"a!b", u""}) {
    EXPECT_EQ(root.CreateStream(bad, st), STG_E_INVALIDNAME);
    EXPECT_EQ(root.OpenStream(bad, st), STG_E_INVALIDNAME);
  }
  ASSERT_EQ(root.CreateStream(u"Data", st), S_OK);
  EXPECT_EQ(root.CreateStream(u"DATA", st), STG_E_FILEALREADYEXISTS);
  EXPECT_EQ(root.CreateStorage(u"data", s), STG_E_FILEALREADYEXISTS);
  EXPECT_EQ(root.OpenStorage(u"Data", s), STG_E_FILENOTFOUND);  // it is a stream
  EXPECT_EQ(root.OpenStream(u"Nothing", st), STG_E_FILENOTFOUND);
  // Replacing turns the stream into an empty storage; the old handle is dead.
  Stream old;
  ASSERT_EQ(root.OpenStream(u"Data", old), S_OK);
  ASSERT_EQ(root.CreateStorage(u"Data", s, true), S_OK);
  EXPECT_EQ(old.Write("x", 1), STG_E_REVERTED);
  EXPECT_EQ(root.OpenStorage(u"data", s), S_OK);
}

TEST_F(CompoundFileTest, LookupGivesTheChildANameFindsAsTheFileSpellsIt) {
  {
    Storage root, s;
    ASSERT_EQ(Open(root), S_OK);
    ASSERT_EQ(root.CreateStorage(u"Docs", s), S_OK);
    WriteStream(root, u"Notes", "12345");
    ASSERT_EQ(root.CreateStorage(u"\u0131x", s), S_OK);  // dotless i: upper case is a plain I
  }
  // The writer's full model and a reader's partial one answer alike, the second without
  // listing the storage.
  for (const bool writable : {true, false}) {
    cache::Clear();
    Storage root;
    OpenOptions options;
    options.readOnly = !writable;
    ASSERT_EQ(StgOpenStorage(m_path, options, root), S_OK);
    ElementInfo info;
    ASSERT_EQ(root.Lookup(u"DOCS", info), S_OK);
    EXPECT_EQ(info.name, u"Docs");
    EXPECT_EQ(info.type, ElementType::Storage);
    ASSERT_EQ(root.Lookup(u"notes", info), S_OK);
    EXPECT_EQ(info.name, u"Notes");
    EXPECT_EQ(info.type, ElementType::Stream);
    EXPECT_EQ(info.size, 5u);
    ASSERT_EQ(root.Lookup(u"IX", info), S_OK);
    EXPECT_EQ(info.name, u"\u0131x");
    EXPECT_EQ(root.Lookup(u"Doc", info), STG_E_FILENOTFOUND);
    EXPECT_EQ(root.Lookup(std::u16string(32, u'x'), info), STG_E_INVALIDNAME);
    // With a handle to fill, a storage found is opened in the same search; a stream is not.
    Storage found;
    ASSERT_EQ(root.Lookup(u"docs", info, &found), S_OK);
    ASSERT_TRUE(found.IsOpen());
    std::vector<ElementInfo> children;
    EXPECT_EQ(found.EnumElements(children), S_OK);
    EXPECT_TRUE(children.empty());
    found.Release();
    ASSERT_EQ(root.Lookup(u"NOTES", info, &found), S_OK);
    EXPECT_FALSE(found.IsOpen());
    EXPECT_EQ(root.Lookup(u"Doc", info, &found), STG_E_FILENOTFOUND);
    EXPECT_FALSE(found.IsOpen());
  }
}

TEST_F(CompoundFileTest, SeekReadWriteSemantics) {
  Storage root;
  Stream s;
  ASSERT_EQ(Open(root), S_OK);
  ASSERT_EQ(root.CreateStream(u"S", s), S_OK);
  ASSERT_EQ(s.Write("abc", 3), S_OK);
  std::uint64_t pos = 0;
  ASSERT_EQ(s.Seek(10, SeekOrigin::Begin, &pos), S_OK);
  ASSERT_EQ(s.Write("z", 1), S_OK);  // the gap reads as zeros
  ASSERT_EQ(s.Seek(-2, SeekOrigin::End, &pos), S_OK);
  EXPECT_EQ(pos, 9u);
  char buf[8] = {};
  std::uint32_t got = 0;
  ASSERT_EQ(s.Read(buf, 8, &got), S_OK);
  EXPECT_EQ(got, 2u);
  EXPECT_EQ(std::string(buf, 2), std::string("\0z", 2));
  ASSERT_EQ(s.Read(buf, 8, &got), S_OK);
  EXPECT_EQ(got, 0u);
  EXPECT_NE(s.Seek(-100, SeekOrigin::Current), S_OK);
  // Shrinking then growing must not bring old bytes back.
  ASSERT_EQ(s.SetSize(1), S_OK);
  ASSERT_EQ(s.SetSize(5), S_OK);
  ASSERT_EQ(s.Seek(0, SeekOrigin::Begin), S_OK);
  ASSERT_EQ(s.Read(buf, 8, &got), S_OK);
  EXPECT_EQ(std::string(buf, got), std::string("a\0\0\0\0", 5));
  EXPECT_EQ(s.SetSize(std::uint64_t{3} << 30), STG_E_MEDIUMFULL);  // past 2 GB
  EXPECT_EQ(s.SetSize(0x7FFFFF00u), STG_E_MEDIUMFULL);             // file would pass 2 GB
  std::uint64_t size = 0;
  ASSERT_EQ(s.Size(&size), S_OK);
  EXPECT_EQ(size, 5u);
}

TEST_F(CompoundFileTest, StreamsMoveAcrossTheCutoffBothWays) {
  const std::string big = Pattern(9000, 1);
  Storage root;
  ASSERT_EQ(Open(root), S_OK);
  Stream s;
  ASSERT_EQ(root.CreateStream(u"S", s), S_OK);
  ASSERT_EQ(s.Write(big.data(), 4000), S_OK);
  ASSERT_EQ(s.Write(big.data() + 4000, 96), S_OK);  // exactly 4096: leaves the mini stream
  ASSERT_EQ(root.Commit(), S_OK);
  {
    const Model m = Parse();
    std::uint32_t id = m.nodes[0].children().front();
    EXPECT_EQ(m.nodes[id].entry.size, 4096u);
    EXPECT_EQ(m.nodes[id].chain().size(), 8u);  // eight big sectors, not 64 mini ones
  }
  ASSERT_EQ(s.SetSize(4095), S_OK);  // back into the mini stream
  root.Release();
  s.Release();
  ASSERT_EQ(Open(root, false), S_OK);
  EXPECT_EQ(ReadStream(root, u"S"), big.substr(0, 4095));
  const Model m = Parse();
  EXPECT_EQ(m.nodes[m.nodes[0].children().front()].chain().size(), 64u);
}

TEST_F(CompoundFileTest, LargeFileUsesDifatAndKeepsItsFatInRuns) {
  const std::string data = Pattern(8 * 1024 * 1024, 7);
  {
    Storage root;
    ASSERT_EQ(Open(root), S_OK);
    WriteStream(root, u"Big", data);
  }
  std::ifstream in(m_path, std::ios::binary);
  std::uint8_t header[512];
  in.read(reinterpret_cast<char*>(header), 512);
  EXPECT_GT(format::Get32(header + 0x2C), 109u);  // FAT sectors
  EXPECT_EQ(format::Get32(header + 0x48), 1u);    // one DIFAT sector
  Storage root;
  ASSERT_EQ(Open(root, false), S_OK);
  EXPECT_EQ(ReadStream(root, u"Big"), data);

  // A growing file's FAT comes in runs of sectors side by side (an open reads each run with
  // one call), and what it describes past the end of the file is free.
  const Model m = Parse();
  std::size_t runs = 1;
  for (std::size_t i = 1; i < m.fatSectors.size(); ++i) runs += m.fatSectors[i] != m.fatSectors[i - 1] + 1;
  EXPECT_LT(runs, m.fatSectors.size() / 3);
  for (std::size_t s = m.fileSectors; s < m.fat.size(); ++s) ASSERT_EQ(m.fat[s], format::kFreeSect) << s;
  EXPECT_LT(m.fat.size() - m.fileSectors, m.fat.size() / 4);
}

TEST_F(CompoundFileTest, RewritingManyTimesReusesFreedSectors) {
  for (int i = 0; i < 1000; ++i) {
    Storage root, dir;
    ASSERT_EQ(Open(root), S_OK);
    ASSERT_EQ(root.CreateStorage(u"Dir", dir, true), S_OK);  // storages come and go
    WriteStream(dir, u"KOB[VNData]", Pattern(200 + i % 300, unsigned(i)));
    WriteStream(root, u"Large", Pattern(20000 + (i % 7) * 1000, unsigned(i)));
    if (i % 3 == 0) WriteStream(root, u"Mid", Pattern(i % 2 ? 5000 : 100, unsigned(i)));
  }
  // Content is under 40 KB; allow for metadata and one batch's worth of slack.
  EXPECT_LT(FileSize(), 80u * 1024);
  Storage root, dir;
  ASSERT_EQ(Open(root, false), S_OK);
  ASSERT_EQ(root.OpenStorage(u"Dir", dir), S_OK);
  EXPECT_EQ(ReadStream(dir, u"KOB[VNData]"), Pattern(200 + 999 % 300, 999));
}

// A stream emptied and written again goes into sectors the file does not use: they are written
// at once, the ones it had stay as they were until the commit (a writer that dies first leaves
// the file reading as before), and later batches take them again.
TEST_F(CompoundFileTest, AStreamWrittenIntoNewSectorsLeavesItsOldOnesUntilTheCommit) {
  auto rewrite = [](Storage& root, std::u16string_view name, const std::string& data) {
    Stream s;
    ASSERT_EQ(root.OpenStream(name, s), S_OK);
    ASSERT_EQ(s.SetSize(0), S_OK);
    ASSERT_EQ(s.Write(data.data(), static_cast<std::uint32_t>(data.size())), S_OK);
  };
  {
    Storage root;
    ASSERT_EQ(Open(root), S_OK);
    WriteStream(root, u"Big", Pattern(300000, 1));
    WriteStream(root, u"Freed", Pattern(200000, 2));
  }
  const std::uint64_t committed = FileSize();
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {  // dies before its commit
    Storage root;
    if (Failed(Open(root, false))) _exit(1);
    rewrite(root, u"Big", Pattern(300000, 3));
    _exit(0);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_GT(FileSize(), committed);  // the new sectors reached the file
  cache::Clear();
  {
    Storage root;
    ASSERT_EQ(Open(root, false), S_OK);
    EXPECT_EQ(ReadStream(root, u"Big"), Pattern(300000, 1));
    EXPECT_EQ(ReadStream(root, u"Freed"), Pattern(200000, 2));
    ASSERT_EQ(root.DestroyElement(u"Freed"), S_OK);
  }
  {
    // Sectors that held bytes before and are taken but never written read as zero.
    Storage root;
    ASSERT_EQ(Open(root, false), S_OK);
    Stream zero;
    ASSERT_EQ(root.CreateStream(u"Zero", zero, true), S_OK);
    ASSERT_EQ(zero.SetSize(250000), S_OK);
    EXPECT_EQ(ReadStream(root, u"Zero"), std::string(250000, '\0'));
  }
  for (unsigned round = 0; round < 6; ++round) {
    Storage root;
    ASSERT_EQ(Open(root, false), S_OK);
    rewrite(root, u"Big", Pattern(300000, 10 + round));
  }
  cache::Clear();
  Storage root;
  ASSERT_EQ(Open(root, false), S_OK);
  EXPECT_EQ(ReadStream(root, u"Zero"), std::string(250000, '\0'));
  EXPECT_EQ(ReadStream(root, u"Big"), Pattern(300000, 15));
  // Big in two places at most (the one a batch writes, the one it frees), Zero once.
  EXPECT_LT(FileSize(), 2 * 300000u + 250000u + 64 * 1024u);
}

// Checks that a storage's children form a search tree in sibling order, balanced, and
// coloured as a valid red-black tree whose only red nodes are on the deepest level.
void CheckTree(const Model& m, std::uint32_t storage) {
  std::vector<std::uint32_t> order;
  int deepest = -1;
  std::vector<int> blackHeights;
  bool redChildOfRed = false, redAboveBottom = false;
  std::vector<std::pair<int, std::uint32_t>> redDepths;
  auto walk = [&](auto& self, std::uint32_t id, int depth, int blacks, bool parentRed) -> void {
    if (id == format::kNoStream) {
      blackHeights.push_back(blacks);
      return;
    }
    const Entry& e = m.nodes[id].entry;
    const bool red = e.color == format::kRed;
    if (red && parentRed) redChildOfRed = true;
    if (red) redDepths.emplace_back(depth, id);
    deepest = std::max(deepest, depth);
    self(self, e.left, depth + 1, blacks + !red, red);
    order.push_back(id);
    self(self, e.right, depth + 1, blacks + !red, red);
  };
  walk(walk, m.nodes[storage].entry.child, 0, 0, false);
  for (auto& [depth, id] : redDepths) redAboveBottom |= depth != deepest;
  EXPECT_FALSE(redChildOfRed);
  EXPECT_FALSE(redAboveBottom);
  EXPECT_EQ(std::count(blackHeights.begin(), blackHeights.end(), blackHeights[0]),
            static_cast<std::ptrdiff_t>(blackHeights.size()));
  std::size_t n = order.size();
  int expectedDeepest = -1;
  while (n) {
    ++expectedDeepest;
    n >>= 1;
  }
  EXPECT_EQ(deepest, expectedDeepest);
  for (std::size_t i = 1; i < order.size(); ++i)
    EXPECT_LT(format::CompareNames(m.NameOf(m.nodes[order[i - 1]]), m.NameOf(m.nodes[order[i]])), 0);
}

TEST_F(CompoundFileTest, SiblingsAreSortedIntoBalancedRedBlackTrees) {
  std::vector<std::string> names;
  for (int i = 0; i < 1500; ++i) names.push_back(std::string("n").append(std::to_string(i * 7919 % 100000)));
  names.push_back("\xe9t\xe9");
  names.push_back("ZZ");
  names.push_back("aaa");
  std::mt19937 rng(3);
  std::shuffle(names.begin(), names.end(), rng);
  {
    Storage root, s;
    ASSERT_EQ(Open(root), S_OK);
    ASSERT_EQ(root.CreateStorage(u"S", s), S_OK);
    for (const std::string& n : names) {
      Storage child;
      ASSERT_EQ(s.CreateStorage(WidenBytes(n), child), S_OK);
    }
  }
  Model m = Parse();
  CheckTree(m, 0);
  const std::uint32_t s = m.nodes[0].children().front();
  CheckTree(m, s);
  // Sizes 1..16 cover full and partial deepest levels.
  for (int count = 1; count <= 16; ++count) {
    Storage root, t;
    ASSERT_EQ(Open(root), S_OK);
    ASSERT_EQ(root.CreateStorage(u"T", t, true), S_OK);
    for (int i = 0; i < count; ++i) {
      Stream child;
      ASSERT_EQ(t.CreateStream(WidenBytes(std::to_string(i)), child), S_OK);
    }
    t.Release();
    root.Release();
    m = Parse();
    for (std::uint32_t c : m.nodes[0].children())
      if (m.NameOf(m.nodes[c]) == u"T") CheckTree(m, c);
  }
  // Enumeration follows the tree in order.
  Storage root, st;
  ASSERT_EQ(Open(root, false), S_OK);
  ASSERT_EQ(root.OpenStorage(u"S", st), S_OK);
  std::vector<ElementInfo> list;
  ASSERT_EQ(st.EnumElements(list), S_OK);
  ASSERT_EQ(list.size(), names.size());
  EXPECT_EQ(list.front().name, u"n0");  // "N0" < "ZZ" < "AAA"
  for (std::size_t i = 1; i < list.size(); ++i)
    EXPECT_LT(format::CompareNames(list[i - 1].name, list[i].name), 0);
}

TEST_F(CompoundFileTest, DestroyFreesSubtreeAndRevertsHandles) {
  Storage root, a, b;
  ASSERT_EQ(Open(root), S_OK);
  ASSERT_EQ(root.CreateStorage(u"A", a), S_OK);
  ASSERT_EQ(a.CreateStorage(u"B", b), S_OK);
  WriteStream(b, u"Data", Pattern(100000, 1));
  WriteStream(root, u"Keep", "kept");
  ASSERT_EQ(root.Commit(), S_OK);
  const std::uint64_t full = FileSize();
  ASSERT_EQ(root.DestroyElement(u"a"), S_OK);
  EXPECT_EQ(b.CreateStream(u"X", *std::make_unique<Stream>()), STG_E_REVERTED);
  EXPECT_EQ(root.DestroyElement(u"A"), STG_E_FILENOTFOUND);
  ASSERT_EQ(root.Commit(), S_OK);
  WriteStream(root, u"Again", Pattern(100000, 2));  // fits in the freed sectors
  ASSERT_EQ(root.Commit(), S_OK);
  EXPECT_LE(FileSize(), full);
  a.Release();
  b.Release();
  root.Release();
  ASSERT_EQ(Open(root, false), S_OK);
  std::vector<ElementInfo> list;
  ASSERT_EQ(root.EnumElements(list), S_OK);
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(ReadStream(root, u"Keep"), "kept");
  EXPECT_EQ(ReadStream(root, u"Again"), Pattern(100000, 2));
}

TEST_F(CompoundFileTest, ReadOnlyOpenRefusesChanges) {
  {
    Storage root;
    ASSERT_EQ(Open(root), S_OK);
    WriteStream(root, u"S", "abc");
  }
  OpenOptions o;
  o.readOnly = true;
  Storage root, other, s;
  ASSERT_EQ(StgOpenStorage(m_path, o, root), S_OK);
  ASSERT_EQ(StgOpenStorage(m_path, o, other), S_OK);  // readers share
  Stream st;
  ASSERT_EQ(root.OpenStream(u"S", st), S_OK);
  EXPECT_EQ(st.Write("x", 1), STG_E_ACCESSDENIED);
  EXPECT_EQ(root.CreateStorage(u"New", s), STG_E_ACCESSDENIED);
  EXPECT_EQ(ReadStream(root, u"S"), "abc");
}

TEST_F(CompoundFileTest, MissingAndForeignFiles) {
  Storage root;
  EXPECT_EQ(Open(root, false), STG_E_FILENOTFOUND);
  EXPECT_FALSE(fs::exists(m_path));
  m_path = (m_dir / "no" / "such" / "dir.db").string();
  EXPECT_EQ(Open(root, true), STG_E_PATHNOTFOUND);
  m_path = (m_dir / "text.db").string();
  std::ofstream(m_path) << std::string(2000, 'x');
  EXPECT_EQ(Open(root, true), STG_E_INVALIDHEADER);
  std::ofstream(m_path, std::ios::trunc).close();  // an empty file is made a compound file
  EXPECT_EQ(Open(root, true), S_OK);
}

TEST_F(CompoundFileTest, SecondOpenerWaitsForTheLock) {
  Storage first;
  ASSERT_EQ(Open(first), S_OK);
  OpenOptions o;
  Storage second;
  EXPECT_EQ(StgOpenStorage(m_path, o, second), STG_E_LOCKVIOLATION);
  o.readOnly = true;
  EXPECT_EQ(StgOpenStorage(m_path, o, second), STG_E_LOCKVIOLATION);
  WriteStream(first, u"S", "from first");
  std::thread releaser([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    first.Release();
  });
  o.readOnly = false;
  o.lockWait = std::chrono::seconds(20);
  EXPECT_EQ(StgOpenStorage(m_path, o, second), S_OK);
  releaser.join();
  EXPECT_EQ(ReadStream(second, u"S"), "from first");
}

TEST_F(CompoundFileTest, ThreadsTakeTurnsAndSeeEachOthersBatches) {
  constexpr int kThreads = 3, kRounds = 20;
  std::vector<std::thread> threads;
  std::atomic<int> failures{0};
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int r = 0; r < kRounds; ++r) {
        OpenOptions o;
        o.create = true;
        o.lockWait = std::chrono::seconds(60);
        Storage root, dir;
        if (StgOpenStorage(m_path, o, root) != S_OK) {
          ++failures;
          continue;
        }
        // Every batch sees all earlier ones: the previous round of this thread is there.
        if (r > 0 && root.OpenStorage(Numbered(Numbered(u"t", t) + u"r", r - 1), dir) != S_OK)
          ++failures;
        Stream s;
        if (root.CreateStorage(Numbered(Numbered(u"t", t) + u"r", r), dir) != S_OK ||
            dir.CreateStream(u"KOB[VNData]", s) != S_OK || s.Write("0123456789", 10) != S_OK)
          ++failures;
      }
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(failures.load(), 0);
  Storage root;
  ASSERT_EQ(Open(root, false), S_OK);
  std::vector<ElementInfo> list;
  ASSERT_EQ(root.EnumElements(list), S_OK);
  EXPECT_EQ(list.size(), std::size_t{kThreads * kRounds});
}

// A wide storage whose tree another writer left unsound (every sibling red) is not grown one
// child at a time: the next batch rebuilds it whole. A sound one takes the child in.
TEST_F(CompoundFileTest, WideTreeLeftUnsoundIsRebuiltWhole) {
  {
    Storage root, s;
    ASSERT_EQ(Open(root), S_OK);
    ASSERT_EQ(root.CreateStorage(u"S", s), S_OK);
    for (std::size_t i = 0; i < kIncrementalTree + 100; ++i) {
      Stream child;
      ASSERT_EQ(s.CreateStream(Numbered(u"c", i), child), S_OK);
    }
  }
  auto addOne = [&](std::u16string name) {
    cache::Clear();
    Storage root, s, child;
    ASSERT_EQ(Open(root), S_OK);
    ASSERT_EQ(root.OpenStorage(u"S", s), S_OK);
    ASSERT_EQ(s.CreateStorage(name, child), S_OK);
  };
  auto storageS = [](const Model& m) { return m.nodes[0].children().front(); };
  {
    Model m = Parse();
    std::fstream f(m_path, std::ios::in | std::ios::out | std::ios::binary);
    for (std::uint32_t id : m.nodes[storageS(m)].children()) {
      f.seekp(static_cast<std::streamoff>(m.SectorOffset(m.dirChain[id / 4]) + (id % 4) * 128 + 0x43));
      f.put(static_cast<char>(format::kRed));
    }
  }
  addOne(u"another");
  Model m = Parse();
  CheckTree(m, storageS(m));  // the exact shape of a whole rebuild
  addOne(u"and one more");
  m = Parse();
  const std::uint32_t s = storageS(m);
  EXPECT_EQ(m.nodes[s].children().size(), kIncrementalTree + 102);
  // Grown in place: still a red-black tree in order, though no longer the rebuilt shape.
  std::vector<std::uint32_t> stack;
  std::uint32_t previous = format::kNoStream;
  std::size_t inOrder = 0;
  for (std::uint32_t cur = m.nodes[s].entry.child; cur != format::kNoStream || !stack.empty();) {
    for (; cur != format::kNoStream; cur = m.nodes[cur].entry.left) stack.push_back(cur);
    cur = stack.back();
    stack.pop_back();
    if (previous != format::kNoStream) {
      EXPECT_LT(format::CompareNames(m.NameOf(m.nodes[previous]), m.NameOf(m.nodes[cur])), 0);
    }
    previous = cur;
    ++inOrder;
    cur = m.nodes[cur].entry.right;
  }
  EXPECT_EQ(inOrder, kIncrementalTree + 102);
}

// Storages of many children: creating, looking up (by the whole list in a writer, along the
// sibling tree in a reader that starts cold), removing and listing stay correct, and each
// step's time is printed for 20,000 and 80,000 children to show it grows linearly.
TEST_F(CompoundFileTest, WideStoragesFindEveryChild) {
  using Clock = std::chrono::steady_clock;
  auto ms = [](Clock::time_point since) {
    return std::chrono::duration<double, std::milli>(Clock::now() - since).count();
  };
  for (const std::size_t n : {std::size_t{20000}, std::size_t{80000}}) {
    fs::remove(m_path);
    cache::Clear();
    auto t0 = Clock::now();
    {
      Storage root, wide;
      ASSERT_EQ(Open(root), S_OK);
      ASSERT_EQ(root.CreateStorage(u"wide", wide), S_OK);
      for (std::size_t i = 0; i < n; ++i) {
        Storage child;
        ASSERT_EQ(wide.CreateStorage(Numbered(u"dir-", i * 7919 % n), child), S_OK);
        if (i % 100 == 0) WriteStream(child, u"S", std::to_string(i * 7919 % n));
      }
      ASSERT_EQ(wide.CreateStorage(u"DIR-0", *std::make_unique<Storage>()), STG_E_FILEALREADYEXISTS);
    }
    const double create = ms(t0);
    cache::Clear();
    t0 = Clock::now();
    {
      Storage root, wide;
      OpenOptions readOnly;
      readOnly.readOnly = true;
      ASSERT_EQ(StgOpenStorage(m_path, readOnly, root), S_OK);
      ASSERT_EQ(root.OpenStorage(u"WIDE", wide), S_OK);
      for (std::size_t i = 0; i < n; ++i) {
        Storage child;
        ASSERT_EQ(wide.OpenStorage(Numbered(u"DIR-", i), child), S_OK) << i;
        if (i % 700 == 0 && i * 7919 % n % 100 == 0) {
          EXPECT_EQ(ReadStream(child, u"S"), std::to_string(i));
        }
      }
      Storage missing;
      EXPECT_EQ(wide.OpenStorage(Numbered(u"dir-", n), missing), STG_E_FILENOTFOUND);
    }
    const double open = ms(t0);
    t0 = Clock::now();
    {
      Storage root, wide;
      ASSERT_EQ(Open(root), S_OK);
      ASSERT_EQ(root.OpenStorage(u"wide", wide), S_OK);
      for (std::size_t i = 0; i < n; i += 3) ASSERT_EQ(wide.DestroyElement(Numbered(u"dir-", i)), S_OK);
      Storage child;
      for (std::size_t i = 0; i < n; i += 3) ASSERT_EQ(wide.OpenStorage(Numbered(u"dir-", i), child), STG_E_FILENOTFOUND);
      for (std::size_t i = 1; i < n; i += 3) ASSERT_EQ(wide.OpenStorage(Numbered(u"dir-", i), child), S_OK);
    }
    const double destroy = ms(t0);
    cache::Clear();
    Storage root, wide;
    ASSERT_EQ(Open(root, false), S_OK);
    ASSERT_EQ(root.OpenStorage(u"wide", wide), S_OK);
    std::vector<ElementInfo> list;
    ASSERT_EQ(wide.EnumElements(list), S_OK);
    EXPECT_EQ(list.size(), n - (n + 2) / 3);
    EXPECT_TRUE(std::is_sorted(list.begin(), list.end(), [](const ElementInfo& a, const ElementInfo& b) {
      return format::CompareNames(a.name, b.name) < 0;
    }));
    std::printf("%zu children: create and commit %.0f ms, open each cold %.0f ms, remove a third %.0f ms\n",
                n, create, open, destroy);
  }
}

// A reader's partial parse and a writer's full one take turns through the cache of parsed
// files; each sees the other's batches.
TEST_F(CompoundFileTest, ReadersAndWritersShareTheCachedParse) {
  OpenOptions readOnly;
  readOnly.readOnly = true;
  {
    Storage root, a;
    ASSERT_EQ(Open(root), S_OK);
    ASSERT_EQ(root.CreateStorage(u"a", a), S_OK);
    WriteStream(a, u"one", "1");
    WriteStream(a, u"two", "2");
  }
  cache::Clear();
  for (int round = 0; round < 3; ++round) {
    {
      Storage root, a;
      ASSERT_EQ(StgOpenStorage(m_path, readOnly, root), S_OK);  // partial, then kept
      ASSERT_EQ(root.OpenStorage(u"a", a), S_OK);
      EXPECT_EQ(ReadStream(a, u"two"), std::string(static_cast<std::size_t>(round + 1), '2'));
    }
    {
      Storage root, a;
      ASSERT_EQ(Open(root), S_OK);  // needs every entry: parses the file whole
      ASSERT_EQ(root.OpenStorage(u"a", a), S_OK);
      WriteStream(a, u"two", std::string(static_cast<std::size_t>(round + 2), '2'));
      WriteStream(a, Numbered(u"n", static_cast<std::size_t>(round)), "x");
    }
    Storage root, a;
    ASSERT_EQ(StgOpenStorage(m_path, readOnly, root), S_OK);
    ASSERT_EQ(root.OpenStorage(u"a", a), S_OK);
    std::vector<ElementInfo> list;
    ASSERT_EQ(a.EnumElements(list), S_OK);
    EXPECT_EQ(list.size(), static_cast<std::size_t>(3 + round));
    EXPECT_EQ(ReadStream(a, u"one"), "1");
  }
}

// A read that spans sectors changed in the batch and sectors still only in the file.
TEST_F(CompoundFileTest, ReadsMixChangedAndSavedSectors) {
  for (const std::size_t size : {std::size_t{3000}, std::size_t{20000}}) {
    std::string expected = Pattern(size, static_cast<unsigned>(size));
    {
      Storage root;
      ASSERT_EQ(Open(root), S_OK);
      WriteStream(root, u"S", expected);
    }
    Storage root;
    ASSERT_EQ(Open(root), S_OK);
    Stream s;
    ASSERT_EQ(root.OpenStream(u"S", s), S_OK);
    for (const std::size_t at : {std::size_t{100}, size / 2, size - 10}) {
      ASSERT_EQ(s.Seek(static_cast<std::int64_t>(at), SeekOrigin::Begin), S_OK);
      ASSERT_EQ(s.Write("changed", 7), S_OK);
      expected.replace(at, 7, "changed");
    }
    EXPECT_EQ(ReadStream(root, u"S"), expected.substr(0, size + 0));
  }
}

// A batch that changes sectors a few apart writes the unchanged ones between them back as they
// were: every stream, changed or not, reads back as expected from the file itself.
TEST_F(CompoundFileTest, ScatteredChangesLeaveTheSectorsBetweenThemAlone) {
  constexpr std::size_t kStreams = 40;
  std::vector<std::string> expected;
  {
    Storage root;
    ASSERT_EQ(Open(root), S_OK);
    for (std::size_t i = 0; i < kStreams; ++i) {
      expected.push_back(Pattern(i % 2 ? 5000 : 300, static_cast<unsigned>(i)));  // regular and mini
      WriteStream(root, Numbered(u"s", i), expected.back());
    }
  }
  {
    Storage root;
    ASSERT_EQ(Open(root), S_OK);
    for (std::size_t i = 0; i < kStreams; i += 3) {
      Stream s;
      ASSERT_EQ(root.OpenStream(Numbered(u"s", i), s), S_OK);
      for (const std::size_t at : {std::size_t{0}, expected[i].size() - 9}) {
        ASSERT_EQ(s.Seek(static_cast<std::int64_t>(at), SeekOrigin::Begin), S_OK);
        ASSERT_EQ(s.Write("rewritten", 9), S_OK);
        expected[i].replace(at, 9, "rewritten");
      }
    }
  }
  EXPECT_FALSE(journal::Pending(m_path));  // retired, if anything
  cache::Clear();
  Storage root;
  ASSERT_EQ(Open(root, false), S_OK);
  for (std::size_t i = 0; i < kStreams; ++i) EXPECT_EQ(ReadStream(root, Numbered(u"s", i)), expected[i]) << i;
}

TEST_F(CompoundFileTest, CachedParseIsDroppedWhenAnotherProcessWrites) {
  {
    Storage root;
    ASSERT_EQ(Open(root), S_OK);
    WriteStream(root, u"S", "parent");
  }
  {
    Storage root;  // now cached
    ASSERT_EQ(Open(root, false), S_OK);
    EXPECT_EQ(ReadStream(root, u"S"), "parent");
  }
  const pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    cache::Clear();
    Storage root, dir;
    // Same length of stream: only the contents and the directory differ.
    const bool ok = Open(root, false) == S_OK && root.CreateStorage(u"Child", dir) == S_OK;
    Stream s;
    const bool wrote = ok && root.OpenStream(u"S", s) == S_OK && s.Write("CHILD!", 6) == S_OK;
    s.Release();
    dir.Release();
    root.Release();
    ::_exit(wrote ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  Storage root, dir;
  ASSERT_EQ(Open(root, false), S_OK);
  EXPECT_EQ(ReadStream(root, u"S"), "CHILD!");
  EXPECT_EQ(root.OpenStorage(u"Child", dir), S_OK);
}

TEST_F(CompoundFileTest, LeftoverJournalIsRolledBackByTheNextOpener) {
  {
    Storage root;
    ASSERT_EQ(Open(root), S_OK);
    WriteStream(root, u"S", "before");
  }
  const std::uint64_t length = FileSize();
  std::vector<std::uint8_t> original(length);
  {
    std::ifstream in(m_path, std::ios::binary);
    in.read(reinterpret_cast<char*>(original.data()), static_cast<std::streamsize>(length));
  }
  // A writer that died after its journal and half of its in-place writes.
  ASSERT_EQ(journal::Write(m_path, length, {journal::Extent{0, original}}), S_OK);
  {
    std::fstream f(m_path, std::ios::binary | std::ios::in | std::ios::out);
    f.seekp(0);
    f << std::string(700, '\x55');
    f.seekp(static_cast<std::streamoff>(length) + 5000);
    f << "tail";
  }
  OpenOptions o;
  o.readOnly = true;
  Storage root;
  ASSERT_EQ(StgOpenStorage(m_path, o, root), S_OK);
  EXPECT_FALSE(journal::Exists(m_path));
  EXPECT_EQ(FileSize(), length);
  EXPECT_EQ(ReadStream(root, u"S"), "before");
  root.Release();

  // A journal cut short means no in-place write had begun: it is only removed.
  ASSERT_EQ(journal::Write(m_path, length, {journal::Extent{0, std::vector<std::uint8_t>(512)}}), S_OK);
  fs::resize_file(journal::PathFor(m_path), fs::file_size(journal::PathFor(m_path)) - 3);
  ASSERT_EQ(Open(root, false), S_OK);
  EXPECT_FALSE(journal::Exists(m_path));
  EXPECT_EQ(ReadStream(root, u"S"), "before");
}

// The journal a commit writes reads the bytes it saves from the file a piece at a time; what it
// writes is the same journal as one made of those bytes, also for ranges beyond one piece.
TEST_F(CompoundFileTest, AJournalReadFromTheFileEqualsOneOfItsBytes) {
  const std::string file = m_path + ".plain";
  std::string bytes((3 << 20) + 777, '\0');
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 131 + i / 4096);
  std::ofstream(file, std::ios::binary) << bytes;
  const auto slice = [&](std::uint64_t at, std::uint64_t n) {
    return journal::Extent{at, std::vector<std::uint8_t>(bytes.begin() + at, bytes.begin() + at + n)};
  };
  const auto ReadWhole = [](const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  };
  ASSERT_EQ(journal::Write(file, bytes.size(), {slice(0, 512), slice(4096, (2 << 20) + 5)}), S_OK);
  const std::string expected = ReadWhole(journal::PathFor(file));
  const int fd = ::open(file.c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  const std::vector<journal::Range> ranges{{0, 512}, {4096, (2 << 20) + 5}};
  EXPECT_EQ(journal::Size(ranges), expected.size());
  ASSERT_EQ(journal::Write(file, bytes.size(), fd, ranges), S_OK);
  EXPECT_EQ(ReadWhole(journal::PathFor(file)), expected);
  // A range the file does not hold fails, and leaves no journal for an opener to roll back.
  EXPECT_EQ(journal::Write(file, bytes.size(), fd, {{bytes.size() - 10, 20}}), STG_E_READFAULT);
  EXPECT_FALSE(journal::Pending(file));
  ::close(fd);
}

// A completed commit leaves its journal retired: still holding the old bytes, but marked, so
// that no opener rolls it back, and the next commit writes over it without creating a name.
TEST_F(CompoundFileTest, ARetiredJournalIsNeverRolledBackAndTheNextCommitWritesOverIt) {
  {
    Storage root;
    ASSERT_EQ(Open(root), S_OK);
    WriteStream(root, u"S", std::string(3000, 'a'));
  }
  {
    Storage root;
    ASSERT_EQ(Open(root), S_OK);
    WriteStream(root, u"S", std::string(3000, 'b'));
  }
  const std::string path = journal::PathFor(m_path);
  ASSERT_TRUE(fs::exists(path));
  EXPECT_FALSE(journal::Pending(m_path));
  for (const bool readOnly : {true, false}) {
    cache::Clear();
    OpenOptions o;
    o.readOnly = readOnly;
    Storage root;
    ASSERT_EQ(StgOpenStorage(m_path, o, root), S_OK);
    EXPECT_EQ(ReadStream(root, u"S"), std::string(3000, 'b')) << "a completed commit was rolled back";
    root.Release();
    EXPECT_TRUE(fs::exists(path)) << "an opener removed the retired journal";
  }
  // Without its mark the journal would put the 'a's back.
  {
    std::fstream f(path, std::ios::binary | std::ios::in | std::ios::out);
    f.seekp(0);
    f << "CFBJRNL1";
  }
  EXPECT_TRUE(journal::Pending(m_path));
  cache::Clear();
  Storage root;
  ASSERT_EQ(Open(root, false), S_OK);
  EXPECT_EQ(ReadStream(root, u"S"), std::string(3000, 'a'));
}

// Builds and releases of an earlier format: a journal they left (magic, old length, extents,
// checksum, trailer, all little-endian) is rolled back as before.
TEST_F(CompoundFileTest, AJournalOfAnEarlierBuildIsStillRolledBack) {
  {
    Storage root;
    ASSERT_EQ(Open(root), S_OK);
    WriteStream(root, u"S", "before");
  }
  const std::uint64_t length = FileSize();
  std::string original(length, '\0');
  {
    std::ifstream in(m_path, std::ios::binary);
    in.read(original.data(), static_cast<std::streamsize>(length));
  }
  std::string j = "CFBJRNL1";
  auto put64 = [&j](std::uint64_t v) {
    for (int i = 0; i < 8; ++i) j += static_cast<char>((v >> (8 * i)) & 0xff);
  };
  put64(length);
  put64(1);
  put64(0);
  put64(length);
  j += original;
  std::uint64_t h = 0xcbf29ce484222325ull;
  for (const char c : j) h = (h ^ static_cast<std::uint8_t>(c)) * 0x100000001b3ull;
  put64(h);
  j += "CFBJEND1";
  {
    std::ofstream out(journal::PathFor(m_path), std::ios::binary | std::ios::trunc);
    out << j;
    std::fstream f(m_path, std::ios::binary | std::ios::in | std::ios::out);
    f.seekp(0);
    f << std::string(600, '\x33');
  }
  cache::Clear();
  OpenOptions o;
  o.readOnly = true;
  Storage root;
  ASSERT_EQ(StgOpenStorage(m_path, o, root), S_OK);
  EXPECT_EQ(ReadStream(root, u"S"), "before");
  EXPECT_FALSE(journal::Exists(m_path));
}

TEST_F(CompoundFileTest, DamagedFilesGiveStatusCodes) {
  {
    Storage root;
    ASSERT_EQ(Open(root), S_OK);
    WriteStream(root, u"Big", Pattern(5000, 2));
  }
  std::vector<char> bytes(FileSize());
  {
    std::ifstream in(m_path, std::ios::binary);
    in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  }
  auto reopenWith = [&](const std::vector<char>& image) {
    cache::Clear();
    std::ofstream(m_path, std::ios::binary | std::ios::trunc).write(image.data(),
                                                                    static_cast<std::streamsize>(image.size()));
    Storage root;
    return Open(root, false);
  };
  // Big's chain: a cycle back onto its own first sector.
  const Model m = Parse();
  const IdList& chain = m.nodes[m.nodes[0].children().front()].chain();
  std::vector<char> cyclic = bytes;
  const std::uint64_t fatAt = m.SectorOffset(m.fatSectors[0]);
  format::Put32(reinterpret_cast<std::uint8_t*>(cyclic.data() + fatAt + 4 * chain.back()), chain.front());
  EXPECT_EQ(reopenWith(cyclic), STG_E_DOCFILECORRUPT);
  // Root's child pointing at itself.
  std::vector<char> loop = bytes;
  format::Put32(reinterpret_cast<std::uint8_t*>(loop.data() + m.SectorOffset(m.dirChain[0]) + 0x4C), 0);
  EXPECT_EQ(reopenWith(loop), STG_E_DOCFILECORRUPT);
  // Cut off inside the big stream.
  std::vector<char> cut(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(m.SectorOffset(chain[3])));
  EXPECT_EQ(reopenWith(cut), STG_E_DOCFILECORRUPT);
  EXPECT_EQ(reopenWith(std::vector<char>(bytes.begin(), bytes.begin() + 100)), STG_E_INVALIDHEADER);
  EXPECT_EQ(reopenWith(bytes), S_OK);
}

TEST(Text, ConversionsKeepBytesAndCharacters) {
  EXPECT_EQ(WidenBytes("\xe9t\xe9"), u"\u00e9t\u00e9");
  EXPECT_EQ(NarrowToBytes(u"\u00e9\u4e2d"), "\xe9?");
  const std::u16string mixed = u"a\u00e9\u4e2d\U0001F600";
  EXPECT_EQ(FromUtf8(ToUtf8(mixed)), mixed);
  EXPECT_EQ(FromUtf8("\xff" "a"), u"\uFFFDa");
  EXPECT_EQ(StatusName(STG_E_DOCFILECORRUPT), "STG_E_DOCFILECORRUPT");
  EXPECT_EQ(StatusName(MakeStatus(0x80001234u)), "0x80001234");
}

// The one way to an entry checks the id against what the model holds, full or partial, so a
// link the reader did not foresee becomes a status code rather than a read past the entries.
TEST(NodeAt, AnIdTheModelDoesNotHoldIsRefused) {
  Model full;
  full.nodes.resize(4);
  full.SetName(full.nodes[3], u"last");
  EXPECT_EQ(full.NameOf(NodeAt(full, 3)), u"last");
  EXPECT_THROW(NodeAt(full, 4), MissingEntry);
  EXPECT_THROW(NodeAt(full, format::kNoStream), MissingEntry);

  Model partial;
  partial.partial = true;
  partial.entryCount = 100;
  partial.SetName(partial.loaded[7], u"read");
  EXPECT_EQ(partial.NameOf(NodeAt(partial, 7)), u"read");
  EXPECT_THROW(NodeAt(partial, 8), MissingEntry);  // in the directory, but never read
  EXPECT_THROW(NodeAt(partial, 0), MissingEntry);
}

}  // namespace
}  // namespace cfb
