// mailcart-send's command line: the options, read by one table, and the usage text.
#pragma once

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/batch/oauthsession.h"
#include "app/batch/passwordsource.h"
#include "net/pxsasl.h"
#include "net/pxsecurity.h"

extern const char kUsage[];

struct TOptions {
  std::optional<std::string> settingsFile, server, from, to, cc, bcc, subject, bodyFile;
  std::optional<double> pause;
  std::optional<bool> sort, remove, keepGoing;
  // --max-per-minute, --max-per-hour, --max-per-day (0: no cap, the provider's neither) and
  // --max-per-session (--new-connection-per-message is 1).
  std::optional<int> maxPerMinute, maxPerHour, maxPerDay, maxPerSession;
  bool resendChanged = false, resendUncertain = false, waitForQuota = false, skipSent = false, noJournal = false,
       quiet = false, verbose = false, jsonReport = false, recursive = false;
  std::optional<std::string> resume, dryRun, sendmail;
  std::optional<int> timeOut, retries;
  std::optional<std::vector<double>> retryDelays;
  std::optional<TpxSecurity> security;
  std::optional<TAuthMethod> auth;
  std::optional<std::string> user, tokenCommand, caFile, fingerprint, fromName;
  // The built-in sign-in: sign in and exit; where and as which client; a token file where no
  // secret service runs.
  std::optional<TSignInFlow> signIn;
  std::optional<std::string> oauthIssuer, oauthClientId, oauthClientSecret, tokenFile;
  // Instead of a batch: find the settings of an address (and save them), or test the connection.
  std::optional<std::string> findSettings;
  bool save = false, check = false;
  // --watch DIR: every file that comes into DIR is sent, until SIGINT or SIGTERM; which names
  // (--include, --exclude), how long a file is left alone first (--settle), whether the files
  // there at the start go too (--new-only), where the sent ones are moved (--move-to).
  std::optional<std::string> watch, moveTo;
  std::vector<std::string> include, exclude;
  std::optional<double> settle;
  bool newOnly = false;
  TPasswordOptions password;
  std::vector<std::string> files;
};

// Wrong usage: the text is printed with a pointer to --help, and the program ends with status 2.
class TUsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Options take their value as the next argument or after "="; "--" ends the options. Raises
// TUsageError for an unknown option, a malformed value and combinations that make no sense.
TOptions ParseArguments(const std::vector<std::string>& args);

// "host" or "host:port", read as the socket client reads it; an empty one is the batch's to report.
void CheckServer(const std::string& server);
// One address check, the batch's and the SMTP client's, with its reason as a usage error.
void CheckAddress(const std::string& option, const std::string& address);
// The same for each address of a comma-separated list; an empty one passes when mayBeEmpty.
void CheckAddressList(const std::string& option, const std::string& list, bool mayBeEmpty);
