#include "toolkit/foldertree.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

#include "toolkit/strutils.h"

namespace {

struct TEntry {
  // The name, with a '/' after a folder's: entries sorted by it give paths in byte order, as a
  // folder's paths all go on with that '/'.
  std::string key;
  bool folder;
};

struct TDirCloser {
  void operator()(DIR* dir) const { ::closedir(dir); }
};
using TDirPtr = std::unique_ptr<DIR, TDirCloser>;

std::string CannotRead(const std::string& path, int error) {
  return QuotedName(path) + " cannot be read: " + std::strerror(error);
}

// What an entry is, without following a link: the directory's word when it has one, else its
// status. 0 for what vanished meanwhile.
mode_t EntryType(int dirFd, const dirent& entry) {
  switch (entry.d_type) {
    case DT_REG: return S_IFREG;
    case DT_DIR: return S_IFDIR;
    case DT_UNKNOWN: break;
    default: return S_IFLNK;  // a link, a FIFO, a device or a socket: all left out alike
  }
  struct stat st;
  return ::fstatat(dirFd, entry.d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 ? st.st_mode & S_IFMT : 0;
}

class TFolderWalk {
 public:
  explicit TFolderWalk(size_t maxFiles) : maxFiles_(maxFiles) {}

  // Lists the folder open at fd (taken over) found at path, depth levels below the chosen one.
  void Walk(int fd, const std::string& path, int depth) {
    TDirPtr dir(::fdopendir(fd));
    if (!dir) {
      result_.problems.push_back(CannotRead(path, errno));
      ::close(fd);
      return;
    }
    for (const TEntry& entry : Entries(dir.get(), path)) {
      if (full_) return;
      if (entry.folder)
        Enter(::dirfd(dir.get()), path, entry.key.substr(0, entry.key.size() - 1), depth + 1);
      else
        Take(Join(path, entry.key));
    }
  }

  TFolderFiles& Result() { return result_; }

 private:
  static std::string Join(const std::string& path, const std::string& name) {
    return path.back() == '/' ? path + name : path + "/" + name;
  }

  std::vector<TEntry> Entries(DIR* dir, const std::string& path) {
    std::vector<TEntry> entries;
    errno = 0;
    while (const dirent* entry = ::readdir(dir)) {
      if (entry->d_name[0] != '.') {
        const mode_t type = EntryType(::dirfd(dir), *entry);
        if (type == S_IFREG) entries.push_back({entry->d_name, false});
        if (type == S_IFDIR) entries.push_back({std::string(entry->d_name) + "/", true});
      }
      errno = 0;
    }
    if (errno != 0) result_.problems.push_back(CannotRead(path, errno));
    std::sort(entries.begin(), entries.end(), [](const TEntry& a, const TEntry& b) { return a.key < b.key; });
    return entries;
  }

  void Enter(int parentFd, const std::string& parent, const std::string& name, int depth) {
    const std::string path = Join(parent, name);
    if (depth > kMaxFolderDepth) {
      result_.problems.push_back(QuotedName(path) + " lies more than " + std::to_string(kMaxFolderDepth) +
                                 " folders deep: its files were left out");
      return;
    }
    // O_NOFOLLOW: a folder swapped for a link since it was listed is not entered.
    const int fd = ::openat(parentFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
      if (errno != ENOENT) result_.problems.push_back(CannotRead(path, errno));
      return;
    }
    Walk(fd, path, depth);
  }

  void Take(std::string path) {
    if (result_.files.size() < maxFiles_)
      result_.files.push_back(std::move(path));
    else
      full_ = result_.more = true;
  }

  const size_t maxFiles_;
  bool full_ = false;
  TFolderFiles result_;
};

}  // namespace

TFolderFiles ListFolderFiles(const std::string& folder, size_t maxFiles) {
  TFolderWalk walk(maxFiles);
  // The chosen folder itself may be reached through a link: it is the one the user named.
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0)
    walk.Result().problems.push_back(CannotRead(folder, errno));
  else
    walk.Walk(fd, folder, 0);
  return std::move(walk.Result());
}

TFolderFiles ExpandFolders(const std::vector<std::string>& paths, size_t maxFromFolders) {
  TFolderFiles all;
  size_t fromFolders = 0;
  for (const std::string& path : paths) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
      all.files.push_back(path);
    } else if (!all.more) {
      TFolderFiles inside = ListFolderFiles(path, maxFromFolders - fromFolders);
      if (inside.files.empty() && !inside.more) all.problems.push_back(ShownFileName(path) + ": no files in it");
      fromFolders += inside.files.size();
      all.more = inside.more;
      all.files.insert(all.files.end(), inside.files.begin(), inside.files.end());
      all.problems.insert(all.problems.end(), inside.problems.begin(), inside.problems.end());
    }
  }
  return all;
}
