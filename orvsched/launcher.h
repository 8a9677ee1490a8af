// Starting a task's program: the command line is split into arguments by the one splitter that
// the tracker uses too (double quotes group, tripled quotes stand for one) and the program is
// started detached, never through a shell. The scheduler does not wait for it.
#pragma once

#include <string>

namespace orvsched {

class CTaskLauncher {
 public:
  virtual ~CTaskLauncher() = default;
  // False when the program could not be started.
  virtual bool Start(const std::string& cmdLine, bool runMinimized) = 0;
};

class CProcessLauncher : public CTaskLauncher {
 public:
  // Desktop programs have no "start minimized" that a launcher can ask for, so the flag is
  // carried but not acted on.
  bool Start(const std::string& cmdLine, bool runMinimized) override;
};

// Whether the command line names a program that can be started: its first word is an
// executable file, found on PATH when it has no "/" (as the start looks for it).
bool NamesStartableProgram(const std::string& cmdLine);

}  // namespace orvsched
