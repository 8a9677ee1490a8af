// Starting a task's program: the command line is split into arguments by the one splitter that
// the tracker uses too (double quotes group, tripled quotes stand for one) and the program is
// started detached, never through a shell. The scheduler does not wait for it.
#pragma once

#include <string>

namespace orvsched {

class CTaskLauncher {
 public:
  virtual ~CTaskLauncher() = default;
  // Failures are not reported: a task that could not start still counts as run.
  virtual void Start(const std::string& cmdLine, bool runMinimized) = 0;
};

class CProcessLauncher : public CTaskLauncher {
 public:
  // Desktop programs have no "start minimized" that a launcher can ask for, so the flag is
  // carried but not acted on.
  void Start(const std::string& cmdLine, bool runMinimized) override;
};

}  // namespace orvsched
