// What a batch needs of the program around it, by what it is for: showing the batch, asking the
// user, and the event loop with the program's end. The window and mailcart-send each implement
// all three; a batch reads its request once, given to TBatchRunner::Run.
#pragma once

#include <cstdint>
#include <exception>
#include <string>
#include <vector>

#include "app/batch/batchjournal.h"
#include "app/batch/batchstatus.h"
#include "app/batch/sizecheck.h"
#include "toolkit/secret.h"

enum class TBatchLabel { SFileShowL, StateL, RemaindL };

class TBatchView {
 public:
  virtual ~TBatchView() = default;
  // The text must be visible at once, also while the thread then stays busy in a send.
  virtual void SetLabel(TBatchLabel label, const std::string& text) = 0;
  // Returns when the user has closed it.
  virtual void ShowInformation(const std::string& text) = 0;
  // Something the batch could not do that does not stop it (an old journal left in place).
  virtual void ShowWarning(const std::string& text) { SetLabel(TBatchLabel::StateL, text); }
  // The files a batch could not send (KeepGoing) or the server may hold, at its end.
  virtual void ShowFailures(const std::string& text) { ShowInformation(text); }
  // The batch's list changed: file index (its state, its progress), or the whole list (-1) at
  // the start and the end. Called often while a file is sent: a front end paints at its pace.
  virtual void StatusChanged(const TBatchStatus& /*status*/, int /*index*/) {}
  // The error that ended a batch; returns when the user has closed its box.
  virtual void ShowError(const std::exception& error) = 0;
};

class TBatchQuestions {
 public:
  virtual ~TBatchQuestions() = default;
  // Files the journals record as sent to this server and recipient already: SendAgain sends
  // them all the same, Skip leaves them out, Cancel sends nothing.
  enum class TSentBeforeChoice { SendAgain, Skip, Cancel };
  virtual TSentBeforeChoice SentBefore(const std::vector<TSentBefore>& /*files*/) {
    return TSentBeforeChoice::SendAgain;
  }
  // Files whose message is larger than the server takes (limit: bytes), asked before the first
  // file goes unless the batch keeps going (which skips them): SendOthers skips them, Cancel
  // sends nothing, Refuse ends the batch with the error that names them.
  enum class TTooLargeChoice { SendOthers, Cancel, Refuse };
  virtual TTooLargeChoice TooLarge(const std::vector<TTooLarge>& /*files*/, uint64_t /*limit*/) {
    return TTooLargeChoice::Refuse;
  }
  // Asked once a batch starts, for an account with a user that logs in with a password; the
  // batch wipes it when it ends. A front end that has none raises the error to show.
  virtual TSecret Password() { return {}; }
};

class TBatchHost {
 public:
  virtual ~TBatchHost() = default;
  virtual void ProcessMessages() = 0;
  // After a batch that was asked to end the program has ended, however it ended.
  virtual void CloseApplication() = 0;
};

struct TBatchFrontEnd {
  TBatchView& view;
  TBatchQuestions& questions;
  TBatchHost& host;
};
