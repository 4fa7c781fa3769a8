#include "app/batch/batchplan.h"

#include <algorithm>
#include <set>

#include "app/batch/batchquestions.h"
#include "toolkit/strutils.h"

namespace {
// Why the file is not what was recorded; empty when it is.
std::string Change(const TBatchFile& file, const TJournalRecord& record, const std::function<void()>& afterBlock) {
  if (record.sha256.empty()) return {};
  if (file.size != record.size)
    return "changed since it was recorded (" + std::to_string(record.size) + " bytes then, " +
           std::to_string(file.size) + " now)";
  try {
    if (DigestFile(file.path, afterBlock).sha256 != record.sha256)
      return "changed since it was recorded (other contents)";
  } catch (const std::exception&) {
    return {};  // unreadable now: the send names the reason
  }
  return {};
}

bool Delivered(const TJournalRecord* record, bool uncertainToo) {
  return record != nullptr &&
         (record->outcome == TJournalOutcome::Sent || (uncertainToo && record->outcome == TJournalOutcome::Uncertain));
}

// RFC 4343: host names compare without regard to case; addresses are taken alike, as providers
// treat them, and the envelope's recipients as a set.
bool SameDestination(const TJournalHead& a, const TJournalHead& b) {
  return SameText(a.server, b.server) && EnvelopeKey(a.Recipients()) == EnvelopeKey(b.Recipients());
}
}  // namespace

std::vector<TBatchFile> ResumeFiles(const TJournal& journal, bool resendChanged, bool resendUncertain,
                                    const std::function<void()>& afterBlock) {
  std::vector<TBatchFile> files;
  for (const std::string& path : journal.head.files) {
    const TJournalRecord* record = journal.LastRecordOf(path);
    if (Delivered(record, !resendUncertain)) continue;
    TBatchFile file;
    file.path = path;
    file.size = RegularFileSize(path);
    // What changed while it was sent is to go now as it is.
    if (record != nullptr && !resendChanged && record->outcome != TJournalOutcome::Changed) {
      file.detail = Change(file, *record, afterBlock);
      if (!file.detail.empty()) file.state = TFileState::Skipped;
    }
    files.push_back(std::move(file));
  }
  return files;
}

std::vector<TSentBefore> SentBefore(const std::vector<TBatchFile>& files, const std::vector<TJournal>& journals,
                                    const std::string& server, const std::string& envelope,
                                    const std::function<void()>& afterBlock) {
  std::set<std::pair<std::string, uint64_t>> recorded;
  for (const TJournal& journal : journals)
    for (const TJournalRecord& record : journal.records)
      if (record.outcome == TJournalOutcome::Sent) recorded.insert({record.path, record.size});
  std::vector<TSentBefore> found;
  for (const TBatchFile& file : files) {
    if (file.state == TFileState::Skipped || !recorded.count({file.path, file.size})) continue;
    TFileDigest digest;
    try {
      digest = DigestFile(file.path, afterBlock);
    } catch (const std::exception&) {
      continue;
    }
    const std::vector<TSentBefore> sent = FindSentBefore(journals, server, envelope, file.path, digest);
    if (!sent.empty()) found.push_back(sent.front());
  }
  return found;
}

void MarkSentBefore(std::vector<TBatchFile>& files, const std::vector<TBatchFile>& absolute,
                    const std::vector<TSentBefore>& sent, bool skip) {
  for (const TSentBefore& before : sent)
    for (size_t i = 0; i < files.size(); ++i)
      if (absolute[i].path == before.path) {
        if (skip) files[i].state = TFileState::Skipped;
        files[i].detail = "sent before on " + DayOf(before.time);
        files[i].sentBefore = before.time;
      }
}

bool Resumable(const TJournal& journal) {
  if (journal.running || !journal.head.watch.empty()) return false;
  return journal.end == TJournalEnd::None || journal.end == TJournalEnd::Cancelled ||
         journal.end == TJournalEnd::Failed || journal.end == TJournalEnd::Quota;
}

std::optional<TJournal> NewestResumable(const std::vector<TJournal>& journals, std::string& why) {
  // A watch's journals sit among the batches' but are no batch: the newest batch is the one meant.
  const auto newest = std::find_if(journals.rbegin(), journals.rend(),
                                   [](const TJournal& journal) { return journal.head.watch.empty(); });
  if (newest == journals.rend()) {
    why = "there is no batch to resume";
    return std::nullopt;
  }
  if (Resumable(*newest)) return *newest;
  why = "the newest batch, " + BatchDescription(*newest) + ", " + EndingText(*newest);
  return std::nullopt;
}

std::vector<std::string> UnsentFiles(const TJournal& journal, const std::vector<TJournal>& journals) {
  std::set<std::pair<std::string, uint64_t>> sentLater;
  bool later = false;
  for (const TJournal& other : journals) {
    if (later && SameDestination(other.head, journal.head))
      for (const TJournalRecord& record : other.records)
        if (record.outcome == TJournalOutcome::Sent) sentLater.insert({record.path, record.size});
    later = later || other.fileName == journal.fileName;
  }
  std::vector<std::string> unsent;
  for (const std::string& path : journal.head.files)
    if (!Delivered(journal.LastRecordOf(path), true) && !sentLater.count({path, RegularFileSize(path)}))
      unsent.push_back(path);
  return unsent;
}

std::string BatchDescription(const TJournal& journal) {
  return "of " + DayOf(journal.head.started) + " to " + DisplayText(RecipientsText(journal.head.Recipients())) + " through " +
         DisplayText(journal.head.server);
}
