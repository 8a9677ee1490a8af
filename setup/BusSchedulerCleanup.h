// The scheduler's part of an uninstall over the session bus, through the task-manager
// interface as the tracker's alert dialog uses it.
#pragma once

#include "setup/SchedulerCleanup.h"

namespace setup {

class CBusSchedulerCleanup : public ISchedulerCleanup {
 public:
  std::optional<int> DeleteTasksIn(const std::string& folder) override;
  std::string RemoveInterfaceDescription(const std::string& folder) override;
};

// The program that an activation file's Exec line starts (the line is written with shell-like
// single quotes); empty when the text has none.
std::string ActivationProgram(const std::string& activationText);

}  // namespace setup
