#include "app/batch/watchjournal.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <QDateTime>

#include <cerrno>
#include <cstring>

#include "app/batch/batchquestions.h"
#include "toolkit/folders.h"
#include "toolkit/strutils.h"

namespace {

constexpr size_t kKeyDigits = 12;

// The watched folder and where its messages go, so that two watches never share a journal.
std::string WatchKey(const TJournalHead& head) {
  TSha256 hash;
  for (const std::string& part : {head.watch, head.server, head.user, head.from, EnvelopeKey(head.Recipients())}) {
    hash.Add(part);
    hash.Add(std::string_view("\0", 1));
  }
  return hash.Finish().substr(0, kKeyDigits);
}

bool SameDestination(const TJournal& journal, const std::string& server, const std::string& envelope) {
  // RFC 4343: host names compare without regard to case.
  return SameText(journal.head.server, server) && EnvelopeKey(journal.head.Recipients()) == envelope;
}

bool SameBytes(const TJournalRecord& record, const TFileDigest& digest) {
  return record.size == digest.size && record.sha256 == digest.sha256;
}

int64_t SecondsOf(const std::string& time) {
  return QDateTime::fromString(QString::fromStdString(time), Qt::ISODate).toSecsSinceEpoch();
}

// Whether record is at least as new as best, by the time written with its offset: the journals'
// order puts every batch's before the watches'. Of one second, the one read later wins.
bool Newer(const TJournalRecord& record, const TJournalRecord* best) {
  return best == nullptr || SecondsOf(record.time) >= SecondsOf(best->time);
}

}  // namespace

std::string WatchJournalName(const TJournalHead& head, int64_t now) {
  std::string day = JournalTime(now).substr(0, 10);  // "2026-12-09"
  std::erase(day, '-');
  return "watch-" + day + "-" + WatchKey(head) + ".jsonl";
}

TWatchJournal::TWatchJournal(std::string folder, TJournalHead head)
    : folder_(std::move(folder)), head_(std::move(head)) {
  const std::string lock = folder_ + "/watch-" + WatchKey(head_) + ".lock";
  const int error = ForceDirectories(folder_, 0700);
  if (error == 0) lock_ = ::open(lock.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (lock_ < 0)
    throw EJournalError("The watch's journal " + QuotedName(lock) +
                        " cannot be written: " + std::strerror(error != 0 ? error : errno));
  if (::flock(lock_, LOCK_EX | LOCK_NB) != 0) {
    ::close(lock_);
    throw EJournalError("The folder " + QuotedName(head_.watch) +
                        " is watched already by another Mailcart, for the same server and recipients");
  }
}

TWatchJournal::~TWatchJournal() { ::close(lock_); }

void TWatchJournal::Record(const TJournalRecord& record, bool durable, int64_t now) {
  const std::string name = WatchJournalName(head_, now);
  if (name != name_ || !writer_) {
    writer_.reset();  // yesterday's lock goes before today's is taken
    writer_ = std::make_unique<TJournalWriter>(folder_, name, head_);
    name_ = name;
  }
  writer_->Record(record, durable);
}

std::string TWatchJournal::FileName() const { return writer_ ? writer_->FileName() : std::string(); }

TWatchDecision DecideWatchFile(const std::vector<TJournal>& journals, const std::string& server,
                               const std::string& envelope, const std::string& path, const TFileDigest& digest,
                               bool resendChanged, bool resendUncertain) {
  const TJournalRecord* newest = nullptr;
  for (const TJournal& journal : journals) {
    if (!SameDestination(journal, server, envelope)) continue;
    for (const TJournalRecord& record : journal.records) {
      if (record.path != path) continue;
      if (record.outcome == TJournalOutcome::Sent && SameBytes(record, digest))
        return {TWatchVerdict::SentBefore, false, "sent on " + DayOf(record.time), record.time};
      const bool decides = record.outcome == TJournalOutcome::Sent || record.outcome == TJournalOutcome::Uncertain ||
                           record.outcome == TJournalOutcome::Changed;
      if (decides && Newer(record, newest)) newest = &record;
    }
  }
  if (newest == nullptr || newest->outcome == TJournalOutcome::Changed) return {};
  if (newest->outcome == TJournalOutcome::Uncertain && SameBytes(*newest, digest))
    return {TWatchVerdict::MaybeHeld, resendUncertain,
            "the server may hold it: no reply came after it was sent on " + DayOf(newest->time), newest->time};
  return {TWatchVerdict::ChangedSinceSent, resendChanged, "changed since it was sent on " + DayOf(newest->time),
          newest->time};
}
