// Damaged files give status codes: never a crash, a hang, an unbounded allocation, or data
// that is not in the file. Lenient cases that other writers produce still read.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>

#include "compoundfile/compoundfile.h"
#include "compoundfile/tests/cftest_util.h"
#include "compoundfile/tests/rawfile.h"

using namespace cfb;
using namespace cftest;

namespace {

// An entry whose name was damaged to nothing may be listed and then refused by name.
bool IsDamageStatus(HRESULT hr) {
  return hr == STG_E_DOCFILECORRUPT || hr == STG_E_INVALIDHEADER || hr == STG_E_READFAULT ||
         hr == STG_E_FILENOTFOUND || hr == STG_E_INVALIDNAME;
}

class Damage : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    s_dir = new TempDir;
    s_base = s_dir->file("base.cfb");
    Storage root, sub, sub2;
    OpenOptions create;
    create.create = true;
    ASSERT_TRUE(Ok(StgOpenStorage(s_base, create, root)));
    ASSERT_TRUE(Ok(PutStream(root, u"small", Pattern(1, 100))));
    ASSERT_TRUE(Ok(PutStream(root, u"large", Pattern(2, 10000))));
    ASSERT_TRUE(Ok(PutStream(root, u"other", Pattern(3, 9000))));
    ASSERT_TRUE(Ok(PutStream(root, u"empty", "")));
    ASSERT_TRUE(Ok(root.CreateStorage(u"sub", sub)));
    ASSERT_TRUE(Ok(PutStream(sub, u"inner", Pattern(4, 50))));
    ASSERT_TRUE(Ok(sub.CreateStorage(u"sub2", sub2)));
    ASSERT_TRUE(Ok(PutStream(sub2, u"deepest", Pattern(5, 700))));
  }
  static void TearDownTestSuite() {
    delete s_dir;
    s_dir = nullptr;
  }

  // Each variant goes to a file of its own name: a path reused within one timestamp tick could
  // look unchanged to a reader that remembers files by identity, size and time.
  std::string Save(const RawFile& raw) {
    const std::string path = s_dir->file("variant" + std::to_string(s_count++) + ".cfb");
    raw.Save(path);
    return path;
  }
  static RawFile Base() { return RawFile::Load(s_base); }
  static Tree BaseTree() {
    Tree tree;
    EXPECT_TRUE(Ok(ReadTreeOfFile(s_base, tree)));
    return tree;
  }

  // A reader that opens elements by name without listing any storage: only the entries on
  // the way are read. Every stream of the base file is read this way, each time through a
  // fresh open of the file; the first failure is returned.
  static HRESULT ReadByName(const std::string& path) {
    Storage root;
    OpenOptions readOnly;
    readOnly.readOnly = true;
    HRESULT hr = StgOpenStorage(path, readOnly, root);
    if (Failed(hr)) return hr;
    for (const auto& [name, element] : BaseTree()) {
      if (element.storage) continue;
      Storage parent;
      Storage* at = &root;
      std::size_t start = 0;
      for (std::size_t slash; (slash = name.find('/', start)) != std::string::npos; start = slash + 1) {
        Storage next;
        hr = at->OpenStorage(FromUtf8(name.substr(start, slash - start)), next);
        if (Failed(hr)) return hr;
        parent = std::move(next);
        at = &parent;
      }
      Stream stream;
      std::string content;
      hr = at->OpenStream(FromUtf8(name.substr(start)), stream);
      if (Succeeded(hr)) hr = ReadAll(stream, content);
      if (Failed(hr)) return hr;
    }
    return S_OK;
  }

  // Opens, walks everything, then tries a change and a commit on a copy: the status of the
  // read-only walk is returned. Before that, the same file is read by name alone; that reader
  // must fail or succeed as the walk does.
  HRESULT Exercise(const std::string& path, Tree* tree = nullptr) {
    const HRESULT byName = ReadByName(path);
    Tree read;
    const HRESULT hr = ReadTreeOfFile(path, read);
    EXPECT_TRUE(!Failed(byName) || IsDamageStatus(byName)) << path << ": " << StatusName(byName);
    if (Succeeded(hr) && Shape(read) == Shape(BaseTree())) {
      EXPECT_TRUE(Succeeded(byName)) << path << " reads whole but not by name: " << StatusName(byName);
    }
    m_lastByName = byName;
    if (tree) *tree = read;
    const std::string copy = path + ".w";
    std::filesystem::copy_file(path, copy);
    {
      Storage root;
      if (Succeeded(StgOpenStorage(copy, {}, root))) {
        (void)PutStream(root, u"added", Pattern(9, 5000));
        Stream stream;
        if (Succeeded(root.OpenStream(u"large", stream))) (void)stream.SetSize(20000);
        (void)root.Commit();
      }
    }
    Tree after;
    (void)ReadTreeOfFile(copy, after);
    return hr;
  }

  // byName: the damage lies on the way to some stream, so that a reader by name meets it too.
  void ExpectDamage(const RawFile& raw, const char* what, bool byName = true) {
    const HRESULT hr = Exercise(Save(raw));
    EXPECT_TRUE(Failed(hr)) << what << ": damage went unnoticed";
    EXPECT_TRUE(!Failed(hr) || IsDamageStatus(hr)) << what << ": " << StatusName(hr);
    if (byName) EXPECT_TRUE(Failed(m_lastByName)) << what << ": damage went unnoticed by a reader that opens by name";
  }

  HRESULT m_lastByName = S_OK;

  static TempDir* s_dir;
  static std::string s_base;
  static int s_count;
};

TempDir* Damage::s_dir = nullptr;
std::string Damage::s_base;
int Damage::s_count = 0;

TEST_F(Damage, NotACompoundFile) {
  const std::string empty = s_dir->file("empty.bin");
  WriteFileBytes(empty, "");
  const std::string text = s_dir->file("text.bin");
  WriteFileBytes(text, std::string(3000, 'x'));
  const std::string noise = s_dir->file("noise.bin");
  WriteFileBytes(noise, Pattern(77, 4096));
  for (const std::string& path : {empty, text, noise}) {
    Storage root;
    const HRESULT hr = StgOpenStorage(path, {}, root);
    EXPECT_TRUE(hr == STG_E_INVALIDHEADER || hr == STG_E_DOCFILECORRUPT) << path << ": " << StatusName(hr);
    EXPECT_FALSE(root.IsOpen());
  }
  Storage root;
  EXPECT_TRUE(Is(STG_E_FILENOTFOUND, StgOpenStorage(s_dir->file("missing.cfb"), {}, root)));
}

TEST_F(Damage, CyclesAndSharedSectorsInTheFat) {
  const RawFile base = Base();
  const std::uint32_t large = base.FindEntry(u"large");
  const std::uint32_t other = base.FindEntry(u"other");
  const std::vector<std::uint32_t> chain = base.Chain(base.EntryU32(large, kStart));
  ASSERT_GE(chain.size(), 19u);
  {
    RawFile raw = base;
    raw.SetFat(chain.back(), chain.front());
    ExpectDamage(raw, "chain loops back to its start");
  }
  {
    RawFile raw = base;
    raw.SetFat(chain[5], chain[5]);
    ExpectDamage(raw, "sector points at itself");
  }
  {
    RawFile raw = base;
    raw.SetEntryU32(other, kStart, base.EntryU32(large, kStart));
    ExpectDamage(raw, "two streams share their sectors");
  }
  {
    RawFile raw = base;
    raw.SetFat(chain[3], 0x00FFFFFF);
    ExpectDamage(raw, "chain leaves the file");
  }
  {
    RawFile raw = base;
    raw.SetFat(chain[3], kFreeSect);
    ExpectDamage(raw, "chain runs into a free sector");
  }
  {
    RawFile raw = base;
    raw.SetEntryU32(large, kStart, 0x7FFFFFF0);
    ExpectDamage(raw, "start sector past the end");
  }
  {
    RawFile raw = base;
    const std::vector<std::uint32_t> dirChain = raw.Chain(raw.U32(kFirstDirSector));
    raw.SetFat(dirChain.back(), dirChain.front());
    const HRESULT hr = Exercise(Save(raw));
    EXPECT_TRUE(!Failed(hr) || IsDamageStatus(hr)) << "directory chain loop: " << StatusName(hr);
  }
}

TEST_F(Damage, CyclesInTheDirectory) {
  const RawFile base = Base();
  const std::uint32_t sub = base.FindEntry(u"sub");
  const std::uint32_t sub2 = base.FindEntry(u"sub2");
  const std::uint32_t small = base.FindEntry(u"small");
  {
    RawFile raw = base;
    raw.SetEntryU32(sub2, kChild, sub);
    ExpectDamage(raw, "a storage contains its parent");
  }
  {
    RawFile raw = base;
    raw.SetEntryU32(sub, kChild, 0);
    ExpectDamage(raw, "a storage contains the root");
  }
  {
    RawFile raw = base;
    raw.SetEntryU32(small, kLeft, small);
    raw.SetEntryU32(small, kRight, small);
    // Each search along the tree stops at or before the loop: only a listing meets it.
    ExpectDamage(raw, "an entry is its own sibling", false);
  }
  {
    RawFile raw = base;
    const std::uint32_t top = raw.EntryU32(0, kChild);
    raw.SetEntryU32(small, kRight, top);
    raw.SetEntryU32(small, kLeft, top);
    const HRESULT hr = Exercise(Save(raw));
    EXPECT_TRUE(Failed(hr)) << "sibling links back to the top of its tree";
  }
  {
    RawFile raw = base;
    raw.SetEntryU32(0, kChild, 0x00FFFFFF);
    ExpectDamage(raw, "child link out of range");
  }
}

TEST_F(Damage, BadHeaderFields) {
  const RawFile base = Base();
  struct Case {
    std::size_t offset;
    int width;
    std::uint64_t value;
    const char* what;
  } cases[] = {
      {kMiniCutoff, 4, 2048, "cutoff 2048"},
      {kMiniCutoff, 4, 0, "cutoff 0"},
      {kMiniCutoff, 4, 0xFFFFFFFF, "cutoff 4 GB"},
      {kSectorShift, 2, 12, "4096-byte sectors in a version 3 file"},
      {kSectorShift, 2, 8, "sector shift 8"},
      {kSectorShift, 2, 31, "sector shift 31"},
      {kSectorShift, 2, 0xFFFF, "sector shift 65535"},
      {kMiniSectorShift, 2, 12, "mini sector shift 12"},
      {kMajorVersion, 2, 9, "version 9"},
      {kNumFatSectors, 4, 0x7FFFFFFF, "2^31 FAT sectors"},
      {kNumFatSectors, 4, 0, "no FAT sectors"},
      {kFirstDirSector, 4, 0x00FFFFFF, "directory past the end"},
      {kFirstDirSector, 4, kEndOfChain, "no directory"},
      {kNumDifatSectors, 4, 0x7FFFFFFF, "2^31 DIFAT sectors"},
      {kHeaderDifat, 4, 0x00FFFFFF, "FAT sector past the end"},
      {kHeaderDifat, 4, kFreeSect, "FAT sector missing"},
      {kNumMiniFatSectors, 4, 0x7FFFFFFF, "2^31 mini FAT sectors"},
      {kFirstMiniFatSector, 4, 0x00FFFFFF, "mini FAT past the end"},
  };
  for (const Case& c : cases) {
    RawFile raw = base;
    if (c.width == 2) raw.SetU16(c.offset, static_cast<std::uint16_t>(c.value));
    else raw.SetU32(c.offset, static_cast<std::uint32_t>(c.value));
    const HRESULT hr = Exercise(Save(raw));
    // A few of these only matter once the field is used; all must be a status or a clean read.
    EXPECT_TRUE(!Failed(hr) || IsDamageStatus(hr)) << c.what << ": " << StatusName(hr);
    if (c.offset == kMiniCutoff || c.offset == kSectorShift || c.offset == kMajorVersion ||
        c.offset == kMiniSectorShift || c.offset == kFirstDirSector || c.offset == kNumFatSectors) {
      EXPECT_TRUE(Failed(hr)) << c.what << ": damage went unnoticed";
    }
  }
}

TEST_F(Damage, SizesPastTheEnd) {
  const RawFile base = Base();
  struct Case {
    const char16_t* name;
    std::uint64_t size;
  } cases[] = {{u"large", 1000000}, {u"large", 10000 + 512 * 3}, {u"small", 4000},
               {u"inner", 100000}, {u"deepest", 0x7FFFFFFFull}};
  for (const Case& c : cases) {
    RawFile raw = base;
    raw.SetU32(raw.EntryOffset(raw.FindEntry(c.name)) + kSize, static_cast<std::uint32_t>(c.size));
    ExpectDamage(raw, (ToUtf8(c.name) + " size " + std::to_string(c.size)).c_str());
  }
  {
    RawFile raw = base;  // the root's size no longer covers the mini stream
    raw.SetU32(raw.EntryOffset(0) + kSize, 64);
    ExpectDamage(raw, "mini stream shorter than its streams");
  }
  {
    RawFile raw = base;
    const std::uint32_t small = raw.FindEntry(u"small");
    raw.SetEntryU32(small, kStart, 5000);
    ExpectDamage(raw, "mini sector past the mini stream");
  }
}

TEST_F(Damage, TruncatedFilesFailOrReadTheSame) {
  const std::string bytes = ReadFileBytes(s_base);
  const Tree whole = BaseTree();
  std::set<std::size_t> lengths = {0, 1, 8, 75, 511, 513, bytes.size() - 1, bytes.size() - 100};
  for (std::size_t n = 512; n < bytes.size(); n += 512) lengths.insert(n);
  for (std::size_t n : lengths) {
    RawFile raw(bytes.substr(0, n));
    Tree tree;
    const HRESULT hr = Exercise(Save(raw), &tree);
    if (Failed(hr)) {
      EXPECT_TRUE(IsDamageStatus(hr)) << n << " bytes: " << StatusName(hr);
    } else {
      // Only a cut through unused space may go unnoticed, and then nothing may change.
      EXPECT_TRUE(tree == whole) << n << " bytes read without complaint:\n" << Diff(whole, tree);
    }
  }
}

TEST_F(Damage, EntryFieldsNeverCrash) {
  // Every field of every entry set to awkward values; only a status or a clean read may come out.
  const RawFile base = Base();
  const std::uint32_t entries = base.EntryCount();
  const std::uint32_t values[] = {0, 1, 2, 3, 5, 7, 64, 0x80, 0xFFFF, 0x7FFFFFFF, 0xFFFFFFFA,
                                  kFatSect, kEndOfChain, kFreeSect, entries, entries - 1};
  const EntryField fields[] = {kNameLength, kType, kColor, kLeft, kRight, kChild, kStart, kSize};
  int unnoticed = 0;
  for (std::uint32_t id = 0; id < entries; ++id) {
    if (base.EntryU8(id, kType) == 0) continue;
    for (EntryField field : fields) {
      for (std::uint32_t value : values) {
        RawFile raw = base;
        const std::size_t at = raw.EntryOffset(id) + field;
        if (field == kNameLength) raw.SetU16(at, static_cast<std::uint16_t>(value));
        else if (field == kType || field == kColor) raw.SetU8(at, static_cast<std::uint8_t>(value));
        else raw.SetU32(at, value);
        const HRESULT hr = Exercise(Save(raw));
        EXPECT_TRUE(!Failed(hr) || IsDamageStatus(hr))
            << "entry " << id << " field " << field << " = " << value << ": " << StatusName(hr);
        unnoticed += Succeeded(hr);
      }
    }
  }
  std::printf("%d entry variants read without complaint\n", unnoticed);
}

TEST_F(Damage, FatEntriesNeverCrash) {
  RawFile base = Base();
  const std::uint32_t sectors = static_cast<std::uint32_t>(base.bytes().size() / 512 - 1);
  const std::uint32_t values[] = {0, 1, sectors - 1, sectors, 0x7FFFFFFF, 0xFFFFFFFA, 0xFFFFFFFC,
                                  kFatSect, kEndOfChain, kFreeSect};
  for (std::uint32_t s = 0; s < sectors; ++s) {
    for (std::uint32_t value : values) {
      RawFile raw = base;
      raw.SetFat(s, value);
      const HRESULT hr = Exercise(Save(raw));
      EXPECT_TRUE(!Failed(hr) || IsDamageStatus(hr)) << "FAT[" << s << "] = " << value << ": " << StatusName(hr);
    }
  }
}

TEST_F(Damage, LenientCasesStillRead) {
  const RawFile base = Base();
  const Tree whole = BaseTree();
  {
    RawFile raw = base;  // version 3 readers ignore the high half of a stream size
    raw.SetU32(raw.EntryOffset(raw.FindEntry(u"large")) + kSize + 4, 0xDEADBEEF);
    raw.SetU32(raw.EntryOffset(raw.FindEntry(u"small")) + kSize + 4, 0x00000001);
    Tree tree;
    EXPECT_TRUE(Ok(Exercise(Save(raw), &tree))) << "junk in the high half of sizes";
    EXPECT_TRUE(tree == whole) << Diff(whole, tree);
  }
  {
    RawFile raw = base;  // a root with another name
    const std::u16string name = u"R";
    raw.SetU16(raw.EntryOffset(0), name[0]);
    raw.SetU16(raw.EntryOffset(0) + 2, 0);
    raw.SetU16(raw.EntryOffset(0) + kNameLength, 4);
    Tree tree;
    EXPECT_TRUE(Ok(Exercise(Save(raw), &tree))) << "root not named Root Entry";
    EXPECT_TRUE(tree == whole) << Diff(whole, tree);
  }
  {
    RawFile raw = base;  // an empty stream starting at ENDOFCHAIN, a storage with a start and size
    raw.SetEntryU32(raw.FindEntry(u"empty"), kStart, kEndOfChain);
    raw.SetEntryU32(raw.FindEntry(u"sub"), kStart, 3);
    raw.SetU32(raw.EntryOffset(raw.FindEntry(u"sub")) + kSize, 1234);
    Tree tree;
    EXPECT_TRUE(Ok(Exercise(Save(raw), &tree)));
    EXPECT_TRUE(tree == whole) << Diff(whole, tree);
  }
  {
    // Another writer's tree out of the sibling order: two names of one length swapped, so a
    // search along the tree misses them; they are still found by name.
    RawFile raw = base;
    const std::size_t small = raw.EntryOffset(raw.FindEntry(u"small"));
    const std::size_t other = raw.EntryOffset(raw.FindEntry(u"other"));
    for (std::size_t i = 0; i < 10; i += 2) {
      const std::uint16_t a = raw.U16(small + i);
      raw.SetU16(small + i, raw.U16(other + i));
      raw.SetU16(other + i, a);
    }
    Tree tree;
    EXPECT_TRUE(Ok(Exercise(Save(raw), &tree))) << "siblings out of order";
    EXPECT_TRUE(Ok(m_lastByName)) << "siblings out of order, by name";
    Tree swapped = whole;
    std::swap(swapped["small"], swapped["other"]);
    EXPECT_TRUE(tree == swapped) << Diff(swapped, tree);
  }
  {
    RawFile raw = base;  // every sibling red
    for (std::uint32_t id = 1; id < raw.EntryCount(); ++id)
      if (raw.EntryU8(id, kType) != 0) raw.SetU8(raw.EntryOffset(id) + kColor, 0);
    Tree tree;
    EXPECT_TRUE(Ok(Exercise(Save(raw), &tree))) << "all-red tree";
    EXPECT_TRUE(tree == whole) << Diff(whole, tree);
  }
}

}  // namespace
