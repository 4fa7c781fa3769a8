// Buffered output of the composer: lines and encoded blocks gather in memory and reach the
// stream in large writes, never a line or a byte at a time.
#pragma once

#include <string>
#include <string_view>

class TStream;

class TpxOutBuffer {
 public:
  static constexpr size_t kFlushSize = 64 * 1024;

  void SetStream(TStream* stream);
  // The text followed by CR LF, whole: no byte of it is changed or dropped.
  void WriteLine(std::string_view text);
  // Where encoders append their output; call Written() after each append.
  std::string& Pending() { return pending_; }
  // Passes the pending bytes on once they fill a block.
  void Written() {
    if (pending_.size() >= kFlushSize) Flush();
  }
  // Passes on everything pending; a write error of the stream propagates.
  void Flush();
  // True when nothing has been written yet or the last byte written ends a line.
  bool AtLineStart() const { return pending_.empty() ? lastFlushedEndsLine_ : pending_.back() == '\n'; }

 private:
  TStream* stream_ = nullptr;
  std::string pending_;
  bool lastFlushedEndsLine_ = true;
};
