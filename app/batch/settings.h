// The settings file: what the window remembers between runs (the four texts, the two options,
// the pause and the account), in section "Param" of a profile file named after the program.
// Never the password: that is kept in the secret service.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/batch/account.h"
#include "app/batch/foundserver.h"

struct TSettings {
  std::string addr;      // "Addr": recipient
  std::string subj;      // "Subj"
  std::string mailSrv;   // "MailSrv"
  std::string addrFrom;  // "AddrFrom": sender
  bool delFiles = false;
  bool sortFiles = false;
  int pauseSec = 0;
  TAccount account;
  // "NewConnectionPerMessage": a session of its own for each message instead of one for the
  // batch, for a server that mishandles a second message in a session.
  bool newConnectionPerMessage = false;
  // What was ignored on reading and why; each front end shows them. Never written.
  std::vector<std::string> warnings;
  // "Retries": how often a file whose send failed in a way that may pass is sent again.
  int retries = 3;
  // "KeepGoing": a file that cannot be sent is listed at the end instead of ending the batch.
  bool keepGoing = false;
  // "LastFolder": where the window's file dialog opens.
  std::string lastFolder;
  // "JournalDays": the journals of settled batches are removed this many days after they were
  // last written (RemoveOldJournals); 0 keeps them all.
  int journalDays = 90;
  // "UserServer": the server (host:port) the account's user was saved for; empty in a file
  // written before it was kept, whose user goes with any server.
  std::string userServer;
  // "CC", "BCC": further recipients, comma-separated lists like Addr; BCC goes into the envelope
  // only.
  std::string cc = {}, bcc = {};
  // "Body": the message text (placeholders as in the subject); empty: a single space. The file
  // holds it on one line, a line break as "\n" and a backslash as "\\".
  std::string body = {};
  // "MaxPerMinute", "MaxPerHour", "MaxPerDay": the most messages the account sends in a rolling
  // window of that length (TSendCaps); 0: no cap, not even the provider's; missing (nullopt): the
  // provider's published one if any.
  std::optional<int> maxPerMinute = {}, maxPerHour = {}, maxPerDay = {};
  // "MaxPerSession": a session is ended after this many messages and a new one opened; 0: no
  // limit. NewConnectionPerMessage is a limit of 1.
  int maxPerSession = {};
  // "SettleSeconds": how long a file in a watched folder is left alone before it counts as
  // written (mailcart-send --watch; --settle).
  int settleSeconds = 5;
};

// The program's path with its extension replaced by ".ini" when that file exists (a portable
// copy, the build folder of scripts/run); otherwise $XDG_CONFIG_HOME/mailcart/mailcart.ini,
// with ~/.config when the variable is unset or not an absolute path. Reading and writing both
// use it.
std::string SettingsFileName(const std::string& programPath);

// Missing or malformed values give the defaults. An unknown Security or AuthMethod is left at its
// default with a warning; so are the keys that decide where mail goes, what runs, whom the
// program trusts or what it deletes (MailSrv, Addr, AddrFrom, Security, User, UserServer,
// DelFiles, TokenCommand, CAFile, Fingerprint, JournalDays, CC, BCC, Body, OAuthIssuer,
// OAuthClientId) when another user could have written the file (FileTrustProblem). A file that
// is there but no regular file (a FIFO would keep the program waiting) raises EInOutError naming
// it.
TSettings ReadSettings(const std::string& fileName);
// The account's user for a batch through server: the one saved, unless it was saved for another
// server ("host" and "host:25" are one server when defaultPort is 25; host names compare without
// regard to case). Empty: no login.
std::string UserFor(const TSettings& settings, const std::string& server, uint16_t defaultPort);
// Creates the file's folder when needed. A failure raises an error whose text names the file.
// Account keys at their defaults are left out unless the file holds one to replace: an ignored
// TokenCommand must not outlive a write that makes the file trusted (writing sets mode 0600).
void WriteSettings(const std::string& fileName, const TSettings& settings);

// The [Param] keys of a server found for an address, in the file's words, MailSrv first:
// MailSrv, Security, User and UserServer, AuthMethod.
std::vector<std::pair<std::string, std::string>> FoundServerKeys(const TFoundServer& server);
// Writes those keys alone (mailcart-send --find-settings --save); the file's other keys stay as
// they are. Creates the file (mode 0600) and its folder when needed.
void WriteFoundServer(const std::string& fileName, const TFoundServer& server);
