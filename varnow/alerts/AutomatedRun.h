// The unattended run that the command line asks for: scan and save on the main window object,
// without ever creating its window.
#pragma once

#include "varnow/alerts/CommandLine.h"

namespace varnow {

// Runs the automated sequence for the flags of the second pass. Settings the sequence changes
// (auto-save, save-subdirectories) change only the owner's in-memory copies.
void RunAutomatedSequence(CRunFlags& flags, ICommandLineOwner& owner);

}  // namespace varnow
