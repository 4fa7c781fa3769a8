// mailcart-send's standard output by default: one line for each file once the batch is done with
// it, "[3/30] scan 03.pdf: sent (250 2.0.0 Ok: queued as 4F2A1)", and the summary at the end.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "app/batch/batchstatus.h"

// "[3/30]"; "[3]" with no total (files that keep coming have none).
std::string FilePrefix(size_t number, std::optional<size_t> total);

// "sent (250 ...)", "written (DIR/0001.eml)", "failed: why", "skipped: why", "uncertain: why".
std::string OutcomeText(const TBatchFile& file, bool dryRun);

// The status's summary; for a dry run "2 messages written to DIR", which sends nothing.
std::string SummaryLine(const TBatchStatus& status, const std::optional<std::string>& dryRunFolder);

// Which files' lines are due: each file once, in the batch's order (a file left out at the start
// is told when the batch comes to it); a file sent, once the batch has moved past it (its record
// written, the file deleted or kept), so that its line says all.
class TOutcomeLines {
 public:
  // running: the batches of a watch, whose files are numbered on from batch to batch, "[7]".
  explicit TOutcomeLines(bool dryRun, bool running = false) : dryRun_(dryRun), running_(running) {}
  // The lines due since the last call. moved: the batch has gone on from its current file; all:
  // the batch has ended, and every file dealt with is told.
  std::vector<std::string> Take(const TBatchStatus& status, bool moved, bool all);
  // The next batch begins: running, its files are numbered after the last one told.
  void NextBatch();

 private:
  bool dryRun_;
  bool running_;
  size_t numbered_ = 0;  // running: the files of the batches before
  std::vector<bool> told_;
  size_t allToldBefore_ = 0;  // the files before it are all told
};
