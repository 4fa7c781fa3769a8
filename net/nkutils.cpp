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

TTempFileStream::TTempFileStream()
    : TFileStream(GetTempFileName(GetTempPath(), "px"), TFileMode::fmCreate) {}

TTempFileStream::~TTempFileStream() {
  // The descriptor is still open here; on POSIX the name can go first all the same.
  std::remove(FileName().c_str());
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

const std::string TLineStream::kLineStreamEnd(4, '\xFF');

size_t TLineStream::Find(char c, size_t from, Hit& hit) const {
  const std::string& data = Data();
  bool valid = hit.size == data.size() && hit.from <= from && from <= hit.at;
  if (!valid) {
    const void* p = std::memchr(data.data() + from, c, data.size() - from);
    hit = {from, p ? static_cast<size_t>(static_cast<const char*>(p) - data.data())
                   : std::string::npos,
           data.size()};
  }
  return hit.at;
}

void TLineStream::ReadLine(std::string& line) {
  const std::string& data = Data();
  int64_t pos = Position();
  if (eof_ || pos < 0 || static_cast<size_t>(pos) >= data.size()) {
    eof_ = true;
    line = kLineStreamEnd;
    return;
  }
  size_t start = static_cast<size_t>(pos);
  size_t end = std::min(Find('\r', start, cr_), Find('\n', start, lf_));
  size_t next = end;
  if (end == std::string::npos) {
    end = next = data.size();
  } else {
    next = end + 1;
    if (data[end] == '\r' && next < data.size() && data[next] == '\n') ++next;
  }
  line.assign(data, start, end - start);
  SetPosition(static_cast<int64_t>(next));
}

void TLineStream::Reset() {
  eof_ = false;
  cr_ = lf_ = Hit{};
  SetPosition(0);
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
