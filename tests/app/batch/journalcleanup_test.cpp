// The cleanup of the journal folder: which journals go, and that nothing else ever does.
#include "app/batch/journalcleanup.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QTemporaryDir>

#include <ctime>
#include <string>
#include <vector>

#include "app/batch/batchjournal.h"
#include "support/files.h"

namespace {

constexpr int64_t kDay = 24 * 60 * 60;
const int64_t kNow = std::time(nullptr);
const std::string kFile = "/data/scan.pdf";

void SetWritten(const std::string& fileName, int64_t seconds) {
  const struct timespec times[2] = {{seconds, 0}, {seconds, 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, fileName.c_str(), times, 0), 0) << fileName;
}

// A journal of one file with these outcomes and end, last written at written.
std::string WriteJournal(const std::string& folder, const std::vector<TJournalOutcome>& outcomes, TJournalEnd end,
                         int64_t written) {
  std::string fileName;
  {
    TJournalWriter writer(folder, {"smtp.example.org", "me@example.org", "you@example.net", "Scans", {kFile}, ""});
    for (TJournalOutcome outcome : outcomes)
      writer.Record({kFile, 3, std::string(64, 'a'), "2026-01-01T10:00:00+01:00", outcome, "250 Ok"}, false);
    if (end != TJournalEnd::None) writer.End(end);
    fileName = writer.FileName();
  }
  SetWritten(fileName, written);
  return fileName;
}

std::string Finished(const std::string& folder, int64_t written) {
  return WriteJournal(folder, {TJournalOutcome::Sent}, TJournalEnd::Finished, written);
}

bool Exists(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;
}

class JournalCleanup : public ::testing::Test {
 protected:
  std::string Folder(const std::string& name) const {
    return dir_.filePath(QString::fromStdString(name)).toStdString();
  }
  QTemporaryDir dir_;
};

TEST_F(JournalCleanup, OnlyOldJournalsOfSettledBatchesGo) {
  using O = TJournalOutcome;
  const struct {
    const char* name;
    std::vector<O> outcomes;
    TJournalEnd end;
    bool settled;
  } batches[] = {
      {"finished, every file sent", {O::Sent}, TJournalEnd::Finished, true},
      {"finished, the file failed", {O::Failed}, TJournalEnd::Finished, false},
      {"declined, the file uncertain", {O::Uncertain}, TJournalEnd::Declined, false},
      {"finished, uncertain then sent", {O::Uncertain, O::Sent}, TJournalEnd::Finished, true},
      {"declined", {}, TJournalEnd::Declined, true},
      {"ended at its start", {}, TJournalEnd::SetupFailed, true},
      {"cancelled", {}, TJournalEnd::Cancelled, false},
      {"ended by an error", {O::Sent}, TJournalEnd::Failed, false},
      {"stopped by a crash", {O::Sent}, TJournalEnd::None, false},
  };
  int row = 0;
  for (const auto& batch : batches)
    for (const int64_t age : {91 * kDay, 89 * kDay})
      for (const int days : {0, 90}) {
        SCOPED_TRACE(std::string(batch.name) + ", " + std::to_string(age / kDay) +
                     " days old, JournalDays=" + std::to_string(days));
        const std::string folder = Folder(std::to_string(++row));
        const std::string journal = WriteJournal(folder, batch.outcomes, batch.end, kNow - age);
        const std::string newest = Finished(folder, kNow);
        EXPECT_TRUE(RemoveOldJournals(folder, days, kNow).empty());
        EXPECT_EQ(Exists(journal), !(batch.settled && age > 90 * kDay && days == 90));
        EXPECT_TRUE(Exists(newest));
      }
}

// Beside one journal that goes, everything that would go by its age and end alone stays.
TEST_F(JournalCleanup, NothingElseGoes) {
  const std::string folder = Folder("state");
  const int64_t old = kNow - 100 * kDay;
  const std::string removed = Finished(folder, old);
  const std::string link = folder + "/19700101-000000-1.jsonl";  // named like the oldest journal
  ASSERT_EQ(::symlink(Finished(Folder("elsewhere"), old).c_str(), link.c_str()), 0);
  const std::string otherKind = folder + "/watch-19700101-000000-1.jsonl";
  const std::string otherVersion = folder + "/19700101-000000-2.jsonl";
  WriteFile(otherKind, ReadFile(removed));
  WriteFile(otherVersion, "{\"type\":\"batch\",\"version\":2}\n{\"type\":\"end\",\"ending\":\"finished\"}\n");
  SetWritten(otherKind, old);
  SetWritten(otherVersion, old);
  const std::string own = Finished(folder, old);
  TJournalWriter running(folder, {"smtp.example.org", "me@example.org", "you@example.net", "Scans", {}, ""});
  running.End(TJournalEnd::Finished);
  SetWritten(running.FileName(), old);
  const std::string newest = Finished(folder, old);  // old as it is: resuming looks at it first
  EXPECT_TRUE(RemoveOldJournals(folder, 90, kNow, own).empty());
  EXPECT_FALSE(Exists(removed));
  for (const std::string& stays : {link, otherKind, otherVersion, own, running.FileName(), newest})
    EXPECT_TRUE(Exists(stays)) << stays;
}

}  // namespace
