// The command line of setup: "UNINSTALL" anywhere in an argument (any case) asks for the
// uninstall, and an argument "/DIR=folder" (the name in any case, the folder as written)
// answers the directory question in advance. "--help" and "-h" ask for the usage; any other
// argument is a mistake, shown with the usage, and nothing is installed.
#pragma once

#include "setup/SetupScript.h"

#include <optional>
#include <string>

namespace setup {

enum class SetupAction { kRun, kUsage, kBadArgument };

struct CSetupCommandLine {
  SetupAction action = SetupAction::kRun;
  SetupMode mode = SetupMode::kInstall;
  std::optional<std::string> directory;
  std::string badArgument;  // the first argument that is none of the above
};

CSetupCommandLine ParseSetupCommandLine(int argc, const char* const* argv);

// The usage text, ending in a line break.
std::string SetupUsage();

}  // namespace setup
