// The waits of a batch: the pause after a message, and the count-down before a file is tried
// again. Each is told to the front end's count-down label as it goes, waits on the batch's clock
// with the events dispatched meanwhile, and ends early at a cancel.
#pragma once

#include <functional>

#include "app/batch/batchclock.h"
#include "app/batch/batchfrontend.h"

class TBatchCountdown {
 public:
  // cancelRequested: the batch's flag, read at every tick.
  TBatchCountdown(TBatchFrontEnd frontEnd, const bool& cancelRequested)
      : view_(frontEnd.view), host_(frontEnd.host), cancelRequested_(cancelRequested) {}
  // The clock from now on; the real one unless a test gives another.
  void SetClock(TBatchClock& clock) { clock_ = &clock; }
  const TBatchClock& Clock() const { return *clock_; }
  // The label shows the whole seconds first ("10"), then "9 sec." and on; false when a cancel
  // ended it.
  bool Pause(int seconds);
  // Waits seconds (a fraction too), the label showing "N sec." as they run out and eachSecond
  // told of every change; false when a cancel ended it.
  bool CountDown(double seconds, const std::function<void(int secondsLeft)>& eachSecond);

 private:
  void PumpFourTimes();

  TBatchView& view_;
  TBatchHost& host_;
  const bool& cancelRequested_;
  TBatchClock realClock_;
  TBatchClock* clock_ = &realClock_;
};

// The pause of a batch in whole seconds: truncated toward zero (7.8 gives 7, -1.5 gives -1).
int PauseFromValue(double seconds);
