#include "app/cli/send/commandline.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>

#include "app/batch/batchplan.h"
#include "app/batch/batchquestions.h"
#include "app/batch/batchrunner.h"
#include "app/batch/credentials.h"
#include "app/batch/messagedelivery.h"
#include "app/batch/passwordsource.h"
#include "net/pxsmtp.h"
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
}  // namespace

void PrintError(const std::exception& error) { std::fprintf(stderr, "%s\n", StandardErrorText(error.what()).c_str()); }

TCommandLine::TCommandLine(const TSettings& s, TOptions o) : settings_(s), options_(std::move(o)) {
  if (options_.dryRun) delivery_ = std::make_unique<TDryRunDelivery>(*options_.dryRun);
  if (options_.sendmail)
    delivery_ =
        std::make_unique<TSendmailDelivery>(*options_.sendmail, options_.timeOut.value_or(kSendmailTimeOutSeconds));
  // A terminal only: a log file or a pipe would fill with carriage returns.
  if (!options_.quiet && ::isatty(STDERR_FILENO)) progress_.emplace(stderr);
}

TCommandLine::~TCommandLine() = default;

void TCommandLine::BuildRequest() {
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
  r.subject = pick(options_.subject, &TJournalHead::subject, settings_.subj);
  r.pauseSeconds = options_.pause.value_or(settings_.pauseSec);
  r.deleteSentFiles = options_.remove.value_or(settings_.delFiles);
  r.sortFiles = options_.sort.value_or(settings_.sortFiles);
  r.newConnectionPerMessage = options_.newConnectionPerMessage.value_or(settings_.newConnectionPerMessage);
  r.retries = options_.retries.value_or(settings_.retries);
  if (options_.retryDelays) r.retryDelays = *options_.retryDelays;
  r.keepGoing = options_.keepGoing.value_or(settings_.keepGoing);
  // A dry run delivers nothing: there is nothing to record.
  if (!options_.noJournal && !options_.dryRun) r.journalFolder = DefaultJournalFolder();
  if (journal) r.resumeJournal = journal->fileName;
  r.resendChanged = options_.resendChanged;
  r.resendUncertain = options_.resendUncertain;
  r.account = Account();
  r.files = options_.files;
  r.delivery = delivery_.get();
}

void TCommandLine::CheckValues() const {
  CheckServer(request_.server);
  CheckAddress("--from", request_.from);
  CheckAddress("--to", request_.to);
  if (request_.pauseSeconds < 0) throw TUsageError("--pause needs zero or more seconds");
}

void TCommandLine::TakePassword(const TpxSMTP& smtp, std::optional<TSecret> variable) {
  std::optional<TSecret> password = ObtainPassword(options_.password, std::move(variable));
  const TAccount& account = request_.account;
  if (account.user.empty()) return;
  if (account.authMethod == TAuthMethod::XOAuth2) {
    if (account.tokenCommand.empty()) throw TUsageError("--auth xoauth2 needs --token-command");
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
  if (progress_) progress_->Finish(runner.Status());
  if (options_.jsonReport) {
    const std::string report = JsonReport(runner.Status(), runner.JournalFileName());
    std::fwrite(report.data(), 1, report.size(), stdout);
    std::fflush(stdout);
  } else if (!runner.Status().Files().empty()) {
    PrintLine(runner.Status().Summary());
  }
}

TBatchQuestions::TSentBeforeChoice TCommandLine::SentBefore(const std::vector<TSentBefore>& files) {
  ClearProgress();
  std::string last;
  for (const TSentBefore& file : files) last = std::max(last, file.time);
  std::fprintf(stderr, "mailcart-send: %zu %s sent to %s before, the last on %s; %s\n", files.size(),
               files.size() == 1 ? "file was" : "files were", DisplayText(request_.to).c_str(), DayOf(last).c_str(),
               options_.skipSent ? "skipping them (--skip-sent)" : "sending them again");
  return options_.skipSent ? TSentBeforeChoice::Skip : TSentBeforeChoice::SendAgain;
}

void TCommandLine::SetLabel(TBatchLabel label, const std::string& text) {
  if (label == TBatchLabel::StateL) PrintChange(lastState_, text);
  if (label == TBatchLabel::RemaindL) PrintChange(lastRemaining_, text);
}

void TCommandLine::ShowError(const std::exception& error) {
  ClearProgress();
  PrintError(error);
}

void TCommandLine::ShowFailures(const std::string& text) {
  ClearProgress();
  std::fprintf(stderr, "%s\n", text.c_str());
}

void TCommandLine::StatusChanged(const TBatchStatus& status, int) {
  if (progress_) progress_->Show(status);
}

void TCommandLine::ProcessMessages() { ProcessMessagesNow(); }

TAccount TCommandLine::Account() const {
  TAccount a = settings_.account;
  if (options_.security) a.security = *options_.security;
  if (options_.user) a.user = *options_.user;
  if (options_.auth) a.authMethod = *options_.auth;
  if (options_.tokenCommand) a.tokenCommand = *options_.tokenCommand;
  if (options_.caFile) a.caFile = *options_.caFile;
  if (options_.fingerprint) a.fingerprint = *options_.fingerprint;
  if (options_.fromName) a.fromName = *options_.fromName;
  return a;
}

// An older batch is never taken in the newest one's place unnoticed.
TJournal TCommandLine::ResumeJournal() const {
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
  std::fprintf(stderr, "mailcart-send: resuming the batch %s (%s): %zu of %zu files left\n",
               BatchDescription(*journal).c_str(), EndingText(*journal).c_str(), UnsentFiles(*journal, journals).size(),
               journal->head.files.size());
  return std::move(*journal);
}

void TCommandLine::PrintChange(std::string& last, const std::string& text) {
  if (text == last) return;
  last = text;
  PrintLine(text);
}

void TCommandLine::PrintLine(const std::string& text) {
  if (options_.jsonReport) return;
  ClearProgress();
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

void TCommandLine::ClearProgress() {
  if (progress_) progress_->Clear();
}
