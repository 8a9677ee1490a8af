#include "varnow/ui/AutomatedRun.h"

#include "platform/tracelog.h"

namespace varnow {

int RunAutomatedSequence(CRunFlags& flags, IAutomatedRunOwner& owner) {
  VN_TRACE("Automated");
  // Save only what the command line asks for: subdirectories only together with /SAVE.
  if (!flags.save) flags.saveSubdirs = 0;
  owner.SetSubDirSave(flags.saveSubdirs);
  owner.SetAutoSave(flags.save);

  bool outputFailed = false;
  if (flags.importTree) {
    if (!owner.ImportTree()) return kExitBadCommandLine;
  } else if (flags.scan) {
    owner.CommandLineFields().automatedRun = 1;
    if (!flags.exportTree) owner.OnScan();
    else outputFailed = !owner.ExportScan();
    owner.CommandLineFields().automatedRun = 0;
  }
  if (flags.save) owner.OnSave();

  bool alertFired = false;
  if (flags.alertSize || flags.alertPercent || flags.freeAlert || flags.fullAlert) {
    CRunFlags checks = flags;
    if (owner.DataFileFailed() && (checks.alertSize || checks.alertPercent)) {
      VN_TRACE("No growth check: the saved scans could not be read");
      checks.alertSize = checks.alertPercent = 0;
    }
    CAlertRun run = owner.AlertRun();
    alertFired = RunAlertChecks(checks, run);
    // A notification replaced the command by the one it ran; the rest of the run sees that.
    owner.CommandLineFields().notifyCommand = run.notifyCommand;
  }

  if (flags.metrics && !owner.WriteMetrics()) outputFailed = true;
  if (flags.treemap && !owner.WriteTreemap()) VN_TRACE("The treemap was not written");

  if (flags.growth || flags.largest) {
    if (!flags.print) {
      owner.SetPrintDestination(PrintDestination::kFile);
      owner.SetPrintFilePath(kStandardOutputName);
    }
    if (flags.growth && !owner.PrintGrowthReport()) VN_TRACE("The growth report was not written");
    if (flags.largest && !owner.PrintLargestReport()) VN_TRACE("The largest files were not written");
  } else if (flags.print) {
    IPrintOwner* printOwner = owner.PrintOwner();
    if (printOwner) {
      PrintAutomated(*printOwner);
    } else {
      VN_TRACE("No report to print");
    }
  }
  if (owner.DataFileFailed()) return kExitDataFileFailed;
  if (outputFailed) return kExitOutputFailed;
  return alertFired ? kExitAlertFired : 0;
}

}  // namespace varnow
