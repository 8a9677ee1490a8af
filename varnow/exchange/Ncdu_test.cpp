#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QBuffer>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>

#include "varnow/exchange/NcduReader.h"
#include "varnow/exchange/NcduWriter.h"
#include "varnow/scan/Scaninfo.h"
#include "varnow/scan/scandir.h"
#include "varnow/testsupport/ScanTestSupport.h"

namespace varnow {
namespace {

using test::FakeOwner;
using test::MemoryStore;
using test::TempDir;

using Records = std::map<std::string, CDirData>;

// A file of length bytes, its folders made first.
void File(const TempDir& dir, const std::string& relative, std::uint64_t length) {
  const std::size_t slash = relative.rfind('/');
  if (slash != std::string::npos) dir.MakeDir(relative.substr(0, slash));
  dir.MakeFile(relative, length);
}

// A tree with nested directories, odd names, lengths that are no multiple of a block, an empty
// directory and file, a symbolic link and a file with links in two directories.
void MakeTree(const TempDir& dir) {
  File(dir, "top.bin", 5000);
  File(dir, "a/one", 1);
  File(dir, "a/b/two", 70000);
  File(dir, "a/b/c/three", 4096);
  File(dir, "quote \" and \\ back/f", 12345);
  File(dir, "line\nfeed/f", 10);
  File(dir, "caf\xc3\xa9/f", 333);
  File(dir, "empty file dir/zero", 0);
  dir.MakeDir("empty");
  File(dir, "latin \xe9t\xe9/\xff", 4097);
  File(dir, "links/first", 9000);
  dir.MakeDir("other");
  ASSERT_EQ(::link((dir.Path() + "links/first").c_str(), (dir.Path() + "other/second").c_str()), 0);
  ASSERT_EQ(::symlink("top.bin", (dir.Path() + "a/link").c_str()), 0);
}

struct Session {
  FakeOwner owner;
  std::shared_ptr<MemoryStore::State> state = std::make_shared<MemoryStore::State>();
  std::unique_ptr<CScanInfo> info;
  Session() {
    owner.preferredCluster = ClusterMode::kNormal;  // the volume's allocation unit: sizes are rounded
    owner.autoSave = 1;
    owner.subDirSave = 1;
    info = std::make_unique<CScanInfo>(&owner, &owner, std::make_unique<MemoryStore>(state));
  }
  Records Saved() {
    info->ShutdownWarning();
    std::lock_guard lock(state->mutex);
    return state->records;
  }
};

Records ScanDirectly(const std::string& path) {
  Session session;
  session.info->SetScanDir(path);
  CDirData record = session.info->dd;
  EXPECT_GE(session.info->DoScan(1, record, true), 0);
  return session.Saved();
}

std::string ExportByScan(const std::string& path, Records* saved = nullptr) {
  Session session;
  session.info->SetScanDir(path);
  QBuffer buffer;
  buffer.open(QIODevice::WriteOnly);
  CNcduWriter writer(buffer, "2.0.0", 1700000000);
  session.info->SetScanVisitor(&writer);
  CDirData record = session.info->dd;
  EXPECT_GE(session.info->DoScan(1, record, true), 0);
  EXPECT_TRUE(writer.Finish());
  if (saved) *saved = session.Saved();
  return buffer.data().toStdString();
}

// Files counted by their plain lengths.
constexpr CSizeRule kLengths{1, false};

bool Read(const std::string& text, CNcduTree& tree, std::string& error, const CSizeRule& rule = {4096, false},
          const CNcduImportLimits& limits = {}) {
  std::FILE* in = ::fmemopen(const_cast<char*>(text.data()), text.size(), "rb");
  if (!in) return false;
  CNcduImportTarget target;
  target.countFile = [rule](std::uint64_t asize, std::uint64_t dsize) { return CountedSize(asize, dsize, rule); };
  const bool read = ReadNcduExport(in, target, tree, error, limits);
  std::fclose(in);
  return read;
}

Records Import(const std::string& text, const std::string& path, std::int64_t* timestamp = nullptr) {
  Session session;
  session.info->SetScanDir(path);
  CNcduTree tree;
  std::string error;
  EXPECT_TRUE(Read(text, tree, error, session.info->SizeRule())) << error;
  if (timestamp) *timestamp = tree.timestamp;
  CDirData record = session.info->dd;
  EXPECT_GE(session.info->ImportScan(record, std::move(tree.tree), static_cast<std::int32_t>(tree.timestamp)), 0);
  return session.Saved();
}

// What a scan found in a record: each entry's newest size. The free space is left out: an
// export does not tell it.
std::map<std::string, std::int64_t> Found(const CDirData& record) {
  std::map<std::string, std::int64_t> found;
  for (const CDirInfo& entry : record.m_entries)
    if (entry.name != kTotalFree) found[entry.name] = entry.sizes[0];
  return found;
}

void ExpectSameRecords(const Records& direct, const Records& imported) {
  ASSERT_EQ(direct.size(), imported.size());
  for (const auto& [path, record] : direct) {
    ASSERT_TRUE(imported.count(path)) << path;
    EXPECT_EQ(Found(record), Found(imported.at(path))) << path;
  }
}

TEST(NcduExchange, AnExportReadBackMakesTheRecordsOfADirectScan) {
  TempDir dir;
  MakeTree(dir);
  Records scanned;
  const std::string text = ExportByScan(dir.Path(), &scanned);
  const Records direct = ScanDirectly(dir.Path());
  ExpectSameRecords(direct, scanned);  // exporting changes nothing the scan saves
  std::int64_t timestamp = 0;
  const Records imported = Import(text, dir.Path(), &timestamp);
  ExpectSameRecords(direct, imported);
  EXPECT_EQ(timestamp, 1700000000);
  const CDirData& top = imported.at(dir.Path());
  EXPECT_EQ(top.m_times[0], 1700000000);
  const CDirInfo* freeRow = top.FindEntry(kTotalFree);
  EXPECT_TRUE(!freeRow || freeRow->sizes[0] == kNoSize);
}

TEST(NcduExchange, ExportNamesTheTopByItsPathAndEscapesNames) {
  TempDir dir;
  File(dir, "quote \" and \\ back/f", 1);
  File(dir, "tab\there", 1);
  const std::string text = ExportByScan(dir.Path());
  EXPECT_EQ(text.rfind(R"([1,2,{"progname":"varnow","progver":"2.0.0","timestamp":1700000000},)", 0), 0u);
  std::string top = dir.Path();
  top.pop_back();
  EXPECT_NE(text.find("[{\"name\":\"" + top + "\""), std::string::npos);
  EXPECT_NE(text.find(R"({"name":"quote \" and \\ back")"), std::string::npos);
  EXPECT_NE(text.find(R"({"name":"tab\u0009here","asize":1)"), std::string::npos);
}

TEST(NcduExchange, HardLinksCarryTheirIdentityAndCountOnce) {
  TempDir dir;
  // Real bytes, so that the file holds its blocks whichever way sizes are counted.
  dir.MakeDir("a");
  std::ofstream(dir.Path() + "a/file") << std::string(50000, 'x');
  dir.MakeDir("b");
  ASSERT_EQ(::link((dir.Path() + "a/file").c_str(), (dir.Path() + "b/again").c_str()), 0);
  ASSERT_EQ(::link((dir.Path() + "a/file").c_str(), (dir.Path() + "a/third").c_str()), 0);
  const std::string text = ExportByScan(dir.Path());
  EXPECT_NE(text.find(R"("hlnkc":true,"nlink":3})"), std::string::npos);
  CNcduTree tree;
  std::string error;
  ASSERT_TRUE(Read(text, tree, error, kLengths)) << error;
  EXPECT_EQ(tree.files, 3u);
  const Records imported = Import(text, dir.Path());
  const CDirInfo* used = imported.at(dir.Path()).FindEntry(kTotalUsed);
  ASSERT_TRUE(used);
  Session probe;
  probe.info->SetScanDir(dir.Path());
  EXPECT_EQ(used->sizes[0], RoundToCluster(50000, probe.info->ClusterSize()));
  ExpectSameRecords(ScanDirectly(dir.Path()), imported);
}

// ncdu's own export of a tree, taken in, saves what a scan of the tree saves.
TEST(NcduExchange, ImportOfNcdusExportEqualsADirectScan) {
  if (std::system("command -v ncdu >/dev/null 2>&1") != 0) GTEST_SKIP() << "ncdu is not installed";
  TempDir dir;
  MakeTree(dir);
  TempDir out;
  const std::string file = out.Path() + "ncdu.json";
  const std::string command = "ncdu -0 -o '" + file + "' '" + dir.Path() + "' 2>/dev/null";
  ASSERT_EQ(std::system(command.c_str()), 0);
  std::ifstream in(file, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  ExpectSameRecords(ScanDirectly(dir.Path()), Import(text.str(), dir.Path()));
}

TEST(NcduExchange, UnreadableDirectoriesAndSkippedOnesKeepTheirPlace) {
  const std::string text =
      R"([1,2,{"timestamp":1600000000},)"
      R"([{"name":"/srv/x","dev":7},)"
      R"({"name":"f","asize":10,"dsize":4096},)"
      R"([{"name":"locked","read_error":true}],)"
      R"([{"name":"partly","read_error":true},{"name":"g","asize":5}],)"
      R"({"name":"proc","excluded":"kernfs"},)"
      R"({"name":"skipped by pattern","excluded":"pattern"}]])";
  CNcduTree tree;
  std::string error;
  ASSERT_TRUE(Read(text, tree, error, kLengths)) << error;
  EXPECT_EQ(tree.root, "/srv/x");
  EXPECT_EQ(tree.tree.filesSize, 10);
  ASSERT_EQ(tree.tree.subdirectories, (std::vector<std::string>{"locked", "partly", "proc"}));
  EXPECT_FALSE(tree.tree.children[0].opened);
  EXPECT_TRUE(tree.tree.children[1].opened);
  EXPECT_EQ(tree.tree.children[1].filesSize, 5);
  EXPECT_TRUE(tree.tree.children[2].skipped);
}

// gdu marks only later links and gives no link count; ncdu both.
TEST(NcduExchange, LinkedFilesAreKnownByIdentityOnTheirDevice) {
  const std::string text =
      R"([1,2,{"timestamp":1600000000},[{"name":"/d","dev":1},)"
      R"({"name":"a","asize":100,"ino":5,"nlink":2},)"
      R"([{"name":"sub"},{"name":"b","asize":100,"ino":5,"hlnkc":true}],)"
      R"([{"name":"mnt","dev":2},{"name":"c","asize":100,"ino":5,"hlnkc":true}],)"
      R"({"name":"single","asize":7,"ino":9}]])";
  CNcduTree tree;
  std::string error;
  ASSERT_TRUE(Read(text, tree, error, kLengths)) << error;
  EXPECT_EQ(tree.tree.filesSize, 7);  // one link only: counted at once
  ASSERT_EQ(tree.tree.extras->linkedFiles.size(), 1u);
  EXPECT_EQ(tree.tree.extras->linkedFiles[0].device, 1u);
  EXPECT_EQ(tree.tree.children[0].extras->linkedFiles[0].device, 1u);
  EXPECT_EQ(tree.tree.children[1].extras->linkedFiles[0].device, 2u);
}

TEST(NcduExchange, DamagedOrHostileExportsAreRefusedWithAMessage) {
  const std::string head = R"([1,2,{"timestamp":1600000000},)";
  std::string deep = head;
  for (int i = 0; i < 3000; ++i) deep += R"([{"name":"d"},)";
  std::string deepSkip = R"([1,2,{"timestamp":1600000000,"x":)";
  for (int i = 0; i < 100000; ++i) deepSkip += "[";
  const std::map<std::string, std::string> cases = {
      {"empty", ""},
      {"no array", R"({"a":1})"},
      {"major version 2", R"([2,0,{"timestamp":1},[{"name":"/a"}]])"},
      {"no timestamp", R"([1,2,{},[{"name":"/a"}]])"},
      {"timestamp beyond 2038", R"([1,2,{"timestamp":99999999999},[{"name":"/a"}]])"},
      {"truncated", head + R"([{"name":"/a"},{"name":"f","asiz)"},
      {"truncated after a directory", head + R"([{"name":"/a"},[{"name":"b"}])"},
      {"trailing bytes", head + R"([{"name":"/a"}]] x)"},
      {"value after the tree", head + R"([{"name":"/a"}],5])"},
      {"deep nesting", deep},
      {"deep nesting in metadata", deepSkip},
      {"huge number", head + R"([{"name":"/a"},{"name":"f","asize":123456789012345678901234567890}]])"},
      {"size beyond any disk", head + R"([{"name":"/a"},{"name":"f","asize":18446744073709551615}]])"},
      {"sum beyond any disk", head + R"([{"name":"/a"},{"name":"f","asize":4611686018427387904},{"name":"g","asize":4611686018427387904}]])"},
      {"negative size", head + R"([{"name":"/a"},{"name":"f","asize":-1}]])"},
      {"fractional size", head + R"([{"name":"/a"},{"name":"f","asize":1.5}]])"},
      {"size as text", head + R"([{"name":"/a"},{"name":"f","asize":"1"}]])"},
      {"name as number", head + R"([{"name":"/a"},{"name":7}]])"},
      {"name as array", head + R"([{"name":"/a"},{"name":["x"]}]])"},
      {"no name", head + R"([{"name":"/a"},{"asize":1}]])"},
      {"name with a slash", head + R"([{"name":"/a"},{"name":"../etc"}]])"},
      {"name ..", head + R"([{"name":"/a"},[{"name":".."}]]])"},
      {"name with a zero byte", head + R"([{"name":"/a"},{"name":"a\u0000b"}]])"},
      {"a byte that is no UTF-8 outside a string", head + "[{\"name\":\"/a\"},\xff{\"name\":\"f\"}]]"},
      {"a zero byte after the tree", head + std::string(R"([{"name":"/a"}]])") + '\0' + "x"},
      {"a zero byte in a name", head + std::string(R"([{"name":"/a"},{"name":"a)") + '\0' + R"(b"}]])"},
      {"directory without fields", head + R"([{"name":"/a"},[]]])"},
      {"directory starting with a directory", head + R"([[{"name":"/a"}]]])"},
      {"number in a directory", head + R"([{"name":"/a"},5]])"},
      {"flag as number", head + R"([{"name":"/a"},{"name":"f","hlnkc":1}]])"},
      {"long string", head + R"([{"name":"/a"},{"name":")" + std::string(70000, 'x') + R"("}]])"},
      {"long number", head + R"([{"name":"/a"},{"name":"f","asize":)" + std::string(70000, '9') + "}]]"},
  };
  for (const auto& [what, text] : cases) {
    CNcduTree tree;
    std::string error;
    EXPECT_FALSE(Read(text, tree, error)) << what;
    EXPECT_FALSE(error.empty()) << what;
  }
  CNcduTree tree;
  std::string error;
  // What a message repeats of the file cannot steer the terminal.
  EXPECT_FALSE(Read(head + R"([{"name":"/a"},{"name":"\u001b[31mred","asize":-1}]])", tree, error));
  EXPECT_EQ(error.find('\x1b'), std::string::npos) << error;
  EXPECT_NE(error.find("\"\\x1b[31mred\""), std::string::npos) << error;
  CNcduImportLimits few;
  few.maxDirectories = 2;
  EXPECT_FALSE(Read(head + R"([{"name":"/a"},[{"name":"b"}],[{"name":"c"}]]])", tree, error, kLengths, few));
  EXPECT_NE(error.find("more than 2 directories"), std::string::npos) << error;
}

// ncdu writes a name that is not UTF-8 byte for byte; the name keeps its bytes, and valid
// characters around them stay as they are.
TEST(NcduExchange, NamesThatAreNotUtf8KeepTheirBytes) {
  const std::string names[] = {"\xff", "caf\xe9", "\xc3", "a\xc3\xa9\xe2\x82", "\xed\xa0\x80", "\xf0\x9f\x98\x80\xc0", "x\xe2\x82",
                               "\xf4\x8f\xbc\x80" /* U+10FF00 */};
  for (const std::string& name : names) {
    const std::string text = R"([1,2,{"timestamp":1600000000},[{"name":"/d"},[{"name":")" + name + R"("}]]])";
    CNcduTree tree;
    std::string error;
    ASSERT_TRUE(Read(text, tree, error)) << error;
    ASSERT_EQ(tree.tree.subdirectories.size(), 1u);
    EXPECT_EQ(tree.tree.subdirectories[0], name);
  }
  // Its export reads back the same.
  TempDir dir;
  File(dir, "\xfe\xff/\x80", 10);
  CNcduTree tree;
  std::string error;
  ASSERT_TRUE(Read(ExportByScan(dir.Path()), tree, error)) << error;
  EXPECT_EQ(tree.tree.subdirectories, std::vector<std::string>{"\xfe\xff"});
}

// A string is bounded by its bytes in the file, wherever the reader's blocks happen to end.
TEST(NcduExchange, AStringUpToTheLimitIsReadAndOneByteMoreIsNot) {
  const std::string head = R"([1,2,{"timestamp":1600000000},[{"name":"/d"},[{"name":")";
  for (const std::size_t limit : {std::size_t{300}, std::size_t{65536}}) {
    CNcduImportLimits limits;
    limits.maxToken = limit;
    std::string name = R"(\\\")";  // two escapes: four bytes in the file
    name += std::string(limit - name.size() - 2, 'n') + "\xc3\xa9";
    for (const std::size_t extra : {0, 1}) {
      CNcduTree tree;
      std::string error;
      const std::string text = head + name + std::string(extra, 'x') + R"("}]]])";
      if (extra == 0) {
        ASSERT_TRUE(Read(text, tree, error, kLengths, limits)) << limit << ": " << error;
        ASSERT_EQ(tree.tree.subdirectories.size(), 1u);
        EXPECT_EQ(tree.tree.subdirectories[0], "\\\"" + name.substr(4));
      } else {
        EXPECT_FALSE(Read(text, tree, error, kLengths, limits)) << limit;
        EXPECT_NE(error.find("longer than " + std::to_string(limit) + " bytes"), std::string::npos) << error;
      }
    }
  }
}

TEST(NcduExchange, TheTargetCanRefuseTheTopBeforeAnythingIsRead) {
  const std::string text = R"([1,2,{"timestamp":1600000000},[{"name":"/elsewhere"},{"name":"f","asize":1}]])";
  std::FILE* in = ::fmemopen(const_cast<char*>(text.data()), text.size(), "rb");
  ASSERT_TRUE(in);
  CNcduImportTarget target;
  int counted = 0;
  target.acceptRoot = [](const std::string& root, std::string& error) {
    error = "not " + root;
    return false;
  };
  target.countFile = [&counted](std::uint64_t, std::uint64_t) { return ++counted, std::int64_t{0}; };
  CNcduTree tree;
  std::string error;
  EXPECT_FALSE(ReadNcduExport(in, target, tree, error));
  std::fclose(in);
  EXPECT_EQ(error, "not /elsewhere");
  EXPECT_EQ(counted, 0);
}

}  // namespace
}  // namespace varnow
