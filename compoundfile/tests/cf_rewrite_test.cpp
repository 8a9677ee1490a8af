// A file changed in place over many batches keeps every stream as last written, stays valid
// for olefile after every kind of change, and reuses freed space.
#include <gtest/gtest.h>

#include <filesystem>
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
