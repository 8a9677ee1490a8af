// Shared helpers of the compound file verification tests: element trees as the library,
// olefile and gsf see them, subprocesses, temporary folders and deterministic contents.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "compoundfile/compoundfile.h"

namespace cftest {

// gtest-friendly check of a status code: EXPECT_TRUE(Ok(hr)) prints the status by name.
::testing::AssertionResult Ok(cfb::HRESULT hr);
::testing::AssertionResult Is(cfb::HRESULT expected, cfb::HRESULT actual);

struct Element {
  bool storage = false;
  std::uint64_t size = 0;
  std::string content;  // streams only
  bool operator==(const Element&) const = default;
};
// Keyed by the element's path: UTF-8 names joined with '/'.
using Tree = std::map<std::string, Element>;

// Walks every storage below root and reads every stream fully; the first failure is returned.
cfb::HRESULT ReadTree(cfb::Storage& root, Tree& out, bool content = true);
cfb::HRESULT ReadTreeOfFile(const std::string& file, Tree& out, bool content = true);
// The whole content of a stream, read from its start.
cfb::HRESULT ReadAll(cfb::Stream& stream, std::string& out);
// Creates (or replaces) the stream name in parent with exactly content.
cfb::HRESULT PutStream(cfb::Storage& parent, std::u16string_view name, const std::string& content);
// Opens or creates each storage of the '/'-separated UTF-8 path below root; out is the last.
cfb::HRESULT MakeStoragePath(cfb::Storage& root, const std::string& path, cfb::Storage& out);

// Streams' contents dropped: only the shape (types, sizes, paths) stays.
Tree Shape(const Tree& tree);
// Lists the differences of two trees for a failure message; empty when they are equal.
std::string Diff(const Tree& expected, const Tree& actual);

struct RunResult {
  int status = -1;  // exit status, or 128 + signal
  std::string out;
  std::string err;
};
RunResult Run(const std::vector<std::string>& argv);

// The tree of file as olefile (raise_defects=DEFECT_INCORRECT) reads it. False with a reason
// in error when olefile refuses the file.
bool OleTree(const std::string& file, Tree& out, std::string& error, bool content = true);
// The tree of file as `gsf list` prints it (no contents). gsf shows a storage without
// children as an empty stream; such entries come back as empty streams.
bool GsfTree(const std::string& file, Tree& out, std::string& error);
bool GsfCat(const std::string& file, const std::string& path, std::string& out);

// A temporary folder removed with everything in it at the end of the scope.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return m_path; }
  std::string file(const std::string& name) const { return (m_path / name).string(); }

 private:
  std::filesystem::path m_path;
};

// size deterministic bytes that differ for every seed.
std::string Pattern(std::uint64_t seed, std::size_t size);
std::string SourceDir();  // the repository root

std::string ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, const std::string& bytes);

}  // namespace cftest
