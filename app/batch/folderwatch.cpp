#include "app/batch/folderwatch.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <utility>

#include "toolkit/foldertree.h"
#include "toolkit/strutils.h"

namespace {

constexpr uint32_t kFolderEvents = IN_CLOSE_WRITE | IN_MOVED_TO | IN_MOVED_FROM | IN_CREATE | IN_DELETE |
                                   IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR | IN_EXCL_UNLINK;

// File systems whose files change on other machines without an event here, by statfs' f_type.
struct TNetworkType {
  long type;
  const char* name;
};
constexpr TNetworkType kNetworkTypes[] = {
    {0x6969, "NFS"},
    {0x517B, "SMB"},
    {static_cast<long>(0xFF534D42), "CIFS"},
    {static_cast<long>(0xFE534D42), "SMB2"},
    {0x65735546, "FUSE"},
    {0x73757245, "Coda"},
    {0x5346414F, "AFS"},
    {0x6B414653, "AFS"},
    {0x01021997, "9P"},
    {0x00C36400, "Ceph"},
    {0x564C, "NCP"},
    {0x0BD00BD0, "Lustre"},
    {0x01161970, "GFS2"},
    {0x7461636F, "OCFS2"},
    {0x47504653, "GPFS"},
    {0x13661366, "OrangeFS"},
};

// The network file system path lies on; nullptr for a local one or when it cannot be told.
const char* NetworkFileSystem(const std::string& path) {
  struct statfs fs;
  if (::statfs(path.c_str(), &fs) != 0) return nullptr;
  for (const TNetworkType& known : kNetworkTypes)
    if (static_cast<uint32_t>(fs.f_type) == static_cast<uint32_t>(known.type)) return known.name;
  return nullptr;
}

std::string Join(const std::string& folder, const std::string& name) {
  return !folder.empty() && folder.back() == '/' ? folder + name : folder + "/" + name;
}

bool Below(const std::string& path, const std::string& folder) {
  return path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0 && path[folder.size()] == '/';
}

std::string ProcValue(const char* fileName) {
  std::ifstream in(fileName);
  std::string value;
  return in >> value ? value : "unknown";
}

// The per-user limits of inotify, named with how to raise them.
EWatchError LimitError(const std::string& folder, const char* what, const char* setting, const char* raised) {
  const std::string file = std::string("/proc/sys/fs/inotify/") + setting;
  return EWatchError("The folder " + QuotedName(folder) + " cannot be watched: the system's limit of " + what +
                     " per user is reached (" + file + " is " + ProcValue(file.c_str()) +
                     "). Raise it with \"sudo sysctl fs.inotify." + setting + "=" + raised +
                     "\", and keep it with that line, without sudo sysctl, in a file of /etc/sysctl.d/");
}

// Someone has the file open for writing: a read lease is refused while anybody does. The lease
// is given back at once.
bool HeldForWriting(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return false;
  bool held = false;
  if (::fcntl(fd, F_SETLEASE, F_RDLCK) == 0)
    ::fcntl(fd, F_SETLEASE, F_UNLCK);
  else
    held = errno == EAGAIN || errno == EBUSY;  // else no leases here: the settle time alone tells
  ::close(fd);
  return held;
}

}  // namespace

TFolderWatch::TFolderWatch(TWatchOptions options) : options_(std::move(options)) {
  fd_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (fd_ < 0 && errno == EMFILE) throw LimitError(options_.folder, "watching programs", "max_user_instances", "1024");
  if (fd_ < 0)
    throw EWatchError("The folder " + QuotedName(options_.folder) + " cannot be watched: " + std::strerror(errno));
  try {
    topWd_ = AddWatch(options_.folder, 0);
    ScanFolder(options_.folder, 0, options_.newOnly ? TFound::Remember : TFound::Offer, nullptr);
  } catch (...) {
    ::close(fd_);
    throw;
  }
  nextScan_ = Now() + options_.settle;
}

TFolderWatch::~TFolderWatch() { ::close(fd_); }

TFolderWatch::Clock::time_point TFolderWatch::Now() const { return options_.now ? options_.now() : Clock::now(); }

// The watch of a folder (the one it had when watched already); -1 for a folder below the top
// that cannot be watched, with a notice. A folder on a network file system is looked through.
int TFolderWatch::AddWatch(const std::string& path, int depth) {
  const uint32_t mask = depth == 0 ? kFolderEvents : kFolderEvents | IN_DONT_FOLLOW;
  const int wd = ::inotify_add_watch(fd_, path.c_str(), mask);
  if (wd < 0 && errno == ENOSPC) throw LimitError(path, "watched folders", "max_user_watches", "524288");
  if (wd < 0 && depth == 0)
    throw EWatchError("The folder " + QuotedName(path) + " cannot be watched: " + std::strerror(errno));
  if (wd < 0) {
    if (errno != ENOENT)
      notices_.push_back("The folder " + QuotedName(path) + " cannot be watched: " + std::strerror(errno));
    return -1;
  }
  const auto known = folders_.find(wd);
  const char* network = known == folders_.end() ? NetworkFileSystem(path) : nullptr;
  if (network != nullptr)
    notices_.push_back(QuotedName(path) + " is on a network file system (" + network +
                       "): changes made on other machines raise no event here, so it is looked through every " +
                       std::to_string(options_.settle.count()) + " ms");
  polled_ = polled_ || network != nullptr;
  folders_[wd] = {path, depth, known == folders_.end() ? network == nullptr : known->second.local};
  return wd;
}

// The files of the folder at path (watched first, so that none made meanwhile is missed) and,
// for a recursive watch, of the folders inside. Found files are offered as candidates unless
// handed out before as they are now, or remembered as there; seen gathers every file found.
void TFolderWatch::ScanFolder(const std::string& path, int depth, TFound found, std::vector<std::string>* seen) {
  const int wd = depth == 0 ? topWd_ : AddWatch(path, depth);
  if (wd < 0) return;
  const bool local = folders_.at(wd).local;
  DIR* dir = ::opendir(path.c_str());
  if (dir == nullptr) {
    if (depth == 0) {
      ended_ = "The watched folder " + QuotedName(path) + " cannot be read: " + std::strerror(errno);
      throw EWatchError(ended_);
    }
    if (errno != ENOENT) notices_.push_back(QuotedName(path) + " cannot be read: " + std::strerror(errno));
    return;
  }
  std::vector<std::pair<std::string, bool>> entries;  // name, folder
  while (const dirent* entry = ::readdir(dir)) {
    if (entry->d_name[0] == '.') continue;
    struct stat st;
    if (::fstatat(::dirfd(dir), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
    if (S_ISREG(st.st_mode) && WatchTakes(options_.names, entry->d_name)) entries.emplace_back(entry->d_name, false);
    if (S_ISDIR(st.st_mode) && options_.recursive) entries.emplace_back(entry->d_name, true);
  }
  ::closedir(dir);
  std::sort(entries.begin(), entries.end());
  for (const auto& [name, folder] : entries) {
    const std::string entryPath = Join(path, name);
    if (folder && depth + 1 > kMaxFolderDepth)
      notices_.push_back(QuotedName(entryPath) + " lies more than " + std::to_string(kMaxFolderDepth) +
                         " folders deep: it is not watched");
    else if (folder)
      ScanFolder(entryPath, depth + 1, found, seen);
    else if (found == TFound::Offer)
      Offer(entryPath, false, local);
    else if (struct stat st; ::lstat(entryPath.c_str(), &st) == 0)
      taken_[entryPath] = StampOf(st);
    if (seen != nullptr && !folder) seen->push_back(entryPath);
  }
}

// The whole tree looked through again: after lost events, and for a folder on a network file
// system. What was handed out and is gone is forgotten.
void TFolderWatch::Rescan() {
  std::vector<std::string> seen;
  ScanFolder(options_.folder, 0, TFound::Offer, &seen);
  std::sort(seen.begin(), seen.end());
  std::erase_if(taken_, [&](const auto& entry) { return !std::binary_search(seen.begin(), seen.end(), entry.first); });
  rescanDue_ = false;
  nextScan_ = Now() + options_.settle;
}

std::optional<TFolderWatch::Clock::time_point> TFolderWatch::Deadline() const {
  if (!ended_.empty() || rescanDue_) return Now();
  std::optional<Clock::time_point> next;
  if (polled_) next = nextScan_;
  for (const TCandidate& candidate : candidates_)
    if (!next || candidate.since + options_.settle < *next) next = candidate.since + options_.settle;
  return next;
}

int TFolderWatch::PollTimeout() const {
  const std::optional<Clock::time_point> deadline = Deadline();
  if (!deadline) return -1;
  // Rounded up: a driver woken a little early would only come back at once.
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(*deadline - Now()).count();
  return static_cast<int>(std::clamp<decltype(left)>(left, 0, INT32_MAX));
}

std::vector<TWatchedFile> TFolderWatch::Process() {
  if (!ended_.empty()) throw EWatchError(ended_);
  ReadEvents();
  if (rescanDue_ || (polled_ && Now() >= nextScan_)) Rescan();
  std::vector<TWatchedFile> complete;
  const Clock::time_point now = Now();
  for (auto at = candidates_.begin(); at != candidates_.end();) {
    struct stat st;
    if (now < at->since + options_.settle) {
      ++at;
    } else if (::lstat(at->path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
      candidateAt_.erase(at->path);
      at = candidates_.erase(at);
    } else if (!Settled(*at, st, now)) {
      ++at;
    } else {
      complete.push_back({at->path, at->stamp});
      taken_[at->path] = at->stamp;
      candidateAt_.erase(at->path);
      at = candidates_.erase(at);
    }
  }
  return complete;
}

// Unchanged since it was last found changed and, for a file of the user's on a local file
// system, open for writing nowhere; else its settle time starts again.
bool TFolderWatch::Settled(TCandidate& candidate, const struct stat& st, Clock::time_point now) {
  const TFileStamp stamp = StampOf(st);
  const bool held =
      stamp == candidate.stamp && candidate.local && st.st_uid == ::geteuid() && HeldForWriting(candidate.path);
  if (stamp == candidate.stamp && !held) return true;
  candidate.stamp = stamp;
  candidate.since = now;
  return false;
}

void TFolderWatch::ReadEvents() {
  alignas(inotify_event) char buffer[64 * 1024];
  for (;;) {
    const ssize_t n = ::read(fd_, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;  // EAGAIN: none left
    for (ssize_t at = 0; at < n;) {
      const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
      Handle(event->wd, event->mask, event->len > 0 ? event->name : nullptr);
      at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
    }
  }
  if (!ended_.empty()) throw EWatchError(ended_);
}

void TFolderWatch::Handle(int wd, uint32_t mask, const char* name) {
  if (mask & IN_Q_OVERFLOW) rescanDue_ = true;
  const auto folder = folders_.find(wd);
  if (folder == folders_.end()) return;
  if (wd == topWd_ && (mask & (IN_DELETE_SELF | IN_MOVE_SELF | IN_UNMOUNT | IN_IGNORED))) return TopEvent(mask);
  if (mask & IN_IGNORED) {
    folders_.erase(folder);  // removed, or its file system unmounted
    return;
  }
  if (name == nullptr) return;
  const std::string path = Join(folder->second.path, name);
  const TFolder where = folder->second;  // Handle may rehash folders_
  if (mask & IN_ISDIR) {
    if ((mask & (IN_CREATE | IN_MOVED_TO)) && options_.recursive && name[0] != '.' && where.depth < kMaxFolderDepth)
      ScanFolder(path, where.depth + 1, TFound::Offer, nullptr);
    if (mask & IN_MOVED_FROM) ForgetFolder(path);
  } else if (mask & (IN_CLOSE_WRITE | IN_MOVED_TO)) {
    if (WatchTakes(options_.names, name)) Offer(path, true, where.local);
  } else if (mask & (IN_DELETE | IN_MOVED_FROM)) {
    Drop(path);
  }
}

void TFolderWatch::TopEvent(uint32_t mask) {
  if (!ended_.empty()) return;  // IN_IGNORED follows what ended it
  const char* what = mask & IN_DELETE_SELF ? "was removed"
                     : mask & IN_MOVE_SELF ? "was moved or renamed"
                     : mask & IN_UNMOUNT   ? "was unmounted"
                                           : "can no longer be watched";
  ended_ = "The watched folder " + QuotedName(options_.folder) + " " + what + ": the watch has ended";
}

// path becomes a candidate, its settle time started afresh after an event (fresh); when found by
// looking, only if it is new or no longer what was handed out.
void TFolderWatch::Offer(const std::string& path, bool fresh, bool local) {
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return;
  const TFileStamp stamp = StampOf(st);
  if (const auto at = candidateAt_.find(path); at != candidateAt_.end()) {
    if (fresh) *at->second = {path, stamp, Now(), local};
    return;
  }
  if (const auto was = taken_.find(path); !fresh && was != taken_.end() && was->second == stamp) return;
  candidates_.push_back({path, stamp, Now(), local});
  candidateAt_[path] = std::prev(candidates_.end());
}

void TFolderWatch::Drop(const std::string& path) {
  taken_.erase(path);
  if (const auto at = candidateAt_.find(path); at != candidateAt_.end()) {
    candidates_.erase(at->second);
    candidateAt_.erase(at);
  }
}

// A folder moved away from the tree: its watches go (one moved within the tree is watched
// again under its new name by the event for that), and so do its candidates.
void TFolderWatch::ForgetFolder(const std::string& path) {
  std::erase_if(folders_, [&](const auto& entry) {
    const bool gone = entry.second.path == path || Below(entry.second.path, path);
    if (gone) ::inotify_rm_watch(fd_, entry.first);
    return gone;
  });
  std::erase_if(taken_, [&](const auto& entry) { return Below(entry.first, path); });
  for (auto at = candidates_.begin(); at != candidates_.end();) {
    if (!Below(at->path, path)) {
      ++at;
      continue;
    }
    candidateAt_.erase(at->path);
    at = candidates_.erase(at);
  }
}

std::vector<std::string> TFolderWatch::TakeNotices() { return std::exchange(notices_, {}); }
