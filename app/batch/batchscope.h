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

// The turn of one file: its message's attachment reads from the file's descriptor, so when the
// turn ends the attachment goes, and the descriptor and the file's lock with it.
class TFileScope {
 public:
  explicit TFileScope(TpxMessage& message) : message_(message) {}
  ~TFileScope();
  TFileScope(const TFileScope&) = delete;
  TFileScope& operator=(const TFileScope&) = delete;

 private:
  TpxMessage& message_;
};
