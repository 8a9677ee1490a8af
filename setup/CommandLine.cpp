#include "setup/CommandLine.h"

#include <strings.h>

#include <algorithm>
#include <cctype>

namespace setup {

CSetupCommandLine ParseSetupCommandLine(int argc, const char* const* argv) {
  CSetupCommandLine result;
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    if (strncasecmp(argument.c_str(), "/DIR=", 5) == 0) {
      result.directory = argument.substr(5);
      continue;
    }
    std::string upper = argument;
    std::transform(upper.begin(), upper.end(), upper.begin(), [](unsigned char c) { return std::toupper(c); });
    if (upper.find("UNINSTALL") != std::string::npos) result.mode = SetupMode::kUninstall;
  }
  return result;
}

}  // namespace setup
