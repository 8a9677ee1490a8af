#include "varnow/alerts/AutomatedRun.h"

#include <cstdio>

#include "platform/tracelog.h"

namespace varnow {

void RunAutomatedSequence(CRunFlags& flags, ICommandLineOwner& owner) {
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

  // The size, percent and free-space checks (in that order) and then the printed report belong
  // here, after the save. Until they exist, their switches are parsed and traced, and the run
  // says on its error output that it did not check or print.
  if (flags.alertSize || flags.alertPercent || flags.freeAlert || flags.print) {
    VN_TRACE("Alert checks and printing are not available in this version");
    std::fputs("varnow: alert checks and printing are not available in this version\n", stderr);
  }
}

}  // namespace varnow
