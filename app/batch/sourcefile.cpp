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

std::string ChangedText(const std::string& path, const std::string& why) {
  return ChangedWhileSentText(path) + " (" + why + ")";
}
}  // namespace

EFileError::EFileError(std::string path, const std::string& reason)
    : EFileError(path, TText{"The file " + QuotedName(path) + " cannot be read: " + reason}) {}

EFileError::EFileError(std::string path, TText text) : EInOutError(text.text), path_(std::move(path)) {}

EFileChanged::EFileChanged(std::string path, const std::string& why)
    : EFileError(path, TText{ChangedText(path, why)}) {}

std::string ChangedWhileSentText(const std::string& path) {
  return "The file " + QuotedName(path) + " changed while it was sent; it was kept";
}

TSourceFile::TSourceFile(const std::string& path, std::function<void()> afterBlock)
    : path_(path), afterBlock_(std::move(afterBlock)) {
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

// Every read hands over the bytes the file held when it was opened, or fails: the size a message
// was counted at and the bytes it carries are the same, on every try.
void TSourceFile::Read(const std::function<void(std::string_view)>& take) {
  TSha256 hash;
  digest_ = {};
  block_.resize(kBlock);
  CheckUnchanged();
  uint64_t done = 0;
  for (;;) {
    const ssize_t n = ::pread(fd_, block_.data(), kBlock, static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) Fail(path_, std::strerror(errno));
    if (n == 0) break;
    const std::string_view bytes(block_.data(), static_cast<size_t>(n));
    hash.Add(bytes);
    done += bytes.size();
    take(bytes);
    if (afterBlock_) afterBlock_();
  }
  if (done != Size())
    throw EFileChanged(path_, std::to_string(Size()) + " bytes when opened, " + std::to_string(done) + " read");
  CheckUnchanged();
  digest_ = {done, hash.Finish()};
}

void TSourceFile::CheckUnchanged() const {
  struct stat now;
  if (::fstat(fd_, &now) != 0) Fail(path_, std::strerror(errno));
  if (static_cast<uint64_t>(now.st_size) != Size())
    throw EFileChanged(path_, std::to_string(Size()) + " bytes when opened, " + std::to_string(now.st_size) + " now");
  if (!SameTime(now.st_mtim, opened_.st_mtim)) throw EFileChanged(path_, "it was written to");
}

std::string TSourceFile::Change() const {
  struct stat now;
  if (::stat(path_.c_str(), &now) != 0) return ChangedText(path_, std::strerror(errno));
  if (now.st_dev != opened_.st_dev || now.st_ino != opened_.st_ino)
    return ChangedText(path_, "another file has taken its name");
  if (static_cast<uint64_t>(now.st_size) != digest_.size)
    return ChangedText(path_, std::to_string(digest_.size) + " bytes sent, " + std::to_string(now.st_size) + " now");
  if (!SameTime(now.st_mtim, opened_.st_mtim)) return ChangedText(path_, "it was written to");
  return {};
}
