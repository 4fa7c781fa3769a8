// The waits of a batch as mailcart-send tells them: the pause after a message and the count-down
// before a retry, followed through the runner's count-down label. A pause starts with its whole
// seconds alone ("10"); its later steps, and every step of a retry's count-down, end in " sec.".
#pragma once

#include <optional>
#include <string>

class TBatchWaits {
 public:
  // retries: how often a file is tried again at most.
  explicit TBatchWaits(int retries) : retries_(retries) {}
  // A count-down label; true when it starts a wait.
  bool CountDown(const std::string& text);
  // The batch has moved on (a state line, a try, the end): it waits no more.
  void End() {
    seconds_.reset();
    reason_.clear();
  }
  // The wait about to start is for this reason (the state line that says so), told instead of
  // its seconds alone.
  void Because(const std::string& reason) { reason_ = reason; }
  // The batch is at another file: its retries count from one again.
  void NextFile() { retry_ = 0; }
  bool Retrying() const { return seconds_ && retryWait_; }
  // "waiting 30 s before retry 2 of 3", "waiting 10 s", "REASON (600 s left)"; empty while
  // nothing is waited for.
  std::string Text() const;

 private:
  int retries_;
  int retry_ = 0;  // of the current file
  bool retryWait_ = false;
  std::optional<long> seconds_;  // left of the wait in progress
  std::string reason_;
};
