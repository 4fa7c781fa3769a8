// What a front end shows of a running batch: every file with its size and state, the bytes
// done, the rate and the time left. The batch runner keeps it up to date and hands it to the
// front end at every change; the window's list, the terminal's progress line and the report of
// mailcart-send are all drawn from it.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "toolkit/regularfile.h"

// Uncertain: the server may hold its message (it did not confirm it); not sent again unasked.
enum class TFileState { Waiting, Sending, Retrying, Sent, Failed, Skipped, Uncertain };

// "waiting", "sending", "retrying", "sent", "failed", "skipped", "uncertain": the words of
// reports and lists.
const char* FileStateName(TFileState state);
// Sent, failed, skipped or uncertain: nothing more happens to the file in this batch.
bool DealtWith(TFileState state);
// Dealt with, and not failed: what progress counts as done. A failed file counts for nothing,
// so a bar after an error shows what really went.
bool CountsAsDone(TFileState state);

struct TBatchFile {
  std::string path;
  uint64_t size = 0;  // when the batch started; 0 when it could not be read
  TFileState state = TFileState::Waiting;
  uint64_t bytesDone = 0;  // of this file: its progress while Sending, its size once Sent
  // Sent: the server's reply to the data (it carries the provider's queue id); Failed, Skipped
  // and Retrying: why.
  std::string detail;
  int secondsLeft = 0;     // Retrying: the countdown to the next try
  std::string sentBefore;  // when a journal records it as sent to the same place before; or empty
};

class TBatchStatus {
 public:
  using Clock = std::chrono::steady_clock;

  // A new batch of these files, all Waiting unless marked Skipped already, started at now; data
  // they hold already (a batch shown part way) counts as seen then.
  void Start(std::vector<TBatchFile> files, Clock::time_point now = Clock::now());
  // Counts the batches started, so that a front end tells a new batch's status from the last's.
  uint64_t Number() const { return number_; }
  const std::vector<TBatchFile>& Files() const { return files_; }
  TBatchFile& File(size_t index) { return files_[index]; }
  // One file more at the end, as a watch of a folder finds it.
  void Add(TBatchFile file) { files_.push_back(std::move(file)); }
  // The file being sent or waited on; -1 before the first and after the last.
  int Current() const { return current_; }
  void SetCurrent(int index) { current_ = index; }
  // Marks the batch cancelled: its summary says so.
  void SetCancelled() { cancelled_ = true; }
  bool Cancelled() const { return cancelled_; }

  int Count(TFileState state) const;
  uint64_t TotalBytes() const;
  // Bytes of the files done (CountsAsDone) and of the current one's progress: equal to
  // TotalBytes once every file is sent or skipped, so a bar reaches exactly 100 %.
  uint64_t BytesDone() const;
  // Bytes sent per second since the first look at the status that found data sent: the
  // connection and the login before it say nothing of the line. Front ends look at every change
  // at their pace, so that is the first byte's time within a repaint. nullopt before a second of
  // data.
  std::optional<double> Rate(Clock::time_point now = Clock::now()) const;
  // Seconds until every byte of the files still to go is sent at the rate so far.
  std::optional<double> SecondsLeft(Clock::time_point now = Clock::now()) const;

  // "file 3 of 200, 1.2 MB of 20.0 MB, 3.4 MB/s, 5 s left" (rate and time once known).
  std::string ProgressLine(Clock::time_point now = Clock::now()) const;
  // At the end: "Cancelled: 1 of 3 files sent." after a cancel, else
  // "3 files sent, 1 failed, 0 skipped." (", 1 may have been delivered" when the server did not
  // confirm one)
  std::string Summary() const;

 private:
  // Of the files sent and the one being sent.
  uint64_t BytesSent() const;

  std::vector<TBatchFile> files_;
  int current_ = -1;
  bool cancelled_ = false;
  uint64_t number_ = 0;
  mutable std::optional<Clock::time_point> firstData_;
};

// 1536 -> "1.5 KB"; bytes, KB, MB, GB in steps of 1024, one decimal from KB on.
std::string FormatBytes(uint64_t bytes);
