// Runs the cfb tool on a file made with the library and on a damaged copy.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "compoundfile/compoundfile.h"

namespace cfb {
namespace {

namespace fs = std::filesystem;

struct Result {
  int status = -1;
  std::string out;
};

Result RunTool(const std::string& args) {
  const std::string tool = std::string(std::getenv("VARNOW_BIN_DIR")) + "/cfb";
  Result r;
  FILE* p = ::popen((tool + " " + args + " 2>&1").c_str(), "r");
  if (!p) return r;
  char buf[4096];
  std::size_t n = 0;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
  const int status = ::pclose(p);
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}

TEST(CfbTool, ListsDepthFirstInSiblingOrderAndCatsStreams) {
  std::string dir = (fs::temp_directory_path() / "cfbtoolXXXXXX").string();
  ASSERT_NE(::mkdtemp(dir.data()), nullptr);
  const std::string file = dir + "/t.db";
  {
    OpenOptions o;
    o.create = true;
    Storage root, a, b;
    Stream s, t;
    ASSERT_EQ(StgOpenStorage(file, o, root), S_OK);
    ASSERT_EQ(root.CreateStorage(u"Long", a), S_OK);
    ASSERT_EQ(a.CreateStorage(u"\u00e9t\u00e9", b), S_OK);
    ASSERT_EQ(b.CreateStream(u"data", s), S_OK);
    ASSERT_EQ(s.Write("hello\0world", 11), S_OK);
    ASSERT_EQ(root.CreateStream(u"z", t), S_OK);
  }
  const Result list = RunTool("list " + file);
  EXPECT_EQ(list.status, 0);
  EXPECT_EQ(list.out,
            "stream 0 z\n"
            "storage 0 Long\n"
            "storage 0 Long/\xc3\xa9t\xc3\xa9\n"
            "stream 11 Long/\xc3\xa9t\xc3\xa9/data\n");
  const Result cat = RunTool("cat " + file + " 'Long/\xc3\xa9t\xc3\xa9/data'");
  EXPECT_EQ(cat.status, 0);
  EXPECT_EQ(cat.out, std::string("hello\0world", 11));

  const Result missing = RunTool("cat " + file + " Long/nothing");
  EXPECT_NE(missing.status, 0);
  EXPECT_NE(missing.out.find("STG_E_FILENOTFOUND"), std::string::npos);

  fs::resize_file(file, 700);  // cut into the FAT and directory
  const Result damaged = RunTool("list " + file);
  EXPECT_NE(damaged.status, 0);
  EXPECT_NE(damaged.out.find("STG_E_DOCFILECORRUPT"), std::string::npos) << damaged.out;
  fs::remove_all(dir);
}

}  // namespace
}  // namespace cfb
