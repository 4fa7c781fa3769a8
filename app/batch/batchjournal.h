// The record on disk of each batch, so that a batch cut short (a crash, a power cut, a lost
// connection) can be resumed without sending anything twice. One JSON object per line: first
// the batch (what it sends where, and its files), then a line per outcome of a file, written
// and flushed before the program goes on; a last line says how the batch ended (none: a crash).
// A torn last line (the power went in mid-write) is skipped when reading. Only journals that
// belong to the user, in a folder of the user's, that nobody else may write are read: a journal
// decides where files go and which are deleted.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/batch/filedigest.h"
#include "app/batch/recipients.h"
#include "toolkit/exceptions.h"

// A journal that cannot be created, written or read; the text names the file or folder.
MAILCART_EXCEPTION(EJournalError, Exception);

// The settings that decide where a batch's messages go and what they say.
struct TJournalHead {
  // to: the recipients' list as the batch had it (TBatchRequest); in a journal written before
  // CC and BCC were kept, a single address.
  std::string server, from, to, subject;
  std::vector<std::string> files;  // absolute paths, in sending order
  std::string started;             // local time, ISO 8601 with offset ("2026-12-08T15:10:02+01:00")
  std::string cc = {}, bcc = {};
  std::string body = {};  // the message text's template; empty: a single space
  std::string user = {};  // who logged in to the server; empty: nobody
  // The folder a watch sends from (absolute); empty: a batch of chosen files. A watch's journal
  // is never finished, resumed or removed with old journals.
  std::string watch = {};

  TRecipients Recipients() const { return {to, cc, bcc}; }
};

// What became of one file.
enum class TJournalOutcome {
  Sent,     // the server (or the system's mailer) accepted it; reply holds the server's reply
  Failed,   // reply holds why
  Skipped,  // not sent on purpose (changed since, sent before); reply holds why
  Written,  // a dry run wrote it to a file; not a delivery
  // The connection went (or the server fell silent) after the end of the message and before its
  // reply: the server may hold it. Not sent again unless the user asks; reply holds why.
  Uncertain,
  // The server accepted it, but the file changed while it was sent and was kept: the record
  // counts it as not sent; size and sha256 are of the bytes sent, reply the server's and why.
  Changed,
};

// How a batch ended, as its journal's last line says.
enum class TJournalEnd {
  None,         // no end line: a crash, a power cut, or the batch is still running
  Finished,     // every file dealt with: sent, or failed for good and reported
  Cancelled,    // Cancel, Ctrl-C or SIGTERM
  Declined,     // the user said no to resuming it
  SetupFailed,  // a session error ended it before any file went; error holds it
  Failed,       // an error ended it after files went, or one that concerned a file; error holds it
  // The provider's limit for the day was reached: the file refused and the rest are unsent; error
  // holds the reply, resets when the limit is expected to reset.
  Quota,
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
  TJournalEnd end = TJournalEnd::None;
  std::string endError;  // SetupFailed, Failed and Quota: the error that ended it
  std::string resets;    // Quota: when the limit is expected to reset, as TJournalHead::started
  bool running = false;  // another process writes it now (it holds the journal's lock)
  int64_t written = 0;   // when it was last written, as JournalWritten says

  // The last record of path, if any.
  const TJournalRecord* LastRecordOf(const std::string& path) const;
};

// $XDG_STATE_HOME/mailcart, with ~/.local/state when the variable is unset or not absolute.
std::string DefaultJournalFolder();
// Whether the last component of fileName has the form TJournalWriter gives a batch's journal
// ("20261208-151002-4242.jsonl", "20261208-151002-4242-2.jsonl"). A journal of another kind
// kept in the same folder is named otherwise, so that nothing takes it for a batch's.
bool IsBatchJournalName(std::string_view fileName);

class TJournalWriter {
 public:
  // A new journal in folder (created 0700 when missing), named by the start time and the
  // process id, created exclusively with mode 0600; the head is its first line. The writer
  // holds the journal's lock while it lives, so others see the batch running.
  TJournalWriter(const std::string& folder, const TJournalHead& head);
  // Goes on writing an existing journal (a resumed batch), after its last complete line; one
  // that another process writes now is refused.
  explicit TJournalWriter(const std::string& fileName);
  // The journal folder/name (a name of its own kind, see IsBatchJournalName): created as the
  // first constructor does when missing, else gone on with as the second does.
  TJournalWriter(const std::string& folder, const std::string& name, const TJournalHead& head);
  ~TJournalWriter();
  TJournalWriter(const TJournalWriter&) = delete;
  TJournalWriter& operator=(const TJournalWriter&) = delete;

  const std::string& FileName() const { return fileName_; }
  // Written and flushed to the system before it returns; with durable, also on the disk
  // (fdatasync), as a deletion that follows needs.
  void Record(const TJournalRecord& record, bool durable);
  // The last line: how the batch ended, with the error that ended it; for Quota, resets says
  // when the limit is expected to reset (JournalTime).
  void End(TJournalEnd how, const std::string& error = {}, const std::string& resets = {});

 private:
  void Create(const std::string& folder, const TJournalHead& head, const std::string& name);
  void GoOn();
  void WriteLine(const std::string& line, bool durable);
  std::string fileName_;
  int fd_ = -1;
};

// Raises EJournalError when the file cannot be read, is not trusted (FileTrustProblem of it or
// of its folder) or its first line is no head.
TJournal ReadJournal(const std::string& fileName);
// When a journal was last written: its modification time in nanoseconds since the epoch.
int64_t JournalWritten(const std::string& fileName);
// Every readable, trusted journal of the folder, oldest first; the others are left out. With
// wanted, only the journals it says yes to (by file name and when last written), the others
// not even read.
std::vector<TJournal> ReadJournals(
    const std::string& folder, const std::function<bool(const std::string& fileName, int64_t written)>& wanted = {});

// "finished", "cancelled", "declined", "ended at its start by an error: ...", "ended by an
// error: ...", "stopped at the provider's daily limit, expected to reset ...", "stopped by a
// crash", "still running": for a person.
std::string EndingText(const TJournal& journal);
// Local time, ISO 8601 with the offset, as journals write it.
std::string JournalTime(int64_t epochSeconds);

// A file recorded as accepted by server for recipient, with when.
struct TSentBefore {
  std::string path;
  std::string time;
  std::string journal;
};
// The records of the journals that say path (absolute) with this size and SHA-256 (any, when
// digest has none) was sent through server to the recipients whose EnvelopeKey is envelope; the
// newest first.
std::vector<TSentBefore> FindSentBefore(const std::vector<TJournal>& journals, const std::string& server,
                                        const std::string& envelope, const std::string& path,
                                        const TFileDigest& digest);
