// What mailcart-send tells of a batch besides its lines: the one updating progress line on a
// terminal, and the JSON report at the end.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "app/batch/batchstatus.h"

class TBatchRunner;

// The word for what became of a file once its batch has ended: "not reached" for one the batch
// never came to, "written" for a dry run's message, else the state's name ("sent", "failed", ...).
std::string OutcomeName(const TBatchFile& file, bool dryRun);

// One JSON document of the runner's last batch: the outcome of every file, the counts, whether
// the batch was cancelled, its journal (null when it kept none), the seconds it waited for the
// sending caps, and the provider's limit it stopped at with when that is expected to reset (null
// when it stopped at none). Paths that are not UTF-8 show their odd bytes as \xNN.
std::string JsonReport(const TBatchRunner& runner, bool dryRun);

// One file's entry of the report, as one JSON line without its line end: a watch's report.
std::string JsonFileLine(const TBatchFile& file, bool dryRun);

// "45 s", "2 min" (rounded), "3 h 5 min".
std::string WaitedText(int64_t seconds);

// A line that is rewritten in place ("\r", erase to the end of the line) on a terminal, at most
// ten times a second so that a fast send is not slowed by the terminal.
class TProgressLine {
 public:
  explicit TProgressLine(FILE* terminal) : terminal_(terminal) {}
  // The status's progress, and after it what the batch waits for ("waiting 9 s") unless empty.
  void Show(const TBatchStatus& status, const std::string& waiting);
  // Takes the line away, so another line can be printed in its place; Show draws it again.
  void Clear();
  // Leaves the last line standing and ends it.
  void Finish(const TBatchStatus& status);

 private:
  void Draw(const std::string& text);
  FILE* terminal_;
  bool shown_ = false;
  TBatchStatus::Clock::time_point lastDrawn_{};
};
