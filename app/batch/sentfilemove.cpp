#include "app/batch/sentfilemove.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "toolkit/folders.h"
#include "toolkit/strutils.h"

namespace {

constexpr int kMaxNumber = 1000;
constexpr size_t kBlock = 256 * 1024;

// "scan.pdf", "scan (1).pdf"; a name without an extension, or a dot only in front, is numbered
// at its end.
std::string NumberedName(const std::string& name, int number) {
  if (number == 0) return name;
  const size_t dot = name.rfind('.');
  const size_t at = dot == std::string::npos || dot == 0 ? name.size() : dot;
  return name.substr(0, at) + " (" + std::to_string(number) + ")" + name.substr(at);
}

// 0 or the errno. Where the file system has no RENAME_NOREPLACE, a new link and the old one's
// removal, which never replace either.
int RenameNoReplace(int fromDir, const std::string& from, int toDir, const std::string& to) {
  if (::renameat2(fromDir, from.c_str(), toDir, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS) return errno;
  if (::linkat(fromDir, from.c_str(), toDir, to.c_str(), 0) != 0) return errno;
  ::unlinkat(fromDir, from.c_str(), 0);
  return 0;
}

// from renamed into the folder under the first free form of name, which placed says; 0 or the
// errno.
int RenameToFreeName(int fromDir, const std::string& from, int folderFd, const std::string& name, std::string& placed) {
  for (int number = 0; number <= kMaxNumber; ++number) {
    placed = NumberedName(name, number);
    const int error = RenameNoReplace(fromDir, from, folderFd, placed);
    if (error != EEXIST) return error;
  }
  return EEXIST;
}

bool StillSent(const std::string& path, const TFileStamp& sent) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0 && StampOf(st) == sent;
}

std::string Join(const std::string& folder, const std::string& name) {
  return folder.back() == '/' ? folder + name : folder + "/" + name;
}

// 0 or the errno: every byte of from written to to.
int CopyBytes(int from, int to) {
  std::vector<char> block(kBlock);
  for (;;) {
    const ssize_t n = ::read(from, block.data(), block.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return errno;
    if (n == 0) return 0;
    for (ssize_t done = 0; done < n;) {
      const ssize_t written = ::write(to, block.data() + done, static_cast<size_t>(n - done));
      if (written < 0 && errno != EINTR) return errno;
      if (written > 0) done += written;
    }
  }
}

class TCrossMove {
 public:
  TCrossMove(const std::string& path, const TFileStamp& sent, const std::string& folder, int folderFd)
      : path_(path), sent_(sent), folder_(folder), folderFd_(folderFd) {}

  TSentFileMove Run(const std::string& name) {
    const int source = ::open(path_.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    struct stat st;
    if (source < 0 || ::fstat(source, &st) != 0 || StampOf(st) != sent_) {
      if (source >= 0) ::close(source);
      return {{}, Changed()};
    }
    std::string temporary = Join(folder_, ".mailcart-move-XXXXXX");
    const int copy = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (copy < 0) {
      ::close(source);
      return {{}, Failed(errno)};
    }
    const std::string tempName = temporary.substr(temporary.rfind('/') + 1);
    const struct timespec times[2] = {st.st_atim, st.st_mtim};
    int error = CopyBytes(source, copy);
    if (error == 0 && (::fchmod(copy, st.st_mode & 0777) != 0 || ::futimens(copy, times) != 0 || ::fsync(copy) != 0))
      error = errno;
    // What was copied is what was sent only if nothing wrote the file meanwhile.
    const bool same = ::fstat(source, &st) == 0 && StampOf(st) == sent_;
    ::close(source);
    if (::close(copy) != 0 && error == 0) error = errno;
    std::string placed;
    if (error == 0 && same) error = RenameToFreeName(folderFd_, tempName, folderFd_, name, placed);
    if (error != 0 || !same) {
      ::unlinkat(folderFd_, tempName.c_str(), 0);
      return {{}, error != 0 ? Failed(error) : Changed()};
    }
    ::fsync(folderFd_);
    const std::string destination = Join(folder_, placed);
    if (!StillSent(path_, sent_))
      return {destination, "it was copied to " + QuotedName(destination) + ", but " + QuotedName(path_) +
                               " changed meanwhile: it stays where it is"};
    if (::unlink(path_.c_str()) != 0)
      return {destination, "it was copied to " + QuotedName(destination) + ", but " + QuotedName(path_) +
                               " could not be removed: " + std::strerror(errno)};
    return {destination, {}};
  }

  std::string Changed() const { return QuotedName(path_) + " is no longer the file sent: it stays where it is"; }
  std::string Failed(int error) const {
    return QuotedName(path_) + " could not be moved to " + QuotedName(folder_) + ": " + std::strerror(error);
  }

 private:
  const std::string& path_;
  const TFileStamp& sent_;
  const std::string& folder_;
  const int folderFd_;
};

// path with its links followed as far as it exists; the rest as it stands.
std::string Resolved(std::string path) {
  std::string rest;
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  for (;;) {
    if (char* real = ::realpath(path.c_str(), nullptr)) {
      std::string resolved = rest.empty() ? real : Join(real, rest);
      std::free(real);
      return resolved;
    }
    const size_t slash = path.rfind('/');
    if (path == "/" || path == ".") return path;
    rest = path.substr(slash + 1) + (rest.empty() ? "" : "/" + rest);
    path = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  }
}

}  // namespace

std::string MoveFolderProblem(const std::string& folder, const std::string& watched, bool recursive) {
  const std::string target = Resolved(folder), top = Resolved(watched);
  const bool below = target.size() > top.size() && target.compare(0, top.size(), top) == 0 &&
                     (top == "/" || target[top.size()] == '/');
  // The watch enters no folder whose name starts with '.'.
  const bool hidden = below && target.find("/.", top == "/" ? 0 : top.size()) != std::string::npos;
  if (target != top && !(recursive && below && !hidden)) return {};
  return "The folder for the sent files, " + QuotedName(folder) + ", lies in the watched folder " +
         QuotedName(watched) + ": a file moved there would be sent again. Choose a folder outside it" +
         (recursive ? std::string(", or one whose name starts with '.'") : std::string());
}

TSentFileMove MoveSentFile(const std::string& path, const TFileStamp& sent, const std::string& folder) {
  if (const int error = ForceDirectories(folder, 0777))
    return {{}, "The folder " + QuotedName(folder) + " cannot be made: " + std::strerror(error)};
  const int folderFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folderFd < 0) return {{}, "The folder " + QuotedName(folder) + " cannot be opened: " + std::strerror(errno)};
  TCrossMove cross(path, sent, folder, folderFd);
  const std::string name = path.substr(path.rfind('/') + 1);
  TSentFileMove moved;
  std::string placed;
  if (!StillSent(path, sent)) {
    moved.problem = cross.Changed();
  } else if (const int error = RenameToFreeName(AT_FDCWD, path, folderFd, name, placed); error == EXDEV) {
    moved = cross.Run(name);
  } else if (error != 0) {
    moved.problem = cross.Failed(error);
  } else {
    ::fsync(folderFd);
    moved.destination = Join(folder, placed);
  }
  ::close(folderFd);
  return moved;
}
