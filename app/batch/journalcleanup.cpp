#include "app/batch/journalcleanup.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>

#include "app/batch/batchjournal.h"
#include "toolkit/strutils.h"

namespace {

constexpr int64_t kSecondsPerDay = 24 * 60 * 60;
constexpr int64_t kNanosecondsPerSecond = 1000000000;

// Nothing in the journal is left for anyone to decide: the user gave its batch up, it ended
// before anything went, or it went through every file. A file the server may hold unconfirmed
// keeps it whatever the end, for the user to check; so do the unsent files of a finished batch
// (a KeepGoing failure, a file that changed while it was sent).
bool Settled(const TJournal& journal) {
  // A watch's journal says what its folder's files were; without it they would all go again.
  if (journal.running || !journal.head.watch.empty()) return false;
  std::map<std::string, TJournalOutcome> last;
  for (const TJournalRecord& record : journal.records) last[record.path] = record.outcome;
  for (const auto& [path, outcome] : last)
    if (outcome == TJournalOutcome::Uncertain) return false;
  if (journal.end == TJournalEnd::Declined || journal.end == TJournalEnd::SetupFailed) return true;
  if (journal.end != TJournalEnd::Finished) return false;
  return std::all_of(journal.head.files.begin(), journal.head.files.end(), [&](const std::string& path) {
    const auto found = last.find(path);
    return found != last.end() &&
           (found->second == TJournalOutcome::Sent || found->second == TJournalOutcome::Skipped ||
            found->second == TJournalOutcome::Written);
  });
}

bool SameFile(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

int64_t Written(const struct stat& st) {
  return static_cast<int64_t>(st.st_mtim.tv_sec) * kNanosecondsPerSecond + st.st_mtim.tv_nsec;
}

std::string RemovalWarning(const std::string& fileName, int error) {
  return "The old journal " + QuotedName(fileName) + " could not be removed: " + std::strerror(error);
}

// Removes the journal when its name still holds the regular file that was read, unchanged since,
// and no batch holds it (the lock is taken for the removal, so none can start writing it
// meanwhile). A journal that is gone, replaced, written or held is left without a word.
std::string RemoveJournal(const TJournal& journal, const struct stat* keep) {
  const std::string& name = journal.fileName;
  const int fd = ::open(name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return errno == ENOENT || errno == ELOOP ? std::string() : RemovalWarning(name, errno);
  struct stat opened, named;
  std::string warning;
  if (::fstat(fd, &opened) == 0 && S_ISREG(opened.st_mode) && Written(opened) == journal.written &&
      !(keep != nullptr && SameFile(opened, *keep)) && ::flock(fd, LOCK_EX | LOCK_NB) == 0 &&
      ::lstat(name.c_str(), &named) == 0 && SameFile(opened, named) && ::unlink(name.c_str()) != 0)
    warning = RemovalWarning(name, errno);
  ::close(fd);
  return warning;
}

}  // namespace

std::vector<std::string> RemoveOldJournals(const std::string& folder, int days, int64_t now, const std::string& keep) {
  if (folder.empty() || days <= 0) return {};
  const int64_t before = now - days * kSecondsPerDay;
  std::vector<TJournal> journals =
      ReadJournals(folder, [](const std::string& fileName, int64_t) { return IsBatchJournalName(fileName); });
  if (!journals.empty()) journals.pop_back();  // the newest
  struct stat kept;
  const bool keeps = !keep.empty() && ::stat(keep.c_str(), &kept) == 0;
  std::vector<std::string> warnings;
  for (const TJournal& journal : journals) {
    if (journal.written / kNanosecondsPerSecond >= before || !Settled(journal)) continue;
    if (std::string warning = RemoveJournal(journal, keeps ? &kept : nullptr); !warning.empty())
      warnings.push_back(std::move(warning));
  }
  return warnings;
}
