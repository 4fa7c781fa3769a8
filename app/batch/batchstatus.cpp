#include "app/batch/batchstatus.h"

#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {
// Below this the rate says more about the start-up than about the line.
constexpr double kMinRateSeconds = 1.0;

std::string FormatSeconds(double seconds) {
  const long long s = std::llround(seconds);
  char text[32];
  if (s < 60)
    std::snprintf(text, sizeof text, "%lld s", s);
  else if (s < 3600)
    std::snprintf(text, sizeof text, "%lld:%02lld min", s / 60, s % 60);
  else
    std::snprintf(text, sizeof text, "%lld:%02lld h", s / 3600, s / 60 % 60);
  return text;
}
}  // namespace

bool DealtWith(TFileState state) {
  return state == TFileState::Sent || state == TFileState::Failed || state == TFileState::Skipped ||
         state == TFileState::Uncertain;
}

bool CountsAsDone(TFileState state) { return DealtWith(state) && state != TFileState::Failed; }

const char* FileStateName(TFileState state) {
  switch (state) {
    case TFileState::Waiting: return "waiting";
    case TFileState::Sending: return "sending";
    case TFileState::Retrying: return "retrying";
    case TFileState::Sent: return "sent";
    case TFileState::Failed: return "failed";
    case TFileState::Skipped: return "skipped";
    case TFileState::Uncertain: return "uncertain";
  }
  return "";
}

std::string FormatBytes(uint64_t bytes) {
  static const char* const kUnits[] = {"KB", "MB", "GB"};
  if (bytes < 1024) return std::to_string(bytes) + " bytes";
  double value = static_cast<double>(bytes) / 1024;
  int unit = 0;
  while (value >= 1024 && unit < 2) {
    value /= 1024;
    ++unit;
  }
  char text[32];
  std::snprintf(text, sizeof text, "%.1f %s", value, kUnits[unit]);
  return text;
}

void TBatchStatus::Start(std::vector<TBatchFile> files, Clock::time_point now) {
  files_ = std::move(files);
  current_ = -1;
  cancelled_ = false;
  firstData_.reset();
  if (BytesSent() > 0) firstData_ = now;
  ++number_;
}

int TBatchStatus::Count(TFileState state) const {
  int count = 0;
  for (const TBatchFile& file : files_) count += file.state == state;
  return count;
}

uint64_t TBatchStatus::TotalBytes() const {
  uint64_t total = 0;
  for (const TBatchFile& file : files_) total += file.size;
  return total;
}

uint64_t TBatchStatus::BytesDone() const {
  uint64_t done = 0;
  for (const TBatchFile& file : files_) done += CountsAsDone(file.state) ? file.size : file.bytesDone;
  return done;
}

uint64_t TBatchStatus::BytesSent() const {
  uint64_t sent = 0;
  for (const TBatchFile& file : files_) sent += file.state == TFileState::Sent ? file.size : file.bytesDone;
  return sent;
}

std::optional<double> TBatchStatus::Rate(Clock::time_point now) const {
  const uint64_t sent = BytesSent();
  if (sent == 0) return std::nullopt;
  if (!firstData_) firstData_ = now;
  const double seconds = std::chrono::duration<double>(now - *firstData_).count();
  if (seconds < kMinRateSeconds) return std::nullopt;
  return static_cast<double>(sent) / seconds;
}

std::optional<double> TBatchStatus::SecondsLeft(Clock::time_point now) const {
  const std::optional<double> rate = Rate(now);
  if (!rate) return std::nullopt;
  uint64_t toGo = 0;
  for (const TBatchFile& file : files_)
    if (!DealtWith(file.state)) toGo += file.size - std::min(file.bytesDone, file.size);
  return static_cast<double>(toGo) / *rate;
}

std::string TBatchStatus::ProgressLine(Clock::time_point now) const {
  int dealtWith = 0;
  for (const TBatchFile& file : files_) dealtWith += DealtWith(file.state);
  const int shown = current_ >= 0 ? current_ + 1 : dealtWith;
  std::string line = "file " + std::to_string(shown) + " of " + std::to_string(files_.size()) + ", " +
                     FormatBytes(BytesDone()) + " of " + FormatBytes(TotalBytes());
  if (const std::optional<double> rate = Rate(now)) {
    line += ", " + FormatBytes(static_cast<uint64_t>(*rate)) + "/s";
    if (const std::optional<double> left = SecondsLeft(now)) line += ", " + FormatSeconds(*left) + " left";
  }
  return line;
}

std::string TBatchStatus::Summary() const {
  const int sent = Count(TFileState::Sent);
  if (cancelled_) return "Cancelled: " + std::to_string(sent) + " of " + std::to_string(files_.size()) + " files sent.";
  const int uncertain = Count(TFileState::Uncertain);
  return std::to_string(sent) + (sent == 1 ? " file" : " files") + " sent, " +
         std::to_string(Count(TFileState::Failed)) + " failed, " + std::to_string(Count(TFileState::Skipped)) +
         " skipped" + (uncertain > 0 ? ", " + std::to_string(uncertain) + " may have been delivered." : ".");
}
