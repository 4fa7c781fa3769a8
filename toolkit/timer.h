// A timer that ticks from the event loop, like a window timer: ticks arrive only while the
// thread dispatches events.
#pragma once

#include <functional>
#include <memory>

class QTimer;

class TTimer {
 public:
  TTimer();
  ~TTimer();
  TTimer(const TTimer&) = delete;
  TTimer& operator=(const TTimer&) = delete;

  int Interval() const { return interval_; }
  void SetInterval(int ms);
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool enabled);
  std::function<void()> OnTimer;

 private:
  void Update();
  std::unique_ptr<QTimer> timer_;
  int interval_ = 1000;
  bool enabled_ = false;
};
