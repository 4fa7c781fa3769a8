#include "net/tlschannel.h"

#include <algorithm>
#include <cstring>

TnkTlsChannel::TnkTlsChannel(const TnkTlsContext& context, const std::string& host, size_t maxLineLength)
    : session_(context, host), maxLineLength_(maxLineLength) {}

void TnkTlsChannel::Write(const char* data, size_t size, bool gather) {
  if (gather) {
    gathered_.append(data, size);
    if (gathered_.size() < kRecordSize) return;
  }
  // The text itself is never copied here: a line may carry a password.
  if (!gathered_.empty()) session_.Write(gathered_.data(), gathered_.size());
  gathered_.clear();
  if (!gather) session_.Write(data, size);
}

std::string TnkTlsChannel::TakeOutput() {
  std::string records = std::move(session_.Output());
  session_.Output().clear();
  return records;
}

std::string TnkTlsChannel::CloseNotify() {
  session_.Shutdown();
  return TakeOutput();
}

TnkTlsChannel::TRead TnkTlsChannel::NextLine(std::string& raw) {
  for (;;) {
    if (TakeLine(raw)) return TRead::Line;
    // The rest of an overlong line would be read as the next reply: the conversation is lost.
    if (text_.size() - textPos_ >= maxLineLength_) return TRead::TooLong;
    const size_t before = text_.size();
    const bool open = Decrypt();
    // The server's last words may come with its close_notify: they are read first.
    if (text_.size() != before) continue;
    return open ? TRead::NeedRecords : TRead::Ended;
  }
}

// What follows the line stays for the next read; the text before it is dropped in large steps
// only, so that a long reply of short lines is not moved once per line.
bool TnkTlsChannel::TakeLine(std::string& raw) {
  const size_t window = std::min(text_.size() - textPos_, maxLineLength_);
  const char* start = text_.data() + textPos_;
  const auto* lf = static_cast<const char*>(std::memchr(start, '\n', window));
  if (lf == nullptr) return false;
  const size_t length = static_cast<size_t>(lf - start) + 1;
  raw.assign(start, length);
  textPos_ += length;
  if (textPos_ == text_.size() || textPos_ >= maxLineLength_) {
    text_.erase(0, textPos_);
    textPos_ = 0;
  }
  return true;
}
