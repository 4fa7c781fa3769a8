#include "app/window/resumetimer.h"

#include <algorithm>
#include <ctime>

#include "app/batch/batchjournal.h"
#include "app/batch/quotawindow.h"

namespace {
// The wall clock is asked again at least this often: a timer does not count the time a suspended
// machine slept.
constexpr int64_t kLongestTimerSeconds = 10 * 60;
constexpr int64_t kBusyRetrySeconds = 60;

int64_t Now() { return static_cast<int64_t>(std::time(nullptr)); }
}  // namespace

TResumeTimer::TResumeTimer(std::function<bool()> busy, std::function<void()> offer)
    : busy_(std::move(busy)), offer_(std::move(offer)) {
  timer_.setSingleShot(true);
  QObject::connect(&timer_, &QTimer::timeout, [this] { Fire(); });
}

bool TResumeTimer::DueNow(const TJournal& journal, int64_t& resets) {
  timer_.stop();
  if (journal.end != TJournalEnd::Quota) return true;
  const std::optional<int64_t> at = JournalEpoch(journal.resets);
  if (!at || *at <= Now()) return true;
  resets = due_ = *at;
  Arm();
  return false;
}

void TResumeTimer::Arm() {
  const int64_t seconds = std::clamp<int64_t>(due_ - Now(), 0, kLongestTimerSeconds);
  timer_.start(static_cast<int>(seconds * 1000));
}

void TResumeTimer::Fire() {
  if (Now() < due_) return Arm();
  if (busy_()) {
    due_ = Now() + kBusyRetrySeconds;
    return Arm();
  }
  offer_();
}
