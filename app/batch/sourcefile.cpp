#include "app/batch/sourcefile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "toolkit/regularfile.h"
#include "toolkit/strutils.h"

namespace {
constexpr size_t kBlock = 64 * 1024;

[[noreturn]] void Fail(const std::string& path, const std::string& reason) { throw EFileError(path, reason); }

bool SameTime(const timespec& a, const timespec& b) { return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec; }
}  // namespace

EFileError::EFileError(std::string path, const std::string& reason)
    : EInOutError("The file " + QuotedName(path) + " cannot be read: " + reason), path_(std::move(path)) {}

std::string ChangedWhileSentText(const std::string& path) {
  return "The file " + QuotedName(path) + " changed while it was sent; it was kept";
}

TSourceFile::TSourceFile(const std::string& path) : path_(path) {
  std::string why;
  fd_ = OpenRegularFile(path, why, opened_);
  if (fd_ < 0) Fail(path, why);
  // Held until the outcome is recorded (and the file deleted): a second Mailcart started on the
  // same files meanwhile leaves this one alone instead of sending it too.
  if (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
    const int error = errno;
    ::close(fd_);
    if (error == EWOULDBLOCK) throw EFileBusy("The file " + QuotedName(path) + " is being sent by another Mailcart");
    Fail(path, std::strerror(error));
  }
}

TSourceFile::~TSourceFile() { ::close(fd_); }

void TSourceFile::Read(const std::function<void()>& afterBlock) {
  TSha256 hash;
  bytes_.clear();
  bytes_.reserve(static_cast<size_t>(opened_.st_size));
  // Reads to the end, whatever the size said at opening: a file still growing is sent as far as
  // it has grown, and the record says what was sent.
  for (;;) {
    const size_t at = bytes_.size();
    bytes_.resize(at + kBlock);
    const ssize_t n = ::pread(fd_, &bytes_[at], kBlock, static_cast<off_t>(at));
    bytes_.resize(at + static_cast<size_t>(std::max<ssize_t>(n, 0)));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) Fail(path_, std::strerror(errno));
    if (n == 0) break;
    hash.Add({bytes_.data() + at, static_cast<size_t>(n)});
    if (afterBlock) afterBlock();
  }
  digest_ = {bytes_.size(), hash.Finish()};
}

std::string TSourceFile::Change() const {
  struct stat now;
  if (::stat(path_.c_str(), &now) != 0) return ChangedWhileSentText(path_) + " (" + std::strerror(errno) + ")";
  if (now.st_dev != opened_.st_dev || now.st_ino != opened_.st_ino)
    return ChangedWhileSentText(path_) + " (another file has taken its name)";
  if (static_cast<uint64_t>(now.st_size) != digest_.size)
    return ChangedWhileSentText(path_) + " (" + std::to_string(digest_.size) + " bytes sent, " +
           std::to_string(now.st_size) + " now)";
  if (!SameTime(now.st_mtim, opened_.st_mtim)) return ChangedWhileSentText(path_) + " (it was written to)";
  return {};
}
