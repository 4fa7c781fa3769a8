// mailcart-send: the batch of the window's "Send" button from a shell, with no display.
// Values come from the window's settings file and the options override them; the settings
// file is never written. Each state text goes to standard output on its own line as it
// changes, the text of an error to standard error. SIGINT and SIGTERM act like "Cancel
// sending": the message in progress is completed, then the batch stops; a second one ends the
// program at once.
#include <unistd.h>

#include <QCoreApplication>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cmath>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/batch/batchplan.h"
#include "app/batch/batchquestions.h"
#include "app/cli/send/batchreport.h"
#include "app/batch/batchrunner.h"
#include "app/batch/credentials.h"
#include "app/batch/mailcomponents.h"
#include "app/batch/messagedelivery.h"
#include "app/batch/passwordsource.h"
#include "app/batch/settings.h"
#include "mail/mailbox.h"
#include "toolkit/hostport.h"
#include "toolkit/msgbox.h"
#include "toolkit/pump.h"
#include "toolkit/strutils.h"
#include "toolkit/version.h"

namespace {

constexpr int kExitAllSent = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitCanceled = 3;
constexpr long kMaxTimeOutSeconds = 86400;
constexpr long kMaxRetries = 100;
// The system's mailer queues a message in moments; this much is a mailer that hangs.
constexpr int kSendmailTimeOutSeconds = 300;

constexpr char kUsage[] =
    "usage: mailcart-send [--settings FILE] [--server HOST[:PORT]] [--from ADDR] [--to ADDR]\n"
    "                     [--subject TEXT] [--from-name TEXT] [--pause SECONDS]\n"
    "                     [--sort | --no-sort] [--delete | --no-delete] [--timeout SECONDS]\n"
    "                     [--new-connection-per-message] [--retries N]\n"
    "                     [--retry-delays SECONDS,...] [--keep-going]\n"
    "                     [--security auto|starttls|tls|none] [--user NAME]\n"
    "                     [--auth auto|plain|login|xoauth2] [--token-command CMD]\n"
    "                     [--password-command CMD | --password-file FILE]\n"
    "                     [--ca-file FILE] [--fingerprint SHA256]\n"
    "                     [--dry-run=DIR | --sendmail[=PATH]] [--no-journal]\n"
    "                     [--skip-sent] [--report=json|text] [--quiet] FILE...\n"
    "       mailcart-send --resume[=JOURNAL] [--resend-changed] [--resend-uncertain] [options]\n"
    "       mailcart-send --version\n"
    "Sends each FILE as the attachment of its own message. Values not given come from the\n"
    "settings file of the Mailcart window (--settings names another). The subject may hold\n"
    "{name}, {n}, {count} and {date}, filled in for each file. One session carries the whole\n"
    "batch unless --new-connection-per-message is given. A send that failed in a way that\n"
    "may pass (a 4xx reply, a lost connection) is tried again after 5, 30 and 120 seconds\n"
    "(--retries, --retry-delays; the last delay repeats). A message the server may have\n"
    "kept (the connection went after its end, before the reply) is reported as uncertain\n"
    "and sent again only with --resend-uncertain. With --keep-going a file that\n"
    "cannot be sent is named at the end and the others are still sent; a refused login or\n"
    "certificate always ends the batch. Each batch is recorded in a journal in\n"
    "$XDG_STATE_HOME/mailcart (~/.local/state/mailcart); --resume sends the files of the\n"
    "newest batch (if it was cancelled, cut short or ended by an error) or of JOURNAL that\n"
    "were not accepted, unless they changed since (--resend-changed sends those too).\n"
    "Files a journal records as sent to the same\n"
    "server and recipient are named on standard error and sent again, or left out with\n"
    "--skip-sent. --dry-run writes each message as DIR/NNNN.eml; --sendmail hands it to the\n"
    "system's mailer (/usr/sbin/sendmail -i -f FROM -- TO). --report=json prints one JSON\n"
    "document and nothing else on standard output. On a terminal a progress line is shown\n"
    "on standard error unless --quiet. Optional values are given with \"=\" only. With a user name, the\n"
    "password comes from one of --password-command, --password-file, MAILCART_PASSWORD or the\n"
    "secret service entry the window saved; never from the command line. Exit status: 0 all\n"
    "sent, 1 an error ended the batch or a file was not sent, 2 wrong usage (also: a user name without a password),\n"
    "3 cancelled (SIGINT or SIGTERM; a second one ends the program at once).\n";

struct TOptions {
  std::optional<std::string> settingsFile, server, from, to, subject;
  std::optional<double> pause;
  std::optional<bool> sort, remove, newConnectionPerMessage, keepGoing;
  bool resendChanged = false, resendUncertain = false, skipSent = false, noJournal = false, quiet = false,
       jsonReport = false;
  std::optional<std::string> resume, dryRun, sendmail;
  std::optional<int> timeOut, retries;
  std::optional<std::vector<double>> retryDelays;
  std::optional<TpxSecurity> security;
  std::optional<TAuthMethod> auth;
  std::optional<std::string> user, tokenCommand, caFile, fingerprint, fromName;
  TPasswordOptions password;
  std::vector<std::string> files;
};

class TUsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

double ParseSeconds(const std::string& option, const std::string& text) {
  char* end = nullptr;
  errno = 0;
  const double value = std::strtod(text.c_str(), &end);
  if (text.empty() || *end != '\0' || errno != 0 || !std::isfinite(value))
    throw TUsageError(option + " needs a number of seconds, not \"" + text + "\"");
  return value;
}

// A whole number from min to max; what names it in the error ("whole seconds").
int ParseWhole(const std::string& option, const std::string& text, long min, long max, const std::string& what) {
  char* end = nullptr;
  errno = 0;
  const long value = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || errno != 0 || value < min || value > max)
    throw TUsageError(option + " needs " + what + " from " + std::to_string(min) + " to " + std::to_string(max));
  return static_cast<int>(value);
}

// "5,30,120": seconds, zero or more each.
std::vector<double> ParseRetryDelays(const std::string& text) {
  std::vector<double> delays;
  for (size_t start = 0; start <= text.size();) {
    const size_t comma = std::min(text.find(',', start), text.size());
    const double delay = ParseSeconds("--retry-delays", text.substr(start, comma - start));
    if (delay < 0) throw TUsageError("--retry-delays needs zero or more seconds each");
    delays.push_back(delay);
    start = comma + 1;
  }
  return delays;
}

TpxSecurity ParseSecurityOption(const std::string& text) {
  TpxSecurity security;
  if (!ParseSecurity(text, security)) throw TUsageError("--security needs auto, starttls, tls or none");
  return security;
}

TAuthMethod ParseAuthOption(const std::string& text) {
  TAuthMethod method;
  if (!ParseAuthMethod(text, method)) throw TUsageError("--auth needs auto, plain, login or xoauth2");
  return method;
}

std::string ParseFingerprintOption(const std::string& text) {
  std::string fingerprint;
  if (text.empty() || !NormaliseFingerprint(text, fingerprint))
    throw TUsageError("--fingerprint needs the SHA-256 of the certificate: 64 hex digits, colons allowed");
  return fingerprint;
}

// True for json.
bool ParseReport(const std::string& text) {
  if (text != "json" && text != "text") throw TUsageError("--report needs json or text");
  return text == "json";
}

void CheckCombination(const TOptions& o) {
  if (o.resume && !o.files.empty()) throw TUsageError("--resume sends the files of its journal: give no FILE");
  if (!o.resume && o.files.empty()) throw TUsageError("no file to send");
  if (o.resendChanged && !o.resume) throw TUsageError("--resend-changed goes with --resume");
  if (o.dryRun && o.sendmail) throw TUsageError("give one of --dry-run and --sendmail");
  if (o.dryRun && o.dryRun->empty()) throw TUsageError("--dry-run needs a folder");
}

// Options take their value as the next argument or after "="; "--" ends the options.
TOptions ParseArguments(const std::vector<std::string>& args) {
  TOptions o;
  bool optionsEnded = false;
  // Header values go out as UTF-8 encoded words; other bytes would be sent as garbage.
  for (size_t i = 0; i < args.size(); ++i)
    if (!IsValidUtf8(args[i])) throw TUsageError("argument " + std::to_string(i + 1) + " is not valid UTF-8");
  for (size_t i = 0; i < args.size(); ++i) {
    std::string arg = args[i];
    if (optionsEnded || arg.size() < 2 || arg.compare(0, 2, "--") != 0) {
      o.files.push_back(arg);
      continue;
    }
    if (arg == "--") {
      optionsEnded = true;
      continue;
    }
    std::optional<std::string> inlineValue;
    if (const size_t eq = arg.find('='); eq != std::string::npos) {
      inlineValue = arg.substr(eq + 1);
      arg.resize(eq);
    }
    auto value = [&]() -> std::string {
      if (inlineValue) return *inlineValue;
      if (i + 1 >= args.size()) throw TUsageError(arg + " needs a value");
      return args[++i];
    };
    auto flag = [&](std::optional<bool>& target, bool on) {
      if (inlineValue) throw TUsageError(arg + " takes no value");
      target = on;
    };
    auto set = [&](bool& target) {
      if (inlineValue) throw TUsageError(arg + " takes no value");
      target = true;
    };
    // Given with "=" only, so that a file name after it is never taken for its value.
    auto optionalValue = [&](const std::string& fallback) {
      if (inlineValue && inlineValue->empty()) throw TUsageError(arg + "= needs a value");
      return inlineValue.value_or(fallback);
    };
    if (arg == "--settings") o.settingsFile = value();
    else if (arg == "--server") o.server = value();
    else if (arg == "--from") o.from = value();
    else if (arg == "--to") o.to = value();
    else if (arg == "--subject") o.subject = value();
    else if (arg == "--from-name") o.fromName = value();
    else if (arg == "--pause") o.pause = ParseSeconds(arg, value());
    else if (arg == "--timeout") o.timeOut = ParseWhole(arg, value(), 1, kMaxTimeOutSeconds, "whole seconds");
    else if (arg == "--retries") o.retries = ParseWhole(arg, value(), 0, kMaxRetries, "a whole number");
    else if (arg == "--retry-delays") o.retryDelays = ParseRetryDelays(value());
    else if (arg == "--security") o.security = ParseSecurityOption(value());
    else if (arg == "--user") o.user = value();
    else if (arg == "--auth") o.auth = ParseAuthOption(value());
    else if (arg == "--password-command") o.password.command = value();
    else if (arg == "--password-file") o.password.file = value();
    else if (arg == "--token-command") o.tokenCommand = value();
    else if (arg == "--ca-file") o.caFile = value();
    else if (arg == "--fingerprint") o.fingerprint = ParseFingerprintOption(value());
    // Its value would already be in the process list for every user to read.
    else if (arg == "--password") throw TUsageError("there is no --password: use --password-command, --password-file or MAILCART_PASSWORD");
    else if (arg == "--sort") flag(o.sort, true);
    else if (arg == "--no-sort") flag(o.sort, false);
    else if (arg == "--delete") flag(o.remove, true);
    else if (arg == "--no-delete") flag(o.remove, false);
    else if (arg == "--new-connection-per-message") flag(o.newConnectionPerMessage, true);
    else if (arg == "--keep-going") flag(o.keepGoing, true);
    else if (arg == "--resume") o.resume = optionalValue("");
    else if (arg == "--resend-changed") set(o.resendChanged);
    else if (arg == "--resend-uncertain") set(o.resendUncertain);
    else if (arg == "--skip-sent") set(o.skipSent);
    else if (arg == "--no-journal") set(o.noJournal);
    else if (arg == "--quiet") set(o.quiet);
    else if (arg == "--report") o.jsonReport = ParseReport(value());
    else if (arg == "--dry-run") o.dryRun = value();
    else if (arg == "--sendmail") o.sendmail = optionalValue(TSendmailDelivery::kDefaultPath);
    else throw TUsageError("unknown option " + arg);
  }
  CheckCombination(o);
  return o;
}

// Read as the socket client reads it: "host:abc" must not quietly become port 25. An empty one
// is the batch's to report.
void CheckServer(const std::string& server) {
  if (server.empty()) return;
  try {
    ParseHostPort(server);
  } catch (const EConvertError& error) {
    throw TUsageError("--server: " + std::string(error.what()));
  }
}

// An address goes into MAIL FROM or RCPT TO as it stands: one check, the batch's and the SMTP
// client's, with its reason as a usage error.
void CheckAddress(const std::string& option, const std::string& address) {
  if (address.empty()) throw TUsageError(option + " needs an address");
  if (const std::string problem = MailboxProblem(address); !problem.empty()) throw TUsageError(option + ": " + problem);
}

// The window's settings file: the window is installed beside this program.
std::string WindowSettingsFile() {
  const std::filesystem::path self(ExecutablePath());
  return SettingsFileName((self.parent_path() / "mailcart").string());
}

void PrintError(const std::exception& error) {
  std::fprintf(stderr, "%s\n", StandardErrorText(error.what()).c_str());
}

class TCommandLine : public TBatchFrontEnd {
 public:
  TCommandLine(const TSettings& s, TOptions o) : settings_(s), options_(std::move(o)) {
    if (options_.dryRun) delivery_ = std::make_unique<TDryRunDelivery>(*options_.dryRun);
    if (options_.sendmail)
      delivery_ = std::make_unique<TSendmailDelivery>(*options_.sendmail, options_.timeOut.value_or(kSendmailTimeOutSeconds));
    // A terminal only: a log file or a pipe would fill with carriage returns.
    if (!options_.quiet && ::isatty(STDERR_FILENO)) progress_.emplace(stderr);
  }

  // The values in effect: an option's, else the journal's of a resumed batch, else the settings
  // file's. Built once; the batch reads nothing else.
  TBatchRequest Request() override { return request_; }
  TSecret Password() override { return std::move(password_); }
  // One line however many files: the report names them.
  TSentBeforeChoice SentBefore(const std::vector<TSentBefore>& files) override {
    ClearProgress();
    std::string last;
    for (const TSentBefore& file : files) last = std::max(last, file.time);
    std::fprintf(stderr, "mailcart-send: %zu %s sent to %s before, the last on %s; %s\n", files.size(),
                 files.size() == 1 ? "file was" : "files were", DisplayText(request_.to).c_str(), DayOf(last).c_str(),
                 options_.skipSent ? "skipping them (--skip-sent)" : "sending them again");
    return options_.skipSent ? TSentBeforeChoice::Skip : TSentBeforeChoice::SendAgain;
  }
  TMessageDelivery* Delivery() override { return delivery_.get(); }
  bool NeedsPassword() const { return delivery_ == nullptr; }

  // Builds the request; for --resume from the journal named, or the newest batch when it may be
  // resumed, whose values stand in for those not given as options. What is resumed is named
  // first.
  void BuildRequest() {
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
  }

  // The summary, or the JSON report, once the batch has ended.
  void Report(const TBatchRunner& runner) {
    if (progress_) progress_->Finish(runner.Status());
    if (options_.jsonReport) {
      const std::string report = JsonReport(runner.Status(), runner.JournalFileName());
      std::fwrite(report.data(), 1, report.size(), stdout);
      std::fflush(stdout);
    } else if (!runner.Status().Files().empty()) {
      PrintLine(runner.Status().Summary());
    }
  }

  // A user who logs in with a password and has none is told here, before anything connects.
  void TakePassword(const TpxSMTP& smtp, std::optional<TSecret> variable) {
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
      throw TUsageError("the user " + account.user + " needs a password: give --password-command, --password-file"
                        " or MAILCART_PASSWORD, or remember it for " + key + " in the Mailcart window");
    password_ = std::move(*password);
  }

  // The values in effect, whether from an option or from the settings file, are checked
  // before anything connects.
  void CheckValues() {
    CheckServer(request_.server);
    CheckAddress("--from", request_.from);
    CheckAddress("--to", request_.to);
    if (request_.pauseSeconds < 0) throw TUsageError("--pause needs zero or more seconds");
  }

  // The file just sent is named by the state line already.
  void SetLabel(TBatchLabel label, const std::string& text) override {
    if (label == TBatchLabel::StateL) PrintChange(lastState_, text);
    if (label == TBatchLabel::RemaindL) PrintChange(lastRemaining_, text);
  }
  void ShowInformation(const std::string& text) override { PrintLine(text); }
  void ShowError(const std::exception& error) override {
    ClearProgress();
    PrintError(error);
  }
  void ShowFailures(const std::string& text) override {
    ClearProgress();
    std::fprintf(stderr, "%s\n", text.c_str());
  }
  void StatusChanged(const TBatchStatus& status, int) override {
    if (progress_) progress_->Show(status);
  }
  void ProcessMessages() override { ProcessMessagesNow(); }
  void CloseApplication() override {}

 private:
  TAccount Account() const {
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

  // The journal of --resume: the one named, or the newest batch when it may be resumed; an older
  // one is never taken in its place unnoticed.
  TJournal ResumeJournal() const {
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
      if (journal->running) throw EJournalError("The batch of " + *options_.resume + " is being sent by another Mailcart");
    }
    std::fprintf(stderr, "mailcart-send: resuming the batch %s (%s): %zu of %zu files left\n",
                 BatchDescription(*journal).c_str(),
                 EndingText(*journal).c_str(), UnsentFiles(*journal, journals).size(), journal->head.files.size());
    return std::move(*journal);
  }

  void PrintChange(std::string& last, const std::string& text) {
    if (text == last) return;
    last = text;
    PrintLine(text);
  }
  // With --report=json standard output holds the report and nothing else.
  void PrintLine(const std::string& text) {
    if (options_.jsonReport) return;
    ClearProgress();
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
  }

  // Without a secret service there is simply no stored password.
  static std::optional<TSecret> StoredPassword(const std::string& key) {
    try {
      return TCredentialStore().Read(key);
    } catch (const ENoSecretService&) {
      return std::nullopt;
    }
  }

  void ClearProgress() {
    if (progress_) progress_->Clear();
  }

  const TSettings settings_;
  TOptions options_;
  TBatchRequest request_;
  TSecret password_;
  std::string lastState_, lastRemaining_;
  std::unique_ptr<TMessageDelivery> delivery_;
  std::optional<TProgressLine> progress_;
};

// SIGINT and SIGTERM are blocked before any thread starts, so no thread takes them the ordinary
// way, and one thread of their own waits for them from the program's start. Before a batch
// runs, one ends the program at once; during a batch the first cancels it through the event
// loop (the message in progress is finished) and a second ends the program at once: every file
// accepted so far is in the journal already, which is written line by line.
class TStopSignals {
 public:
  TStopSignals() {
    sigemptyset(&set_);
    sigaddset(&set_, SIGINT);
    sigaddset(&set_, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &set_, nullptr);
    std::thread([this] { Wait(); }).detach();
  }
  TStopSignals(const TStopSignals&) = delete;
  TStopSignals& operator=(const TStopSignals&) = delete;

  // The batch that the first signal cancels; nullptr: none.
  void Watch(TBatchRunner* runner) { runner_.store(runner); }

 private:
  void Wait() {
    for (int received = 0;;) {
      int signal = 0;
      if (sigwait(&set_, &signal) != 0) continue;
      TBatchRunner* runner = runner_.load();
      QCoreApplication* app = QCoreApplication::instance();
      if (runner == nullptr || app == nullptr || ++received > 1) {
        static constexpr char kText[] = "mailcart-send: stopped\n";
        [[maybe_unused]] const ssize_t written = ::write(STDERR_FILENO, kText, sizeof kText - 1);
        ::_exit(kExitCanceled);
      }
      QMetaObject::invokeMethod(app, [this] {
        if (TBatchRunner* current = runner_.load()) current->RequestCancel();
      }, Qt::QueuedConnection);
    }
  }

  sigset_t set_;
  std::atomic<TBatchRunner*> runner_{nullptr};
};

int Send(TOptions options, TStopSignals& stopSignals, std::optional<TSecret> passwordVariable) {
  const std::string settingsFile = options.settingsFile.value_or(WindowSettingsFile());
  const std::optional<int> timeOut = options.timeOut;
  const TSettings settings = ReadSettings(settingsFile);
  for (const std::string& warning : settings.warnings) std::fprintf(stderr, "mailcart-send: warning: %s\n", warning.c_str());
  TCommandLine frontEnd(settings, std::move(options));
  frontEnd.BuildRequest();
  frontEnd.CheckValues();
  TMailComponents components;
  if (frontEnd.NeedsPassword()) frontEnd.TakePassword(components.pxSMTP1, std::move(passwordVariable));
  if (timeOut) components.pxSMTP1.SetTimeOut(*timeOut);
  TBatchRunner runner(components.pxSMTP1, components.pxMessage1, frontEnd,
                      ProgramTitle(TVersionInfo(ExecutablePath())));
  stopSignals.Watch(&runner);
  const TBatchEnd end = runner.Run();
  stopSignals.Watch(nullptr);
  frontEnd.Report(runner);
  switch (end) {
    case TBatchEnd::AllSent: return kExitAllSent;
    case TBatchEnd::Aborted: return kExitCanceled;
    default: return kExitFailed;
  }
}

}  // namespace

int main(int argc, char** argv) {
  // Before anything else: no thread may take the signals their own way, and no child (a
  // password or token command, the system's mailer) may inherit the password.
  TStopSignals stopSignals;
  std::optional<TSecret> passwordVariable = TakePasswordVariable();
  const std::vector<std::string> args(argv + 1, argv + argc);
  QCoreApplication app(argc, argv);  // the event loop of the socket client; no display
  if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
    std::fputs(kUsage, stdout);
    return kExitAllSent;
  }
  if (args.size() == 1 && args[0] == "--version") {
    std::printf("mailcart-send %s\n", TVersionInfo(ExecutablePath()).FileVersion().c_str());
    return kExitAllSent;
  }
  try {
    return Send(ParseArguments(args), stopSignals, std::move(passwordVariable));
  } catch (const EPasswordUsage& error) {
    std::fprintf(stderr, "mailcart-send: %s\n%s", error.what(), kUsage);
    return kExitUsage;
  } catch (const TUsageError& error) {
    std::fprintf(stderr, "mailcart-send: %s\n%s", error.what(), kUsage);
    return kExitUsage;
  } catch (const std::exception& error) {
    PrintError(error);
    return kExitFailed;
  }
}
