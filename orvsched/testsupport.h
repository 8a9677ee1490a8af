// Stand-ins for the scheduler's clock, program launcher and start-up entry, for tests that
// drive schedules without waiting and without starting programs.
#pragma once

#include "orvsched/clock.h"
#include "orvsched/launcher.h"
#include "orvsched/scheduledtask.h"
#include "orvsched/tasklist.h"

#include <QTemporaryDir>

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace orvsched::test {

class CFakeClock : public CClock {
 public:
  explicit CFakeClock(OleTime start) : m_ms(start.seconds * 1000) {}
  OleTime Now() override { return {m_ms / 1000, true}; }
  // Time passes only in waits; a signalled event ends the wait at once, and so does the
  // limit (time stops there, as if the wait had been woken).
  bool Wait(CWakeEvent& event, std::int64_t ms) override {
    if (onWait) onWait();
    if (event.IsSignalled()) return true;
    if (limitMs && m_ms + ms > *limitMs) {
      m_ms = *limitMs;
      return true;
    }
    m_ms += ms;
    return false;
  }
  std::optional<std::int64_t> limitMs;
  void Set(OleTime time) { m_ms = time.seconds * 1000; }
  std::function<void()> onWait;

 private:
  std::int64_t m_ms;
};

struct Launch {
  std::string cmdLine;
  OleTime at;
};

class CRecordingLauncher : public CTaskLauncher {
 public:
  explicit CRecordingLauncher(CClock& clock) : m_clock(clock) {}
  bool Start(const std::string& cmdLine, bool) override {
    if (fails) return false;
    launches.push_back({cmdLine, m_clock.Now()});
    return true;
  }
  std::vector<Launch> launches;
  bool fails = false;  // every start fails, as for a program that has gone

 private:
  CClock& m_clock;
};

class CFakeStartupEntry : public IStartupEntry {
 public:
  bool Register() override { return registered = true; }
  bool Unregister() override {
    registered = false;
    return true;
  }
  bool registered = false;
};

inline TASK_TRIGGER Trigger(std::uint32_t type, int year, int month, int day, int hour, int minute) {
  TASK_TRIGGER t;
  t.cbTriggerSize = sizeof(TASK_TRIGGER);
  t.TriggerType = type;
  t.wBeginYear = std::uint16_t(year);
  t.wBeginMonth = std::uint16_t(month);
  t.wBeginDay = std::uint16_t(day);
  t.wStartHour = std::uint16_t(hour);
  t.wStartMinute = std::uint16_t(minute);
  return t;
}

inline ScheduledTask Task(std::uint32_t id, const TASK_TRIGGER& trigger, std::string cmdLine = "run") {
  ScheduledTask task;
  task.taskType = taskmgr::atEXECUTE;
  task.cmdLine = std::move(cmdLine);
  task.trigger = trigger;
  task.description = "task";
  task.taskID = id;
  return task;
}

}  // namespace orvsched::test
