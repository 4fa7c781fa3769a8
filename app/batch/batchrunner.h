// One batch: every chosen file mailed as the only attachment of its own message to the one
// recipient, with a counted-down pause after each message. The window's "Send" button and
// mailcart-send both run it; each is a front end that gives it a request and shows its texts.
#pragma once

#include <exception>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/batch/batchclock.h"
#include "app/batch/batchcountdown.h"
#include "app/batch/batchfrontend.h"
#include "app/batch/batchjournal.h"
#include "app/batch/batchrequest.h"
#include "app/batch/batchstatus.h"
#include "app/batch/recipients.h"
#include "app/batch/sendcaps.h"
#include "app/batch/settings.h"
#include "app/batch/subjecttemplate.h"
#include "toolkit/exceptions.h"
#include "toolkit/secret.h"

class TMessageDelivery;
class TSourceFile;
class TpxMessage;
class TpxSMTP;

// A file's message was refused or could not be built; the text names the file.
MAILCART_EXCEPTION(EFileNotSent, Exception);

// The texts a batch shows.
namespace batchtext {
inline constexpr char kInProgress[] = "In progress";
inline constexpr char kSended[] = "Sended";
inline constexpr char kError[] = "ERROR";
inline constexpr char kFilePrefix[] = "File:";
inline constexpr char kFileSended[] = " sended.";
inline constexpr char kWaitPause[] = " WaitPause";
inline constexpr char kSecondsSuffix[] = " sec.";
inline constexpr char kEndWaitPause[] = "Sended and end WaitPause";
inline constexpr char kAborted[] = "Sending Aborted!";
inline constexpr char kAllSended[] = "All Sended";
inline constexpr char kFailedPrefix[] = " failed: ";
inline constexpr char kRetryPrefix[] = "; retry ";
inline constexpr char kRetryOf[] = " of ";
inline constexpr char kNotSent[] = "Not sent:";
inline constexpr char kUncertain[] = "may have been delivered: the server did not confirm it";
inline constexpr char kSlowedPrefix[] = " slowed down by the server: ";
inline constexpr char kSlowingDown[] = "slowing down: ";
inline constexpr char kWaitingForQuota[] = "waiting for the provider's daily limit: it resets about ";
}  // namespace batchtext

// SomeFailed: the batch went through its files and could not send some (KeepGoing), or the
// server may hold some that it did not confirm. QuotaReached: the provider's daily limit stopped
// it; the file it refused and the rest are unsent, and the batch can be resumed.
enum class TBatchEnd { AllSent, Aborted, Failed, SomeFailed, Busy, QuotaReached };

class TBatchRunner {
 public:
  // Wires the client's progress, sent, reconnect and error events to StateL. senderName is the display
  // name of every message: product name, version and date, read once by the caller.
  TBatchRunner(TpxSMTP& smtp, TpxMessage& message, TBatchFrontEnd frontEnd, std::string senderName);
  ~TBatchRunner();
  TBatchRunner(const TBatchRunner&) = delete;
  TBatchRunner& operator=(const TBatchRunner&) = delete;

  // Runs one batch. A failure that may pass sends the file again after a counted-down delay;
  // one that does not, or the last retry's, ends the batch (the current file is neither
  // reported nor deleted) and is shown through the front end: the batch ends Failed. With
  // KeepGoing such a file is listed instead and the batch goes on, unless the session itself
  // cannot be had (a certificate, a refused login, a server that cannot be reached before it
  // ever answered). A message the server may hold is recorded as uncertain and never sent again
  // unasked. A reply that asks to slow down (ReplyMeaning) is retried after growing waits; one
  // that says the provider's daily limit is reached stops the batch with nothing more sent, or
  // with WaitForQuota waits until the limit resets (no session held meanwhile) and goes on.
  // While a batch runs, a second one is refused with Busy: the one SMTP client never
  // serves two batches.
  TBatchEnd Run(TBatchRequest request);
  // "Cancel sending": the batch stops after the send in progress or within the current
  // half-second tick of the pause. Without a batch it changes nothing: a batch starts afresh.
  void RequestCancel() { cancelRequested_ = true; }
  // "Exit": cancels, and makes the batch close the application once it has ended, however it
  // ended (after its last box). True when no batch runs, so the caller closes at once.
  bool RequestExit();
  bool SendingActive() const { return sendingActive_; }
  // The files of the running batch, or of the last one once it has ended.
  const TBatchStatus& Status() const { return status_; }
  // The clock of the pauses and count-downs from now on; the real one unless a test gives another.
  void SetClock(TBatchClock& clock) { countdown_.SetClock(clock); }
  // What the running batch sends, or the last one sent.
  const TBatchRequest& Request() const { return request_; }
  // When the provider's daily limit that stopped the last batch is expected to reset (seconds
  // since the epoch); nullopt when none stopped it.
  std::optional<int64_t> QuotaResets() const { return quotaResets_; }
  // Which limit stopped the last batch ("The provider's daily limit", "The limit of at most 100
  // messages an hour"), with QuotaResets.
  const std::string& QuotaLimit() const { return quotaLimit_; }
  // How long the running or last batch waited for the sending caps, in seconds.
  int64_t SecondsWaitedForCaps() const { return pacer_.SecondsWaited(); }
  // The last batch ended Failed because its server could not be reached (refused, unknown,
  // silent), before it or after it had answered.
  bool EndedUnreachable() const { return endedUnreachable_; }
  // The journal of the running or last batch; empty when it kept none.
  const std::string& JournalFileName() const { return journalFileName_; }

  // Fills the message from these values and the file, and sends it.
  void PrepareAndSend(const std::string& from, const std::string& to, const std::string& subject,
                      const std::string& body, const std::string& fileName);
  // Fills the message from these values and the file.
  void Prepare(const std::string& from, const std::string& to, const std::string& subject, const std::string& body,
               const std::string& fileName);

 private:
  TBatchEnd RunScoped();
  TBatchEnd SendAll();
  // The request's delivery, or nullptr for the server.
  TMessageDelivery* Delivery() const { return request_.delivery; }
  // How the journal's last line says the batch ended, from the error that ended it.
  void EndJournal(const std::exception& error);
  // The files of this batch, marked Skipped where a journal says so; opens the journal.
  // nullopt: the user chose to send nothing.
  std::optional<std::vector<TBatchFile>> PlanFiles();
  std::vector<TBatchFile> ChosenFiles();
  void OpenJournal(const std::vector<TBatchFile>& files);
  // RFC 1870: the files whose message is larger than the server takes, found once the session is
  // open and before the journal, skipped or asked about; false when the user chose to send
  // nothing. A dry run, the system's mailer and a server that names no limit have no check.
  bool CheckSizes(std::vector<TBatchFile>& files);
  void RecordSkipped();
  // Records the current file's outcome; durable when its deletion follows.
  void RecordOutcome(TJournalOutcome outcome, const std::string& reply, bool durable);
  // Why the file just opened is not to go: another Mailcart sent it since this batch started.
  std::string SentMeanwhile(const TSourceFile& source);
  // Fills the message with the file, read from its descriptor as each try sends it.
  void PrepareMessage(const TSubjectFields& fields, std::shared_ptr<TSourceFile> source);
  // Fills the message for the file at path, its bytes left out.
  void FillFileMessage(const TSubjectFields& fields, const std::string& path);
  // Sends the prepared message through the request's delivery or the server; the reply. Through
  // the server with announceNext_, the next message's envelope goes with the end of this text.
  std::string Deliver();
  // The message as prepared, to the server.
  void SendPrepared();
  // What became of one file, after its retries.
  // Quota: the provider's daily limit refused it; it is not sent, and not failed either.
  enum class TFileEnd { Sent, Failed, Skipped, Uncertain, Canceled, Quota };
  TFileEnd SendFile(const std::string& file, const TSubjectFields& fields);
  // The file's message was accepted: records it and deletes the file where asked, while the file
  // is still locked.
  void FinishSent(TSourceFile& source, const std::string& reply);
  // A failure of the current file's try: Failed, Uncertain or an error raised; nullopt to retry.
  std::optional<TFileEnd> HandleFailure(const std::exception& error, int retry);
  // The count-down before a retry, told as a failure or as the server slowing the batch down;
  // false when a cancel ended it.
  bool RetryWait(const std::string& file, const std::string& why, bool slowingDown, int retry, double seconds);
  // The provider's daily limit refused the current file: when it resets, from the journals.
  TFileEnd QuotaReached(const std::exception& error);
  // The batch stops at the limit: the journal's end says so and when it resets.
  TBatchEnd EndAtQuota();
  // Ends the session and waits until the limit resets; false when a cancel ended the wait.
  bool WaitForQuota();
  // A sending cap asks for a longer wait than the batch makes: it stops as at the daily limit.
  TBatchEnd EndAtCap();
  TBatchEnd EndWithFailures();
  TBatchEnd Abort();
  // QUIT and close of the batch's session, before its last box: a server should not wait on
  // a user. Every message of the session has had its reply, so nothing here fails the batch.
  void EndSession();
  void SetState(const std::string& text);
  // Of the current file, shown to the front end.
  void SetFileState(TFileState state, const std::string& detail);
  void ShowFileProgress(int percent);
  void ShowCountdown(int seconds);
  // Clears the message and gives it its sender, recipients, subject and body (empty: a space).
  void FillMessage(const std::string& from, const TRecipients& recipients, const std::string& subject,
                   const std::string& body);
  TRecipients Recipients() const { return {request_.to, request_.cc, request_.bcc}; }

  TpxSMTP& smtp_;
  TpxMessage& message_;
  const TBatchFrontEnd frontEnd_;
  const std::string senderName_;
  // The sender's display name of this batch: the account's, else senderName_.
  std::string displayName_ = senderName_;
  bool cancelRequested_ = false;
  TBatchCountdown countdown_{frontEnd_, cancelRequested_};
  TSendPacer pacer_{countdown_, [this](const std::string& text) { SetState(text); }, [this] { EndSession(); }};
  bool sendingActive_ = false;
  bool exitRequested_ = false;
  TBatchRequest request_;  // of the running batch, read once at its start
  int64_t startedAt_ = 0;  // seconds since the epoch
  // A file of this batch has gone (in this run, or recorded so in the journal it resumes): an
  // error now does not end the batch "at its start".
  bool filesWent_ = false;
  // The server has answered in this batch: a refused connection from now on is a passing fault.
  bool serverReached_ = false;
  bool endedUnreachable_ = false;  // EndedUnreachable
  // Another file follows the one being sent at once, in its session (no pause, no cap's wait):
  // RFC 2920 lets its envelope go behind this text, so a message costs one round trip.
  bool announceNext_ = false;
  // The failure of the session opened for the size check: the first file's first try, which
  // handles it as it would its own.
  std::exception_ptr startFailure_;
  std::optional<int64_t> firstSentAt_;  // when this batch's first message was accepted
  std::string quotaReply_;              // the provider's reply that said the limit was reached
  std::string quotaLimit_;              // which limit it was, as QuotaLimit says
  std::optional<int64_t> quotaResets_;
  // "file: why" for each file a KeepGoing batch could not send.
  std::vector<std::string> failures_;
  TBatchStatus status_;
  std::unique_ptr<TJournalWriter> journal_;
  std::string journalFileName_;
  std::string envelope_;  // EnvelopeKey of the batch's recipients, for the journals
  // Each journal of the folder as the batch found it when it started: when it was last written
  // and how many records it held; a journal written since holds, beyond those, what others did
  // meanwhile.
  struct TKnownJournal {
    int64_t written = 0;
    size_t records = 0;
  };
  std::map<std::string, TKnownJournal> knownJournals_;
  TFileDigest digest_;  // of the current file's bytes, as last read whole for its message
};
