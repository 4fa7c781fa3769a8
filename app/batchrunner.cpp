#include "app/batchrunner.h"

#include <unistd.h>

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstring>
#include <filesystem>

#include "app/batchplan.h"
#include "app/batchquestions.h"
#include "app/mailcomponents.h"
#include "app/messagedelivery.h"
#include "app/subjecttemplate.h"
#include "mail/pxmsg.h"
#include "net/pxsmtp.h"
#include "net/smtpfailure.h"
#include "toolkit/pump.h"
#include "toolkit/stringlist.h"
#include "toolkit/strtable.h"
#include "toolkit/strutils.h"

namespace {

void CheckAddressIsAscii(const std::string& address) {
  if (!IsAscii(address)) throw EMessageError(FormatText(LoadStr(sAddressNotAscii), {DisplayText(address)}));
}

std::string AbsolutePath(const std::string& path) { return std::filesystem::absolute(path).lexically_normal().string(); }

// Marked with when they went, and Skipped when they are to be left out.
void MarkSentBefore(std::vector<TBatchFile>& files, const std::vector<TBatchFile>& absolute,
                    const std::vector<TSentBefore>& sent, bool skip) {
  for (const TSentBefore& before : sent)
    for (size_t i = 0; i < files.size(); ++i)
      if (absolute[i].path == before.path) {
        if (skip) files[i].state = TFileState::Skipped;
        files[i].detail = "sent before on " + DayOf(before.time);
      }
}

// A pause tick is two sleeps of this length with message processing between them.
constexpr int kHalfTickMs = 250;

// Only a regular file is sent: opening a FIFO would wait for a writer, a device would never end.
void CheckRegularFile(const std::string& file) {
  struct stat st;
  if (::stat(file.c_str(), &st) != 0) throw FileOpenError(file, std::strerror(errno));
  if (!S_ISREG(st.st_mode)) throw FileOpenError(file, "not a regular file");
}

// The span of one batch: SendingActive is set, and whichever way the batch ends the flag is
// cleared, the last file's bytes are let go (the program may sit idle for hours) and the
// password is wiped.
class TBatchScope {
 public:
  TBatchScope(bool& active, TpxMessage& message, TpxSMTP& smtp)
      : active_(active), message_(message), smtp_(smtp) {
    active_ = true;
  }
  ~TBatchScope() {
    message_.Attachments().Clear();
    smtp_.SetPassword(TSecret());
    active_ = false;
  }
  TBatchScope(const TBatchScope&) = delete;
  TBatchScope& operator=(const TBatchScope&) = delete;

 private:
  bool& active_;
  TpxMessage& message_;
  TpxSMTP& smtp_;
};
}  // namespace

int PauseFromValue(double seconds) {
  if (std::isnan(seconds)) return 0;
  return static_cast<int>(std::clamp(std::trunc(seconds), double{INT_MIN}, double{INT_MAX}));
}

TBatchRunner::TBatchRunner(TpxSMTP& smtp, TpxMessage& message, TBatchFrontEnd& frontEnd,
                           std::string senderName)
    : smtp_(smtp), message_(message), frontEnd_(frontEnd), senderName_(std::move(senderName)) {
  smtp_.OnProgress = [this](TComponent*, int32_t percent, int32_t) {
    SetState(batchtext::kInProgress);
    ShowFileProgress(percent);
  };
  smtp_.OnMailSent = [this](TComponent*) { SetState(batchtext::kSended); };
  smtp_.OnError = [this](TComponent*, std::string&) { SetState(batchtext::kError); };
  smtp_.OnReconnecting = [this](TComponent*, const std::string& server) {
    SetState(FormatText(LoadStr(sReconnecting), {server}));
  };
}

TBatchRunner::~TBatchRunner() {
  smtp_.OnProgress = nullptr;
  smtp_.OnMailSent = nullptr;
  smtp_.OnError = nullptr;
  smtp_.OnReconnecting = nullptr;
}

bool TBatchRunner::RequestExit() {
  cancelRequested_ = true;
  exitRequested_ = true;
  return !sendingActive_;
}

TBatchEnd TBatchRunner::Run() {
  if (sendingActive_) return TBatchEnd::Busy;
  // A cancel or an exit requested while no batch ran, or left over from a batch that had ended
  // before it was seen, belongs to no batch: this one starts afresh.
  cancelRequested_ = false;
  exitRequested_ = false;
  const TBatchEnd end = RunScoped();
  // Closing comes after the batch has let go of everything and after its last box, so the
  // close sees no batch.
  if (exitRequested_) frontEnd_.CloseApplication();
  return end;
}

TBatchEnd TBatchRunner::RunScoped() {
  try {
    const TBatchScope scope(sendingActive_, message_, smtp_);
    return SendAll();
  } catch (const std::exception& error) {
    // An error among the files ends the list too; one before them leaves the last batch's.
    if (status_.Current() >= 0) {
      status_.SetCurrent(-1);
      frontEnd_.StatusChanged(status_, -1);
    }
    EndSession();
    frontEnd_.ShowError(error);
    return TBatchEnd::Failed;
  }
}

TBatchEnd TBatchRunner::SendAll() {
  // Addresses go into the envelope as they stand, and SMTP without SMTPUTF8 takes ASCII only:
  // better told before a connection is made than at the first file.
  CheckAddressIsAscii(frontEnd_.MailFrom());
  CheckAddressIsAscii(frontEnd_.MailTo());
  smtp_.SetServer(frontEnd_.MailServer());
  smtp_.SetKeepSession(!frontEnd_.NewConnectionPerMessage());
  const TAccount account = frontEnd_.Account();
  ApplyAccount(smtp_, account);
  displayName_ = account.fromName.empty() ? senderName_ : account.fromName;
  if (!smtp_.UserName().empty() && smtp_.AuthMethod() != TAuthMethod::XOAuth2) smtp_.SetPassword(frontEnd_.Password());
  retries_ = std::max(0, frontEnd_.Retries());
  retryDelays_ = frontEnd_.RetryDelays();
  failures_.clear();
  const int pause = PauseFromValue(frontEnd_.PauseSeconds());
  std::optional<std::vector<TBatchFile>> planned = PlanFiles();
  if (!planned) return Abort();
  const int count = static_cast<int>(planned->size());
  status_.Start(std::move(*planned));
  RecordSkipped();
  frontEnd_.StatusChanged(status_, -1);
  for (int i = 0; i < count; ++i) {
    if (status_.Files()[i].state == TFileState::Skipped) continue;
    const std::string file = status_.Files()[i].path;
    const TSubjectFields fields{std::filesystem::path(file).filename().string(), i + 1, count, TodayIsoDate()};
    status_.SetCurrent(i);
    // Read for every file: what the user changes during a batch applies to the next file.
    const TFileEnd end = SendFile(file, FillSubject(frontEnd_.Subject(), fields));
    if (end == TFileEnd::Canceled) return Abort();
    if (end == TFileEnd::Failed) {
      if (cancelRequested_) return Abort();
      continue;
    }
    frontEnd_.SetLabel(TBatchLabel::SFileShowL, file);
    // The server has accepted the message: its file goes now, also when a cancel came during
    // the send, or the next run would send it again; but only once the journal says so on the
    // disk, or a crash in between would leave no trace of either. A failed deletion does not
    // stop the batch.
    const TMessageDelivery* delivery = frontEnd_.Delivery();
    const bool remove = frontEnd_.DeleteSentFiles() && (delivery == nullptr || delivery->Delivers());
    RecordOutcome(delivery == nullptr || delivery->Delivers() ? TJournalOutcome::Sent : TJournalOutcome::Written,
                  status_.Files()[i].detail, remove);
    if (remove) ::unlink(file.c_str());
    if (cancelRequested_) return Abort();
    SetState(batchtext::kFilePrefix + file + batchtext::kFileSended + batchtext::kWaitPause);
    if (!Pause(pause)) return Abort();
    SetState(batchtext::kEndWaitPause);
  }
  status_.SetCurrent(-1);
  frontEnd_.StatusChanged(status_, -1);
  if (journal_) journal_->Finish();
  EndSession();
  if (!failures_.empty()) return EndWithFailures();
  frontEnd_.ShowInformation(batchtext::kAllSended);
  return TBatchEnd::AllSent;
}

TBatchRunner::TFileEnd TBatchRunner::SendFile(const std::string& file, const std::string& subject) {
  for (int retry = 1;; ++retry) {
    try {
      SetFileState(TFileState::Sending, "");
      CheckRegularFile(file);
      if (retry == 1) {
        digest_ = {};
        if (journal_) digest_ = DigestFile(file, [this] { frontEnd_.ProcessMessages(); });
      }
      SetFileState(TFileState::Sent, Deliver(file, subject));
      return TFileEnd::Sent;
    } catch (const std::exception& error) {
      const TSmtpFailure failure = ClassifyFailure(error);
      if (failure.Retryable() && retry <= retries_) {
        const double delay = retryDelays_.empty() ? 0 : retryDelays_[std::min<size_t>(retry - 1, retryDelays_.size() - 1)];
        if (!RetryWait(file, error, retry, delay)) return TFileEnd::Canceled;
        continue;
      }
      SetFileState(TFileState::Failed, error.what());
      RecordOutcome(TJournalOutcome::Failed, error.what(), false);
      if (failure.EndsBatch()) throw;
      // What concerns this file is told with its name; the session's errors name the server.
      if (!frontEnd_.KeepGoing()) {
        if (failure.scope == TFailureScope::Session || std::string_view(error.what()).find(file) != std::string_view::npos) throw;
        throw EFileNotSent("The file \"" + file + "\" was not sent: " + error.what());
      }
      failures_.push_back(file + ": " + error.what());
      return TFileEnd::Failed;
    }
  }
}

bool TBatchRunner::RetryWait(const std::string& file, const std::exception& error, int retry, double seconds) {
  if (cancelRequested_) return false;
  SetFileState(TFileState::Retrying, error.what());
  SetState(batchtext::kFilePrefix + file + batchtext::kFailedPrefix + error.what() + batchtext::kRetryPrefix +
           std::to_string(retry) + batchtext::kRetryOf + std::to_string(retries_));
  using Clock = std::chrono::steady_clock;
  const auto end = Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
  for (;;) {
    const long long leftMs = std::chrono::ceil<std::chrono::milliseconds>(end - Clock::now()).count();
    const int leftSeconds = static_cast<int>((std::max(leftMs, 0LL) + 999) / 1000);
    frontEnd_.SetLabel(TBatchLabel::RemaindL, std::to_string(leftSeconds) + batchtext::kSecondsSuffix);
    ShowCountdown(leftSeconds);
    if (leftMs <= 0) return true;
    SleepProcessing(static_cast<int>(std::min<long long>(leftMs, kHalfTickMs)));
    PumpFourTimes();
    if (cancelRequested_) return false;
  }
}

TBatchEnd TBatchRunner::EndWithFailures() {
  std::string text = batchtext::kNotSent;
  for (const std::string& failure : failures_) text += "\n" + failure;
  frontEnd_.ShowFailures(text);
  return TBatchEnd::SomeFailed;
}

bool TBatchRunner::Pause(int seconds) {
  frontEnd_.SetLabel(TBatchLabel::RemaindL, std::to_string(seconds));
  for (long long ticks = 2LL * seconds; ticks > 0;) {
    SleepProcessing(kHalfTickMs);
    PumpFourTimes();
    SleepProcessing(kHalfTickMs);
    --ticks;
    if (cancelRequested_) return false;
    frontEnd_.SetLabel(TBatchLabel::RemaindL, std::to_string(ticks / 2) + batchtext::kSecondsSuffix);
    PumpFourTimes();
  }
  return true;
}

TBatchEnd TBatchRunner::Abort() {
  cancelRequested_ = false;
  status_.SetCancelled();
  if (status_.Current() >= 0) {
    TBatchFile& current = status_.File(status_.Current());
    if (current.state == TFileState::Sending || current.state == TFileState::Retrying) current.state = TFileState::Waiting;
  }
  status_.SetCurrent(-1);
  frontEnd_.StatusChanged(status_, -1);
  if (journal_) journal_->Finish();
  EndSession();
  frontEnd_.ShowInformation(batchtext::kAborted);
  return TBatchEnd::Aborted;
}

void TBatchRunner::EndSession() { smtp_.EndSession(); }

void TBatchRunner::SetFileState(TFileState state, const std::string& detail) {
  const int index = status_.Current();
  if (index < 0) return;
  TBatchFile& file = status_.File(index);
  file.state = state;
  file.detail = detail;
  file.secondsLeft = 0;
  file.bytesDone = state == TFileState::Sent ? file.size : 0;
  frontEnd_.StatusChanged(status_, index);
}

void TBatchRunner::ShowFileProgress(int percent) {
  const int index = status_.Current();
  if (index < 0) return;
  TBatchFile& file = status_.File(index);
  // The text carries the file and a little more, so a file's share is its share of the text.
  const uint64_t done = file.size * static_cast<uint64_t>(std::clamp(percent, 0, 100)) / 100;
  if (file.state != TFileState::Sending || done == file.bytesDone) return;
  file.bytesDone = done;
  frontEnd_.StatusChanged(status_, index);
}

void TBatchRunner::ShowCountdown(int seconds) {
  const int index = status_.Current();
  if (index < 0 || status_.File(index).secondsLeft == seconds) return;
  status_.File(index).secondsLeft = seconds;
  frontEnd_.StatusChanged(status_, index);
}

void TBatchRunner::PumpFourTimes() {
  for (int i = 0; i < 4; ++i) frontEnd_.ProcessMessages();
}

void TBatchRunner::SetState(const std::string& text) { frontEnd_.SetLabel(TBatchLabel::StateL, text); }

std::optional<std::vector<TBatchFile>> TBatchRunner::PlanFiles() {
  journal_.reset();
  journalFileName_.clear();
  const std::string resume = frontEnd_.ResumeJournal();
  const auto pump = [this] { frontEnd_.ProcessMessages(); };
  std::vector<TBatchFile> files =
      resume.empty() ? ChosenFiles() : ResumeFiles(ReadJournal(resume), frontEnd_.ResendChanged(), pump);
  const std::string folder = frontEnd_.JournalFolder();
  if (!folder.empty()) {
    std::vector<TBatchFile> absolute = files;
    for (TBatchFile& file : absolute) file.path = AbsolutePath(file.path);
    const std::vector<TSentBefore> sent = SentBefore(absolute, ReadJournals(folder), frontEnd_.MailServer(), frontEnd_.MailTo(), pump);
    if (!sent.empty()) {
      const TBatchFrontEnd::TSentBeforeChoice choice = frontEnd_.SentBefore(sent);
      if (choice == TBatchFrontEnd::TSentBeforeChoice::Cancel) return std::nullopt;
      MarkSentBefore(files, absolute, sent, choice == TBatchFrontEnd::TSentBeforeChoice::Skip);
    }
  }
  OpenJournal(files, folder, resume);
  return files;
}

std::vector<TBatchFile> TBatchRunner::ChosenFiles() {
  TStringList names;
  for (std::string& file : frontEnd_.ChosenFiles()) names.Add(std::move(file));
  if (frontEnd_.SortFiles()) names.Sort();
  std::vector<TBatchFile> files;
  files.reserve(names.Count());
  for (const std::string& name : names.Lines()) {
    TBatchFile file;
    file.path = name;
    file.size = RegularFileSize(name);
    files.push_back(std::move(file));
  }
  return files;
}

void TBatchRunner::OpenJournal(const std::vector<TBatchFile>& files, const std::string& folder,
                               const std::string& resume) {
  if (!resume.empty()) {
    journal_ = std::make_unique<TJournalWriter>(resume);
  } else if (!folder.empty()) {
    TJournalHead head{frontEnd_.MailServer(), frontEnd_.MailFrom(), frontEnd_.MailTo(), frontEnd_.Subject(), {}, {}};
    for (const TBatchFile& file : files) head.files.push_back(AbsolutePath(file.path));
    journal_ = std::make_unique<TJournalWriter>(folder, head);
  }
  if (journal_) journalFileName_ = journal_->FileName();
}

void TBatchRunner::RecordSkipped() {
  digest_ = {};
  for (size_t i = 0; i < status_.Files().size(); ++i)
    if (status_.Files()[i].state == TFileState::Skipped) {
      status_.SetCurrent(static_cast<int>(i));
      RecordOutcome(TJournalOutcome::Skipped, status_.Files()[i].detail, false);
    }
  status_.SetCurrent(-1);
}

void TBatchRunner::RecordOutcome(TJournalOutcome outcome, const std::string& reply, bool durable) {
  if (!journal_ || status_.Current() < 0) return;
  const TBatchFile& file = status_.Files()[status_.Current()];
  TJournalRecord record;
  record.path = AbsolutePath(file.path);
  record.size = digest_.sha256.empty() ? file.size : digest_.size;
  record.sha256 = digest_.sha256;
  record.outcome = outcome;
  record.reply = reply;
  journal_->Record(record, durable);
}

std::string TBatchRunner::Deliver(const std::string& file, const std::string& subject) {
  Prepare(frontEnd_.MailFrom(), frontEnd_.MailTo(), subject, "", file);
  if (TMessageDelivery* delivery = frontEnd_.Delivery()) return delivery->Deliver(message_);
  smtp_.SetMailMessage(&message_);
  smtp_.Send();
  return smtp_.DataReply();
}

void TBatchRunner::PrepareAndSend(const std::string& from, const std::string& to,
                                  const std::string& subject, const std::string& body,
                                  const std::string& fileName) {
  Prepare(from, to, subject, body, fileName);
  smtp_.SetMailMessage(&message_);
  smtp_.Send();
}

void TBatchRunner::Prepare(const std::string& from, const std::string& to, const std::string& subject,
                           const std::string& body, const std::string& fileName) {
  message_.Clear();
  message_.Sender().SetAddress(from);  // the address objects keep the first 255 characters
  message_.Sender().SetName(displayName_);
  message_.SetCharSet(csUSASCII);
  message_.SetEncoding(meMIME);
  message_.Recipients().Clear();
  message_.Recipients().AddAddress(to, "");
  message_.SetSubject(subject);
  message_.Body().Add(body + " ");
  message_.Attachments().Clear();
  message_.Attachments().AddFile(fileName);
}
