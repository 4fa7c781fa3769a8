#include "app/batch/filetrust.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "toolkit/strutils.h"

std::string FileTrustProblem(const std::string& fileName) {
  // O_NONBLOCK: a FIFO put in the file's place must not hang the program at start.
  const int fd = ::open(fileName.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0 && errno == ENOENT) return "";
  if (fd < 0) return QuotedName(fileName) + " cannot be read: " + std::strerror(errno);
  std::string problem = DescriptorTrustProblem(fd, fileName);
  ::close(fd);
  return problem;
}

std::string DescriptorTrustProblem(int fd, const std::string& fileName) {
  const std::string quoted = QuotedName(fileName);
  struct stat st;
  if (::fstat(fd, &st) != 0) return quoted + " cannot be read: " + std::strerror(errno);
  if (st.st_uid != ::geteuid()) return quoted + " belongs to another user";
  if (st.st_mode & (S_IWGRP | S_IWOTH)) {
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
    return quoted + " can be changed by other users (mode " + mode + ")";
  }
  return "";
}
