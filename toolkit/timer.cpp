#include "toolkit/timer.h"

#include <QTimer>

TTimer::TTimer() : timer_(std::make_unique<QTimer>()) {
  QObject::connect(timer_.get(), &QTimer::timeout, [this] {
    if (OnTimer) OnTimer();
  });
}

TTimer::~TTimer() = default;

void TTimer::SetInterval(int ms) {
  interval_ = ms;
  Update();
}

void TTimer::SetEnabled(bool enabled) {
  enabled_ = enabled;
  Update();
}

void TTimer::Update() {
  if (enabled_ && interval_ > 0)
    timer_->start(interval_);
  else
    timer_->stop();
}
