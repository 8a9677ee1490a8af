// A file changed in place over many batches keeps every stream as last written, stays valid
// for olefile after every kind of change, and reuses freed space.
#include <gtest/gtest.h>

#include <filesystem>
#include <cstring>
#include <random>

#include "compoundfile/compoundfile.h"
#include "compoundfile/tests/cftest_util.h"
#include "compoundfile/tests/rawfile.h"

using namespace cfb;
using namespace cftest;

namespace {

// Sizes that exercise the mini stream, the cutoff in both directions and multi-sector chains.
std::size_t PickSize(std::mt19937& rng) {
  switch (rng() % 6) {
    case 0: return rng() % 64;
    case 1: return 4090 + rng() % 12;  // across the cutoff
    case 2: return 4096;
    case 3: return rng() % 4096;
    case 4: return 4097 + rng() % 20000;
    default: return rng() % 600;
  }
}

struct Model {
  Tree tree;
  std::size_t ContentBytes() const {
    std::size_t total = 0;
    for (const auto& [path, e] : tree) total += e.size;
    return total;
  }
};

class Rewrites : public ::testing::Test {
 protected:
  void SetUp() override {
    file = dir.file("rewrite.cfb");
    Storage root;
    OpenOptions create;
    create.create = true;
    ASSERT_TRUE(Ok(StgOpenStorage(file, create, root)));
  }

  void Put(Storage& root, const std::string& storagePath, const std::string& name, std::string content) {
    Storage parent;
    Storage* target = &root;
    if (!storagePath.empty()) {
      ASSERT_TRUE(Ok(MakeStoragePath(root, storagePath, parent)));
      target = &parent;
      for (std::size_t end = storagePath.find('/');; end = storagePath.find('/', end + 1)) {
        model.tree[storagePath.substr(0, end)].storage = true;
        if (end == std::string::npos) break;
      }
    }
    // Rewrite in place through an open stream (overwrite, then trim or grow) rather than by
    // replacing it, so sizes change in both directions on the same element.
    Stream stream;
    const std::u16string wide = FromUtf8(name);
    HRESULT hr = target->OpenStream(wide, stream);
    if (hr == STG_E_FILENOTFOUND) hr = target->CreateStream(wide, stream);
    ASSERT_TRUE(Ok(hr));
    std::uint32_t written = 0;
    ASSERT_TRUE(Ok(stream.Write(content.data(), static_cast<std::uint32_t>(content.size()), &written)));
    ASSERT_EQ(written, content.size());
    ASSERT_TRUE(Ok(stream.SetSize(content.size())));
    const std::string path = storagePath.empty() ? name : storagePath + "/" + name;
    model.tree[path] = Element{false, content.size(), std::move(content)};
  }

  // Changes part of an existing stream through seek, write and set-size.
  void Patch(Storage& root, const std::string& path, std::mt19937& rng) {
    Element& element = model.tree.at(path);
    const std::size_t slash = path.rfind('/');
    Storage parent;
    Storage* target = &root;
    if (slash != std::string::npos) {
      ASSERT_TRUE(Ok(MakeStoragePath(root, path.substr(0, slash), parent)));
      target = &parent;
    }
    Stream stream;
    ASSERT_TRUE(Ok(target->OpenStream(FromUtf8(path.substr(slash + 1)), stream)));
    std::string& content = element.content;
    switch (rng() % 4) {
      case 0: {  // overwrite a slice, possibly running past the end
        const std::size_t at = content.empty() ? 0 : rng() % content.size();
        const std::string slice = Pattern(rng(), 1 + rng() % 6000);
        std::uint64_t position = 0;
        ASSERT_TRUE(Ok(stream.Seek(static_cast<std::int64_t>(at), SeekOrigin::Begin, &position)));
        ASSERT_EQ(position, at);
        ASSERT_TRUE(Ok(stream.Write(slice.data(), static_cast<std::uint32_t>(slice.size()))));
        content.resize(std::max(content.size(), at + slice.size()));
        content.replace(at, slice.size(), slice);
        break;
      }
      case 1: {  // append from the end
        const std::string tail = Pattern(rng(), rng() % 5000);
        ASSERT_TRUE(Ok(stream.Seek(0, SeekOrigin::End)));
        ASSERT_TRUE(Ok(stream.Write(tail.data(), static_cast<std::uint32_t>(tail.size()))));
        content += tail;
        break;
      }
      case 2: {  // grow: the new bytes read as zeros, never as older content
        const std::size_t size = content.size() + rng() % 6000;
        ASSERT_TRUE(Ok(stream.SetSize(size)));
        content.resize(size, '\0');
        break;
      }
      default: {  // shrink
        const std::size_t size = content.empty() ? 0 : rng() % content.size();
        ASSERT_TRUE(Ok(stream.SetSize(size)));
        content.resize(size);
        break;
      }
    }
    element.size = content.size();
  }

  void ExpectFileMatchesModel(bool withOlefile) {
    Tree own;
    ASSERT_TRUE(Ok(ReadTreeOfFile(file, own)));
    ASSERT_TRUE(own == model.tree) << Diff(model.tree, own);
    if (!withOlefile) return;
    Tree ole;
    std::string error;
    ASSERT_TRUE(OleTree(file, ole, error)) << error;
    ASSERT_TRUE(ole == model.tree) << Diff(model.tree, ole);
  }

  TempDir dir;
  std::string file;
  Model model;
};

TEST_F(Rewrites, EveryKindOfChangeLeavesAValidFile) {
  std::mt19937 rng(20261207);
  const char* storages[] = {"", "a", "a/b", "a/b/c", "z"};
  for (int batch = 0; batch < 120; ++batch) {
    SCOPED_TRACE("batch " + std::to_string(batch));
    {
      Storage root;
      ASSERT_TRUE(Ok(StgOpenStorage(file, {}, root)));
      const int changes = 1 + static_cast<int>(rng() % 6);
      for (int i = 0; i < changes; ++i) {
        const std::string where = storages[rng() % 5];
        const std::string name = "s" + std::to_string(rng() % 8);
        Put(root, where, name, Pattern(rng(), PickSize(rng)));
        if (HasFatalFailure()) return;
      }
      for (int i = 0; i < 3; ++i) {
        auto it = model.tree.begin();
        std::advance(it, static_cast<long>(rng() % model.tree.size()));
        if (it->second.storage) continue;
        Patch(root, it->first, rng);
        if (HasFatalFailure()) return;
      }
      if (batch % 10 == 9) {  // a new storage with a stream each tenth batch
        Put(root, "added/n" + std::to_string(batch), "data", Pattern(batch, 300));
        if (HasFatalFailure()) return;
      }
      if (batch % 25 == 24) {  // drop a whole storage now and then
        const HRESULT hr = root.DestroyElement(u"z");
        if (hr != STG_E_FILENOTFOUND) {
          ASSERT_TRUE(Ok(hr));
        }
        for (auto it = model.tree.begin(); it != model.tree.end();)
          it = (it->first == "z" || it->first.rfind("z/", 0) == 0) ? model.tree.erase(it) : std::next(it);
      }
    }
    ExpectFileMatchesModel(/*withOlefile=*/batch % 8 == 0 || batch >= 115);
    if (HasFatalFailure()) return;
  }
  const RawFile raw = RawFile::Load(file);
  EXPECT_EQ(CheckSiblingTree(raw, 0), "");
  // Entries freed by the destroyed storages: all zero, links NOSTREAM.
  int freeEntries = 0;
  for (std::uint32_t id = 0; id < raw.EntryCount(); ++id) {
    if (raw.EntryU8(id, kType) != 0) continue;
    ++freeEntries;
    std::string expected(128, '\0');
    std::memset(expected.data() + kLeft, 0xFF, 12);
    RawFile copy = raw;
    EXPECT_EQ(copy.bytes().substr(raw.EntryOffset(id), 128), expected) << "free entry " << id;
  }
  EXPECT_GT(freeEntries, 0);
}

TEST_F(Rewrites, ThousandRewritesKeepTheFileNearItsContent) {
  std::mt19937 rng(7);
  std::size_t peak = 0;
  for (int round = 0; round < 1000; ++round) {
    {
      Storage root;
      ASSERT_TRUE(Ok(StgOpenStorage(file, {}, root)));
      for (int i = 0; i < 4; ++i) {
        const int which = static_cast<int>(rng() % 24);
        Put(root, which < 12 ? "" : "sub", "stream" + std::to_string(which), Pattern(rng(), PickSize(rng)));
        if (HasFatalFailure()) return;
      }
    }
    peak = std::max(peak, model.ContentBytes());
    if (round % 100 == 99) {
      SCOPED_TRACE("round " + std::to_string(round));
      ExpectFileMatchesModel(round % 500 == 499);
      if (HasFatalFailure()) return;
    }
  }
  // Without reuse of freed sectors the file would grow by every rewrite (tens of MB here).
  const std::uintmax_t size = std::filesystem::file_size(file);
  EXPECT_LE(size, 2 * peak + 256 * 1024) << "content now " << model.ContentBytes() << ", peak " << peak;
}

}  // namespace
