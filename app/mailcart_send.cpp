// mailcart-send: the batch of the window's "Send" button from a shell, with no display.
// Values come from the window's settings file and the options override them; the settings
// file is never written. Each state text goes to standard output on its own line as it
// changes, the text of an error to standard error. SIGINT and SIGTERM act like "Cancel
// sending": the message in progress is completed, then the batch stops.
#include <sys/signalfd.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QSocketNotifier>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cmath>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "app/batchreport.h"
#include "app/batchrunner.h"
#include "app/credentials.h"
#include "app/mailcomponents.h"
#include "app/messagedelivery.h"
#include "app/passwordsource.h"
#include "app/settings.h"
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
    "       mailcart-send --resume[=JOURNAL] [--resend-changed] [options]\n"
    "       mailcart-send --version\n"
    "Sends each FILE as the attachment of its own message. Values not given come from the\n"
    "settings file of the Mailcart window (--settings names another). The subject may hold\n"
    "{name}, {n}, {count} and {date}, filled in for each file. One session carries the whole\n"
    "batch unless --new-connection-per-message is given. A send that failed in a way that\n"
    "may pass (a 4xx reply, a lost connection) is tried again after 5, 30 and 120 seconds\n"
    "(--retries, --retry-delays; the last delay repeats). With --keep-going a file that\n"
    "cannot be sent is named at the end and the others are still sent; a refused login or\n"
    "certificate always ends the batch. Each batch is recorded in a journal in\n"
    "$XDG_STATE_HOME/mailcart (~/.local/state/mailcart); --resume sends the files of the\n"
    "newest unfinished batch (or of JOURNAL) that were not accepted, unless they changed\n"
    "since (--resend-changed sends those too). Files a journal records as sent to the same\n"
    "server and recipient are named on standard error and sent again, or left out with\n"
    "--skip-sent. --dry-run writes each message as DIR/NNNN.eml; --sendmail hands it to the\n"
    "system's mailer (/usr/sbin/sendmail -i -f FROM -- TO). --report=json prints one JSON\n"
    "document and nothing else on standard output. On a terminal a progress line is shown\n"
    "on standard error unless --quiet. Optional values are given with \"=\" only. With a user name, the\n"
    "password comes from one of --password-command, --password-file, MAILCART_PASSWORD or the\n"
    "secret service entry the window saved; never from the command line. Exit status: 0 all\n"
    "sent, 1 an error ended the batch or a file was not sent, 2 wrong usage (also: a user name without a password),\n"
    "3 cancelled (SIGINT or SIGTERM).\n";

struct TOptions {
  std::optional<std::string> settingsFile, server, from, to, subject;
  std::optional<double> pause;
  std::optional<bool> sort, remove, newConnectionPerMessage, keepGoing;
  bool resendChanged = false, skipSent = false, noJournal = false, quiet = false, jsonReport = false;
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

// A port is a number from 1 to 65535: "host:abc" must not quietly become port 25.
void CheckServer(const std::string& server) {
  const size_t colon = server.find(':');
  if (colon == std::string::npos) return;
  const std::string port = server.substr(colon + 1);
  const bool digits = !port.empty() && port.size() <= 5 &&
                      port.find_first_not_of("0123456789") == std::string::npos;
  if (!digits || std::stoi(port) < 1 || std::stoi(port) > 65535)
    throw TUsageError("--server needs a port from 1 to 65535, not \"" + port + "\"");
}

// An address goes into MAIL FROM or RCPT TO as it stands: a control character (CR LF above
// all) could end the command and start another, so it is never echoed either.
void CheckAddress(const std::string& option, const std::string& address) {
  if (address.empty()) throw TUsageError(option + " needs an address");
  for (const unsigned char c : address)
    if (c < 0x20 || c == 0x7f) throw TUsageError(option + " must not hold control characters");
  // SMTP without SMTPUTF8 (RFC 6531) takes ASCII addresses only.
  if (!IsAscii(address)) throw TUsageError(option + " needs an address in ASCII letters, not \"" + address + "\"");
  if (address.find(' ') != std::string::npos || address.find('@') == std::string::npos)
    throw TUsageError(option + " needs an address like name@example.com, not \"" + address + "\"");
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

  std::string MailServer() override { return options_.server.value_or(settings_.mailSrv); }
  std::string MailFrom() override { return options_.from.value_or(settings_.addrFrom); }
  std::string MailTo() override { return options_.to.value_or(settings_.addr); }
  std::string Subject() override { return options_.subject.value_or(settings_.subj); }
  double PauseSeconds() override { return options_.pause.value_or(settings_.pauseSec); }
  bool DeleteSentFiles() override { return options_.remove.value_or(settings_.delFiles); }
  bool SortFiles() override { return options_.sort.value_or(settings_.sortFiles); }
  std::vector<std::string> ChosenFiles() override { return options_.files; }
  bool NewConnectionPerMessage() override {
    return options_.newConnectionPerMessage.value_or(settings_.newConnectionPerMessage);
  }
  int Retries() override { return options_.retries.value_or(settings_.retries); }
  std::vector<double> RetryDelays() override {
    return options_.retryDelays.value_or(TBatchFrontEnd::RetryDelays());
  }
  bool KeepGoing() override { return options_.keepGoing.value_or(settings_.keepGoing); }
  TAccount Account() override {
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
  TSecret Password() override { return std::move(password_); }
  // A dry run delivers nothing: there is nothing to record.
  std::string JournalFolder() override {
    return options_.noJournal || options_.dryRun ? std::string() : DefaultJournalFolder();
  }
  std::string ResumeJournal() override { return resumeJournal_; }
  bool ResendChanged() override { return options_.resendChanged; }
  TSentBeforeChoice SentBefore(const std::vector<TSentBefore>& files) override {
    ClearProgress();
    for (const TSentBefore& file : files)
      std::fprintf(stderr, "mailcart-send: %s was sent to %s on %s%s\n", DisplayText(file.path).c_str(),
                   DisplayText(MailTo()).c_str(), file.time.c_str(), options_.skipSent ? "; skipped" : "; sending it again");
    return options_.skipSent ? TSentBeforeChoice::Skip : TSentBeforeChoice::SendAgain;
  }
  TMessageDelivery* Delivery() override { return delivery_.get(); }
  bool NeedsPassword() const { return delivery_ == nullptr; }

  // --resume: the journal named, or the newest unfinished one; its batch's values stand in for
  // those not given as options.
  void TakeResume() {
    if (!options_.resume) return;
    if (options_.resume->empty()) {
      const std::optional<TJournal> newest = NewestUnfinishedJournal(DefaultJournalFolder());
      if (!newest) throw EJournalError("There is no unfinished batch to resume in " + DefaultJournalFolder());
      resumeJournal_ = newest->fileName;
    } else {
      resumeJournal_ = *options_.resume;
    }
    const TJournal journal = ReadJournal(resumeJournal_);
    if (!options_.server) options_.server = journal.head.server;
    if (!options_.from) options_.from = journal.head.from;
    if (!options_.to) options_.to = journal.head.to;
    if (!options_.subject) options_.subject = journal.head.subject;
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

  // Takes the password before anything else can start a child, so MAILCART_PASSWORD is gone
  // from the environment first. A user who logs in with a password and has none is told here,
  // before anything connects.
  void TakePassword(const TpxSMTP& smtp) {
    std::optional<TSecret> password = ObtainPassword(options_.password);
    const TAccount account = Account();
    if (account.user.empty()) return;
    if (account.authMethod == TAuthMethod::XOAuth2) {
      if (account.tokenCommand.empty()) throw TUsageError("--auth xoauth2 needs --token-command");
      return;
    }
    const std::string key = AccountKey(account.user, MailServer(), smtp.DefaultPort());
    if (!password) password = StoredPassword(key);
    if (!password)
      throw TUsageError("the user " + account.user + " needs a password: give --password-command, --password-file"
                        " or MAILCART_PASSWORD, or remember it for " + key + " in the Mailcart window");
    password_ = std::move(*password);
  }

  // The values in effect, whether from an option or from the settings file, are checked
  // before anything connects.
  void CheckValues() {
    CheckServer(MailServer());
    CheckAddress("--from", MailFrom());
    CheckAddress("--to", MailTo());
    if (PauseSeconds() < 0) throw TUsageError("--pause needs zero or more seconds");
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
  TSecret password_;
  std::string lastState_, lastRemaining_;
  std::unique_ptr<TMessageDelivery> delivery_;
  std::string resumeJournal_;
  std::optional<TProgressLine> progress_;
};

// SIGINT and SIGTERM arrive as readable data on a descriptor that the event loop watches, so
// a cancel reaches the batch from any wait, the ones inside a send included. They are blocked
// before any thread starts, so no thread takes them the ordinary way.
class TStopSignals {
 public:
  TStopSignals() {
    sigemptyset(&set_);
    sigaddset(&set_, SIGINT);
    sigaddset(&set_, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &set_, nullptr);
  }
  ~TStopSignals() {
    notifier_.reset();
    if (fd_ >= 0) ::close(fd_);
  }
  TStopSignals(const TStopSignals&) = delete;
  TStopSignals& operator=(const TStopSignals&) = delete;

  // Needs the application object.
  void Watch(TBatchRunner& runner) {
    fd_ = ::signalfd(-1, &set_, SFD_NONBLOCK | SFD_CLOEXEC);
    if (fd_ < 0) return;  // without it the signals stay blocked: the batch runs to its end
    notifier_ = std::make_unique<QSocketNotifier>(fd_, QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this, &runner] {
      signalfd_siginfo info;
      while (::read(fd_, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
      }
      runner.RequestCancel();
    });
  }

 private:
  sigset_t set_;
  int fd_ = -1;
  std::unique_ptr<QSocketNotifier> notifier_;
};

int Send(TOptions options, TStopSignals& stopSignals) {
  const std::string settingsFile = options.settingsFile.value_or(WindowSettingsFile());
  const std::optional<int> timeOut = options.timeOut;
  const TSettings settings = ReadSettings(settingsFile);
  for (const std::string& warning : settings.warnings) std::fprintf(stderr, "mailcart-send: warning: %s\n", warning.c_str());
  TCommandLine frontEnd(settings, std::move(options));
  frontEnd.TakeResume();
  frontEnd.CheckValues();
  TMailComponents components;
  if (frontEnd.NeedsPassword()) frontEnd.TakePassword(components.pxSMTP1);
  if (timeOut) components.pxSMTP1.SetTimeOut(*timeOut);
  TBatchRunner runner(components.pxSMTP1, components.pxMessage1, frontEnd,
                      ProgramTitle(TVersionInfo(ExecutablePath())));
  stopSignals.Watch(runner);
  const TBatchEnd end = runner.Run();
  frontEnd.Report(runner);
  switch (end) {
    case TBatchEnd::AllSent: return kExitAllSent;
    case TBatchEnd::Aborted: return kExitCanceled;
    default: return kExitFailed;
  }
}

}  // namespace

int main(int argc, char** argv) {
  TStopSignals stopSignals;
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
    return Send(ParseArguments(args), stopSignals);
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
