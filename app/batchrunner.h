// One batch: every chosen file mailed as the only attachment of its own message to the one
// recipient, with a counted-down pause after each message. The window's "Send" button and
// mailcart-send both run it; each is a front end that gives it the fields and shows its texts.
#pragma once

#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/batchjournal.h"
#include "app/batchstatus.h"
#include "app/settings.h"
#include "toolkit/exceptions.h"
#include "toolkit/secret.h"

class TMessageDelivery;
class TpxMessage;
class TpxSMTP;

// A file's message was refused or could not be built; the text names the file.
MAILCART_EXCEPTION(EFileNotSent, Exception);

enum class TBatchLabel { SFileShowL, StateL, RemaindL };

// What a batch needs of the program around it.
class TBatchFrontEnd {
 public:
  virtual ~TBatchFrontEnd() = default;
  virtual std::string MailServer() = 0;
  virtual std::string MailFrom() = 0;
  virtual std::string MailTo() = 0;
  virtual std::string Subject() = 0;
  virtual double PauseSeconds() = 0;
  virtual bool DeleteSentFiles() = 0;
  virtual bool SortFiles() = 0;
  virtual std::vector<std::string> ChosenFiles() = 0;
  // True: each message has a session of its own; otherwise one session carries the batch.
  virtual bool NewConnectionPerMessage() { return false; }
  // A file whose send failed in a way that may pass is sent again after each of the delays
  // (seconds; the last one repeats), at most Retries more times.
  virtual int Retries() { return 3; }
  virtual std::vector<double> RetryDelays() { return {5, 30, 120}; }
  // True: a file that cannot be sent is listed at the end and the batch goes on with the next.
  virtual bool KeepGoing() { return false; }
  // The folder of the batch journals; empty: the batch keeps none.
  virtual std::string JournalFolder() { return DefaultJournalFolder(); }
  // A journal whose batch to go on with instead of ChosenFiles: its files with no Sent record,
  // in its order, recorded in it. Changed files are skipped unless ResendChanged.
  virtual std::string ResumeJournal() { return {}; }
  virtual bool ResendChanged() { return false; }
  // Files the journals record as sent to this server and recipient already: SendAgain sends
  // them all the same, Skip leaves them out, Cancel sends nothing.
  enum class TSentBeforeChoice { SendAgain, Skip, Cancel };
  virtual TSentBeforeChoice SentBefore(const std::vector<TSentBefore>& /*files*/) { return TSentBeforeChoice::SendAgain; }
  // Where the messages go instead of the server (a dry run, the system's mailer); nullptr: the
  // server. The front end owns it.
  virtual TMessageDelivery* Delivery() { return nullptr; }
  // The login; the default logs in to nothing.
  virtual TAccount Account() { return {}; }
  // Asked once a batch starts, for an account with a user that logs in with a password; the
  // batch wipes it when it ends. A front end that has none raises the error to show.
  virtual TSecret Password() { return {}; }
  // The text must be visible at once, also while the thread then stays busy in a send.
  virtual void SetLabel(TBatchLabel label, const std::string& text) = 0;
  // Returns when the user has closed it.
  virtual void ShowInformation(const std::string& text) = 0;
  // The list of the files a KeepGoing batch could not send, at its end.
  virtual void ShowFailures(const std::string& text) { ShowInformation(text); }
  // The batch's list changed: file index (its state, its progress), or the whole list (-1) at
  // the start and the end. Called often while a file is sent: a front end paints at its pace.
  virtual void StatusChanged(const TBatchStatus& /*status*/, int /*index*/) {}
  // The error that ended a batch; returns when the user has closed its box.
  virtual void ShowError(const std::exception& error) = 0;
  virtual void ProcessMessages() = 0;
  virtual void CloseApplication() = 0;
};

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
}  // namespace batchtext

// SomeFailed: a KeepGoing batch went through its files and could not send some.
enum class TBatchEnd { AllSent, Aborted, Failed, SomeFailed, Busy };

class TBatchRunner {
 public:
  // Wires the client's progress, sent, reconnect and error events to StateL. senderName is the display
  // name of every message: product name, version and date, read once by the caller.
  TBatchRunner(TpxSMTP& smtp, TpxMessage& message, TBatchFrontEnd& frontEnd, std::string senderName);
  ~TBatchRunner();
  TBatchRunner(const TBatchRunner&) = delete;
  TBatchRunner& operator=(const TBatchRunner&) = delete;

  // Runs one batch. A failure that may pass sends the file again after a counted-down delay;
  // one that does not, or the last retry's, ends the batch (the current file is neither
  // reported nor deleted) and is shown through the front end: the batch ends Failed. With
  // KeepGoing such a file is listed instead and the batch goes on, unless the session itself
  // cannot be had (a certificate, a refused login). While a batch runs, a
  // second one is refused with Busy: the one SMTP client never serves two batches.
  TBatchEnd Run();
  // "Cancel sending": the batch stops after the send in progress or within the current
  // half-second tick of the pause. Without a batch it changes nothing: a batch starts afresh.
  void RequestCancel() { cancelRequested_ = true; }
  // "Exit": cancels, and makes the batch close the application once it has ended, however it
  // ended (after its last box). True when no batch runs, so the caller closes at once.
  bool RequestExit();
  bool SendingActive() const { return sendingActive_; }
  // The files of the running batch, or of the last one once it has ended.
  const TBatchStatus& Status() const { return status_; }
  // The journal of the running or last batch; empty when it kept none.
  const std::string& JournalFileName() const { return journalFileName_; }

  // Fills the message from these values and the file, and sends it.
  void PrepareAndSend(const std::string& from, const std::string& to, const std::string& subject,
                      const std::string& body, const std::string& fileName);
  // Fills the message from these values and the file.
  void Prepare(const std::string& from, const std::string& to, const std::string& subject,
               const std::string& body, const std::string& fileName);

 private:
  TBatchEnd RunScoped();
  TBatchEnd SendAll();
  // The files of this batch, marked Skipped where a journal says so; opens the journal.
  // nullopt: the user chose to send nothing.
  std::optional<std::vector<TBatchFile>> PlanFiles();
  std::vector<TBatchFile> ChosenFiles();
  void OpenJournal(const std::vector<TBatchFile>& files, const std::string& folder, const std::string& resume);
  void RecordSkipped();
  // Records the current file's outcome; durable when its deletion follows.
  void RecordOutcome(TJournalOutcome outcome, const std::string& reply, bool durable);
  // Sends file with its message through the front end's delivery or the server; the reply.
  std::string Deliver(const std::string& file, const std::string& subject);
  enum class TFileEnd { Sent, Failed, Canceled };
  // One file, with its retries.
  TFileEnd SendFile(const std::string& file, const std::string& subject);
  // The count-down before a retry; false when a cancel ended it.
  bool RetryWait(const std::string& file, const std::exception& error, int retry, double seconds);
  TBatchEnd EndWithFailures();
  // False when a cancel ended it.
  bool Pause(int seconds);
  TBatchEnd Abort();
  // QUIT and close of the batch's session, before its last box: a server should not wait on
  // a user. Every message of the session has had its reply, so nothing here fails the batch.
  void EndSession();
  void PumpFourTimes();
  void SetState(const std::string& text);
  // Of the current file, shown to the front end.
  void SetFileState(TFileState state, const std::string& detail);
  void ShowFileProgress(int percent);
  void ShowCountdown(int seconds);

  TpxSMTP& smtp_;
  TpxMessage& message_;
  TBatchFrontEnd& frontEnd_;
  const std::string senderName_;
  // The sender's display name of this batch: the account's, else senderName_.
  std::string displayName_ = senderName_;
  bool cancelRequested_ = false;
  bool sendingActive_ = false;
  bool exitRequested_ = false;
  int retries_ = 0;
  std::vector<double> retryDelays_;
  // "file: why" for each file a KeepGoing batch could not send.
  std::vector<std::string> failures_;
  TBatchStatus status_;
  std::unique_ptr<TJournalWriter> journal_;
  std::string journalFileName_;
  TFileDigest digest_;  // of the current file, as read before its send
};

// The pause of a batch in whole seconds: truncated toward zero (7.8 gives 7, -1.5 gives -1).
int PauseFromValue(double seconds);
