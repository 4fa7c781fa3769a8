#include "app/batchplan.h"

#include <set>

namespace {
// Why the file is not what was recorded; empty when it is.
std::string Change(const TBatchFile& file, const TJournalRecord& record, const std::function<void()>& afterBlock) {
  if (record.sha256.empty()) return {};
  if (file.size != record.size)
    return "changed since it was recorded (" + std::to_string(record.size) + " bytes then, " +
           std::to_string(file.size) + " now)";
  try {
    if (DigestFile(file.path, afterBlock).sha256 != record.sha256) return "changed since it was recorded (other contents)";
  } catch (const std::exception&) {
    return {};  // unreadable now: the send names the reason
  }
  return {};
}
}  // namespace

std::vector<TBatchFile> ResumeFiles(const TJournal& journal, bool resendChanged, const std::function<void()>& afterBlock) {
  std::vector<TBatchFile> files;
  for (const std::string& path : journal.head.files) {
    const TJournalRecord* record = journal.LastRecordOf(path);
    if (record != nullptr && record->outcome == TJournalOutcome::Sent) continue;
    TBatchFile file;
    file.path = path;
    file.size = RegularFileSize(path);
    if (record != nullptr && !resendChanged) {
      file.detail = Change(file, *record, afterBlock);
      if (!file.detail.empty()) file.state = TFileState::Skipped;
    }
    files.push_back(std::move(file));
  }
  return files;
}

std::vector<TSentBefore> SentBefore(const std::vector<TBatchFile>& files, const std::vector<TJournal>& journals,
                                    const std::string& server, const std::string& to,
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
    const std::vector<TSentBefore> sent = FindSentBefore(journals, server, to, file.path, digest);
    if (!sent.empty()) found.push_back(sent.front());
  }
  return found;
}
