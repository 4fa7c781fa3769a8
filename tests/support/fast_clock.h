// A batch clock whose time passes at once: a pause or a count-down of seconds takes none, while
// the runner still sees every tick, and the events are dispatched at each.
#pragma once

#include "app/batch/batchclock.h"
#include "toolkit/pump.h"

class FastClock : public TBatchClock {
 public:
  Clock::time_point Now() const override { return now_; }
  void Sleep(int ms) override {
    now_ += std::chrono::milliseconds(ms);
    ProcessMessagesNow();
  }

 private:
  Clock::time_point now_ = Clock::now();
};
