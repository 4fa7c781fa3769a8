// What becomes of each file of a batch, and what the journal says of it: every outcome
// recorded, deletion only once its record is on the disk and only of the bytes sent, a message
// the server may hold never sent again unasked, a file another batch sent meanwhile left alone.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "app/batch/batchjournal.h"
#include "app/batch/sourcefile.h"
#include "support/batchrunner_fixture.h"
#include "support/files.h"
#include "support/samples.h"

namespace {

// The journal holds every file's outcome with the server's reply (a file that cannot be sent
// is skipped before the first is sent), and ends a batch that went through its files; the
// list's bytes reach exactly the total.
TEST_F(BatchRunnerTest, TheJournalRecordsEveryOutcome) {
  frontEnd_.journalFolder = dir_.filePath("journals").toStdString();
  frontEnd_.files = {MakeFile("a.txt", "abc"), dir_.path().toStdString(), MakeFile("b.txt", std::string(5000, 'x'))};
  frontEnd_.keepGoing = true;
  EXPECT_EQ(runner_.Run(frontEnd_.Request()), TBatchEnd::SomeFailed);
  const TJournal journal = ReadJournal(runner_.JournalFileName());
  EXPECT_EQ(journal.end, TJournalEnd::Finished);
  EXPECT_EQ(journal.head.to, "you@example.com");
  EXPECT_EQ(journal.head.files.size(), 3u);
  ASSERT_EQ(journal.records.size(), 3u);
  EXPECT_EQ(journal.records[0].outcome, TJournalOutcome::Skipped);
  EXPECT_EQ(journal.records[0].reply, "Is a directory");
  EXPECT_EQ(journal.records[1].outcome, TJournalOutcome::Sent);
  EXPECT_EQ(journal.records[1].sha256, "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  EXPECT_EQ(journal.records[1].reply.rfind("250", 0), 0u) << journal.records[1].reply;
  EXPECT_EQ(journal.records[2].outcome, TJournalOutcome::Sent);
  const TBatchStatus& status = runner_.Status();
  EXPECT_EQ(status.BytesDone(), status.TotalBytes());
  EXPECT_EQ(status.Summary(), "2 files sent, 0 failed, 1 skipped.");
  EXPECT_EQ(status.Files()[0].detail, journal.records[1].reply);
}

// A sent file is deleted only once its record is on the disk: when the record cannot be
// written (here the file size limit stops it), the file stays and the batch ends.
TEST_F(BatchRunnerTest, NoRecordNoDeletion) {
  frontEnd_.journalFolder = dir_.filePath("journals").toStdString();
  frontEnd_.files = MakeFiles(2);
  frontEnd_.remove = true;
  const auto oldHandler = ::signal(SIGXFSZ, SIG_IGN);
  rlimit old{};
  ::getrlimit(RLIMIT_FSIZE, &old);
  frontEnd_.onStatus = [&](const TBatchStatus& status) {
    if (status.Files()[0].state != TFileState::Sent) return;
    const rlimit limit{static_cast<rlim_t>(std::filesystem::file_size(runner_.JournalFileName())), old.rlim_max};
    ::setrlimit(RLIMIT_FSIZE, &limit);
  };
  const TBatchEnd end = runner_.Run(frontEnd_.Request());
  ::setrlimit(RLIMIT_FSIZE, &old);
  ::signal(SIGXFSZ, oldHandler);
  EXPECT_EQ(end, TBatchEnd::Failed);
  EXPECT_EQ(server_.Count(), 1);
  EXPECT_TRUE(Exists(frontEnd_.files[0]));
  EXPECT_TRUE(Exists(frontEnd_.files[1]));
  EXPECT_EQ(runner_.Status().Files()[0].state, TFileState::Sent) << "the server has it, record or not";
}

// A message the server may hold (it closed, or fell silent, after the end of the text) is
// recorded as uncertain and never sent again unasked, however many retries are left.
TEST_F(BatchRunnerTest, AMessageTheServerMayHoldIsNotSentAgain) {
  const struct {
    const char* name;
    std::string afterData;
    bool resendUncertain;
    int stored;  // times the server stored the file
    TBatchEnd end;
  } cases[] = {
      {"closed after the text", "close", false, 1, TBatchEnd::SomeFailed},
      {"silent after the text", "silent", false, 1, TBatchEnd::SomeFailed},
      {"closed, and resending asked for", "close", true, 2, TBatchEnd::AllSent},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SmtpCapture::Options options;
    options.dataReplies = {c.afterData};
    SmtpCapture server(options);
    frontEnd_.Reset();
    frontEnd_.server = "127.0.0.1:" + std::to_string(server.Port());
    frontEnd_.files = {MakeFile("scan.pdf", "%PDF-1.4\r\n")};
    frontEnd_.retries = 2;
    frontEnd_.resendUncertain = c.resendUncertain;
    frontEnd_.journalFolder = dir_.filePath("journals").toStdString();
    components_.pxSMTP1.SetTimeOut(1);
    EXPECT_EQ(runner_.Run(frontEnd_.Request()), c.end);
    EXPECT_EQ(server.Count(), c.stored);
    const TJournal journal = ReadJournal(runner_.JournalFileName());
    ASSERT_FALSE(journal.records.empty());
    const bool uncertain = !c.resendUncertain;
    EXPECT_EQ(journal.records.back().outcome, uncertain ? TJournalOutcome::Uncertain : TJournalOutcome::Sent);
    EXPECT_EQ(runner_.Status().Files()[0].state, uncertain ? TFileState::Uncertain : TFileState::Sent);
    if (uncertain) {
      EXPECT_EQ(frontEnd_.events.back(), "failures: " + frontEnd_.files[0] + ": " + batchtext::kUncertain);
    }
  }
  components_.pxSMTP1.SetTimeOut(60);
}

// A file is read once, from one descriptor: what the journal records is what was sent, and a
// file that changed meanwhile is kept, not deleted with contents the server never saw.
TEST_F(BatchRunnerTest, AFileChangedWhileItIsSentIsKept) {
  const struct {
    const char* name;
    std::function<void(const std::string& path)> change;
  } cases[] = {
      {"it grew", [](const std::string& path) { WriteFile(path, ReadFile(path) + "page 2\r\n"); }},
      {"another file took its name",
       [](const std::string& path) {
         WriteFile(path + ".new", "page 1\r\n");
         std::filesystem::rename(path + ".new", path);
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    frontEnd_.Reset();
    const int before = server_.Count();
    const std::string file = MakeFile("scan.txt", "page 1\r\n");
    frontEnd_.files = {file};
    frontEnd_.remove = true;
    frontEnd_.journalFolder = dir_.filePath("journals").toStdString();
    frontEnd_.onEvent = [&](const std::string& event) {
      if (event == "StateL: In progress") c.change(file);
    };
    EXPECT_EQ(runner_.Run(frontEnd_.Request()), TBatchEnd::AllSent);
    EXPECT_TRUE(Exists(file));
    ASSERT_EQ(server_.Count(), before + 1);
    EXPECT_NE(server_.Messages().back().find("page 1"), std::string::npos);
    EXPECT_EQ(server_.Messages().back().find("page 2"), std::string::npos);
    const TJournalRecord record = ReadJournal(runner_.JournalFileName()).records.back();
    EXPECT_EQ(record.outcome, TJournalOutcome::Changed);
    EXPECT_EQ(record.size, 8u) << "the bytes sent, not the file's size now";
    ASSERT_NE(record.reply.find(ChangedWhileSentText(file)), std::string::npos) << record.reply;
    EXPECT_EQ(frontEnd_.Count("StateL: " + record.reply.substr(record.reply.find("The file"))), 1);
  }
}

// A file is read from its descriptor as it is sent: it goes whole, its journal record the
// digest of the bytes read, or, when its size or modification time moved since it was opened
// (while its charset was read, while it was read to be sent, between two tries), it fails as
// changed and is neither sent nor recorded as sent.
TEST_F(BatchRunnerTest, AFileThatChangesBeforeItGoesFailsAsChanged) {
  const auto grow = [](const std::string& path) { WriteFile(path, ReadFile(path) + "page 2\r\n"); };
  const auto touch = [](const std::string& path) {
    std::filesystem::last_write_time(path, std::filesystem::last_write_time(path) + std::chrono::seconds(1));
  };
  const struct {
    const char* name;
    std::string file, bytes;
    std::function<void(const std::string&)> change;
    bool betweenTries;  // else at the first block read
  } cases[] = {
      {"unchanged, three blocks and a byte", "scan.bin", RandomBytes(3 * 65536 + 1), nullptr, false},
      {"it grew while its charset was read", "scan.txt", "page 1\r\n", grow, false},
      {"it was written to while it was read to be sent", "scan.bin", RandomBytes(70000), touch, false},
      {"it grew between two tries", "scan.bin", RandomBytes(100), grow, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SmtpCapture::Options options;
    if (c.betweenTries) options.mailReplies = {"451 4.3.0 busy"};
    SmtpCapture server(options);
    frontEnd_.Reset();
    frontEnd_.server = "127.0.0.1:" + std::to_string(server.Port());
    const std::string file = MakeFile(c.file, c.bytes);
    frontEnd_.files = {file};
    frontEnd_.remove = true;
    frontEnd_.retries = 1;
    frontEnd_.journalFolder = dir_.filePath("journals").toStdString();
    std::function<void(const std::string&)> change = c.change;  // once
    const auto changeOnce = [&](bool now) {
      if (now && change) std::exchange(change, nullptr)(file);
    };
    frontEnd_.onPump = [&] { changeOnce(!c.betweenTries); };
    frontEnd_.onEvent = [&](const std::string& event) {
      changeOnce(event.find("; retry 1 of 1") != std::string::npos);
    };
    const TBatchEnd end = runner_.Run(frontEnd_.Request());
    const TJournalRecord record = ReadJournal(runner_.JournalFileName()).records.back();
    if (!c.change) {
      EXPECT_EQ(end, TBatchEnd::AllSent);
      EXPECT_EQ(record.outcome, TJournalOutcome::Sent);
      TSha256 sent;
      sent.Add(c.bytes);
      EXPECT_EQ(record.sha256, sent.Finish());
      EXPECT_EQ(server.Count(), 1);
      continue;
    }
    EXPECT_EQ(end, TBatchEnd::Failed);
    EXPECT_EQ(server.Count(), 0);
    EXPECT_TRUE(Exists(file));
    EXPECT_EQ(record.outcome, TJournalOutcome::Failed);
    EXPECT_EQ(record.reply.rfind(ChangedWhileSentText(file) + " (", 0), 0u) << record.reply;
  }
}

// A file that another Mailcart sent while this batch ran (its journal says so once this batch
// has the file's lock) is not sent again.
TEST_F(BatchRunnerTest, AFileSentMeanwhileByAnotherBatchIsSkipped) {
  frontEnd_.journalFolder = dir_.filePath("journals").toStdString();
  frontEnd_.files = MakeFiles(2);
  const std::string second = frontEnd_.files[1];
  bool written = false;  // during the first file's send
  frontEnd_.onEvent = [&](const std::string& event) {
    if (event != "StateL: In progress" || written) return;
    written = true;
    TJournalWriter other(frontEnd_.journalFolder, {frontEnd_.server, frontEnd_.from, frontEnd_.to, "", {second}, {}});
    const TFileDigest digest = DigestFile(second);
    other.Record({second, digest.size, digest.sha256, "", TJournalOutcome::Sent, "250 queued elsewhere"}, false);
  };
  EXPECT_EQ(runner_.Run(frontEnd_.Request()), TBatchEnd::AllSent);
  EXPECT_EQ(SentNames(), std::vector<std::string>{"file1.txt"});
  EXPECT_EQ(runner_.Status().Files()[1].state, TFileState::Skipped);
  EXPECT_NE(runner_.Status().Files()[1].detail.find("was sent by another Mailcart"), std::string::npos);
}

}  // namespace
