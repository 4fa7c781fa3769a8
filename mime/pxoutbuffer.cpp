#include "mime/pxoutbuffer.h"

#include "toolkit/streams.h"

void TpxOutBuffer::SetStream(TStream* stream) {
  stream_ = stream;
  pending_.reserve(3 * kFlushSize);
}

void TpxOutBuffer::WriteLine(std::string_view text) {
  pending_.append(text);
  pending_.append("\r\n");
  Written();
}

void TpxOutBuffer::Flush() {
  if (pending_.empty()) return;
  lastFlushedEndsLine_ = pending_.back() == '\n';
  // Emptied also when the write fails: the bytes are not offered a second time.
  struct Emptier {
    std::string& s;
    ~Emptier() { s.clear(); }
  } emptier{pending_};
  stream_->WriteBuffer(pending_.data(), static_cast<int64_t>(pending_.size()));
}
