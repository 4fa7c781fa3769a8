// SIGINT and SIGTERM for mailcart-send: blocked before any thread starts, so no thread takes them
// the ordinary way, and waited for by one thread of their own from the program's start. Before
// a batch runs, one ends the program at once; during a batch the first cancels it through the
// event loop (the message in progress is finished) and a second ends the program at once: every
// file accepted so far is in the journal already, which is written line by line. While a watch
// runs, the first also makes the stop descriptor readable, which the watch waits on.
#pragma once

#include <csignal>

#include <atomic>

class TBatchRunner;

class TStopSignals {
 public:
  TStopSignals();
  TStopSignals(const TStopSignals&) = delete;
  TStopSignals& operator=(const TStopSignals&) = delete;

  // The batch that the first signal cancels; nullptr: none.
  void Watch(TBatchRunner* runner) { runner_.store(runner); }
  // A watch runs (a first signal stops it instead of ending the program), or no longer does.
  void WatchFolder(bool watching) { watching_.store(watching); }
  // Readable once a signal came while a watch ran; never read.
  int StopDescriptor() const { return stopFd_; }

 private:
  void Wait();

  sigset_t set_;
  int stopFd_ = -1;
  std::atomic<bool> watching_{false};
  std::atomic<TBatchRunner*> runner_{nullptr};
};
