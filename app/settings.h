// The settings file: what the window remembers between runs (the four texts, the two options
// and the pause), in section "Param" of a profile file named after the program.
#pragma once

#include <string>

struct TSettings {
  std::string addr;      // "Addr": recipient
  std::string subj;      // "Subj"
  std::string mailSrv;   // "MailSrv"
  std::string addrFrom;  // "AddrFrom": sender
  bool delFiles = false;
  bool sortFiles = false;
  int pauseSec = 0;
};

// The program's path with its extension replaced by ".ini" when that file exists (a portable
// copy, the build folder of scripts/run); otherwise $XDG_CONFIG_HOME/mailcart/mailcart.ini,
// with ~/.config when the variable is unset or not an absolute path. Reading and writing both
// use it.
std::string SettingsFileName(const std::string& programPath);

// Missing or malformed values give the defaults; reading never fails.
TSettings ReadSettings(const std::string& fileName);
// Creates the file's folder when needed. A failure raises an error whose text names the file.
void WriteSettings(const std::string& fileName, const TSettings& settings);
