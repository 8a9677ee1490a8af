// Files written here must read the same in olefile and gsf, and files written by gsf and by
// other programs must read here exactly as olefile reads them.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "compoundfile/compoundfile.h"
#include "compoundfile/tests/cftest_util.h"
#include "compoundfile/tests/rawfile.h"

namespace fs = std::filesystem;
using namespace cfb;
using namespace cftest;

namespace {

// What gsf list shows for a tree: a storage without children appears as an empty stream.
Tree GsfView(const Tree& tree) {
  Tree view = Shape(tree);
  for (auto& [path, element] : view) {
    if (!element.storage) continue;
    auto next = view.upper_bound(path);
    const bool hasChild = next != view.end() && next->first.rfind(path + "/", 0) == 0;
    if (!hasChild) element.storage = false;
  }
  return view;
}

// Checks that olefile and gsf both read file as exactly expected.
void ExpectPeersRead(const std::string& file, const Tree& expected) {
  Tree ole;
  std::string error;
  ASSERT_TRUE(OleTree(file, ole, error)) << error;
  EXPECT_TRUE(ole == expected) << "olefile:\n" << Diff(expected, ole);

  Tree gsf;
  ASSERT_TRUE(GsfTree(file, gsf, error)) << error;
  const Tree gsfExpected = GsfView(expected);
  EXPECT_TRUE(gsf == gsfExpected) << "gsf list:\n" << Diff(gsfExpected, gsf);
  int catted = 0;
  for (const auto& [path, element] : expected) {
    if (element.storage) continue;
    std::string bytes;
    EXPECT_TRUE(GsfCat(file, path, bytes)) << path;
    EXPECT_TRUE(bytes == element.content) << "gsf cat " << path << ": " << bytes.size() << " bytes";
    if (++catted >= 60) break;  // one process per stream: a sample is enough for big trees
  }
}

class Writer {
 public:
  explicit Writer(Tree& expected) : m_expected(expected) {}
  void AddStream(Storage& parent, const std::string& parentPath, const std::u16string& name,
              const std::string& content) {
    ASSERT_TRUE(Ok(PutStream(parent, name, content))) << ToUtf8(name);
    m_expected[Join(parentPath, name)] = Element{false, content.size(), content};
  }
  void AddStorage(Storage& parent, const std::string& parentPath, const std::u16string& name,
               Storage& out) {
    ASSERT_TRUE(Ok(parent.CreateStorage(name, out))) << ToUtf8(name);
    m_expected[Join(parentPath, name)] = Element{true, 0, {}};
  }
  static std::string Join(const std::string& parent, const std::u16string& name) {
    return parent.empty() ? ToUtf8(name) : parent + "/" + ToUtf8(name);
  }

 private:
  Tree& m_expected;
};

TEST(Interop, WrittenTreeReadsTheSameInOlefileAndGsf) {
  TempDir dir;
  const std::string file = dir.file("tree.cfb");
  Tree expected;
  Writer w(expected);
  {
    Storage root;
    OpenOptions create;
    create.create = true;
    ASSERT_TRUE(Ok(StgOpenStorage(file, create, root)));
    // Sizes around the mini stream cutoff and sector boundaries.
    std::uint64_t seed = 1;
    for (std::size_t size : {0, 1, 63, 64, 65, 511, 512, 513, 4095, 4096, 4097, 70000})
      w.AddStream(root, "", u"s" + FromUtf8(std::to_string(size)), Pattern(seed++, size));
    // Several MB: past the 109 FAT sectors the header can list, so the DIFAT is needed.
    w.AddStream(root, "", u"large", Pattern(seed++, 3 << 20));
    w.AddStream(root, "", u"larger", Pattern(seed++, (5 << 20) + 17));

    Storage a, b, c, d, empty;
    w.AddStorage(root, "", u"Projekte", a);
    w.AddStorage(a, "Projekte", WidenBytes("Gr\xF6\xDF" "e"), b);
    const std::string bPath = "Projekte/Gr\xC3\xB6\xC3\x9F" "e";
    w.AddStorage(b, bPath, WidenBytes("caf\xE9 \xC0 la cr\xE8me"), c);
    const std::string cPath = bPath + "/caf\xC3\xA9 \xC3\x80 la cr\xC3\xA8me";
    w.AddStorage(c, cPath, u"deep", d);
    w.AddStream(d, cPath + "/deep", WidenBytes("\xFF\xE6\xD8"), Pattern(seed++, 300));
    w.AddStream(d, cPath + "/deep", u"empty", "");
    w.AddStream(c, cPath, u"MixedCase", Pattern(seed++, 5000));
    w.AddStream(b, bPath, u"x", Pattern(seed++, 4097));
    w.AddStorage(root, "", u"leer", empty);
    // The longest name allowed, with characters other systems forbid in file names.
    Storage longest;
    w.AddStorage(root, "", u"Lange Namen <mit> \"*?|\" 0123abc", longest);
    w.AddStream(longest, "Lange Namen <mit> \"*?|\" 0123abc", u"KOB[VNData]", Pattern(seed++, 300));
  }
  {
    // A second batch on the existing file: a new storage and a stream that grows past the cutoff.
    Storage root;
    ASSERT_TRUE(Ok(StgOpenStorage(file, {}, root)));
    Storage later;
    w.AddStorage(root, "", u"later", later);
    w.AddStream(later, "later", u"note", Pattern(99, 10));
    w.AddStream(root, "", u"s4095", Pattern(100, 4500));
  }

  Tree own;
  ASSERT_TRUE(Ok(ReadTreeOfFile(file, own)));
  EXPECT_TRUE(own == expected) << Diff(expected, own);
  ExpectPeersRead(file, expected);
}

TEST(Interop, FiveThousandSiblingsFormABalancedTreeOthersCanRead) {
  TempDir dir;
  const std::string file = dir.file("many.cfb");
  Tree expected;
  Writer w(expected);
  {
    Storage root, many;
    OpenOptions create;
    create.create = true;
    ASSERT_TRUE(Ok(StgOpenStorage(file, create, root)));
    w.AddStorage(root, "", u"many", many);
    for (int i = 0; i < 5000; ++i) {
      // Names of mixed length and case, some with Latin-1 letters.
      std::string name = (i % 3 == 0 ? "Dir" : i % 3 == 1 ? "file." : "\xC9t\xE9-") + std::to_string(i * 7919 % 100003);
      if (i % 2 == 0) {
        Storage child;
        w.AddStorage(many, "many", WidenBytes(name), child);
      } else {
        w.AddStream(many, "many", WidenBytes(name), Pattern(i, i % 97));
      }
      if (testing::Test::HasFatalFailure()) return;
    }
  }
  Tree own;
  ASSERT_TRUE(Ok(ReadTreeOfFile(file, own, /*content=*/true)));
  EXPECT_TRUE(own == expected) << Diff(expected, own);

  // Enumeration follows the format's order.
  {
    Storage root, many;
    ASSERT_TRUE(Ok(StgOpenStorage(file, {}, root)));
    ASSERT_TRUE(Ok(root.OpenStorage(u"many", many)));
    std::vector<ElementInfo> children;
    ASSERT_TRUE(Ok(many.EnumElements(children)));
    ASSERT_EQ(children.size(), 5000u);
    for (std::size_t i = 1; i < children.size(); ++i)
      ASSERT_LT(CompareNames(children[i - 1].name, children[i].name), 0) << "at " << i;
  }
  // The tree in the file is ordered and balanced.
  const RawFile raw = RawFile::Load(file);
  std::size_t count = 0;
  EXPECT_EQ(CheckSiblingTree(raw, raw.FindEntry(u"many"), &count), "");
  EXPECT_EQ(count, 5000u);
  EXPECT_EQ(CheckSiblingTree(raw, 0), "");

  ExpectPeersRead(file, expected);
}

// A wide storage grown batch by batch: each batch adds children, replaces some (a stream by a
// stream, a storage by a stream) and one batch removes some. The tree stays ordered and a
// valid red-black tree after every batch, a batch that adds one child rewrites only a few
// sectors, and the peers read the end result as written.
TEST(Interop, WideStorageGrownBatchByBatchStaysAValidTree) {
  TempDir dir;
  const std::string file = dir.file("grown.cfb");
  Tree expected;
  Writer w(expected);
  auto name = [](int i) {
    return WidenBytes((i % 4 == 0 ? "Dir" : i % 4 == 1 ? "f." : i % 4 == 2 ? "\xC9t\xE9-" : "x") +
                      std::to_string(i * 7919 % 100003));
  };
  auto check = [&](const char* when) {
    const RawFile raw = RawFile::Load(file);
    std::size_t count = 0;
    EXPECT_EQ(CheckSiblingTree(raw, raw.FindEntry(u"wide"), &count), "") << when;
    std::size_t listed = 0;
    for (const auto& [path, element] : expected) listed += path.rfind("wide/", 0) == 0;
    EXPECT_EQ(count, listed) << when;
  };
  OpenOptions create;
  create.create = true;
  int next = 0;
  {
    Storage root, wide;
    ASSERT_TRUE(Ok(StgOpenStorage(file, create, root)));
    w.AddStorage(root, "", u"wide", wide);
    for (; next < 1100; ++next) {
      if (next % 2 == 0) {
        Storage child;
        w.AddStorage(wide, "wide", name(next), child);
      } else {
        w.AddStream(wide, "wide", name(next), Pattern(next, next % 300));
      }
    }
  }
  check("first batch");
  for (int batch = 0; batch < 6; ++batch) {
    {
      Storage root, wide;
      ASSERT_TRUE(Ok(StgOpenStorage(file, {}, root)));
      ASSERT_TRUE(Ok(root.OpenStorage(u"wide", wide)));
      for (int k = 0; k < 150; ++k, ++next) w.AddStream(wide, "wide", name(next), Pattern(next, 40));
      for (int k = 1; k < 40; k += 2) w.AddStream(wide, "wide", name(batch * 40 + k), Pattern(batch, 5000));
      w.AddStream(wide, "wide", name(batch * 40), "was a storage");
      if (batch == 3) {
        for (int k = 0; k < 30; ++k) {
          const std::u16string gone = name(600 + k);
          ASSERT_TRUE(Ok(wide.DestroyElement(gone)));
          expected.erase("wide/" + ToUtf8(gone));
        }
      }
    }
    check(("batch " + std::to_string(batch)).c_str());
  }
  // One child more: the tree takes it in, most of the directory stays as it was.
  const std::string before = ReadFileBytes(file);
  {
    Storage root, wide;
    ASSERT_TRUE(Ok(StgOpenStorage(file, {}, root)));
    ASSERT_TRUE(Ok(root.OpenStorage(u"wide", wide)));
    Storage child;
    w.AddStorage(wide, "wide", u"one more", child);
  }
  check("one more");
  const std::string after = ReadFileBytes(file);
  int changed = 0;
  for (std::size_t at = 0; at + 512 <= std::min(before.size(), after.size()); at += 512)
    changed += before.compare(at, 512, after, at, 512) != 0;
  EXPECT_LT(changed, 40) << "sectors rewritten to add one child";

  Tree own;
  ASSERT_TRUE(Ok(ReadTreeOfFile(file, own, /*content=*/true)));
  EXPECT_TRUE(own == expected) << Diff(expected, own);
  ExpectPeersRead(file, expected);
}

// A folder tree of files around the cutoff and sector sizes, some deep, some with Latin-1
// names; expected receives it as a tree whose top storage is "top".
void MakeFolder(const fs::path& top, Tree& expected) {
  expected["top"] = Element{true, 0, {}};
  auto addFile = [&](const std::string& relative, std::size_t size) {
    const fs::path path = top / relative;
    fs::create_directories(path.parent_path());
    const std::string content = Pattern(size + relative.size(), size);
    WriteFileBytes(path.string(), content);
    expected["top/" + relative] = Element{false, size, content};
    for (fs::path p = fs::path(relative).parent_path(); !p.empty(); p = p.parent_path())
      expected["top/" + p.string()] = Element{true, 0, {}};
  };
  addFile("empty", 0);
  addFile("one", 1);
  addFile("cut/4095", 4095);
  addFile("cut/4096", 4096);
  addFile("cut/4097", 4097);
  addFile("a/b/c/d/deep.bin", 12345);
  addFile("a/b/big", 300000);
  addFile("Gr\xC3\xB6\xC3\x9F" "e/caf\xC3\xA9.txt", 77);
  for (int i = 0; i < 40; ++i) addFile("wide/f" + std::to_string(i), i * 13);
}

TEST(Interop, ReadsWhatGsfCreatesFromAFolder) {
  TempDir dir;
  Tree expected;
  MakeFolder(dir.path() / "top", expected);
  const std::string file = dir.file("gsf.ole");
  const RunResult run = cftest::Run({"gsf", "createole", file, (dir.path() / "top").string()});
  ASSERT_EQ(run.status, 0) << run.err;

  Tree own;
  ASSERT_TRUE(Ok(ReadTreeOfFile(file, own)));
  EXPECT_TRUE(own == expected) << Diff(expected, own);
}

TEST(Interop, ReadsBothVersionsOfAnIndependentWriter) {
  TempDir dir;
  Tree expected;
  MakeFolder(dir.path() / "folder" / "top", expected);
  for (const char* version : {"3", "4"}) {
    SCOPED_TRACE(std::string("version ") + version);
    const std::string file = dir.file(std::string("v") + version + ".cfb");
    const RunResult run = cftest::Run({"/usr/bin/python3", SourceDir() + "/compoundfile/tests/make_cfb.py",
                                       "--version", version, (dir.path() / "folder").string(), file});
    ASSERT_EQ(run.status, 0) << run.err;
    Tree ole, own;
    std::string error;
    ASSERT_TRUE(OleTree(file, ole, error)) << error;  // the writer itself is sound
    ASSERT_TRUE(ole == expected) << Diff(expected, ole);
    ASSERT_TRUE(Ok(ReadTreeOfFile(file, own)));
    EXPECT_TRUE(own == expected) << Diff(expected, own);
  }
}

TEST(Interop, SampleSpreadsheetsReadAsOlefileReadsThem) {
  const fs::path samples = "/usr/share/doc/libspreadsheet-parseexcel-perl/examples/sample/Excel";
  ASSERT_TRUE(fs::is_directory(samples)) << "install libspreadsheet-parseexcel-perl";
  TempDir dir;
  int files = 0;
  for (const auto& entry : fs::directory_iterator(samples)) {
    if (entry.path().extension() != ".xls") continue;
    SCOPED_TRACE(entry.path().filename().string());
    // A private copy: opening may lock or journal beside the file.
    const std::string copy = dir.file(entry.path().filename().string());
    fs::copy_file(entry.path(), copy);
    Tree ole, own;
    std::string error;
    ASSERT_TRUE(OleTree(copy, ole, error)) << error;
    ASSERT_TRUE(Ok(ReadTreeOfFile(copy, own)));
    EXPECT_TRUE(own == ole) << Diff(ole, own);
    EXPECT_EQ(ReadFileBytes(copy), ReadFileBytes(entry.path().string())) << "reading changed the file";
    ++files;
  }
  EXPECT_GE(files, 10);
}

}  // namespace
