#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/tracelog.h"
#include "varnow/report/PrintFile.h"
#include "varnow/testsupport/ReportTestRecord.h"

namespace varnow {
namespace {

namespace fs = std::filesystem;

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

class PrintFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = fs::temp_directory_path() / ("report_test_" + std::to_string(::getpid()));
    fs::create_directories(dir);
  }
  void TearDown() override {
    platform::TraceLog::Close();
    fs::remove_all(dir);
  }
  MessageSink Recorder() {
    return [this](const std::string& text, const std::string& caption) { shown.push_back({caption, text}); };
  }
  fs::path dir;
  std::vector<std::pair<std::string, std::string>> shown;  // caption, text
};

struct GoldenCase {
  const char* file;
  SizeUnit units;
  SortMethod sortMethod;
  bool comma;
  bool enhanced;
  int columns;
};

// Every unit, both ends of the column count, each sort method and each format.
const GoldenCase kGolden[] = {
    {"report_text_k_n3.txt", SizeUnit::kK, SortMethod::kByName, false, false, 3},
    {"report_text_bytes_n1.txt", SizeUnit::kBytes, SortMethod::kBySize, false, false, 1},
    {"report_text_mb_n6.txt", SizeUnit::kMB, SortMethod::kByChange, false, false, 6},
    {"report_rtf_smart_n6.rtf", SizeUnit::kSmart, SortMethod::kByName, false, true, 6},
    {"report_rtf_gb_n1.rtf", SizeUnit::kGB, SortMethod::kBySize, false, true, 1},
    {"report_comma_k.csv", SizeUnit::kK, SortMethod::kByName, true, false, 1},
    {"report_comma_bytes.csv", SizeUnit::kBytes, SortMethod::kBySize, true, true, 6},
};

TEST_F(PrintFileTest, EachFormatMatchesItsExpectedFile) {
  const fs::path testdata = TestdataDir();
  const bool update = std::getenv("VARNOW_UPDATE_TESTDATA") != nullptr;
  const CDirData record = SampleRecord();
  for (const GoldenCase& c : kGolden) {
    SCOPED_TRACE(c.file);
    const CReportOptions options{c.units, c.sortMethod, kSampleHomePage, c.comma, c.enhanced, c.columns};
    const fs::path out = (update ? testdata : dir) / c.file;
    ASSERT_TRUE(CreatePrintFile(out.string(), record, record.m_currentScanDir, options, nullptr, kSamplePrintTime));
    EXPECT_EQ(ReadAll(out), ReadAll(testdata / c.file));
  }
  EXPECT_FALSE(update) << "expected files rewritten; review them before committing";
}

TEST_F(PrintFileTest, UnsetScanTimesGiveEmptyOneCharacterColumns) {
  CDirData record;
  const fs::path out = dir / "empty.txt";
  ASSERT_TRUE(CreatePrintFile(out.string(), record, "/x/", CReportOptions{SizeUnit::kK, SortMethod::kByName, "home", false, false, 3, false}, nullptr));
  EXPECT_EQ(ReadAll(out),
            "Varnow Directory Size Report\r\nSub-directories of /x/\r\nTotal Size: \r\nSizes: apparent\r\n\r\n"
            "Directory         \r\n===========\r\n"
            "\r\nNot enough history yet\r\n\r\nReport written by Varnow Disk Space Tracker\r\nSee home for latest information\r\n");
}

TEST_F(PrintFileTest, ColumnWidths) {
  const CDirData record = SampleRecord();
  EXPECT_EQ(GetColumnWidth(record, 0, SizeUnit::kK), 33);  // the longest stored name, "KOB*" rows included
  EXPECT_EQ(GetColumnWidth(record, 1, SizeUnit::kBytes), 20);  // "21,474,836,480 bytes", wider than any date
  CDirData onlySummary;
  onlySummary.m_entries.push_back({std::string(kTotalUsed), kEmptyHistory});
  EXPECT_EQ(GetColumnWidth(onlySummary, 0, SizeUnit::kK), 16);
  onlySummary.m_times[4] = 1772744820;
  EXPECT_EQ(GetColumnWidth(onlySummary, 1, SizeUnit::kK), 14);  // "Mar 5, 9:07 PM"; no sizes at all
}

TEST_F(PrintFileTest, StandardOutputGetsTheSameReport) {
  const CDirData record = SampleRecord();
  const CReportOptions options{SizeUnit::kK, SortMethod::kByName, kSampleHomePage, false, false, 3};
  ASSERT_TRUE(CreatePrintFile((dir / "r.txt").string(), record, record.m_currentScanDir, options, nullptr));
  testing::internal::CaptureStdout();
  ASSERT_TRUE(CreatePrintFile("-", record, record.m_currentScanDir, options, nullptr));
  EXPECT_EQ(testing::internal::GetCapturedStdout(), ReadAll(dir / "r.txt"));
}

TEST_F(PrintFileTest, ClosedStandardOutputFailsWithoutEndingTheProgram) {
  int pipeEnds[2];
  ASSERT_EQ(::pipe(pipeEnds), 0);
  ::close(pipeEnds[0]);  // the reader has gone
  std::fflush(stdout);
  const int savedStdout = ::dup(STDOUT_FILENO);
  ::dup2(pipeEnds[1], STDOUT_FILENO);
  const MessageSink sink = Recorder();
  const bool written = CreatePrintFile("-", SampleRecord(), "/", CReportOptions{}, &sink);
  ::dup2(savedStdout, STDOUT_FILENO);
  ::close(savedStdout);
  ::close(pipeEnds[1]);
  EXPECT_FALSE(written);
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].first, "Error Writing To File");
  EXPECT_EQ(shown[0].second, "Nobody reads standard output any more.");
}

TEST_F(PrintFileTest, FailuresAreShownTracedAndReported) {
  ASSERT_TRUE(platform::TraceLog::Open((dir / "trace.txt").string()));
  const MessageSink sink = Recorder();
  const CDirData record = SampleRecord();
  const CReportOptions options;

  const std::string missing = (dir / "no/such/dir/r.rtf").string();
  EXPECT_FALSE(CreatePrintFile(missing, record, "/", options, &sink));
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].first, "Error Creating File For Printing");
  EXPECT_EQ(shown[0].second, missing + " contains an invalid path.");
  EXPECT_FALSE(fs::exists(missing));

  fs::create_directory(dir / "locked");
  fs::permissions(dir / "locked", fs::perms::owner_read | fs::perms::owner_exec);
  if (::geteuid() != 0) {
    EXPECT_FALSE(CreatePrintFile((dir / "locked/r.rtf").string(), record, "/", options, &sink));
    EXPECT_NE(shown.back().second.find("was denied"), std::string::npos);
  }
  fs::permissions(dir / "locked", fs::perms::owner_all);

  shown.clear();
  EXPECT_FALSE(CreatePrintFile("/dev/full", record, "/", options, &sink));
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].first, "Error Writing To File");
  EXPECT_EQ(shown[0].second, "Disk full while accessing /dev/full.");

  // Unattended: nothing is shown, the trace log still tells.
  EXPECT_FALSE(CreatePrintFile(missing, record, "/", options, nullptr));
  platform::TraceLog::Close();
  const std::string trace = ReadAll(dir / "trace.txt");
  EXPECT_NE(trace.find("Failed to Open(" + missing + ")"), std::string::npos);
  EXPECT_NE(trace.find("Write in CreatePrintFile failed with <Disk full while accessing /dev/full.>"),
            std::string::npos);
}

}  // namespace
}  // namespace varnow
