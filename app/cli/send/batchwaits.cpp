#include "app/cli/send/batchwaits.h"

#include <cstdlib>

#include "app/batch/batchrunner.h"

bool TBatchWaits::CountDown(const std::string& text) {
  const long seconds = std::strtol(text.c_str(), nullptr, 10);
  if (seconds_) {
    seconds_ = seconds;
    return false;
  }
  const std::string_view suffix = batchtext::kSecondsSuffix;
  retryWait_ = text.size() >= suffix.size() && text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
  if (retryWait_) ++retry_;
  seconds_ = seconds;
  return true;
}

std::string TBatchWaits::Text() const {
  if (!seconds_ || *seconds_ <= 0) return {};
  if (!reason_.empty()) return reason_ + " (" + std::to_string(*seconds_) + " s left)";
  std::string text = "waiting " + std::to_string(*seconds_) + " s";
  if (retryWait_) text += " before retry " + std::to_string(retry_) + " of " + std::to_string(retries_);
  return text;
}
