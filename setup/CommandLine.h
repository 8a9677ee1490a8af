// The command line of setup: "UNINSTALL" anywhere in it (any case) asks for the uninstall, and
// an argument "/DIR=folder" (the name in any case, the folder as written) answers the directory
// question in advance.
#pragma once

#include "setup/SetupScript.h"

#include <optional>
#include <string>

namespace setup {

struct CSetupCommandLine {
  SetupMode mode = SetupMode::kInstall;
  std::optional<std::string> directory;
};

CSetupCommandLine ParseSetupCommandLine(int argc, const char* const* argv);

}  // namespace setup
