#include "app/batch/batchcountdown.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <cmath>
#include <string>

#include "app/batch/batchrunner.h"

namespace {
// A pause tick is two sleeps of this length with message processing between them.
constexpr int kHalfTickMs = 250;
}  // namespace

bool TBatchCountdown::Pause(int seconds) {
  view_.SetLabel(TBatchLabel::RemaindL, std::to_string(seconds));
  for (long long ticks = 2LL * seconds; ticks > 0;) {
    clock_->Sleep(kHalfTickMs);
    PumpFourTimes();
    clock_->Sleep(kHalfTickMs);
    --ticks;
    if (cancelRequested_) return false;
    view_.SetLabel(TBatchLabel::RemaindL, std::to_string(ticks / 2) + batchtext::kSecondsSuffix);
    PumpFourTimes();
  }
  return true;
}

bool TBatchCountdown::CountDown(double seconds, const std::function<void(int secondsLeft)>& eachSecond) {
  using Clock = TBatchClock::Clock;
  const auto end = clock_->Now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
  for (;;) {
    const long long leftMs = std::chrono::ceil<std::chrono::milliseconds>(end - clock_->Now()).count();
    const int leftSeconds = static_cast<int>((std::max(leftMs, 0LL) + 999) / 1000);
    view_.SetLabel(TBatchLabel::RemaindL, std::to_string(leftSeconds) + batchtext::kSecondsSuffix);
    eachSecond(leftSeconds);
    if (leftMs <= 0) return true;
    clock_->Sleep(static_cast<int>(std::min<long long>(leftMs, kHalfTickMs)));
    PumpFourTimes();
    if (cancelRequested_) return false;
  }
}

void TBatchCountdown::PumpFourTimes() {
  for (int i = 0; i < 4; ++i) host_.ProcessMessages();
}

int PauseFromValue(double seconds) {
  if (std::isnan(seconds)) return 0;
  return static_cast<int>(std::clamp(std::trunc(seconds), double{INT_MIN}, double{INT_MAX}));
}
