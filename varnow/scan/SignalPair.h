// Two auto-reset events that one thread waits on together (first signalled wins, in order),
// with a time limit. Replaces a wait on two event handles.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace varnow {

class CSignalPair {
 public:
  enum Result { kFirst = 0, kSecond = 1, kTimeout = 2 };

  void Set(int which);
  // Waits until one is signalled (and resets it) or the time comes.
  Result WaitUntil(std::chrono::steady_clock::time_point deadline);

 private:
  std::mutex m_mutex;
  std::condition_variable m_cv;
  bool m_signalled[2] = {false, false};
};

}  // namespace varnow
