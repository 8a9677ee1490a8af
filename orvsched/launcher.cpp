#include "orvsched/launcher.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/process.h"

namespace orvsched {

namespace {

bool IsExecutableFile(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

// The folders a program without "/" is looked for in, as the start searches them.
std::vector<std::string> SearchPath() {
  const char* path = std::getenv("PATH");
  const std::string folders = path ? path : "/bin:/usr/bin";
  std::vector<std::string> list;
  for (std::size_t start = 0;;) {
    const std::size_t colon = folders.find(':', start);
    const std::string folder = folders.substr(start, colon - start);
    list.push_back(folder.empty() ? "." : folder);  // an empty entry is the current folder
    if (colon == std::string::npos) break;
    start = colon + 1;
  }
  return list;
}

}  // namespace

bool CProcessLauncher::Start(const std::string& cmdLine, bool /*runMinimized*/) {
  std::vector<std::string> arguments;
  for (const platform::CCommandToken& token : platform::SplitCommandLine(cmdLine, true)) arguments.push_back(token.text);
  return platform::StartDetached(arguments);
}

bool NamesStartableProgram(const std::string& cmdLine) {
  const std::vector<platform::CCommandToken> tokens = platform::SplitCommandLine(cmdLine);
  if (tokens.empty()) return false;
  const std::string& program = tokens.front().text;
  if (program.find('/') != std::string::npos) return IsExecutableFile(program);
  const std::vector<std::string> folders = SearchPath();
  return std::any_of(folders.begin(), folders.end(),
                     [&](const std::string& folder) { return IsExecutableFile(folder + "/" + program); });
}

}  // namespace orvsched
