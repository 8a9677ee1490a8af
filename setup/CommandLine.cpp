#include "setup/CommandLine.h"

#include "platform/asciicase.h"

#include <algorithm>

namespace setup {

CSetupCommandLine ParseSetupCommandLine(int argc, const char* const* argv) {
  CSetupCommandLine result;
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    if (platform::StartsWithIgnoringCase(argument, "/DIR=")) {
      result.directory = argument.substr(5);
      continue;
    }
    if (argument == "--help" || argument == "-h") {
      result.action = SetupAction::kUsage;
      return result;
    }
    if (platform::ToAsciiUpper(argument).find("UNINSTALL") != std::string::npos) {
      result.mode = SetupMode::kUninstall;
    } else if (result.action == SetupAction::kRun) {
      result.action = SetupAction::kBadArgument;
      result.badArgument = argument;
    }
  }
  return result;
}

std::string SetupUsage() {
  return "Usage: setup [/DIR=folder]\n"
         "       setup UNINSTALL\n"
         "\n"
         "Installs the product from the folder that holds setup, as its SETUP.INI says, or removes it\n"
         "again when the copy of setup in the installed folder runs with UNINSTALL.\n"
         "\n"
         "  /DIR=folder  install into this folder without asking for one; setup then runs in the\n"
         "               terminal, as it does without a display\n"
         "  UNINSTALL    remove the install that this setup belongs to\n"
         "  -h, --help   show this text and install nothing\n";
}

}  // namespace setup
