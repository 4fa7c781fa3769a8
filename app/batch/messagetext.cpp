#include "app/batch/messagetext.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "toolkit/exceptions.h"
#include "toolkit/regularfile.h"
#include "toolkit/strutils.h"

std::string MessageTextProblem(std::string_view text) {
  if (text.size() > kMaxMessageTextBytes)
    return "is longer than " + std::to_string(kMaxMessageTextBytes / 1024) + " KiB";
  if (text.find('\0') != std::string_view::npos) return "holds a NUL byte";
  if (!IsValidUtf8(text)) return "is not UTF-8";
  return {};
}

std::string ReadMessageTextFile(const std::string& path) {
  std::string why;
  struct stat st;
  const int fd = OpenRegularFile(path, why, st);
  if (fd < 0) throw EInOutError("The message text \"" + path + "\" cannot be read: " + why);
  // One byte past the limit tells a file that is too long without reading it all.
  std::string text(kMaxMessageTextBytes + 1, '\0');
  size_t got = 0;
  while (got < text.size()) {
    const ssize_t n = ::read(fd, text.data() + got, text.size() - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      const int error = errno;
      ::close(fd);
      throw EInOutError("The message text \"" + path + "\" cannot be read: " + std::strerror(error));
    }
    if (n == 0) break;
    got += static_cast<size_t>(n);
  }
  ::close(fd);
  text.resize(got);
  if (const std::string problem = MessageTextProblem(text); !problem.empty())
    throw EInOutError("The message text \"" + path + "\" " + problem);
  return text;
}
