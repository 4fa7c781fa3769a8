#include "toolkit/folders.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

int ForceDirectories(const std::string& path, mode_t mode) {
  // Each folder from the top down; one that exists already (EEXIST) is passed over, and the
  // check at the end tells a file in its place from a folder.
  for (size_t end = path.find('/', 1);; end = path.find('/', end + 1)) {
    const std::string part = path.substr(0, end);
    if (::mkdir(part.c_str(), mode) != 0 && errno != EEXIST) return errno;
    if (end == std::string::npos) break;
  }
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return errno;
  return S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
}

std::string HomeFolder() {
  const char* home = std::getenv("HOME");
  if (home != nullptr && home[0] != '\0') return home;
  const passwd* user = ::getpwuid(::getuid());
  return user != nullptr ? user->pw_dir : "";
}

namespace {
std::string XdgFolder(const char* variable, const char* fallback) {
  const char* value = std::getenv(variable);
  if (value != nullptr && value[0] == '/') return value;
  return HomeFolder() + fallback;
}
}  // namespace

std::string ConfigHome() { return XdgFolder("XDG_CONFIG_HOME", "/.config"); }
std::string StateHome() { return XdgFolder("XDG_STATE_HOME", "/.local/state"); }
