// The spans a batch holds things for, and lets them go at their end however it ends.
#pragma once

class TpxMessage;
class TpxSMTP;

// The span of one batch: the active flag is set, and whichever way the batch ends the flag is
// cleared, the last file's bytes are let go (the program may sit idle for hours) and the
// password is wiped.
class TBatchScope {
 public:
  TBatchScope(bool& active, TpxMessage& message, TpxSMTP& smtp);
  ~TBatchScope();
  TBatchScope(const TBatchScope&) = delete;
  TBatchScope& operator=(const TBatchScope&) = delete;

 private:
  bool& active_;
  TpxMessage& message_;
  TpxSMTP& smtp_;
};
