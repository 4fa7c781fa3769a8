// A watch's journal and what it decides of a complete file across restarts.
#include "app/batch/watchjournal.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <ctime>

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

TJournalRecord Record(const TFileDigest& digest, TJournalOutcome outcome, const std::string& time) {
  return {kPath, digest.size, digest.sha256, time, outcome, "250 Ok"};
}

TEST(WatchJournal, RecordsOfTheDestinationDecide) {
  using O = TJournalOutcome;
  using V = TWatchVerdict;
  struct TRow {
    const char* name;
    std::vector<TJournalRecord> records;  // one journal, in order
    bool otherServer;
    V verdict;
    bool send, sendWithResendChanged, sendWithResendUncertain;
  };
  const char* t1 = "2026-12-08T10:00:00+01:00";
  const char* t2 = "2026-12-09T10:00:00+01:00";
  const TRow rows[] = {
      {"no record", {}, false, V::Send, true, true, true},
      {"failed only", {Record(kNow, O::Failed, t1)}, false, V::Send, true, true, true},
      {"sent with these bytes", {Record(kNow, O::Sent, t1)}, false, V::SentBefore, false, false, false},
      {"sent, then changed while sent again", {Record(kNow, O::Sent, t1), Record(kOther, O::Changed, t2)}, false,
       V::SentBefore, false, false, false},
      {"sent with other bytes", {Record(kOther, O::Sent, t1)}, false, V::ChangedSinceSent, false, true, false},
      {"changed while sent", {Record(kNow, O::Changed, t1)}, false, V::Send, true, true, true},
      {"other bytes sent, then changed while sent", {Record(kOther, O::Sent, t1), Record(kOther, O::Changed, t2)},
       false, V::Send, true, true, true},
      {"uncertain", {Record(kNow, O::Uncertain, t1)}, false, V::MaybeHeld, false, false, true},
      {"uncertain with other bytes", {Record(kOther, O::Uncertain, t1)}, false, V::ChangedSinceSent, false, true,
       false},
      {"sent with these bytes through another server", {Record(kNow, O::Sent, t1)}, true, V::Send, true, true, true},
  };
  for (const TRow& row : rows) {
    SCOPED_TRACE(row.name);
    TJournal journal;
    journal.head = Head("/scans");
    if (row.otherServer) journal.head.server = "smtp.example.com";
    journal.records = row.records;
    const std::string envelope = EnvelopeKey(Head("").Recipients());
    const TWatchDecision plain = DecideWatchFile({journal}, "SMTP.example.org", envelope, kPath, kNow, false, false);
    EXPECT_EQ(plain.verdict, row.verdict);
    EXPECT_EQ(plain.send, row.send);
    EXPECT_EQ(plain.why.empty(), row.verdict == V::Send) << plain.why;
    EXPECT_EQ(DecideWatchFile({journal}, kServer, envelope, kPath, kNow, true, false).send, row.sendWithResendChanged);
    EXPECT_EQ(DecideWatchFile({journal}, kServer, envelope, kPath, kNow, false, true).send,
              row.sendWithResendUncertain);
  }
}

TEST(WatchJournal, OneADayNeverResumedNorRemoved) {
  QTemporaryDir dir;
  const std::string folder = dir.filePath("journals").toStdString();
  const int64_t day = 24 * 60 * 60;
  const int64_t now = std::time(nullptr);
  {
    TJournalWriter batch(folder, Head(""));
    batch.End(TJournalEnd::Cancelled);
  }
  TJournalHead head = Head("/scans/\xff");  // no UTF-8: kept byte for byte
  std::vector<std::string> names;
  for (int64_t at : {now - day, now - day, now}) {
    TWatchJournal journal(folder, head);  // a restart each time
    journal.Record(Record(kNow, TJournalOutcome::Sent, ""), false, at);
    names.push_back(journal.FileName());
  }
  EXPECT_EQ(names[0], names[1]);
  EXPECT_NE(names[1], names[2]);
  head.watch = "/other";
  EXPECT_NE(WatchJournalName(head, now), WatchJournalName(Head("/scans/\xff"), now));

  std::vector<TJournal> journals = ReadJournals(folder);
  ASSERT_EQ(journals.size(), 3u);
  EXPECT_EQ(journals[1].head.watch, "/scans/\xff");
  EXPECT_EQ(journals[1].records.size(), 2u);
  EXPECT_TRUE(journals[0].head.watch.empty());
  EXPECT_FALSE(Resumable(journals[2]));
  std::string why;
  const std::optional<TJournal> resumed = NewestResumable(journals, why);
  EXPECT_EQ(resumed ? resumed->fileName : why, journals[0].fileName);
  EXPECT_TRUE(RemoveOldJournals(folder, 1, now + 30 * day).empty());
  EXPECT_EQ(ReadJournals(folder).size(), 3u);
}

}  // namespace
