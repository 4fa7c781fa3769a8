#include "app/batch/batchrunner.h"

#include <unistd.h>

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <utility>

#include "app/batch/batchplan.h"
#include "app/batch/batchquestions.h"
#include "app/batch/batchscope.h"
#include "app/batch/failureadvice.h"
#include "app/batch/filecheck.h"
#include "app/batch/journalcleanup.h"
#include "app/batch/messagedelivery.h"
#include "app/batch/messagetext.h"
#include "app/batch/quotawindow.h"
#include "app/batch/sentfilemove.h"
#include "app/batch/recipients.h"
#include "app/batch/sizecheck.h"
#include "app/batch/sourcefile.h"
#include "app/batch/watchjournal.h"
#include "app/batch/subjecttemplate.h"
#include "mail/addresslist.h"
#include "mail/mailbox.h"
#include "mail/pxmsg.h"
#include "mime/messagesize.h"
#include "net/pxsmtp.h"
#include "net/smtpfailure.h"
#include "toolkit/pump.h"
#include "toolkit/stringlist.h"
#include "toolkit/strtable.h"
#include "toolkit/strutils.h"

namespace {

std::string AbsolutePath(const std::string& path) {
  return std::filesystem::absolute(path).lexically_normal().string();
}

// A slow-down reply is tried again after at least this long, doubled for each try of the file.
constexpr double kSlowDownSeconds = 60;
constexpr int kSlowDownDoublings = 6;
// However soon the limit is expected to reset, a batch waiting for it waits this long at least.
constexpr int64_t kShortestQuotaWait = 60;
}  // namespace

TBatchRunner::TBatchRunner(TpxSMTP& smtp, TpxMessage& message, TBatchFrontEnd frontEnd, std::string senderName)
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

TBatchEnd TBatchRunner::Run(TBatchRequest request) {
  if (sendingActive_) return TBatchEnd::Busy;
  request_ = std::move(request);
  // A cancel or an exit requested while no batch ran, or left over from a batch that had ended
  // before it was seen, belongs to no batch: this one starts afresh.
  cancelRequested_ = false;
  exitRequested_ = false;
  endedUnreachable_ = false;
  const TBatchEnd end = RunScoped();
  // Closing comes after the batch has let go of everything and after its last box, so the
  // close sees no batch.
  if (exitRequested_) frontEnd_.host.CloseApplication();
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
      frontEnd_.view.StatusChanged(status_, -1);
    }
    EndJournal(error);
    EndSession();
    endedUnreachable_ = ClassifyFailure(error).unreachable;
    frontEnd_.view.ShowError(error);
    return TBatchEnd::Failed;
  }
}

void TBatchRunner::EndJournal(const std::exception& error) {
  if (!journal_) return;
  const bool atStart = !filesWent_ && ClassifyFailure(error).scope == TFailureScope::Session;
  try {
    journal_->End(atStart ? TJournalEnd::SetupFailed : TJournalEnd::Failed, error.what());
  } catch (const EJournalError&) {
    // The error shown is the one that ended the batch; without its line the journal reads as a
    // crash, which is resumed all the same.
  }
}

TBatchEnd TBatchRunner::SendAll() {
  startedAt_ = static_cast<int64_t>(std::time(nullptr));
  filesWent_ = serverReached_ = false;
  firstSentAt_.reset();
  quotaResets_.reset();
  // Addresses go into the envelope and the headers as they stand: better told before a
  // connection is made than at the first file.
  CheckMailbox(request_.from);
  CheckRecipients(Recipients());
  if (const std::string problem = MessageTextProblem(request_.body); !problem.empty())
    throw EMessageError("The message text " + problem);
  envelope_ = EnvelopeKey(Recipients());
  smtp_.SetServer(request_.server);
  smtp_.SetKeepSession(request_.maxPerSession != 1);
  ApplyAccount(smtp_, request_.account, request_.signIn);
  displayName_ = request_.account.fromName.empty() ? senderName_ : request_.account.fromName;
  if (LogsInWithPassword(request_.account)) smtp_.SetPassword(frontEnd_.questions.Password());
  request_.retries = std::max(0, request_.retries);
  failures_.clear();
  const int pause = PauseFromValue(request_.pauseSeconds);
  std::optional<std::vector<TBatchFile>> planned = PlanFiles();
  if (!planned) return Abort();
  const int count = static_cast<int>(planned->size());
  status_.Start(std::move(*planned));
  RecordSkipped();
  frontEnd_.view.StatusChanged(status_, -1);
  pacer_.Start(request_, startedAt_);
  for (int i = 0; i < count; ++i) {
    if (status_.Files()[i].state == TFileState::Skipped) continue;
    const std::string file = status_.Files()[i].path;
    status_.SetCurrent(i);
    if (const TSendPacer::TPace pace = pacer_.Before(request_.waitForQuota); pace != TSendPacer::TPace::Go)
      return pace == TSendPacer::TPace::Cancelled ? Abort() : EndAtCap();
    announceNext_ = pause == 0 && pacer_.NextFollowsAtOnce() &&
                    std::any_of(status_.Files().begin() + i + 1, status_.Files().end(),
                                [](const TBatchFile& next) { return next.state != TFileState::Skipped; });
    const TFileEnd end = SendFile(file, SubjectFieldsOf(file, i, count));
    if (end == TFileEnd::Quota && !request_.waitForQuota) return EndAtQuota();
    if (end == TFileEnd::Quota) {
      if (!WaitForQuota()) return Abort();
      --i;  // the same file again, in a new session
      continue;
    }
    if (end == TFileEnd::Canceled || cancelRequested_) return Abort();
    if (end == TFileEnd::Failed || end == TFileEnd::Skipped) continue;
    SetState(batchtext::kFilePrefix + ShownFileName(file) + batchtext::kFileSended + batchtext::kWaitPause);
    if (!countdown_.Pause(pause)) return Abort();
    SetState(batchtext::kEndWaitPause);
  }
  status_.SetCurrent(-1);
  frontEnd_.view.StatusChanged(status_, -1);
  if (journal_) journal_->End(TJournalEnd::Finished);
  EndSession();
  if (!failures_.empty() || status_.Count(TFileState::Uncertain) > 0) return EndWithFailures();
  // "All Sended" would claim what did not happen when every file was skipped: the summary says so.
  frontEnd_.view.ShowInformation(status_.Count(TFileState::Sent) > 0 ? batchtext::kAllSended : status_.Summary());
  return TBatchEnd::AllSent;
}

TBatchRunner::TFileEnd TBatchRunner::SendFile(const std::string& file, const TSubjectFields& fields) {
  std::shared_ptr<TSourceFile> source;
  const TFileScope turn(message_);
  digest_ = {};
  std::optional<std::string> reply;
  for (int retry = 1; !reply; ++retry) {
    try {
      SetFileState(TFileState::Sending, "");
      if (!source) {
        // Opened and locked once; every try reads it from its start as it is sent, the same bytes
        // or a failure, and the journal records what the last read gave.
        source = std::make_shared<TSourceFile>(file, [this] { frontEnd_.host.ProcessMessages(); });
        if (const std::string why = SentMeanwhile(*source); !why.empty()) throw EFileBusy(why);
        PrepareMessage(fields, source);
      }
      if (startFailure_) std::rethrow_exception(std::exchange(startFailure_, nullptr));
      reply = Deliver();
      digest_ = source->Digest();
    } catch (const EFileBusy& busy) {
      SetFileState(TFileState::Skipped, busy.what());
      SetState(busy.what());
      RecordOutcome(TJournalOutcome::Skipped, busy.what(), false);
      return TFileEnd::Skipped;
    } catch (const std::exception& error) {
      if (source) digest_ = source->Digest();
      if (const std::optional<TFileEnd> end = HandleFailure(error, retry)) return *end;
    }
  }
  // Accepted: what follows (the record, the deletion) is no failure of the send, and is never
  // retried.
  serverReached_ = filesWent_ = true;
  pacer_.Sent();
  if (!firstSentAt_) firstSentAt_ = static_cast<int64_t>(std::time(nullptr));
  SetFileState(TFileState::Sent, *reply);
  FinishSent(*source, *reply);
  return TFileEnd::Sent;
}

void TBatchRunner::FinishSent(TSourceFile& source, const std::string& reply) {
  const TMessageDelivery* delivery = Delivery();
  const bool delivers = delivery == nullptr || delivery->Delivers();
  frontEnd_.view.SetLabel(TBatchLabel::SFileShowL, source.Path());
  // The server has accepted the message: its file goes now, also when a cancel came during
  // the send, or the next run would send it again; but only once the journal says so on the
  // disk, or a crash in between would leave no trace of either; and only while its name still
  // holds the bytes that were sent. A failed deletion does not stop the batch.
  const bool move = !request_.moveSentTo.empty() && delivers;
  const bool remove = (request_.deleteSentFiles || move) && delivers;
  const std::string change = remove ? source.Change() : std::string();
  if (!change.empty()) {
    status_.File(status_.Current()).detail = reply + "; " + change;
    frontEnd_.view.StatusChanged(status_, status_.Current());
    SetState(change);
    RecordOutcome(TJournalOutcome::Changed, reply + "; " + change, false);
    return;
  }
  RecordOutcome(delivers ? TJournalOutcome::Sent : TJournalOutcome::Written, reply, remove);
  if (move) {
    if (const TSentFileMove moved = MoveSentFile(source.Path(), source.Stamp(), request_.moveSentTo);
        !moved.problem.empty())
      SetState(moved.problem);
  } else if (remove) {
    ::unlink(source.Path().c_str());
  }
}

std::optional<TBatchRunner::TFileEnd> TBatchRunner::HandleFailure(const std::exception& error, int retry) {
  const std::string& file = status_.Files()[status_.Current()].path;
  TSmtpFailure failure = ClassifyFailure(error);
  // A reply, or a failure of the message alone: the server was there.
  if (failure.scope != TFailureScope::Session || failure.session == TSessionOutcome::Usable ||
      failure.session == TSessionOutcome::Ended)
    serverReached_ = true;
  const TReplyMeaning meaning = ReplyMeaning(error);
  if (meaning == TReplyMeaning::Quota) return QuotaReached(error);
  if (failure.kind == TFailureKind::Uncertain && !request_.resendUncertain) {
    const std::string why = std::string(batchtext::kUncertain) + " (" + error.what() + ")";
    SetFileState(TFileState::Uncertain, why);
    RecordOutcome(TJournalOutcome::Uncertain, why, false);
    return TFileEnd::Uncertain;
  }
  if (failure.kind == TFailureKind::Uncertain) failure.kind = TFailureKind::Transient;
  // A server never reached is a setting to mend (a mistyped host or port), not worth minutes of
  // retries; a resolver that failed for the moment still is (it is no "unknown host").
  const bool misconfigured = failure.unreachable && !serverReached_;
  if (failure.Retryable() && !misconfigured && retry <= request_.retries) {
    const std::vector<double>& delays = request_.retryDelays;
    const bool slowDown = meaning == TReplyMeaning::SlowDown;
    double delay = delays.empty() ? 0 : delays[std::min<size_t>(retry - 1, delays.size() - 1)];
    if (slowDown) delay = std::max(delay, std::ldexp(kSlowDownSeconds, std::min(retry - 1, kSlowDownDoublings)));
    if (!RetryWait(file, error.what(), slowDown, retry, delay)) return TFileEnd::Canceled;
    return std::nullopt;
  }
  SetFileState(TFileState::Failed, error.what());
  RecordOutcome(TJournalOutcome::Failed, error.what(), false);
  // A watch keeps its files queued for a server that went away, and tries again later.
  if (failure.EndsBatch() || misconfigured || (failure.unreachable && request_.watchJournal != nullptr)) throw;
  // What concerns this file is told with its name (a file error names it already); the
  // session's errors name the server.
  if (!request_.keepGoing) {
    if (failure.scope == TFailureScope::Session || dynamic_cast<const EFileError*>(&error) != nullptr) throw;
    throw EFileNotSent("The file " + QuotedName(file) + " was not sent: " + AdvisedText(error));
  }
  failures_.push_back(ShownFileName(file) + ": " + AdvisedText(error));
  return TFileEnd::Failed;
}

bool TBatchRunner::RetryWait(const std::string& file, const std::string& why, bool slowingDown, int retry,
                             double seconds) {
  if (cancelRequested_) return false;
  SetFileState(TFileState::Retrying, slowingDown ? batchtext::kSlowingDown + why : why);
  SetState(batchtext::kFilePrefix + ShownFileName(file) +
           (slowingDown ? batchtext::kSlowedPrefix : batchtext::kFailedPrefix) + why + batchtext::kRetryPrefix +
           std::to_string(retry) + batchtext::kRetryOf + std::to_string(request_.retries));
  return countdown_.CountDown(seconds, [this](int secondsLeft) { ShowCountdown(secondsLeft); });
}

TBatchRunner::TFileEnd TBatchRunner::QuotaReached(const std::exception& error) {
  quotaReply_ = error.what();
  quotaLimit_ = kDailyLimit;
  const std::vector<TJournal> journals =
      request_.journalFolder.empty() ? std::vector<TJournal>() : ReadJournals(request_.journalFolder);
  quotaResets_ = QuotaResetTime(journals, request_.server, request_.account.user, firstSentAt_,
                                static_cast<int64_t>(std::time(nullptr)), quotaReply_);
  SetFileState(TFileState::Waiting, error.what());
  return TFileEnd::Quota;
}

TBatchEnd TBatchRunner::EndAtQuota() {
  status_.SetCurrent(-1);
  frontEnd_.view.StatusChanged(status_, -1);
  if (journal_) journal_->End(TJournalEnd::Quota, quotaReply_, JournalTime(*quotaResets_));
  EndSession();
  const int sent = status_.Count(TFileState::Sent), left = status_.Count(TFileState::Waiting);
  frontEnd_.view.ShowInformation(QuotaSummary(quotaLimit_, sent, left, *quotaResets_, std::time(nullptr), ""));
  return TBatchEnd::QuotaReached;
}

bool TBatchRunner::WaitForQuota() {
  EndSession();  // nothing held open for hours
  const int64_t now = static_cast<int64_t>(std::time(nullptr));
  SetState(batchtext::kWaitingForQuota + ResetTimeText(*quotaResets_, now));
  const int64_t seconds = std::clamp(*quotaResets_ - now, kShortestQuotaWait, kQuotaWindowSeconds);
  quotaResets_.reset();
  return countdown_.Pause(static_cast<int>(seconds));
}

TBatchEnd TBatchRunner::EndAtCap() {
  quotaLimit_ = quotaReply_ = pacer_.StopReason();
  quotaResets_ = pacer_.NextAllowed();
  return EndAtQuota();
}

TBatchEnd TBatchRunner::EndWithFailures() {
  std::string text;
  if (!failures_.empty()) text = batchtext::kNotSent;
  for (const std::string& failure : failures_) text += "\n" + failure;
  for (const TBatchFile& file : status_.Files())
    if (file.state == TFileState::Uncertain)
      text += (text.empty() ? "" : "\n") + ShownFileName(file.path) + ": " + batchtext::kUncertain;
  frontEnd_.view.ShowFailures(text);
  return TBatchEnd::SomeFailed;
}

TBatchEnd TBatchRunner::Abort() {
  cancelRequested_ = false;
  status_.SetCancelled();
  if (status_.Current() >= 0) {
    TBatchFile& current = status_.File(status_.Current());
    if (current.state == TFileState::Sending || current.state == TFileState::Retrying)
      current.state = TFileState::Waiting;
  }
  status_.SetCurrent(-1);
  frontEnd_.view.StatusChanged(status_, -1);
  if (journal_) journal_->End(TJournalEnd::Cancelled);
  EndSession();
  frontEnd_.view.ShowInformation(batchtext::kAborted);
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
  frontEnd_.view.StatusChanged(status_, index);
}

void TBatchRunner::ShowFileProgress(int percent) {
  const int index = status_.Current();
  if (index < 0) return;
  TBatchFile& file = status_.File(index);
  // The text carries the file and a little more, so a file's share is its share of the text.
  const uint64_t done = file.size * static_cast<uint64_t>(std::clamp(percent, 0, 100)) / 100;
  if (file.state != TFileState::Sending || done == file.bytesDone) return;
  file.bytesDone = done;
  frontEnd_.view.StatusChanged(status_, index);
}

void TBatchRunner::ShowCountdown(int seconds) {
  const int index = status_.Current();
  if (index < 0 || status_.File(index).secondsLeft == seconds) return;
  status_.File(index).secondsLeft = seconds;
  frontEnd_.view.StatusChanged(status_, index);
}

void TBatchRunner::SetState(const std::string& text) { frontEnd_.view.SetLabel(TBatchLabel::StateL, text); }

std::optional<std::vector<TBatchFile>> TBatchRunner::PlanFiles() {
  journal_.reset();
  journalFileName_.clear();
  // A removal that fails is told, and the batch goes on: the journal only takes room.
  for (const std::string& warning :
       RemoveOldJournals(request_.journalFolder, request_.journalDays, startedAt_, request_.resumeJournal))
    frontEnd_.view.ShowWarning(warning);
  const auto pump = [this] { frontEnd_.host.ProcessMessages(); };
  std::vector<TBatchFile> files = ChosenFiles();
  if (!request_.resumeJournal.empty()) {
    const TJournal journal = ReadJournal(request_.resumeJournal);
    for (const TJournalRecord& record : journal.records)
      filesWent_ = filesWent_ || record.outcome == TJournalOutcome::Sent;
    files = ResumeFiles(journal, request_.resendChanged, request_.resendUncertain, pump);
  }
  // Before the sent-before question, the journal and any connection: a batch that cannot start
  // leaves no record.
  const std::vector<std::string> unsendable = SkipUnsendable(files, request_.keepGoing);
  failures_.insert(failures_.end(), unsendable.begin(), unsendable.end());
  knownJournals_.clear();
  if (!request_.journalFolder.empty()) {
    std::vector<TBatchFile> absolute = files;
    for (TBatchFile& file : absolute) file.path = AbsolutePath(file.path);
    const std::vector<TJournal> journals = ReadJournals(request_.journalFolder);
    for (const TJournal& journal : journals)
      knownJournals_[journal.fileName] = {journal.written, journal.records.size()};
    const std::vector<TSentBefore> sent = SentBefore(absolute, journals, request_.server, envelope_, pump);
    if (!sent.empty()) {
      const TBatchQuestions::TSentBeforeChoice choice = frontEnd_.questions.SentBefore(sent);
      if (choice == TBatchQuestions::TSentBeforeChoice::Cancel) return std::nullopt;
      MarkSentBefore(files, absolute, sent, choice == TBatchQuestions::TSentBeforeChoice::Skip);
    }
  }
  if (!CheckSizes(files)) return std::nullopt;
  OpenJournal(files);
  return files;
}

bool TBatchRunner::CheckSizes(std::vector<TBatchFile>& files) {
  startFailure_ = nullptr;
  const auto waiting = [](const TBatchFile& file) { return file.state == TFileState::Waiting; };
  if (Delivery() != nullptr || std::none_of(files.begin(), files.end(), waiting)) return true;
  try {
    smtp_.Connect();
  } catch (const std::exception&) {
    startFailure_ = std::current_exception();
    return true;
  }
  serverReached_ = true;
  const uint64_t limit = smtp_.Extensions().SizeLimit();
  const std::vector<TTooLarge> tooLarge = FindTooLarge(files, limit, [&](size_t i) {
    FillFileMessage(SubjectFieldsOf(files[i].path, i, files.size()), files[i].path);
    return ComposedSize(message_, TAttachmentBytes::InFile);
  });
  message_.Attachments().Clear();
  if (tooLarge.empty()) return true;
  if (!request_.keepGoing) {
    switch (frontEnd_.questions.TooLarge(tooLarge, limit)) {
      case TBatchQuestions::TTooLargeChoice::SendOthers: break;
      case TBatchQuestions::TTooLargeChoice::Cancel: return false;
      case TBatchQuestions::TTooLargeChoice::Refuse: throw ETooLargeFiles(TooLargeText(tooLarge, limit));
    }
  }
  const std::vector<std::string> listed = SkipTooLarge(files, tooLarge, limit);
  failures_.insert(failures_.end(), listed.begin(), listed.end());
  return true;
}

std::vector<TBatchFile> TBatchRunner::ChosenFiles() {
  if (!request_.resumeJournal.empty()) return {};
  TStringList names;
  for (const std::string& file : request_.files) names.Add(file);
  if (request_.sortFiles) names.Sort();
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

void TBatchRunner::OpenJournal(const std::vector<TBatchFile>& files) {
  if (!request_.resumeJournal.empty()) {
    journal_ = std::make_unique<TJournalWriter>(request_.resumeJournal);
  } else if (!request_.journalFolder.empty() && request_.watchJournal == nullptr) {
    TJournalHead head;
    head.server = request_.server;
    head.from = request_.from;
    head.subject = request_.subject;
    head.to = request_.to;
    head.cc = request_.cc;
    head.bcc = request_.bcc;
    head.body = request_.body;
    head.user = request_.account.user;
    head.started = JournalTime(startedAt_);
    for (const TBatchFile& file : files) head.files.push_back(AbsolutePath(file.path));
    journal_ = std::make_unique<TJournalWriter>(request_.journalFolder, head);
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
  if ((!journal_ && request_.watchJournal == nullptr) || status_.Current() < 0) return;
  const TBatchFile& file = status_.Files()[status_.Current()];
  TJournalRecord record;
  record.path = AbsolutePath(file.path);
  record.size = digest_.sha256.empty() ? file.size : digest_.size;
  record.sha256 = digest_.sha256;
  record.outcome = outcome;
  record.reply = reply;
  if (request_.watchJournal != nullptr) return request_.watchJournal->Record(record, durable, std::time(nullptr));
  journal_->Record(record, durable);
}

std::string TBatchRunner::SentMeanwhile(const TSourceFile& source) {
  if (!journal_) return {};
  // Only the other journals written to since the start are read again, and of them only the new
  // records: the batch's own grows with every file.
  std::vector<TJournal> journals =
      ReadJournals(request_.journalFolder, [this](const std::string& name, int64_t written) {
        const auto known = knownJournals_.find(name);
        return name != journalFileName_ && (known == knownJournals_.end() || known->second.written != written);
      });
  for (TJournal& journal : journals) {
    const size_t known = std::min(knownJournals_[journal.fileName].records, journal.records.size());
    journal.records.erase(journal.records.begin(), journal.records.begin() + static_cast<long>(known));
  }
  // The digest is known only once the file is sent, so a record of this path and size counts
  // whatever its contents: a conservative skip, as the other Mailcart held the lock to send it.
  if (!FindSentBefore(journals, request_.server, envelope_, AbsolutePath(source.Path()), {source.Size(), ""}).empty())
    return "The file \"" + ShownFileName(source.Path()) + "\" was sent by another Mailcart while this batch ran";
  return {};
}

void TBatchRunner::PrepareMessage(const TSubjectFields& fields, std::shared_ptr<TSourceFile> source) {
  FillFileMessage(fields, source->Path());
  message_.Attachments().Items(0).SetSource(std::move(source));
}

void TBatchRunner::FillFileMessage(const TSubjectFields& fields, const std::string& path) {
  FillMessage(request_.from, Recipients(), FillSubject(request_.subject, fields), FillSubject(request_.body, fields));
  auto item = std::make_unique<TpxAttItem>();
  item->SetFileName(path);
  message_.Attachments().Add(std::move(item));
}

std::string TBatchRunner::Deliver() {
  if (TMessageDelivery* delivery = Delivery()) return delivery->Deliver(message_);
  if (announceNext_) smtp_.AnnounceNext();
  SendPrepared();
  return smtp_.DataReply();
}

void TBatchRunner::PrepareAndSend(const std::string& from, const std::string& to, const std::string& subject,
                                  const std::string& body, const std::string& fileName) {
  Prepare(from, to, subject, body, fileName);
  SendPrepared();
}

void TBatchRunner::SendPrepared() {
  smtp_.SetMailMessage(&message_);
  smtp_.Send();
}

void TBatchRunner::Prepare(const std::string& from, const std::string& to, const std::string& subject,
                           const std::string& body, const std::string& fileName) {
  FillMessage(from, {to, {}, {}}, subject, body);
  message_.Attachments().AddFile(fileName);
}

void TBatchRunner::FillMessage(const std::string& from, const TRecipients& recipients, const std::string& subject,
                               const std::string& body) {
  message_.Clear();
  message_.Sender().SetAddress(from);  // the address objects keep the first 255 characters
  message_.Sender().SetName(displayName_);
  // A text in ASCII goes as it always did; any other is UTF-8 (MessageTextProblem).
  message_.SetCharSet(IsAscii(body) ? csUSASCII : csUTF8);
  message_.SetEncoding(meMIME);
  AddAddressList(recipients.to, message_.Recipients());
  AddAddressList(recipients.cc, message_.CC());
  AddAddressList(recipients.bcc, message_.BCC());
  message_.SetSubject(subject);
  // Without a text the message has a single space: what receivers have always been sent.
  if (body.empty())
    message_.Body().Add(" ");
  else
    message_.Body().SetText(body);
  message_.Attachments().Clear();
}
