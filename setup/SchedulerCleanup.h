// The scheduler's part of an uninstall: the tracker's scheduled tasks go through the scheduler
// itself (its store is shared with other installs and written only by it), and its interface
// description goes when no other install's scheduler is registered. Behind an interface, so
// that a setup run needs no bus and tests can look at what was asked.
#pragma once

#include <optional>
#include <string>

namespace setup {

class ISchedulerCleanup {
 public:
  virtual ~ISchedulerCleanup() = default;
  // Deletes the tracker's tasks whose program lies in folder; how many, or nullopt when the
  // scheduler could not be reached.
  virtual std::optional<int> DeleteTasksIn(const std::string& folder) = 0;
  // Removes the interface description unless a scheduler outside folder is registered; the
  // path removed, or empty when it stays (or there was none).
  virtual std::string RemoveInterfaceDescription(const std::string& folder) = 0;
};

}  // namespace setup
