// A watch's journal and what it decides of a complete file across restarts.
#include "app/batch/watchjournal.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <ctime>
#include <optional>

#include "app/batch/batchplan.h"
#include "app/batch/journalcleanup.h"

namespace {

const std::string kPath = "/scans/a.pdf";
const std::string kServer = "smtp.example.org";
const TFileDigest kNow = {3, std::string(64, 'a')};
const TFileDigest kOther = {3, std::string(64, 'b')};

TJournalHead Head(const std::string& watch) {
  TJournalHead head{kServer, "me@example.org", "you@example.net", "Scans", {}, ""};
  head.watch = watch;
  return head;
}

// A record of kPath.
TJournalRecord Of(const TFileDigest& digest, TJournalOutcome outcome, const std::string& time) {
  return {kPath, digest.size, digest.sha256, time, outcome, "250 Ok"};
}

TEST(WatchJournal, RecordsOfTheDestinationDecide) {
  using O = TJournalOutcome;
  using V = TWatchVerdict;
  const char* t1 = "2026-12-08T10:00:00+01:00";
  const char* t2 = "2026-12-08T10:00:00+00:00";  // an hour later
  const struct {
    const char* name;
    std::vector<TJournalRecord> first, second;  // two journals, the first read first
    V verdict;
    const char* sends;  // plain, with resendChanged, with resendUncertain: y or n
  } rows[] = {
      {"no record", {}, {}, V::Send, "yyy"},
      {"failed only", {Of(kNow, O::Failed, t1)}, {}, V::Send, "yyy"},
      {"sent with these bytes", {Of(kNow, O::Sent, t1)}, {}, V::SentBefore, "nnn"},
      {"sent, then changed in a resend", {Of(kNow, O::Sent, t1)}, {Of(kOther, O::Changed, t2)}, V::SentBefore, "nnn"},
      {"sent with other bytes", {}, {Of(kOther, O::Sent, t1)}, V::ChangedSinceSent, "nyn"},
      {"changed while sent", {Of(kNow, O::Changed, t1)}, {}, V::Send, "yyy"},
      {"changed later, in a journal read first",
       {Of(kOther, O::Changed, t2)},
       {Of(kOther, O::Sent, t1)},
       V::Send,
       "yyy"},
      {"uncertain", {Of(kNow, O::Uncertain, t1)}, {}, V::MaybeHeld, "nny"},
      {"uncertain with other bytes", {Of(kOther, O::Uncertain, t1)}, {}, V::ChangedSinceSent, "nyn"},
  };
  const std::string envelope = EnvelopeKey(Head("").Recipients());
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    std::vector<TJournal> journals(2);
    journals[0].head = Head("");
    journals[1].head = Head("/scans");
    journals[0].records = row.first;
    journals[1].records = row.second;
    const TWatchDecision plain = DecideWatchFile(journals, "SMTP.example.org", envelope, kPath, kNow, false, false);
    EXPECT_EQ(plain.verdict, row.verdict);
    EXPECT_EQ(plain.why.empty(), row.verdict == V::Send) << plain.why;
    const std::string sends = {plain.send ? 'y' : 'n',
                               DecideWatchFile(journals, kServer, envelope, kPath, kNow, true, false).send ? 'y' : 'n',
                               DecideWatchFile(journals, kServer, envelope, kPath, kNow, false, true).send ? 'y' : 'n'};
    EXPECT_EQ(sends, row.sends);
    // Another server's records say nothing of this one.
    for (TJournal& journal : journals) journal.head.server = "smtp.example.com";
    EXPECT_TRUE(DecideWatchFile(journals, kServer, envelope, kPath, kNow, false, false).send);
  }
}

TEST(WatchJournal, OneADayNeverResumedNorRemoved) {
  QTemporaryDir dir;
  const std::string folder = dir.filePath("journals").toStdString();
  const int64_t day = 24 * 60 * 60, now = std::time(nullptr);
  TJournalWriter(folder, Head("")).End(TJournalEnd::Cancelled);  // a batch to resume
  std::vector<std::string> names;
  for (int64_t at : {now - day, now - day, now}) {       // a restart each time
    TWatchJournal journal(folder, Head("/scans/\xff"));  // no UTF-8: kept byte for byte
    journal.Record(Of(kNow, TJournalOutcome::Sent, ""), false, at);
    names.push_back(journal.FileName());
  }
  EXPECT_EQ(names[0], names[1]);
  EXPECT_NE(names[1], names[2]);
  EXPECT_NE(WatchJournalName(Head("/other"), now), WatchJournalName(Head("/scans/\xff"), now));
  const std::vector<TJournal> journals = ReadJournals(folder);
  ASSERT_EQ(journals.size(), 3u);
  EXPECT_EQ(journals[1].head.watch, "/scans/\xff");
  EXPECT_EQ(journals[1].records.size(), 2u);
  EXPECT_FALSE(Resumable(journals[2]));
  std::string why;
  const std::optional<TJournal> resumed = NewestResumable(journals, why);
  EXPECT_EQ(resumed ? resumed->fileName : why, journals[0].fileName);  // the batch, not the newer watch
  EXPECT_TRUE(RemoveOldJournals(folder, 1, now + 30 * day).empty());
  EXPECT_EQ(ReadJournals(folder).size(), 3u);
}

// A second watch of a folder for the same destination would send every file again.
TEST(WatchJournal, OneWatchAtATimeOfAFolderForADestination) {
  QTemporaryDir dir;
  const std::string folder = dir.filePath("journals").toStdString();
  std::optional<TWatchJournal> first(std::in_place, folder, Head("/scans"));
  EXPECT_THROW(TWatchJournal(folder, Head("/scans")), EJournalError);
  TJournalHead elsewhere = Head("/scans");
  elsewhere.to = "archive@example.org";
  EXPECT_NO_THROW(TWatchJournal(folder, elsewhere));
  first.reset();
  EXPECT_NO_THROW(TWatchJournal(folder, Head("/scans")));
}

}  // namespace
