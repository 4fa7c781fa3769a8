#include "app/cli/send/sendoptions.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <iterator>
#include <string_view>

#include "app/batch/messagedelivery.h"
#include "app/batch/recipients.h"
#include "mail/mailbox.h"
#include "toolkit/exceptions.h"
#include "toolkit/hostport.h"
#include "toolkit/strutils.h"

const char kUsage[] =
    "usage: mailcart-send [--settings FILE] [--server HOST[:PORT]] [--from ADDR]\n"
    "                     [--to ADDR,...] [--cc ADDR,...] [--bcc ADDR,...]\n"
    "                     [--subject TEXT] [--body-file FILE] [--from-name TEXT]\n"
    "                     [--pause SECONDS] [--recursive]\n"
    "                     [--sort | --no-sort] [--delete | --no-delete] [--timeout SECONDS]\n"
    "                     [--new-connection-per-message] [--max-per-session N]\n"
    "                     [--max-per-minute N] [--max-per-hour N] [--max-per-day N] [--retries N]\n"
    "                     [--retry-delays SECONDS,...] [--keep-going] [--wait-for-quota]\n"
    "                     [--security auto|starttls|tls|none] [--user NAME]\n"
    "                     [--auth auto|plain|login|oauth2|oauthbearer|xoauth2] [--token-command CMD]\n"
    "                     [--password-command CMD | --password-file FILE]\n"
    "                     [--oauth-issuer URL] [--oauth-client-id ID] [--token-file FILE]\n"
    "                     [--ca-file FILE] [--fingerprint SHA256]\n"
    "                     [--dry-run=DIR | --sendmail[=PATH]] [--no-journal]\n"
    "                     [--skip-sent] [--report=json|text] [--quiet | --verbose] FILE...\n"
    "       mailcart-send --watch DIR [--recursive] [--include GLOB] [--exclude GLOB]\n"
    "                     [--settle SECONDS] [--new-only] [--resend-changed] [--resend-uncertain]\n"
    "                     [--move-to DIR] [options]\n"
    "       mailcart-send --resume[=JOURNAL] [--resend-changed] [--resend-uncertain] [options]\n"
    "       mailcart-send --sign-in[=browser|device] [--oauth-client-secret TEXT] [options]\n"
    "       mailcart-send --find-settings ADDRESS [--save] [--ca-file FILE] [--settings FILE]\n"
    "       mailcart-send --check [options]\n"
    "       mailcart-send --version\n"
    "Sends each FILE as the attachment of its own message. Values not given come from the\n"
    "settings file of the Mailcart window (--settings names another, which must exist).\n"
    "--to, --cc and --bcc take addresses separated by commas (\"Name <addr>\" too); BCC\n"
    "recipients get the message without appearing in it. --body-file gives the message's\n"
    "text (UTF-8, at most 64 KiB). The subject and the text may hold\n"
    "{name}, {n}, {count} and {date}, filled in for each file. With --recursive a folder\n"
    "named sends the regular files inside it and its subfolders, sorted, hidden files and\n"
    "symbolic links left out. One session carries the whole\n"
    "batch unless --new-connection-per-message is given (--max-per-session N: a new one after\n"
    "N messages). --max-per-minute, --max-per-hour and --max-per-day cap the messages of the\n"
    "account (the server and user, else the sender) in any rolling minute, hour or day, counted\n"
    "with the journals' records; without them the provider's published cap applies, 0 has\n"
    "none. A wait for a cap up to 15 minutes is waited (no connection held past a minute); a\n"
    "longer one stops the batch like the daily limit. A send that failed in a way that\n"
    "may pass (a 4xx reply, a lost connection) is tried again after 5, 30 and 120 seconds\n"
    "(--retries, --retry-delays; the last delay repeats). A message the server may have\n"
    "kept (the connection went after its end, before the reply) is reported as uncertain\n"
    "and sent again only with --resend-uncertain. A reply that asks to slow down is tried\n"
    "again after longer waits; at the provider's daily limit the batch stops, resumable, and\n"
    "says when the limit is expected to reset (--wait-for-quota waits for it instead, with\n"
    "no connection held, and goes on). With --keep-going a file that\n"
    "cannot be sent is named at the end and the others are still sent; a refused login or\n"
    "certificate always ends the batch. Each batch is recorded in a journal in\n"
    "$XDG_STATE_HOME/mailcart (~/.local/state/mailcart); --resume sends the files of the\n"
    "newest batch (if it was cancelled, cut short or ended by an error) or of JOURNAL that\n"
    "were not accepted, unless they changed since (--resend-changed sends those too).\n"
    "Files a journal records as sent to the same\n"
    "server and recipients are named on standard error and sent again, or left out with\n"
    "--skip-sent. --dry-run writes each message as DIR/NNNN.eml; --sendmail hands it to the\n"
    "system's mailer (/usr/sbin/sendmail -i -f FROM -- TO). Every file is checked before\n"
    "anything connects: one that is missing, a folder or unreadable stops the batch before it\n"
    "starts, or with --keep-going is skipped. Standard output has a line for each file\n"
    "([2/5] FILE: sent (the server's reply), failed: why, skipped: why, uncertain: why;\n"
    "written for --dry-run) and the summary; --verbose adds the window's state lines, --quiet\n"
    "prints nothing there, --report=json prints one JSON document and nothing else. Errors,\n"
    "warnings and waits go to standard error, on a terminal with a progress line unless\n"
    "--quiet. A user name the window saved for another server is left out (--user gives one).\n"
    "Optional values are given with \"=\" only. With a user name, the\n"
    "password comes from one of --password-command, --password-file, MAILCART_PASSWORD or the\n"
    "secret service entry the window saved; never from the command line. With --auth oauth2\n"
    "(oauthbearer, xoauth2) and no --token-command the access tokens come from the built-in\n"
    "sign-in: --sign-in signs in once with a browser (its address is printed; one opens where\n"
    "there is a display, $BROWSER if set) or, =device, with a code typed on any device, and\n"
    "keeps the refresh token in the secret service, or in --token-file FILE where none runs.\n"
    "The provider comes from the server's name, else --oauth-issuer. --find-settings looks\n"
    "up the submission server of ADDRESS (the providers' table, autoconfig over HTTPS, SRV\n"
    "and MX records, guesses), probes it without logging in and prints its settings;\n"
    "--save writes them to the settings file. --check connects, secures and logs in as a\n"
    "batch would, sends nothing and says how each step went. Exit status: 0 all\n"
    "sent, 1 an error ended the batch or a file was not sent, 2 wrong usage (also: a user name\n"
    "without a password, or not signed in),\n"
    "3 cancelled (SIGINT or SIGTERM; a second one ends the program at once),\n"
    "4 the provider's daily limit stopped the batch (resume it with --resume).\n"
    "--watch DIR sends every file that comes into DIR (with --recursive its folders too), once\n"
    "it has been left alone for --settle seconds (5, SettleSeconds), until SIGINT or SIGTERM\n"
    "(exit status 0 once the message in progress is done). Files there at the start go too,\n"
    "unless --new-only; names of unfinished files (.part, .tmp, ~, hidden) never do; --include\n"
    "and --exclude GLOB (each repeatable) choose by name. A file the journals record as sent\n"
    "to the same server and recipients is skipped, unless it changed since (--resend-changed)\n"
    "or may have been delivered (--resend-uncertain). --move-to DIR moves each sent file there.\n"
    "A server that cannot be reached ends the watch at its start; later the files wait and go\n"
    "when it is back. --report=json prints a JSON line for each file.\n";

namespace {

constexpr long kMaxTimeOutSeconds = 86400;
constexpr long kMaxRetries = 100;
constexpr long kMaxCap = 1000000;
constexpr char kCount[] = "a whole number";

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
  if (!ParseAuthMethod(text, method))
    throw TUsageError("--auth needs auto, plain, login, oauth2, oauthbearer or xoauth2");
  return method;
}

TSignInFlow ParseSignInOption(const std::string& text) {
  if (text != "browser" && text != "device") throw TUsageError("--sign-in= needs browser or device");
  return text == "device" ? TSignInFlow::Device : TSignInFlow::Browser;
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

void CheckWatchCombination(const TOptions& o) {
  if (!o.watch) {
    if (!o.include.empty() || !o.exclude.empty() || o.settle || o.newOnly || o.moveTo)
      throw TUsageError("--include, --exclude, --settle, --new-only and --move-to go with --watch");
    return;
  }
  if (o.watch->empty()) throw TUsageError("--watch needs a folder");
  if (o.resume || !o.files.empty())
    throw TUsageError("--watch sends the files that come into its folder: give no FILE");
  if (o.signIn || o.findSettings || o.check)
    throw TUsageError("--watch sends files: give none of --sign-in, --find-settings and --check");
  if (o.settle && *o.settle < 0) throw TUsageError("--settle needs zero or more seconds");
  if (o.moveTo && o.moveTo->empty()) throw TUsageError("--move-to needs a folder");
  if (o.moveTo && o.remove.value_or(false)) throw TUsageError("give one of --move-to and --delete");
}

void CheckCombination(const TOptions& o) {
  CheckWatchCombination(o);
  if (o.resume && !o.files.empty()) throw TUsageError("--resume sends the files of its journal: give no FILE");
  if (o.signIn && (o.resume || !o.files.empty())) throw TUsageError("--sign-in signs in and exits: give no FILE");
  const int commands = (o.signIn ? 1 : 0) + (o.findSettings ? 1 : 0) + (o.check ? 1 : 0);
  if (commands > 1) throw TUsageError("give one of --sign-in, --find-settings and --check");
  if ((o.findSettings || o.check) && (o.resume || !o.files.empty()))
    throw TUsageError(std::string(o.check ? "--check" : "--find-settings") + " sends nothing: give no FILE");
  if (o.save && !o.findSettings) throw TUsageError("--save goes with --find-settings");
  if (o.oauthClientSecret && !o.signIn) throw TUsageError("--oauth-client-secret goes with --sign-in, which keeps it");
  if (commands == 0 && !o.resume && !o.watch && o.files.empty()) throw TUsageError("no file to send");
  if (o.resendChanged && !o.resume && !o.watch) throw TUsageError("--resend-changed goes with --resume or --watch");
  if (o.recursive && o.resume) throw TUsageError("--recursive goes with the files named, not --resume");
  if (o.dryRun && o.sendmail) throw TUsageError("give one of --dry-run and --sendmail");
  if (o.quiet && o.verbose) throw TUsageError("give one of --quiet and --verbose");
  if (o.dryRun && o.dryRun->empty()) throw TUsageError("--dry-run needs a folder");
}

// How an option takes its value: as the next argument or after "="; not at all; after "=" only
// (so that a file name after it is never taken for its value), else its fallback; or it is
// refused outright.
enum class TTakes { Value, Nothing, ValueAfterEquals, Refused };

struct TOptionRule {
  const char* name;
  TTakes takes;
  void (*apply)(TOptions& o, const std::string& value);
  const char* fallback = "";  // ValueAfterEquals: the value without "="; Refused: the error
};

const TOptionRule kRules[] = {
    {"--settings", TTakes::Value, [](TOptions& o, const std::string& v) { o.settingsFile = v; }},
    {"--server", TTakes::Value, [](TOptions& o, const std::string& v) { o.server = v; }},
    {"--from", TTakes::Value, [](TOptions& o, const std::string& v) { o.from = v; }},
    {"--to", TTakes::Value, [](TOptions& o, const std::string& v) { o.to = v; }},
    {"--cc", TTakes::Value, [](TOptions& o, const std::string& v) { o.cc = v; }},
    {"--bcc", TTakes::Value, [](TOptions& o, const std::string& v) { o.bcc = v; }},
    {"--body-file", TTakes::Value, [](TOptions& o, const std::string& v) { o.bodyFile = v; }},
    {"--recursive", TTakes::Nothing, [](TOptions& o, const std::string&) { o.recursive = true; }},
    {"--subject", TTakes::Value, [](TOptions& o, const std::string& v) { o.subject = v; }},
    {"--from-name", TTakes::Value, [](TOptions& o, const std::string& v) { o.fromName = v; }},
    {"--pause", TTakes::Value, [](TOptions& o, const std::string& v) { o.pause = ParseSeconds("--pause", v); }},
    {"--timeout", TTakes::Value,
     [](TOptions& o, const std::string& v) {
       o.timeOut = ParseWhole("--timeout", v, 1, kMaxTimeOutSeconds, "whole seconds");
     }},
    {"--retries", TTakes::Value,
     [](TOptions& o, const std::string& v) { o.retries = ParseWhole("--retries", v, 0, kMaxRetries, kCount); }},
    {"--retry-delays", TTakes::Value, [](TOptions& o, const std::string& v) { o.retryDelays = ParseRetryDelays(v); }},
    {"--security", TTakes::Value, [](TOptions& o, const std::string& v) { o.security = ParseSecurityOption(v); }},
    {"--user", TTakes::Value, [](TOptions& o, const std::string& v) { o.user = v; }},
    {"--auth", TTakes::Value, [](TOptions& o, const std::string& v) { o.auth = ParseAuthOption(v); }},
    {"--password-command", TTakes::Value, [](TOptions& o, const std::string& v) { o.password.command = v; }},
    {"--password-file", TTakes::Value, [](TOptions& o, const std::string& v) { o.password.file = v; }},
    {"--token-command", TTakes::Value, [](TOptions& o, const std::string& v) { o.tokenCommand = v; }},
    {"--sign-in", TTakes::ValueAfterEquals, [](TOptions& o, const std::string& v) { o.signIn = ParseSignInOption(v); },
     "browser"},
    {"--find-settings", TTakes::Value, [](TOptions& o, const std::string& v) { o.findSettings = v; }},
    {"--save", TTakes::Nothing, [](TOptions& o, const std::string&) { o.save = true; }},
    {"--check", TTakes::Nothing, [](TOptions& o, const std::string&) { o.check = true; }},
    {"--oauth-issuer", TTakes::Value, [](TOptions& o, const std::string& v) { o.oauthIssuer = v; }},
    {"--oauth-client-id", TTakes::Value, [](TOptions& o, const std::string& v) { o.oauthClientId = v; }},
    {"--oauth-client-secret", TTakes::Value, [](TOptions& o, const std::string& v) { o.oauthClientSecret = v; }},
    {"--token-file", TTakes::Value, [](TOptions& o, const std::string& v) { o.tokenFile = v; }},
    {"--ca-file", TTakes::Value, [](TOptions& o, const std::string& v) { o.caFile = v; }},
    {"--fingerprint", TTakes::Value,
     [](TOptions& o, const std::string& v) { o.fingerprint = ParseFingerprintOption(v); }},
    // Its value would already be in the process list for every user to read.
    {"--password", TTakes::Refused, nullptr,
     "there is no --password: use --password-command, --password-file or MAILCART_PASSWORD"},
    {"--sort", TTakes::Nothing, [](TOptions& o, const std::string&) { o.sort = true; }},
    {"--no-sort", TTakes::Nothing, [](TOptions& o, const std::string&) { o.sort = false; }},
    {"--delete", TTakes::Nothing, [](TOptions& o, const std::string&) { o.remove = true; }},
    {"--no-delete", TTakes::Nothing, [](TOptions& o, const std::string&) { o.remove = false; }},
    {"--new-connection-per-message", TTakes::Nothing, [](TOptions& o, const std::string&) { o.maxPerSession = 1; }},
    {"--max-per-session", TTakes::Value,
     [](TOptions& o, const std::string& v) {
       o.maxPerSession = ParseWhole("--max-per-session", v, 0, kMaxCap, kCount);
     }},
    {"--max-per-minute", TTakes::Value,
     [](TOptions& o, const std::string& v) { o.maxPerMinute = ParseWhole("--max-per-minute", v, 0, kMaxCap, kCount); }},
    {"--max-per-hour", TTakes::Value,
     [](TOptions& o, const std::string& v) { o.maxPerHour = ParseWhole("--max-per-hour", v, 0, kMaxCap, kCount); }},
    {"--max-per-day", TTakes::Value,
     [](TOptions& o, const std::string& v) { o.maxPerDay = ParseWhole("--max-per-day", v, 0, kMaxCap, kCount); }},
    {"--keep-going", TTakes::Nothing, [](TOptions& o, const std::string&) { o.keepGoing = true; }},
    {"--resume", TTakes::ValueAfterEquals, [](TOptions& o, const std::string& v) { o.resume = v; }},
    {"--watch", TTakes::Value, [](TOptions& o, const std::string& v) { o.watch = v; }},
    {"--include", TTakes::Value, [](TOptions& o, const std::string& v) { o.include.push_back(v); }},
    {"--exclude", TTakes::Value, [](TOptions& o, const std::string& v) { o.exclude.push_back(v); }},
    {"--settle", TTakes::Value, [](TOptions& o, const std::string& v) { o.settle = ParseSeconds("--settle", v); }},
    {"--new-only", TTakes::Nothing, [](TOptions& o, const std::string&) { o.newOnly = true; }},
    {"--move-to", TTakes::Value, [](TOptions& o, const std::string& v) { o.moveTo = v; }},
    {"--resend-changed", TTakes::Nothing, [](TOptions& o, const std::string&) { o.resendChanged = true; }},
    {"--resend-uncertain", TTakes::Nothing, [](TOptions& o, const std::string&) { o.resendUncertain = true; }},
    {"--wait-for-quota", TTakes::Nothing, [](TOptions& o, const std::string&) { o.waitForQuota = true; }},
    {"--skip-sent", TTakes::Nothing, [](TOptions& o, const std::string&) { o.skipSent = true; }},
    {"--no-journal", TTakes::Nothing, [](TOptions& o, const std::string&) { o.noJournal = true; }},
    {"--quiet", TTakes::Nothing, [](TOptions& o, const std::string&) { o.quiet = true; }},
    {"--verbose", TTakes::Nothing, [](TOptions& o, const std::string&) { o.verbose = true; }},
    {"--report", TTakes::Value, [](TOptions& o, const std::string& v) { o.jsonReport = ParseReport(v); }},
    {"--dry-run", TTakes::Value, [](TOptions& o, const std::string& v) { o.dryRun = v; }},
    {"--sendmail", TTakes::ValueAfterEquals, [](TOptions& o, const std::string& v) { o.sendmail = v; },
     TSendmailDelivery::kDefaultPath},
};

// The value of rule's option at args[i] (inlineValue: what followed "="); i moves past a value
// taken from the next argument.
std::string TakeValue(const TOptionRule& rule, const std::optional<std::string>& inlineValue,
                      const std::vector<std::string>& args, size_t& i) {
  const std::string name = rule.name;
  switch (rule.takes) {
    case TTakes::Value:
      if (inlineValue) return *inlineValue;
      if (i + 1 >= args.size()) throw TUsageError(name + " needs a value");
      return args[++i];
    case TTakes::Nothing:
      if (inlineValue) throw TUsageError(name + " takes no value");
      return {};
    case TTakes::ValueAfterEquals:
      if (inlineValue && inlineValue->empty()) throw TUsageError(name + "= needs a value");
      return inlineValue.value_or(rule.fallback);
    case TTakes::Refused: break;
  }
  throw TUsageError(rule.fallback);
}

}  // namespace

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
    const auto rule =
        std::find_if(std::begin(kRules), std::end(kRules), [&](const TOptionRule& r) { return arg == r.name; });
    if (rule == std::end(kRules)) throw TUsageError("unknown option " + arg);
    const std::string value = TakeValue(*rule, inlineValue, args, i);
    rule->apply(o, value);
  }
  CheckCombination(o);
  return o;
}

void CheckServer(const std::string& server) {
  if (server.empty()) return;
  try {
    ParseHostPort(server);
  } catch (const EConvertError& error) {
    throw TUsageError("--server: " + std::string(error.what()));
  }
}

void CheckAddress(const std::string& option, const std::string& address) {
  if (address.empty()) throw TUsageError(option + " needs an address");
  if (const std::string problem = MailboxProblem(address); !problem.empty()) throw TUsageError(option + ": " + problem);
}

void CheckAddressList(const std::string& option, const std::string& list, bool mayBeEmpty) {
  if (Trim(list).empty()) {
    if (mayBeEmpty) return;
    throw TUsageError(option + " needs an address");
  }
  if (const std::string problem = AddressListProblem(list, mayBeEmpty); !problem.empty())
    throw TUsageError(option + ": " + problem);
}
