// The automated sequence on a scripted main window object: what runs, in which order, and the
// exit status.
#include "varnow/ui/AutomatedRun.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "varnow/report/FormatSize.h"
#include "varnow/scan/DirData.h"
#include "varnow/scan/Prompts.h"
#include "varnow/testsupport/AlertTestSupport.h"

namespace varnow {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::SizeIs;
using test::Parse;
using test::RecordWithTotal;

// The command line's owner that also records what the automated run does.
class FakeOwner : public test::CFakeCommandLineOwner<IAutomatedRunOwner> {
 public:
  void SetSubDirSave(int value) override { subDirSave = value; }
  void OnScan() override { calls.push_back("scan:" + std::to_string(fields.automatedRun)); }
  void OnSave() override { calls.push_back("save"); }
  bool PrintGrowthReport() override {
    calls.push_back("growth to " + std::to_string(printDestination ? StoredCode(*printDestination) : 0) + ":" + printFilePath);
    return true;
  }
  IPrintOwner* PrintOwner() override {
    calls.push_back("report");
    return nullptr;
  }
  bool ExportScan() override {
    calls.push_back("export scan:" + std::to_string(fields.automatedRun));
    return exportWorks;
  }
  bool ImportTree() override {
    calls.push_back("import");
    return importWorks;
  }
  bool WriteMetrics() override {
    calls.push_back("metrics");
    return metricsWork;
  }
  int subDirSave = -1;
  bool exportWorks = true;
  bool importWorks = true;
  bool metricsWork = true;
  std::vector<std::string> calls;
};

TEST(AutomatedRun, ExportImportAndMetricsTakeTheirPlacesAndTheirStatus) {
  FakeOwner exporting;
  CRunFlags flags = Parse("/DIR=/d /SCAN /SAVESUBDIRS /EXPORT=/tmp/t.json /METRICS=/tmp/m.prom /PRINT=FILE=-", exporting);
  EXPECT_EQ(RunAutomatedSequence(flags, exporting), 0);
  EXPECT_THAT(exporting.calls, ElementsAre("export scan:1", "save", "metrics", "report"));

  FakeOwner importing;  // the import is the scan, also the one a growth alert asks for
  flags = Parse("/DIR=/d /IMPORT=/tmp/t.json /SAVE /ALERTSIZE=1", importing);
  RunAutomatedSequence(flags, importing);
  EXPECT_THAT(importing.calls, ElementsAre("import", "save"));

  FakeOwner refused;  // a refused import saves nothing and checks nothing
  refused.importWorks = false;
  flags = Parse("/DIR=/d /IMPORT=/tmp/t.json /SAVE /METRICS=-", refused);
  EXPECT_EQ(RunAutomatedSequence(flags, refused), kExitBadCommandLine);
  EXPECT_THAT(refused.calls, ElementsAre("import"));

  FakeOwner unwritable;  // the run goes on, and ends saying the file is missing
  unwritable.exportWorks = false;
  unwritable.metricsWork = false;
  flags = Parse("/DIR=/d /SCAN /SAVE /EXPORT=/tmp/t.json /METRICS=-", unwritable);
  EXPECT_EQ(RunAutomatedSequence(flags, unwritable), kExitOutputFailed);
  EXPECT_THAT(unwritable.calls, ElementsAre("export scan:1", "save", "metrics"));
}

TEST(AutomatedRun, GrowthTakesTheReportsPlaceAndGoesToStandardOutputWithoutPrint) {
  FakeOwner owner;
  CRunFlags flags = Parse("/DIR=/d /SCAN /SAVESUBDIRS /GROWTH=3", owner);
  EXPECT_EQ(RunAutomatedSequence(flags, owner), 0);
  EXPECT_THAT(owner.calls, ElementsAre("scan:1", "save", "growth to 2:-"));

  FakeOwner toFile;
  flags = Parse("/DIR=/d /GROWTH /PRINT=FILE=/tmp/growth.txt", toFile);
  RunAutomatedSequence(flags, toFile);
  EXPECT_THAT(toFile.calls, ElementsAre("growth to 2:/tmp/growth.txt"));  // and no directory report
}


TEST(AutomatedRun, ScanAndSaveAsTheSwitchesAsk) {
  FakeOwner owner;
  CRunFlags flags = Parse("/DIR=/d /SCAN /SAVE", owner);
  RunAutomatedSequence(flags, owner);
  EXPECT_THAT(owner.calls, ElementsAre("scan:1", "save"));
  EXPECT_EQ(owner.fields.automatedRun, 0);
  EXPECT_EQ(owner.autoSave, 1);
  EXPECT_EQ(owner.subDirSave, 0);

  FakeOwner subdirs;
  flags = Parse("/DIR=/d /SCAN /SAVESUBDIRS", subdirs);
  RunAutomatedSequence(flags, subdirs);
  EXPECT_EQ(subdirs.subDirSave, 1);

  FakeOwner scanOnly;
  flags = Parse("/DIR=/d /SCAN", scanOnly);
  RunAutomatedSequence(flags, scanOnly);
  EXPECT_THAT(scanOnly.calls, ElementsAre("scan:1"));
  EXPECT_EQ(scanOnly.autoSave, 0);
  EXPECT_EQ(scanOnly.subDirSave, 0);
}



// The automated run's side: the owner supplies the inputs, the checks run in their order after
// the save, and the exit status tells whether one fired.
class AlertRunOwner : public IAutomatedRunOwner {
 public:
  CCommandLineFields& CommandLineFields() override { return fields; }
  void SetScanDirectory(const std::string&) override {}
  void SetPrintDestination(PrintDestination) override {}
  void SetPrintFilePath(const std::string&) override {}
  void SetAutoSave(int) override {}
  void SetSubDirSave(int) override {}
  void OnScan() override { calls.push_back("scan"); }
  void OnSave() override { calls.push_back("save"); }
  CAlertRun AlertRun() override {
    calls.push_back("alerts");
    CAlertRun run;
    run.dd = &record;
    run.scanDir = "/srv/data/";
    run.displayUnit = SizeUnit::kBytes;
    run.alertPercent = fields.percentThreshold;
    run.alertSize = fields.sizeThreshold;
    run.freeAlert = fields.freeMinimum;
    run.notifyCommand = fields.notifyCommand;
    run.getFreeSpace = [](const std::string&, std::uint64_t& bytes) {
      bytes = 100;
      return true;
    };
    run.prompts = &boxes;
    return run;
  }
  IPrintOwner* PrintOwner() override {
    calls.push_back("print");
    return nullptr;  // nothing to print: the run goes on
  }
  bool DataFileFailed() override { return dataFileFailed; }
  bool dataFileFailed = false;

  CCommandLineFields fields;
  CDirData record = RecordWithTotal(1000, 5000);
  test::CRecordingPrompts boxes;
  std::vector<std::string> calls;
};

TEST(AutomatedRun, ChecksInOrderAfterTheSaveAndExitStatus) {
  AlertRunOwner owner;
  owner.fields.freeMinimum = 1000;
  owner.fields.notifyCommand = "/nonexistent/notify $MSG$";
  CRunFlags flags;
  flags.automated = flags.scan = flags.save = flags.print = 1;
  flags.alertSize = flags.alertPercent = flags.freeAlert = 1;
  EXPECT_EQ(RunAutomatedSequence(flags, owner), kExitAlertFired);
  EXPECT_THAT(owner.calls, ElementsAre("scan", "save", "alerts", "print"));
  ASSERT_THAT(owner.boxes.boxes, SizeIs(3));
  EXPECT_THAT(owner.boxes.boxes[0], HasSubstr("more than 0 bytes since"));
  EXPECT_THAT(owner.boxes.boxes[1], HasSubstr("more than 0% since"));
  EXPECT_THAT(owner.boxes.boxes[2], ::testing::StartsWith("Free disk space on /srv/data/"));
  // The command as the first alert substituted it stays for the rest of the run.
  EXPECT_THAT(owner.fields.notifyCommand, HasSubstr("more than 0 bytes since"));

  AlertRunOwner quiet;
  quiet.record = RecordWithTotal(5000, 5000);
  flags.freeAlert = 0;
  EXPECT_EQ(RunAutomatedSequence(flags, quiet), 0);
  EXPECT_THAT(quiet.boxes.boxes, IsEmpty());

  AlertRunOwner scanOnly;
  flags.alertSize = flags.alertPercent = flags.print = 0;
  EXPECT_EQ(RunAutomatedSequence(flags, scanOnly), 0);
  EXPECT_THAT(scanOnly.calls, ElementsAre("scan", "save"));
}

TEST(AutomatedRun, DataFileThatFailedEndsWithStatus4AndNoGrowthCheck) {
  AlertRunOwner owner;
  owner.dataFileFailed = true;  // the saved scans could not be read: nothing to compare with
  owner.fields.freeMinimum = 1000;
  CRunFlags flags;
  flags.automated = flags.scan = flags.save = 1;
  flags.alertSize = flags.alertPercent = flags.freeAlert = 1;
  EXPECT_EQ(RunAutomatedSequence(flags, owner), kExitDataFileFailed);
  ASSERT_THAT(owner.boxes.boxes, SizeIs(1));  // the free space needs no saved scan
  EXPECT_THAT(owner.boxes.boxes[0], ::testing::StartsWith("Free disk space on /srv/data/"));

  AlertRunOwner saveOnly;
  saveOnly.dataFileFailed = true;
  CRunFlags save;
  save.automated = save.scan = save.save = 1;
  EXPECT_EQ(RunAutomatedSequence(save, saveOnly), kExitDataFileFailed);
}

}  // namespace
}  // namespace varnow
