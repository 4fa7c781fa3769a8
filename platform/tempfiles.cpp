#include "platform/tempfiles.h"

#include <QDir>
#include <QFile>

#include <fcntl.h>
#include <unistd.h>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "toolkit/exceptions.h"

std::string GetTempPath() {
  std::string path = QFile::encodeName(QDir::tempPath()).toStdString();
  if (path.empty() || path.back() != '/') path += '/';
  return path;
}

std::string GetTempFileName(const std::string& dir, const std::string& prefix) {
  std::string path = dir;
  if (!path.empty() && path.back() != '/') path += '/';
  path += prefix + "XXXXXX";
  // O_CLOEXEC: a process started meanwhile by another thread must not inherit the handle.
  const int fd = mkostemp(path.data(), O_CLOEXEC);
  if (fd < 0) {
    const int error = errno;
    throw FileCreateError(path, std::strerror(error));
  }
  close(fd);
  return path;
}

int CreateUnnamedTempFile(const std::string& dir) {
  const int fd = ::open(dir.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd >= 0) return fd;
  // Older kernels and some file systems (tmpfs before 3.11, NFS, FUSE) cannot make one.
  if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) throw FileCreateError(dir, std::strerror(errno));
  std::string path = dir;
  if (!path.empty() && path.back() != '/') path += '/';
  path += "pxXXXXXX";
  const int named = mkostemp(path.data(), O_CLOEXEC);
  if (named < 0) throw FileCreateError(path, std::strerror(errno));
  ::unlink(path.c_str());
  return named;
}
