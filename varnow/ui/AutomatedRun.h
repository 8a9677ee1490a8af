// The unattended run that the command line asks for: scan, save, alert checks and report, on
// the main window object, without ever creating its window.
#pragma once

#include "varnow/alerts/AlertChecks.h"
#include "varnow/alerts/CommandLine.h"
#include "varnow/report/PrintJob.h"

namespace varnow {

// What the automated sequence drives: the main window object, without its window.
class IAutomatedRunOwner : public ICommandLineOwner {
 public:
  virtual void SetSubDirSave(int subDirSave) = 0;
  virtual void OnScan() = 0;
  virtual void OnSave() = 0;
  // What the alert checks read after the scan: the session's record, directory and free space,
  // the display unit, the thresholds and notification command, and where a box goes. Without a
  // record and a free-space query no check can fire.
  virtual CAlertRun AlertRun() { return {}; }
  // What the report printed at the end of the run is made of; nullptr: nothing can be printed.
  virtual IPrintOwner* PrintOwner() { return nullptr; }
};

// Exit status of an automated run whose alert fired.
inline constexpr int kExitAlertFired = 3;

// Runs the automated sequence for the flags of the second pass. Settings the sequence changes
// (auto-save, save-subdirectories) change only the owner's in-memory copies. Returns the run's
// exit status: kExitAlertFired when an alert check fired, 0 otherwise.
int RunAutomatedSequence(CRunFlags& flags, IAutomatedRunOwner& owner);

}  // namespace varnow
