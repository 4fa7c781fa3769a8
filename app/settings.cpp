#include "app/settings.h"

#include <QDir>

#include <cstdlib>
#include <filesystem>

#include "toolkit/exceptions.h"
#include "toolkit/inifile.h"

namespace {
constexpr char kSection[] = "Param";

std::string ConfigHome() {
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  if (xdg != nullptr && xdg[0] == '/') return xdg;
  return QDir::homePath().toLocal8Bit().toStdString() + "/.config";
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
  const TIniFile ini(fileName);
  TSettings s;
  s.addr = ini.ReadString(kSection, "Addr", "");
  s.subj = ini.ReadString(kSection, "Subj", "");
  s.mailSrv = ini.ReadString(kSection, "MailSrv", "");
  s.addrFrom = ini.ReadString(kSection, "AddrFrom", "");
  s.delFiles = ini.ReadBool(kSection, "DelFiles", false);
  s.sortFiles = ini.ReadBool(kSection, "SortFiles", false);
  s.pauseSec = ini.ReadInteger(kSection, "PauseSec", 0);
  return s;
}

void WriteSettings(const std::string& fileName, const TSettings& s) {
  const std::filesystem::path folder = std::filesystem::path(fileName).parent_path();
  std::error_code error;
  if (!folder.empty()) std::filesystem::create_directories(folder, error);
  if (error) throw FileCreateError(fileName, error.message());
  TIniFile ini(fileName);
  ini.WriteString(kSection, "Addr", s.addr);
  ini.WriteString(kSection, "Subj", s.subj);
  ini.WriteString(kSection, "AddrFrom", s.addrFrom);
  ini.WriteString(kSection, "MailSrv", s.mailSrv);
  ini.WriteBool(kSection, "DelFiles", s.delFiles);
  ini.WriteBool(kSection, "SortFiles", s.sortFiles);
  ini.WriteInteger(kSection, "PauseSec", s.pauseSec);
}
