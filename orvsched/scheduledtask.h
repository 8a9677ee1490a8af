// The server's own record of one task, and its conversion from and to the record that
// crosses the bus. Texts are kept as UTF-8 bytes, the way the system keeps text in files.
#pragma once

#include "taskmgr/taskstruct.h"

#include <cstdint>
#include <string>

namespace orvsched {

using taskmgr::TASK_STRUCT;
using taskmgr::TASK_TRIGGER;

// The last run time as the task store keeps it: an automation date with a status word.
struct LastRun {
  double value = 0.0;
  std::uint32_t status = 1;  // 0 = valid, 1 = invalid (never run)
  bool IsValid() const { return status == 0; }
  friend bool operator==(const LastRun&, const LastRun&) = default;
};

struct ScheduledTask {
  std::uint32_t taskType = taskmgr::atNONE;
  std::string cmdLine;
  TASK_TRIGGER trigger;
  std::string description;
  std::uint32_t taskOwner = taskmgr::toNONE;
  std::uint8_t bRunMinimized = 0;
  LastRun lastRun;
  std::uint32_t taskID = 0;
};

// Copies everything but the identifier and the last run time, which start afresh.
ScheduledTask TaskFromStruct(const TASK_STRUCT& record, std::uint32_t taskID);
TASK_STRUCT StructFromTask(const ScheduledTask& task);

}  // namespace orvsched
