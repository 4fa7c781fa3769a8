// The clock of a batch's pauses and retry count-downs. The real one sleeps with the window's
// events dispatched meanwhile; a test gives one whose time passes at once.
#pragma once

#include <chrono>

class TBatchClock {
 public:
  using Clock = std::chrono::steady_clock;
  virtual ~TBatchClock() = default;
  virtual Clock::time_point Now() const { return Clock::now(); }
  // Waits ms milliseconds, events dispatched meanwhile.
  virtual void Sleep(int ms);
};
