#include "toolkit/linestream.h"

#include <algorithm>
#include <cstring>

const std::string TLineStream::kLineStreamEnd(4, '\xFF');

size_t TLineStream::Find(char c, size_t from, Hit& hit) const {
  const std::string& data = Data();
  bool valid = hit.size == data.size() && hit.from <= from && from <= hit.at;
  if (!valid) {
    const void* p = std::memchr(data.data() + from, c, data.size() - from);
    hit = {from, p ? static_cast<size_t>(static_cast<const char*>(p) - data.data()) : std::string::npos, data.size()};
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
