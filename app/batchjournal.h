// The record on disk of each batch, so that a batch cut short (a crash, a power cut, a lost
// connection) can be resumed without sending anything twice. One JSON object per line: first
// the batch (what it sends where, and its files), then a line per outcome of a file, written
// and flushed before the program goes on; a last line ends a batch that finished. A torn last
// line (the power went in mid-write) is skipped when reading.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "toolkit/exceptions.h"

// A journal that cannot be created, written or read; the text names the file or folder.
MAILCART_EXCEPTION(EJournalError, Exception);

// The settings that decide where a batch's messages go.
struct TJournalHead {
  std::string server, from, to, subject;
  std::vector<std::string> files;  // absolute paths, in sending order
  std::string started;             // local time, ISO 8601 with offset ("2026-12-08T15:10:02+01:00")
};

// What became of one file.
enum class TJournalOutcome {
  Sent,     // the server (or the system's mailer) accepted it; reply holds the server's reply
  Failed,   // reply holds why
  Skipped,  // not sent on purpose (changed since, sent before); reply holds why
  Written,  // a dry run wrote it to a file; not a delivery
};

struct TJournalRecord {
  std::string path;  // absolute
  uint64_t size = 0;
  std::string sha256;  // 64 lowercase hex digits; empty when the file could not be read
  std::string time;    // when the outcome was known, as TJournalHead::started
  TJournalOutcome outcome = TJournalOutcome::Failed;
  std::string reply;
};

struct TJournal {
  std::string fileName;
  TJournalHead head;
  std::vector<TJournalRecord> records;  // in the order written; a later one for a path wins
  bool finished = false;

  // The last record of path, if any.
  const TJournalRecord* LastRecordOf(const std::string& path) const;
};

// $XDG_STATE_HOME/mailcart, with ~/.local/state when the variable is unset or not absolute.
std::string DefaultJournalFolder();

// The size and SHA-256 of a file, read in blocks. Raises EInOutError naming the file.
struct TFileDigest {
  uint64_t size = 0;
  std::string sha256;
};
// afterBlock runs after each block read, so a window can stay responsive while a large file is
// read.
TFileDigest DigestFile(const std::string& path, const std::function<void()>& afterBlock = {});

class TJournalWriter {
 public:
  // A new journal in folder (created 0700 when missing), named by the start time and the
  // process id, created exclusively with mode 0600; the head is its first line.
  TJournalWriter(const std::string& folder, const TJournalHead& head);
  // Goes on writing an existing journal (a resumed batch), after its last complete line.
  explicit TJournalWriter(const std::string& fileName);
  ~TJournalWriter();
  TJournalWriter(const TJournalWriter&) = delete;
  TJournalWriter& operator=(const TJournalWriter&) = delete;

  const std::string& FileName() const { return fileName_; }
  // Written and flushed to the system before it returns; with durable, also on the disk
  // (fdatasync), as a deletion that follows needs.
  void Record(const TJournalRecord& record, bool durable);
  // The line that marks the batch finished.
  void Finish();

 private:
  void WriteLine(const std::string& line, bool durable);
  std::string fileName_;
  int fd_ = -1;
};

// Raises EJournalError when the file cannot be read or its first line is no head.
TJournal ReadJournal(const std::string& fileName);
// Every readable journal of the folder, oldest first; unreadable ones are left out.
std::vector<TJournal> ReadJournals(const std::string& folder);
// The newest journal of the folder whose batch did not finish; nullopt when there is none.
std::optional<TJournal> NewestUnfinishedJournal(const std::string& folder);

// A file recorded as accepted by server for recipient, with when.
struct TSentBefore {
  std::string path;
  std::string time;
  std::string journal;
};
// The records of the folder's journals that say path (absolute) with this size and SHA-256
// was sent to to through server; the newest first.
std::vector<TSentBefore> FindSentBefore(const std::vector<TJournal>& journals, const std::string& server,
                                        const std::string& to, const std::string& path, const TFileDigest& digest);
