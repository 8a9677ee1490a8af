#include "platform/tracelog.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "platform/guarded.h"
#include "platform/testtempfolder.h"

namespace {

class TraceLogTest : public ::testing::Test {
 protected:
  void TearDown() override { platform::TraceLog::Close(); }
  std::string Contents() const {
    std::ifstream in(m_path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }
  platform::test::CTempFolder m_tmp{"tracelog"};
  std::string m_dir = m_tmp.Path();
  std::string m_path = m_dir + "/trace.log";
};

TEST_F(TraceLogTest, LinesCarryUnitAndLineNumber) {
  ASSERT_TRUE(platform::TraceLog::Open(m_path));
  EXPECT_TRUE(platform::TraceLog::IsOpen());
  platform::TraceLog::Write("/src/varnow/ui/VarnowDlg.cpp", 42, "CVarnowDlg Constructor");
  platform::TraceLog::Write("Varnow.cpp", 7, "Version: %d.%d Bld %d\n", 2, 0, 74);
  platform::TraceLog::Write("dir/osinfo", 3, "PrintPath=%s", "DIRSIZE.TXT");
  platform::TraceLog::Write("a/b.c/Scan.info.cpp", 9, "100%% done");
  EXPECT_EQ(Contents(),
            "CVarnowDlg Constructor (VarnowDlg, 42)\r\n"
            "Version: 2.0 Bld 74\n (Varnow, 7)\r\n"
            "PrintPath=DIRSIZE.TXT (osinfo, 3)\r\n"
            "100% done (Scan.info, 9)\r\n");
}

TEST_F(TraceLogTest, MacroUsesThisFile) {
  ASSERT_TRUE(platform::TraceLog::Open(m_path));
  VN_TRACE("value=%d", 5);
  EXPECT_EQ(Contents().rfind("value=5 (tracelog_test, ", 0), 0u) << Contents();
}

TEST_F(TraceLogTest, LongMessageIsNotTruncated) {
  ASSERT_TRUE(platform::TraceLog::Open(m_path));
  std::string longPath(10000, 'x');
  platform::TraceLog::Write("u.cpp", 1, "Dir=%s", longPath.c_str());
  EXPECT_EQ(Contents(), "Dir=" + longPath + " (u, 1)\r\n");
}

TEST_F(TraceLogTest, ClosedLogWritesNothingAndReopenTruncates) {
  platform::TraceLog::Write("u.cpp", 1, "before open");
  ASSERT_TRUE(platform::TraceLog::Open(m_path));
  platform::TraceLog::Write("u.cpp", 2, "first");
  platform::TraceLog::Close();
  EXPECT_FALSE(platform::TraceLog::IsOpen());
  platform::TraceLog::Write("u.cpp", 3, "after close");
  EXPECT_EQ(Contents(), "first (u, 2)\r\n");

  ASSERT_TRUE(platform::TraceLog::Open(m_path));
  platform::TraceLog::Write("u.cpp", 4, "second");
  EXPECT_EQ(Contents(), "second (u, 4)\r\n");
}

TEST_F(TraceLogTest, UncreatableFileLeavesLogClosed) {
  ASSERT_TRUE(platform::TraceLog::Open(m_path));
  EXPECT_FALSE(platform::TraceLog::Open(m_dir + "/missing/folder/trace.log"));
  EXPECT_FALSE(platform::TraceLog::IsOpen());
}

TEST_F(TraceLogTest, ThreadsNeverMixWithinALine) {
  ASSERT_TRUE(platform::TraceLog::Open(m_path));
  const int kThreads = 4, kLines = 500;
  const std::string padding(300, 'p');
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&, t] {
      for (int i = 0; i < kLines; ++i) platform::TraceLog::Write("w.cpp", t, "thread %d line %d %s", t, i, padding.c_str());
    });
  for (auto& thread : threads) thread.join();

  std::istringstream lines(Contents());
  std::string line;
  std::vector<int> next(kThreads, 0);
  int count = 0;
  while (std::getline(lines, line)) {
    int t = -1, i = -1;
    ASSERT_EQ(std::sscanf(line.c_str(), "thread %d line %d", &t, &i), 2) << line;
    ASSERT_TRUE(t >= 0 && t < kThreads);
    EXPECT_EQ(i, next[t]++);  // each thread's lines arrive whole and in order
    EXPECT_EQ(line, "thread " + std::to_string(t) + " line " + std::to_string(i) + " " + padding + " (w, " +
                        std::to_string(t) + ")\r");
    ++count;
  }
  EXPECT_EQ(count, kThreads * kLines);
}

TEST_F(TraceLogTest, GuardedTracesTheCallersLineAndGivesTheFallback) {
  ASSERT_TRUE(platform::TraceLog::Open(m_path));
  bool ran = false;
  platform::Guarded("OnQuiet", [&] { ran = true; });
  EXPECT_TRUE(ran);
  EXPECT_EQ(Contents(), "");
  platform::Guarded("OnScan", [] { throw 1; });
  EXPECT_EQ(platform::Guarded("Count", []() -> int { throw std::runtime_error("x"); }, -1), -1);
  EXPECT_EQ(platform::Guarded("Count", [] { return 7; }, -1), 7);
  EXPECT_FALSE(platform::Guarded("Check", []() -> bool { throw 2; }));
  std::string log = Contents();
  EXPECT_EQ(log.rfind("** Exception in OnScan\n (tracelog_test, ", 0), 0u) << log;
  EXPECT_NE(log.find("** Exception in Count\n (tracelog_test, "), std::string::npos) << log;
  EXPECT_NE(log.find("** Exception in Check\n (tracelog_test, "), std::string::npos) << log;
}

}  // namespace
