// When a task is next due, computed afresh from its trigger each time the scheduler looks.
#pragma once

#include "orvsched/oledate.h"
#include "orvsched/scheduledtask.h"

#include <cstdint>
#include <optional>

namespace orvsched {

struct RunContext {
  OleTime now;
  std::uint16_t sessionNumber = 0;
  // When the scheduler last reached this task without starting it (disabled): counts like a
  // last run for the threshold, so a passed-over occurrence is not offered again at once.
  std::optional<OleTime> lastPassedOver;
  // Start-up and log-on tasks run only while this holds (the scheduler's start-up round).
  bool startupRound = true;
};

// Occurrences earlier than this are past: one just run is not due again, one that fell due
// within the last minute and has not run still is.
OleTime Threshold(const LastRun& lastRun, const RunContext& context);

// The next run time, or nullopt when the trigger can never run (unusable size or type, a
// begin date that is no date, intervals that cannot step, no day that matches).
std::optional<OleTime> NextRunTime(const ScheduledTask& task, const RunContext& context);

// A time the task will not reach in this session (start-up tasks that have had their run).
OleTime NotThisSession();

}  // namespace orvsched

namespace orvsched {

// Whether a trigger can ever fire: a size, a known type, and for timed triggers a begin date
// and time that exist, intervals that step forward, days, weeks and months that can match,
// and an occurrence after the begin time. The server refuses new tasks whose trigger fails
// this, so no task keeps the service and its autostart entry alive for nothing.
bool IsUsableTrigger(const TASK_TRIGGER& trigger);

}  // namespace orvsched
