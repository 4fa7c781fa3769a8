// SIGINT and SIGTERM for mailcart-send: blocked before any thread starts, so no thread takes them
// the ordinary way, and waited for by one thread of their own from the program's start. Before
// a batch runs, one ends the program at once; during a batch the first cancels it through the
// event loop (the message in progress is finished) and a second ends the program at once: every
// file accepted so far is in the journal already, which is written line by line.
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

 private:
  void Wait();

  sigset_t set_;
  std::atomic<TBatchRunner*> runner_{nullptr};
};
