#include "varnow/alerts/AutomatedRun.h"

#include <cstdio>

#include "platform/tracelog.h"

namespace varnow {

int RunAutomatedSequence(CRunFlags& flags, ICommandLineOwner& owner) {
  VN_TRACE("Automated");
  // Save only what the command line asks for: subdirectories only together with /SAVE.
  if (!flags.save) flags.saveSubdirs = 0;
  owner.SetSubDirSave(flags.saveSubdirs);
  owner.SetAutoSave(flags.save);

  if (flags.scan) {
    owner.CommandLineFields().automatedRun = 1;
    owner.OnScan();
    owner.CommandLineFields().automatedRun = 0;
  }
  if (flags.save) owner.OnSave();

  bool alertFired = false;
  if (flags.alertSize || flags.alertPercent || flags.freeAlert) {
    CAlertRun run = owner.AlertRun();
    alertFired = RunAlertChecks(flags, run);
    // A notification replaced the command by the one it ran; the rest of the run sees that.
    owner.CommandLineFields().notifyCommand = run.notifyCommand;
  }

  // The printed report belongs here, after the checks. Until it exists, its switch is parsed
  // and traced, and the run says on its error output that it did not print.
  if (flags.print) {
    VN_TRACE("Printing is not available in this version");
    std::fputs("varnow: printing is not available in this version\n", stderr);
  }
  return alertFired ? kExitAlertFired : 0;
}

}  // namespace varnow
