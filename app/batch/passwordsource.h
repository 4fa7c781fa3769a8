// Where mailcart-send takes a password from: a command that prints it, a private file, or the
// MAILCART_PASSWORD variable; never the command line, which every user can read in the process
// list. Token commands for XOAUTH2 run the same way as password commands.
#pragma once

#include <optional>
#include <string>

#include "toolkit/exceptions.h"
#include "toolkit/secret.h"

// A source that gives no password. The text names the command, file or variable, never what
// it printed or held.
MAILCART_EXCEPTION(EPasswordError, Exception);
// More than one source given: the command line is wrong (exit status 2).
MAILCART_EXCEPTION(EPasswordUsage, EPasswordError);

inline constexpr char kPasswordVariable[] = "MAILCART_PASSWORD";
inline constexpr int kSecretCommandTimeoutMs = 60000;

struct TPasswordOptions {
  std::string command;  // --password-command
  std::string file;     // --password-file
  int timeoutMs = kSecretCommandTimeoutMs;
};

// The password of the one source given: the options, or variable (MAILCART_PASSWORD, taken out
// of the environment by TakePasswordVariable when the program started, before any child could
// inherit it). Nothing when none is given: the caller then reads the secret service's entry.
// Two sources raise EPasswordUsage; a source that fails, and an empty variable, raise
// EPasswordError.
std::optional<TSecret> ObtainPassword(const TPasswordOptions& options, std::optional<TSecret> variable);

// A command that prints a secret, as its errors name it: what it is, the setting that gives it
// (so that the user knows what to change), and what it prints.
struct TSecretCommandKind {
  const char* what;
  const char* setting;
  const char* secret;
};
inline constexpr TSecretCommandKind kPasswordCommand{"password command", "--password-command", "password"};
inline constexpr TSecretCommandKind kTokenCommand{"token command", "TokenCommand", "token"};

// The first line (without its CR LF or LF) of what "/bin/sh -c command" prints on standard
// output. Standard input is empty, standard error goes to ours, MAILCART_PASSWORD is not in
// its environment. Waits in the event loop, so a window stays alive meanwhile. A command that
// cannot start, ends with a signal or a status other than 0, prints nothing on its first line,
// or runs past timeoutMs (its whole process group is then killed) raises EPasswordError, whose
// text names the command as kind says ("The password command (--password-command) "…" …").
TSecret RunSecretCommand(const std::string& command, const TSecretCommandKind& kind,
                         int timeoutMs = kSecretCommandTimeoutMs);

// A file that holds a secret, as its errors name it. A file the program also writes (the token
// file, which a sign-in fills and a new token replaces) must moreover be no symbolic link, the
// user's own, and changeable by nobody else (FileTrustProblem's rule).
struct TSecretFileKind {
  const char* what;
  const char* secret;
  bool written;
};
inline constexpr TSecretFileKind kPasswordFile{"password file", "password", false};
inline constexpr TSecretFileKind kTokenFile{"token file", "refresh token", true};

// The first line of fileName. Raises EPasswordError when it cannot be read or is no regular
// file (a FIFO is refused, not waited on), when group or others may read it, when it breaks
// the further rule of a written kind (all checked on the open file, so it cannot be swapped
// after the check), or when its first line is empty. The text names the file as kind says and
// what to change.
TSecret ReadSecretFile(const std::string& fileName, const TSecretFileKind& kind = kPasswordFile);
// Whether fileName is there; raises EPasswordError as ReadSecretFile does when it is but may
// not hold kind's secret.
bool SecretFileThere(const std::string& fileName, const TSecretFileKind& kind);

// The value of MAILCART_PASSWORD, its bytes in the environment overwritten and the variable
// removed; nothing when it is not set.
std::optional<TSecret> TakePasswordVariable();
