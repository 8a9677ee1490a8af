#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QProcess>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/process.h"
#include "varnow/report/PrintJob.h"
#include "varnow/testsupport/PrintJobTestSupport.h"
#include "varnow/testsupport/ReportTestRecord.h"

namespace varnow {
namespace {

namespace fs = std::filesystem;

class PrintJobTest : public PrintTestBase {};

TEST_F(PrintJobTest, PlainReportGoesToLpWithTitleAndIsDeletedAfterwards) {
  InstallFakeLp(0);
  owner.settings = {PrintDestination::kPrinter, "unused.txt", 0, 0, 5};
  CPrintJob job(owner);  // three columns, whatever the setting says
  ASSERT_TRUE(job.Print(&sink));
  EXPECT_TRUE(shown.empty());

  const std::string args = ReadAll(dir / "lp.args");
  ASSERT_EQ(args.rfind("-t\nVarnow Print\n" + (tmp / "VNP").string(), 0), 0u) << args;
  EXPECT_EQ(ReadAll(dir / "lp.file"), Golden("report_text_k_n3.txt"));
  EXPECT_TRUE(NoPrintFileLeft());  // the temporary file is gone
}

TEST_F(PrintJobTest, AutomatedPrintToFileLeavesTheFileAndHasThreeColumns) {
  InstallFakeLp(0);
  const fs::path out = dir / "report.txt";
  owner.settings = {PrintDestination::kFile, out.string(), 0, 0, 6};
  ASSERT_TRUE(PrintAutomated(owner));
  EXPECT_EQ(ReadAll(out), Golden("report_text_k_n3.txt"));
  EXPECT_FALSE(fs::exists(dir / "lp.args"));  // nothing printed
  EXPECT_TRUE(NoPrintFileLeft());
}

TEST_F(PrintJobTest, StandardOutputGetsThePlainReport) {
  owner.settings = {PrintDestination::kFile, "-", 0, 1, 6};
  testing::internal::CaptureStdout();
  const bool written = PrintAutomated(owner);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), Golden("report_text_k_n3.txt"));
  EXPECT_TRUE(written);
  EXPECT_FALSE(fs::exists("-"));
}

TEST_F(PrintJobTest, MissingOrFailingPrintProgramIsAPrintFailureAndTheFileIsDeleted) {
  owner.settings = {PrintDestination::kPrinter, "", 0, 0, 3};
  CPrintJob missing(owner);
  EXPECT_FALSE(missing.Print(&sink));
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].first, "Print Failure");
  // The message names the program and where it was looked for.
  EXPECT_EQ(shown[0].second.rfind("The print program lp was not found; it was looked for on PATH (", 0), 0u)
      << shown[0].second;
  EXPECT_NE(shown[0].second.find(std::string(std::getenv("PATH")) + ").  Report will not be printed."),
            std::string::npos) << shown[0].second;
  EXPECT_TRUE(NoPrintFileLeft());

  owner.settings.enhancedPrinting = 1;  // no zizeruv on PATH either
  shown.clear();
  EXPECT_FALSE(CPrintJob(owner).Print(&sink));
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].second.rfind("The print program zizeruv was not found; it was looked for in " +
                                       platform::ProgramFolder() + ", then on PATH (", 0),
            0u)
      << shown[0].second;

  InstallFakeLp(3);
  owner.settings.enhancedPrinting = 0;
  shown.clear();
  EXPECT_FALSE(CPrintJob(owner).Print(&sink));
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].first, "Print Failure");
  EXPECT_NE(shown[0].second.find("exit status 3"), std::string::npos) << shown[0].second;
  EXPECT_TRUE(NoPrintFileLeft());
}

TEST_F(PrintJobTest, FileIsDeletedWhenThePrintProgramOutlastsTheWait) {
  WriteScript(bin / "lp", "exec /bin/sleep 3 </dev/null >/dev/null 2>&1\n");
  owner.settings = {PrintDestination::kPrinter, "", 0, 0, 3};
  CPrintJob job(owner);
  job.m_waitLimit = std::chrono::milliseconds(300);
  EXPECT_TRUE(job.Print(&sink));
  EXPECT_TRUE(shown.empty());
  EXPECT_TRUE(NoPrintFileLeft());
}

TEST_F(PrintJobTest, ReportThatCannotBeWrittenIsNotPrinted) {
  InstallFakeLp(0);
  const fs::path out = dir / "missing" / "r.txt";
  owner.settings = {PrintDestination::kFile, out.string(), 0, 1, 3};
  EXPECT_FALSE(CPrintJob(owner).Print(&sink));
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].first, "Error Creating File For Printing");
  EXPECT_FALSE(fs::exists(dir / "lp.args"));
}

TEST_F(PrintJobTest, UnusableTemporaryFolderIsReportedAndNothingIsPrinted) {
  InstallFakeLp(0);
  const fs::path gone = tmp / "gone";
  ::setenv("TMPDIR", gone.c_str(), 1);
  owner.settings = {PrintDestination::kPrinter, "", 0, 0, 3};
  EXPECT_FALSE(CPrintJob(owner).Print(&sink));
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].first, "Error Creating File For Printing");
  EXPECT_EQ(shown[0].second, (gone / "VNPXXXXXX").string() + " contains an invalid path.");
  EXPECT_FALSE(fs::exists(dir / "lp.args"));
}

TEST_F(PrintJobTest, EnhancedReportPrintsThroughZizeruvIntoPdf) {
  UsePath(std::getenv("ZIZERUV_DIR"));
  const fs::path pdf = dir / "out.pdf";
  ::setenv("ZIZERUV_OUTPUT", pdf.c_str(), 1);
  ::setenv("CUPS_SERVER", (dir / "no-cups").c_str(), 1);
  owner.settings = {PrintDestination::kPrinter, "", 0, 1, 3};
  const bool printed = CPrintJob(owner).Print(&sink);
  ::unsetenv("ZIZERUV_OUTPUT");
  ::unsetenv("CUPS_SERVER");
  UsePath(savedPath);
  ASSERT_TRUE(printed) << (shown.empty() ? "" : shown[0].second);
  EXPECT_TRUE(NoPrintFileLeft());

  QProcess text;
  text.start("pdftotext", {"-layout", QString::fromStdString(pdf.string()), "-"});
  ASSERT_TRUE(text.waitForFinished(60000));
  const std::string pages = text.readAllStandardOutput().toStdString();
  for (const char* expected : {"/home/ann/data/", "Directory", "Mar 5, 9:07 PM", "Zeta", "5,242,880 K",
                               "abcdefghijklmnopqrstuvwxyz012...", "[Total Used]", "6,301,779 K", "[Total Free]",
                               "caf\xc3\xa9", "http://www.zentrel.com/varnow/"})
    EXPECT_NE(pages.find(expected), std::string::npos) << expected << " missing in:\n" << pages;
}

}  // namespace
}  // namespace varnow

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QCoreApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
