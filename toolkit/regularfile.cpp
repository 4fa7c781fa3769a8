#include "toolkit/regularfile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "toolkit/strutils.h"

int OpenRegularFile(const std::string& path, std::string& why, struct stat& st, int flags) {
  const int fd = ::open(path.c_str(), flags | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  why = fd < 0 || ::fstat(fd, &st) != 0 ? std::strerror(errno)
        : S_ISDIR(st.st_mode)           ? std::strerror(EISDIR)
        : !S_ISREG(st.st_mode)          ? "not a regular file"
                                        : "";
  if (why.empty()) return fd;
  if (fd >= 0) ::close(fd);
  return -1;
}

std::string RegularFileProblem(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0)
    return errno == ENOENT ? "" : QuotedName(path) + " cannot be read: " + std::strerror(errno);
  return S_ISREG(st.st_mode) ? "" : QuotedName(path) + " is not a regular file";
}

uint64_t RegularFileSize(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) ? static_cast<uint64_t>(st.st_size) : 0;
}
