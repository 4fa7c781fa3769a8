#include "net/nkutils.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "platform/tempfiles.h"
#include "toolkit/pump.h"
#include "toolkit/strtable.h"

ECanceledError::ECanceledError() : Exception(LoadStr(sOperationCanceled)) {}

ETimedOutError::ETimedOutError() : Exception(LoadStr(sOperationTimedOut)) {}

// ---------------------------------------------------------------------------------------------

TTempFileStream::TTempFileStream() : TFileStream(CreateUnnamedTempFile(GetTempPath()), GetTempPath() + "px") {}

TTempFileStream::~TTempFileStream() {
  // Freeing the blocks of a file of a hundred megabytes takes the kernel most of a tenth of a
  // second: the file is shrunk in steps, with the window's messages dispatched between them.
  constexpr int64_t kStep = 16 << 20;
  try {
    for (int64_t size = Size() - kStep; size > 0; size -= kStep) {
      SetSize(size);
      ProcessMessages();
    }
  } catch (const std::exception&) {
    // Closing frees whatever is left.
  }
}

// ---------------------------------------------------------------------------------------------

TTimeCounter::TTimeCounter() {
  timer_.SetEnabled(false);
  timer_.SetInterval(1000);
  timer_.OnTimer = [this] { Tick(); };
}

void TTimeCounter::Start() {
  remaining_ = static_cast<int32_t>(timeOut_);
  timer_.SetEnabled(true);
}

void TTimeCounter::Stop() { timer_.SetEnabled(false); }

void TTimeCounter::Tick() {
  if (--remaining_ <= 0) timedOut_ = true;
}

// ---------------------------------------------------------------------------------------------

bool TReceivedLines::TakeLine(std::string& raw) {
  const char* start = bytes_.data() + start_;
  const size_t window = std::min(bytes_.size() - start_, maxLineLength_);
  const auto* lf = static_cast<const char*>(std::memchr(start, '\n', window));
  if (lf == nullptr) return false;
  const size_t length = static_cast<size_t>(lf - start) + 1;
  raw.assign(start, length);
  start_ += length;
  if (start_ == bytes_.size() || start_ >= maxLineLength_) {
    bytes_.erase(0, start_);
    start_ = 0;
  }
  return true;
}

void TReceivedLines::Clear() {
  bytes_.clear();
  start_ = 0;
}
