#include "app/cli/send/commandline.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <functional>

#include "app/batch/batchplan.h"
#include "app/batch/batchquestions.h"
#include "app/batch/batchrunner.h"
#include "app/batch/credentials.h"
#include "app/batch/failureadvice.h"
#include "app/batch/messagedelivery.h"
#include "app/batch/messagetext.h"
#include "app/batch/passwordsource.h"
#include "app/batch/quotawindow.h"
#include "app/batch/sendcaps.h"
#include "app/cli/send/signincommand.h"
#include "net/pxsmtp.h"
#include "toolkit/foldertree.h"
#include "toolkit/msgbox.h"
#include "toolkit/pump.h"
#include "toolkit/strutils.h"

namespace {
// The system's mailer queues a message in moments; this much is a mailer that hangs.
constexpr int kSendmailTimeOutSeconds = 300;

// Without a secret service there is simply no stored password.
std::optional<TSecret> StoredPassword(const std::string& key) {
  try {
    return TCredentialStore().Read(key);
  } catch (const ENoSecretService&) {
    return std::nullopt;
  }
}
// Each path that is a folder replaced by the regular files inside it (ExpandFolders). A
// subfolder that cannot be read ends the batch before it starts, as an unreadable file does;
// with keepGoing, warn is told of it.
std::vector<std::string> FilesInFolders(const std::vector<std::string>& paths, bool keepGoing,
                                        const std::function<void(const std::string&)>& warn) {
  TFolderFiles found = ExpandFolders(paths);
  std::string problems;
  for (const std::string& problem : found.problems) problems += (problems.empty() ? "" : "\n") + problem;
  if (!problems.empty() && !keepGoing) throw EInOutError(problems + "\n(--keep-going sends the other files)");
  if (!problems.empty()) warn(problems);
  return std::move(found.files);
}
}  // namespace

void PrintError(const std::exception& error) {
  std::fprintf(stderr, "%s\n", StandardErrorText(AdvisedText(error)).c_str());
}

TCommandLine::TCommandLine(const TSettings& s, TOptions o)
    : settings_(s), options_(std::move(o)), outcomes_(options_.dryRun.has_value(), options_.watch.has_value()) {
  if (options_.dryRun) delivery_ = std::make_unique<TDryRunDelivery>(*options_.dryRun);
  if (options_.sendmail)
    delivery_ =
        std::make_unique<TSendmailDelivery>(*options_.sendmail, options_.timeOut.value_or(kSendmailTimeOutSeconds));
  // A terminal only: a log file or a pipe would fill with carriage returns.
  if (!options_.quiet && ::isatty(STDERR_FILENO)) progress_.emplace(stderr);
}

TCommandLine::~TCommandLine() = default;

void TCommandLine::BuildRequest(uint16_t defaultPort) {
  std::optional<TJournal> journal;
  if (options_.resume) journal = ResumeJournal();
  TBatchRequest& r = request_;
  const auto pick = [&](const std::optional<std::string>& option, std::string TJournalHead::*field,
                        const std::string& setting) {
    return option ? *option : journal ? (*journal).head.*field : setting;
  };
  r.server = pick(options_.server, &TJournalHead::server, settings_.mailSrv);
  r.from = pick(options_.from, &TJournalHead::from, settings_.addrFrom);
  r.to = pick(options_.to, &TJournalHead::to, settings_.addr);
  r.cc = pick(options_.cc, &TJournalHead::cc, settings_.cc);
  r.bcc = pick(options_.bcc, &TJournalHead::bcc, settings_.bcc);
  r.subject = pick(options_.subject, &TJournalHead::subject, settings_.subj);
  r.body = options_.bodyFile ? ReadMessageTextFile(*options_.bodyFile) : journal ? journal->head.body : settings_.body;
  r.pauseSeconds = options_.pause.value_or(settings_.pauseSec);
  r.deleteSentFiles = options_.remove.value_or(settings_.delFiles);
  r.sortFiles = options_.sort.value_or(settings_.sortFiles);
  ApplySettingsLimits(r, settings_);
  r.maxPerSession = options_.maxPerSession.value_or(r.maxPerSession);
  for (auto [option, cap] :
       {std::pair{&options_.maxPerMinute, &r.caps.perMinute}, std::pair{&options_.maxPerHour, &r.caps.perHour},
        std::pair{&options_.maxPerDay, &r.caps.perDay}})
    if (*option) *cap = *option;
  r.retries = options_.retries.value_or(settings_.retries);
  if (options_.retryDelays) r.retryDelays = *options_.retryDelays;
  r.keepGoing = options_.keepGoing.value_or(settings_.keepGoing);
  r.journalDays = settings_.journalDays;
  // A dry run delivers nothing: there is nothing to record.
  if (!options_.noJournal && !options_.dryRun) r.journalFolder = DefaultJournalFolder();
  if (journal) r.resumeJournal = journal->fileName;
  r.resendChanged = options_.resendChanged;
  r.resendUncertain = options_.resendUncertain;
  r.waitForQuota = options_.waitForQuota;
  r.account = Account(defaultPort);
  r.files = options_.recursive ? FilesInFolders(options_.files, r.keepGoing, [this](const std::string& text) { ShowWarning(text); })
                             : options_.files;
  r.delivery = delivery_.get();
  waits_ = TBatchWaits(r.retries);
}

void TCommandLine::CheckValues() const {
  CheckServer(request_.server);
  CheckAddress("--from", request_.from);
  CheckAddressList("--to", request_.to, false);
  CheckAddressList("--cc", request_.cc, true);
  CheckAddressList("--bcc", request_.bcc, true);
  if (request_.pauseSeconds < 0) throw TUsageError("--pause needs zero or more seconds");
}

void TCommandLine::TakePassword(const TpxSMTP& smtp, std::optional<TSecret> variable) {
  std::optional<TSecret> password = ObtainPassword(options_.password, std::move(variable));
  const TAccount& account = request_.account;
  if (account.user.empty()) return;
  if (UsesBearerToken(account.authMethod)) {
    if (account.tokenCommand.empty()) request_.signIn = TokenSourceOf(BatchSignIn(request_, options_));
    return;
  }
  const std::string key = AccountKey(account.user, request_.server, smtp.DefaultPort());
  if (!password) password = StoredPassword(key);
  if (!password)
    throw TUsageError("the user " + account.user +
                      " needs a password: give --password-command, --password-file"
                      " or MAILCART_PASSWORD, or remember it for " +
                      key + " in the Mailcart window");
  password_ = std::move(*password);
}

void TCommandLine::Report(const TBatchRunner& runner) {
  const TBatchStatus& status = runner.Status();
  if (progress_) progress_->Finish(status);
  PrintOutcomes(status, true, true);
  if (options_.jsonReport) {
    const std::string report = JsonReport(runner, options_.dryRun.has_value());
    std::fwrite(report.data(), 1, report.size(), stdout);
    std::fflush(stdout);
  } else if (const std::optional<int64_t> resets = runner.QuotaResets()) {
    PrintLine(QuotaSummary(runner.QuotaLimit(), status.Count(TFileState::Sent), status.Count(TFileState::Waiting),
                           *resets, static_cast<int64_t>(std::time(nullptr)), " with mailcart-send --resume"));
  } else if (!status.Files().empty()) {
    PrintLine(SummaryLine(status, options_.dryRun));
  }
  if (!options_.jsonReport && runner.SecondsWaitedForCaps() > 0)
    PrintLine("Waited " + WaitedText(runner.SecondsWaitedForCaps()) + " for the provider's limits.");
}

void TCommandLine::ReportWatchBatch(const TBatchRunner& runner, int kept) {
  const TBatchStatus& status = runner.Status();
  PrintOutcomes(status, true, true);
  outcomes_.NextBatch();
  if (!options_.jsonReport) return;
  const std::vector<TBatchFile>& files = status.Files();
  for (size_t i = 0; i < files.size(); ++i)
    if (DealtWith(files[i].state) && static_cast<int>(i) != kept)
      std::fprintf(stdout, "%s\n", JsonFileLine(files[i], options_.dryRun.has_value()).c_str());
  std::fflush(stdout);
}

TBatchQuestions::TSentBeforeChoice TCommandLine::SentBefore(const std::vector<TSentBefore>& files) {
  std::string last;
  for (const TSentBefore& file : files) last = std::max(last, file.time);
  Notice(std::to_string(files.size()) + (files.size() == 1 ? " file was" : " files were") + " sent to " +
         DisplayText(RecipientsText({request_.to, request_.cc, request_.bcc})) + " before, the last on " + DayOf(last) + "; " +
         (options_.skipSent ? "skipping them (--skip-sent)" : "sending them again"));
  return options_.skipSent ? TSentBeforeChoice::Skip : TSentBeforeChoice::SendAgain;
}

void TCommandLine::SetLabel(TBatchLabel label, const std::string& text) {
  if (label == TBatchLabel::StateL) {
    // A state after a file's send comes once its record is written and the file deleted or kept.
    if (status_ != nullptr) PrintOutcomes(*status_, true, false);
    waits_.End();
    // The waits for the provider's limits are told with their reason, as they start.
    if (text.rfind(batchtext::kWaitingForQuota, 0) == 0 || text.rfind(kWaitingForCaps, 0) == 0) waits_.Because(text);
    if (options_.verbose) PrintChange(lastState_, text);
  }
  if (label == TBatchLabel::RemaindL) {
    if (options_.verbose) PrintChange(lastRemaining_, text);
    if (waits_.CountDown(text)) TellWait();
    DrawProgress();
  }
}

void TCommandLine::ShowInformation(const std::string& text) {
  if (options_.verbose) PrintLine(text);
}

void TCommandLine::ShowError(const std::exception& error) {
  ClearProgress();
  PrintError(error);
}

void TCommandLine::ShowFailures(const std::string& text) {
  ClearProgress();
  std::fprintf(stderr, "%s\n", text.c_str());
}

void TCommandLine::StatusChanged(const TBatchStatus& status, int index) {
  status_ = &status;
  if (status.Current() != current_) {
    current_ = status.Current();
    waits_.NextFile();
  }
  if (index < 0 || status.Files()[index].state == TFileState::Sending) waits_.End();
  PrintOutcomes(status, false, false);
  DrawProgress();
}

void TCommandLine::ProcessMessages() { ProcessMessagesNow(); }

TAccount TCommandLine::Account(uint16_t defaultPort) {
  TAccount a = settings_.account;
  if (options_.security) a.security = *options_.security;
  if (options_.user) {
    a.user = *options_.user;
  } else {
    a.user = UserFor(settings_, request_.server, defaultPort);
    if (a.user.empty() && !settings_.account.user.empty())
      Notice("the user " + DisplayText(settings_.account.user) + " of the settings was saved for " +
             DisplayText(settings_.userServer) + ", not " + DisplayText(request_.server) +
             ": sending without a login (--user NAME logs in)");
  }
  if (options_.auth) a.authMethod = *options_.auth;
  if (options_.tokenCommand) a.tokenCommand = *options_.tokenCommand;
  if (options_.oauthIssuer) a.oauthIssuer = *options_.oauthIssuer;
  if (options_.oauthClientId) a.oauthClientId = *options_.oauthClientId;
  if (options_.caFile) a.caFile = *options_.caFile;
  if (options_.fingerprint) a.fingerprint = *options_.fingerprint;
  if (options_.fromName) a.fromName = *options_.fromName;
  return a;
}

// An older batch is never taken in the newest one's place unnoticed.
TJournal TCommandLine::ResumeJournal() {
  const std::string folder = DefaultJournalFolder();
  const std::vector<TJournal> journals = ReadJournals(folder);
  std::optional<TJournal> journal;
  if (options_.resume->empty()) {
    std::string why;
    journal = NewestResumable(journals, why);
    if (!journal)
      throw EJournalError("There is no batch to resume in " + folder + ": " + why +
                          (journals.size() > 1 ? "; an older one is resumed with --resume=JOURNAL" : ""));
  } else {
    journal = ReadJournal(*options_.resume);
    if (journal->running)
      throw EJournalError("The batch of " + *options_.resume + " is being sent by another Mailcart");
  }
  Notice("resuming the batch " + BatchDescription(*journal) + " (" + EndingText(*journal) +
         "): " + std::to_string(UnsentFiles(*journal, journals).size()) + " of " +
         std::to_string(journal->head.files.size()) + " files left");
  return std::move(*journal);
}

void TCommandLine::PrintChange(std::string& last, const std::string& text) {
  if (text == last) return;
  last = text;
  PrintLine(text);
}

void TCommandLine::PrintOutcomes(const TBatchStatus& status, bool moved, bool all) {
  for (const std::string& line : outcomes_.Take(status, moved, all)) PrintLine(line);
}

void TCommandLine::PrintLine(const std::string& text) {
  if (options_.jsonReport || options_.quiet) return;
  ClearProgress();
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

void TCommandLine::ShowWarning(const std::string& text) { Notice("warning: " + text); }

void TCommandLine::Notice(const std::string& text) {
  ClearProgress();
  std::fprintf(stderr, "mailcart-send: %s\n", text.c_str());
}

void TCommandLine::TellWait() {
  const std::string waiting = waits_.Text();
  if (options_.quiet || waiting.empty()) return;
  if (waits_.Retrying() && status_ != nullptr && current_ >= 0) {
    const TBatchFile& file = status_->Files()[current_];
    Notice(FilePrefix(current_ + 1, status_->Files().size()) + " " + ShownFileName(file.path) + ": " +
           DisplayText(file.detail) + "; " + waiting);
  } else if (!progress_) {
    Notice(waiting);
  }
}

void TCommandLine::DrawProgress() {
  if (progress_ && status_ != nullptr) progress_->Show(*status_, waits_.Text());
}

void TCommandLine::ClearProgress() {
  if (progress_) progress_->Clear();
}
