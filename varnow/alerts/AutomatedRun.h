// The unattended run that the command line asks for: scan, save, alert checks and report, on
// the main window object, without ever creating its window.
#pragma once

#include "varnow/alerts/CommandLine.h"

namespace varnow {

// Exit status of an automated run whose alert fired.
inline constexpr int kExitAlertFired = 3;

// Runs the automated sequence for the flags of the second pass. Settings the sequence changes
// (auto-save, save-subdirectories) change only the owner's in-memory copies. Returns the run's
// exit status: kExitAlertFired when an alert check fired, 0 otherwise.
int RunAutomatedSequence(CRunFlags& flags, ICommandLineOwner& owner);

}  // namespace varnow
