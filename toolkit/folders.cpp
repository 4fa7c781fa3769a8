#include "toolkit/folders.h"

#include <sys/stat.h>

#include <cerrno>

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
