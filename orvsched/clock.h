// Time for the scheduler: the one place that reads the wall clock and sleeps, so tests can put
// a clock of their own in its place and run a day of schedules without waiting for it.
#pragma once

#include "orvsched/oledate.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace orvsched {

// Manual-reset event: stays signalled until Reset.
class CWakeEvent {
 public:
  void Signal();
  void Reset();
  bool IsSignalled() const;
  // Waits until signalled or until the system clock reaches `deadline`; true when signalled.
  bool WaitUntil(std::chrono::system_clock::time_point deadline);

 private:
  mutable std::mutex m_mutex;
  std::condition_variable m_cv;
  bool m_signalled = false;
};

class CClock {
 public:
  virtual ~CClock() = default;
  // The local wall-clock time to the second.
  virtual OleTime Now() = 0;
  // Waits on `event` for at most `ms` milliseconds; true when the event ended the wait.
  virtual bool Wait(CWakeEvent& event, std::int64_t ms) = 0;
};

class CSystemClock : public CClock {
 public:
  OleTime Now() override;
  // Measured on the real-time clock, so time spent suspended counts towards the wait.
  bool Wait(CWakeEvent& event, std::int64_t ms) override;
};

}  // namespace orvsched
