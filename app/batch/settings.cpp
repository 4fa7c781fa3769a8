#include "app/batch/settings.h"

#include <algorithm>
#include <filesystem>

#include "app/batch/filetrust.h"
#include "toolkit/exceptions.h"
#include "toolkit/folders.h"
#include "toolkit/hostport.h"
#include "toolkit/inifile.h"
#include "toolkit/regularfile.h"
#include "toolkit/strutils.h"

namespace {
constexpr char kSection[] = "Param";

// Reads a name of an enumeration; an unknown one leaves the default with a warning.
template <typename T>
void ReadChoice(const TIniValues& ini, const char* key, bool (*parse)(std::string_view, T&), T& value,
                std::vector<std::string>& warnings) {
  const std::string text = ini.ReadString(kSection, key, "");
  if (text.empty() || parse(text, value)) return;
  warnings.push_back(std::string(key) + "=" + text + " in \"" + ini.FileName() + "\" is not known; it is ignored");
}

// The keys that decide where mail goes, what runs, whom the program trusts or what it deletes.
constexpr const char* kGuardedKeys[] = {
    "MailSrv", "Addr",        "AddrFrom",    "Security", "User", "UserServer", "DelFiles",    "TokenCommand",
    "CAFile",  "Fingerprint", "JournalDays", "CC",       "BCC",  "Body",       "OAuthIssuer", "OAuthClientId"};

// A file that another user could have written gives none of the guarded keys: each is left at
// its default, with one warning that names those it held.
void DropUntrusted(const TIniValues& ini, TSettings& s) {
  std::string held;
  for (const char* key : kGuardedKeys)
    if (!ini.ReadString(kSection, key, "").empty()) held += std::string(held.empty() ? "" : ", ") + key;
  if (held.empty()) return;
  const std::string problem = FileTrustProblem(ini.FileName());
  if (problem.empty()) return;
  const TSettings defaults;
  s.mailSrv = defaults.mailSrv;
  s.addr = defaults.addr;
  s.addrFrom = defaults.addrFrom;
  s.delFiles = defaults.delFiles;
  s.journalDays = defaults.journalDays;
  const std::string fromName = s.account.fromName;
  s.account = defaults.account;
  s.account.fromName = fromName;
  s.userServer = defaults.userServer;
  s.cc = defaults.cc;
  s.bcc = defaults.bcc;
  s.body = defaults.body;
  s.warnings.push_back(problem + ": its " + held + " are ignored");
}

// RFC 4343: host names compare without regard to case. A text the parser refuses is compared
// as it stands: a batch to such a server fails before it logs in anyway.
bool SameServer(const std::string& a, const std::string& b, uint16_t defaultPort) {
  try {
    const THostPort x = ParseHostPort(a), y = ParseHostPort(b);
    return SameText(x.host, y.host) && x.port.value_or(defaultPort) == y.port.value_or(defaultPort);
  } catch (const EConvertError&) {
    return SameText(a, b);
  }
}

// An empty value is left out unless there is one in the file to replace.
void WriteOptional(TIniFile& ini, const char* key, const std::string& value) {
  if (value.empty() && ini.ReadString(kSection, key, "").empty()) return;
  ini.WriteString(kSection, key, value);
}

// A text of several lines on the one line of a key: "\n" for a line break, "\\" for a
// backslash; a carriage return is dropped, a line break being one.
std::string OneLine(std::string_view text) {
  std::string line;
  line.reserve(text.size());
  for (const char c : text) {
    if (c == '\\')
      line += "\\\\";
    else if (c == '\n')
      line += "\\n";
    else if (c != '\r')
      line += c;
  }
  return line;
}

// OneLine's reverse; any other backslash stays as it stands, as a hand-written file means it.
std::string SeveralLines(std::string_view line) {
  std::string text;
  text.reserve(line.size());
  for (size_t i = 0; i < line.size(); ++i) {
    if (line[i] == '\\' && i + 1 < line.size() && (line[i + 1] == 'n' || line[i + 1] == '\\')) {
      text += line[++i] == 'n' ? '\n' : '\\';
      continue;
    }
    text += line[i];
  }
  return text;
}
}  // namespace

std::string SettingsFileName(const std::string& programPath) {
  // Only a file that is already there makes a copy portable: an installed program whose
  // folder happens to be writable (run as root) must not start writing into it.
  const std::filesystem::path beside = std::filesystem::path(programPath).replace_extension(".ini");
  std::error_code error;
  if (std::filesystem::exists(beside, error)) return beside.string();
  return ConfigHome() + "/mailcart/mailcart.ini";
}

TSettings ReadSettings(const std::string& fileName) {
  if (const std::string problem = RegularFileProblem(fileName); !problem.empty())
    throw EInOutError("The settings file " + problem);
  const TIniValues ini(fileName);
  TSettings s;
  s.addr = ini.ReadString(kSection, "Addr", "");
  s.subj = ini.ReadString(kSection, "Subj", "");
  s.mailSrv = ini.ReadString(kSection, "MailSrv", "");
  s.addrFrom = ini.ReadString(kSection, "AddrFrom", "");
  s.delFiles = ini.ReadBool(kSection, "DelFiles", false);
  s.sortFiles = ini.ReadBool(kSection, "SortFiles", false);
  s.pauseSec = ini.ReadInteger(kSection, "PauseSec", 0);
  s.newConnectionPerMessage = ini.ReadBool(kSection, "NewConnectionPerMessage", false);
  for (auto [key, cap] : {std::pair{"MaxPerMinute", &s.maxPerMinute}, std::pair{"MaxPerHour", &s.maxPerHour},
                          std::pair{"MaxPerDay", &s.maxPerDay}})
    if (!ini.ReadString(kSection, key, "").empty()) *cap = std::max(0, ini.ReadInteger(kSection, key, 0));
  s.maxPerSession = std::max(0, ini.ReadInteger(kSection, "MaxPerSession", 0));
  s.retries = std::max(0, ini.ReadInteger(kSection, "Retries", s.retries));
  s.keepGoing = ini.ReadBool(kSection, "KeepGoing", false);
  s.lastFolder = ini.ReadString(kSection, "LastFolder", "");
  // A negative count is taken as 0: a mistyped value keeps the journals rather than losing them.
  s.journalDays = std::max(0, ini.ReadInteger(kSection, "JournalDays", s.journalDays));
  s.settleSeconds = std::max(0, ini.ReadInteger(kSection, "SettleSeconds", s.settleSeconds));
  ReadChoice(ini, "Security", ParseSecurity, s.account.security, s.warnings);
  s.account.user = ini.ReadString(kSection, "User", "");
  s.userServer = ini.ReadString(kSection, "UserServer", "");
  s.account.fromName = ini.ReadString(kSection, "FromName", "");
  ReadChoice(ini, "AuthMethod", ParseAuthMethod, s.account.authMethod, s.warnings);
  s.account.tokenCommand = ini.ReadString(kSection, "TokenCommand", "");
  s.account.caFile = ini.ReadString(kSection, "CAFile", "");
  s.account.fingerprint = ini.ReadString(kSection, "Fingerprint", "");
  s.account.oauthIssuer = ini.ReadString(kSection, "OAuthIssuer", "");
  s.account.oauthClientId = ini.ReadString(kSection, "OAuthClientId", "");
  s.cc = ini.ReadString(kSection, "CC", "");
  s.bcc = ini.ReadString(kSection, "BCC", "");
  s.body = SeveralLines(ini.ReadString(kSection, "Body", ""));
  DropUntrusted(ini, s);
  return s;
}

std::string UserFor(const TSettings& settings, const std::string& server, uint16_t defaultPort) {
  if (settings.userServer.empty() || SameServer(settings.userServer, server, defaultPort)) return settings.account.user;
  return {};
}

namespace {
void CreateFolderOf(const std::string& fileName) {
  const std::filesystem::path folder = std::filesystem::path(fileName).parent_path();
  std::error_code error;
  if (!folder.empty()) std::filesystem::create_directories(folder, error);
  if (error) throw FileCreateError(fileName, error.message());
}
}  // namespace

std::vector<std::pair<std::string, std::string>> FoundServerKeys(const TFoundServer& server) {
  const std::string mailSrv = HostPortText(server.host, server.port);
  return {{"MailSrv", mailSrv},
          {"Security", SecurityName(server.security)},
          {"User", server.user},
          {"UserServer", mailSrv},
          {"AuthMethod", AuthMethodName(server.authMethod)}};
}

void WriteFoundServer(const std::string& fileName, const TFoundServer& server) {
  CreateFolderOf(fileName);
  TIniFile ini(fileName);
  for (const auto& [key, value] : FoundServerKeys(server)) ini.WriteString(kSection, key, value);
}

void WriteSettings(const std::string& fileName, const TSettings& s) {
  CreateFolderOf(fileName);
  TIniFile ini(fileName);
  ini.WriteString(kSection, "Addr", s.addr);
  ini.WriteString(kSection, "Subj", s.subj);
  ini.WriteString(kSection, "AddrFrom", s.addrFrom);
  ini.WriteString(kSection, "MailSrv", s.mailSrv);
  ini.WriteBool(kSection, "DelFiles", s.delFiles);
  ini.WriteBool(kSection, "SortFiles", s.sortFiles);
  ini.WriteInteger(kSection, "PauseSec", s.pauseSec);
  // Only a file that asked for it holds it; the window offers no control for it.
  if (s.newConnectionPerMessage) ini.WriteBool(kSection, "NewConnectionPerMessage", true);
  // A cap at 0 is written: it switches the provider's published one off.
  for (const auto& [key, cap] : {std::pair{"MaxPerMinute", s.maxPerMinute}, std::pair{"MaxPerHour", s.maxPerHour},
                                 std::pair{"MaxPerDay", s.maxPerDay}})
    if (cap) ini.WriteInteger(kSection, key, *cap);
  if (s.maxPerSession != 0) ini.WriteInteger(kSection, "MaxPerSession", s.maxPerSession);
  if (s.retries != TSettings{}.retries) ini.WriteInteger(kSection, "Retries", s.retries);
  if (s.keepGoing) ini.WriteBool(kSection, "KeepGoing", true);
  // Also the default replaces a value in the file: one ignored as untrusted must not outlive a
  // write that makes the file trusted.
  if (s.journalDays != TSettings{}.journalDays || !ini.ReadString(kSection, "JournalDays", "").empty())
    ini.WriteInteger(kSection, "JournalDays", s.journalDays);
  if (s.settleSeconds != TSettings{}.settleSeconds) ini.WriteInteger(kSection, "SettleSeconds", s.settleSeconds);
  WriteOptional(ini, "Security", s.account.security == TpxSecurity::Auto ? "" : SecurityName(s.account.security));
  WriteOptional(ini, "User", s.account.user);
  WriteOptional(ini, "UserServer", s.userServer);
  WriteOptional(ini, "AuthMethod",
                s.account.authMethod == TAuthMethod::Auto ? "" : AuthMethodName(s.account.authMethod));
  WriteOptional(ini, "TokenCommand", s.account.tokenCommand);
  WriteOptional(ini, "CAFile", s.account.caFile);
  WriteOptional(ini, "Fingerprint", s.account.fingerprint);
  WriteOptional(ini, "OAuthIssuer", s.account.oauthIssuer);
  WriteOptional(ini, "OAuthClientId", s.account.oauthClientId);
  WriteOptional(ini, "FromName", s.account.fromName);
  WriteOptional(ini, "LastFolder", s.lastFolder);
  WriteOptional(ini, "CC", s.cc);
  WriteOptional(ini, "BCC", s.bcc);
  WriteOptional(ini, "Body", OneLine(s.body));
}
