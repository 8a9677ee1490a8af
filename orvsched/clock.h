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

// For tests of the whole system only: a clock that runs `rate` times faster than the wall clock,
// starting from the wall-clock time when it is made, so that a test sees minutes of schedule
// pass in seconds. The server uses it only when asked (see main.cpp); it is off by default.
class CScaledClock : public CClock {
 public:
  explicit CScaledClock(double rate);
  OleTime Now() override;
  // Waits the scaled span in real time (at least 1 ms).
  bool Wait(CWakeEvent& event, std::int64_t ms) override;

 private:
  double m_rate;
  OleTime m_start;
  std::chrono::steady_clock::time_point m_realStart;
};

}  // namespace orvsched
