#include "orvsched/launcher.h"

#include <string>
#include <vector>

#include "platform/process.h"

namespace orvsched {

void CProcessLauncher::Start(const std::string& cmdLine, bool /*runMinimized*/) {
  std::vector<std::string> arguments;
  for (const platform::CCommandToken& token : platform::SplitCommandLine(cmdLine, true)) arguments.push_back(token.text);
  platform::StartDetached(arguments);
}

}  // namespace orvsched
