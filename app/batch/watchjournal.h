// What a watch of a folder remembers across restarts: its journal, one a day for each watched
// folder and destination, and whether a complete file of the folder is to go, from what the
// journals say was sent.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "app/batch/batchjournal.h"
#include "app/batch/filedigest.h"

// "watch-20261209-<12 hex digits of the folder and the destination>.jsonl": the day's journal,
// by local time of now (seconds since the epoch), of the watch head says (head.watch set).
std::string WatchJournalName(const TJournalHead& head, int64_t now);

class TWatchJournal {
 public:
  // Each record goes to the journal of its day, in folder. Held for the watch's life, a lock
  // there keeps a second watch of the folder for the same destination from starting, since it
  // would send every file again: that raises EJournalError, as a folder that cannot be made.
  TWatchJournal(std::string folder, TJournalHead head);
  ~TWatchJournal();
  TWatchJournal(const TWatchJournal&) = delete;
  TWatchJournal& operator=(const TWatchJournal&) = delete;
  // Written as TJournalWriter::Record does, to the journal of now's day, created (or gone on
  // with, after a restart) at its first record. Raises EJournalError.
  void Record(const TJournalRecord& record, bool durable, int64_t now);
  // The journal last written; empty before the first record.
  std::string FileName() const;

 private:
  std::string folder_;
  TJournalHead head_;
  std::string name_;
  std::unique_ptr<TJournalWriter> writer_;
  int lock_ = -1;
};

enum class TWatchVerdict {
  Send,              // no record of it as sent (a Changed record counts as unsent)
  SentBefore,        // recorded Sent with this path, size and SHA-256: skipped
  ChangedSinceSent,  // recorded sent with other contents: sent only with resendChanged
  MaybeHeld,         // recorded Uncertain with these contents: sent only with resendUncertain
};

struct TWatchDecision {
  TWatchVerdict verdict = TWatchVerdict::Send;
  bool send = true;      // what the verdict and the flags make of it
  std::string why;       // for a person, when the file stays: "sent on ...", ...
  std::string recorded;  // the time of the record that decided, as the journals write it
};

// What the journals (any order) say of the complete file path (absolute) with digest, for
// messages through server to the recipients of envelope (EnvelopeKey): the records of that
// destination alone count, of batches and of watches alike; the newest of the path's Sent,
// Uncertain and Changed records decides unless one Sent record holds these very bytes.
TWatchDecision DecideWatchFile(const std::vector<TJournal>& journals, const std::string& server,
                               const std::string& envelope, const std::string& path, const TFileDigest& digest,
                               bool resendChanged, bool resendUncertain);
