#include "setup/ConsolePrompts.h"

#include <poll.h>
#include <unistd.h>

#include <cstdio>
#include <iostream>

#include "platform/asciicase.h"

namespace setup {
namespace {

// The first letter of a reply line, lower case; 0 for none. A terminal is waited for; anything
// else only briefly, so that a script whose input stays open never hangs setup.
char ReadReply() {
  if (!::isatty(STDIN_FILENO)) {
    pollfd input{STDIN_FILENO, POLLIN, 0};
    if (::poll(&input, 1, 1000) <= 0) return 0;
  }
  std::string line;
  if (!std::getline(std::cin, line)) return 0;
  const auto first = line.find_first_not_of(" \t");
  return first == std::string::npos ? 0 : platform::AsciiLower(line[first]);
}

}  // namespace

void CConsolePrompts::ShowScreen(const std::string& caption) { std::fprintf(stderr, "%s\n", caption.c_str()); }

std::optional<std::string> CConsolePrompts::AskDirectory(const std::string&, const std::string& proposal) {
  const std::string directory = m_directory.value_or(proposal);
  std::fprintf(stderr, "Application directory: %s\n", directory.c_str());
  return directory;
}

CopyErrorAnswer CConsolePrompts::AskCopyError(const std::string& caption, const std::string& text) {
  std::fprintf(stderr, "%s: %s\n[A]bort (default), [R]etry or [I]gnore? ", caption.c_str(), text.c_str());
  const char reply = ReadReply();
  std::fprintf(stderr, "%s\n", reply == 'r' ? "Retry" : reply == 'i' ? "Ignore" : "Abort");
  return reply == 'r' ? CopyErrorAnswer::kRetry : reply == 'i' ? CopyErrorAnswer::kIgnore : CopyErrorAnswer::kAbort;
}

bool CConsolePrompts::AskYesNo(const std::string& caption, const std::string& text, DefaultAnswer defaultAnswer) {
  const bool yesByDefault = defaultAnswer == DefaultAnswer::kYes;
  std::fprintf(stderr, "%s: %s\n%s? ", caption.c_str(), text.c_str(),
               yesByDefault ? "[Y]es (default) or [N]o" : "[Y]es or [N]o (default)");
  const char reply = ReadReply();
  const bool yes = yesByDefault ? reply != 'n' : reply == 'y';
  std::fprintf(stderr, "%s\n", yes ? "Yes" : "No");
  return yes;
}

void CConsolePrompts::ShowMessage(const std::string& caption, const std::string& text, MessageIcon) {
  std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
}

void CConsolePrompts::OpenDocument(const std::string& path) {
  std::fprintf(stderr, "Please read %s\n", path.c_str());
}

}  // namespace setup
