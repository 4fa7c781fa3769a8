#include "app/batch/sizecheck.h"

#include <gtest/gtest.h>

#include "support/batchrunner_fixture.h"
#include "support/samples.h"

// Before the first file goes, the files whose message the server would refuse for its size are
// named: the batch stops, or with KeepGoing skips them (recorded as skips) and sends the others.
// A server that announces no SIZE is sent everything.
TEST(SizeCheckTest, FilesLargerThanTheServerTakesAreNamedBeforeTheFirstIsSent) {
  const struct {
    int64_t sizeLimit;
    bool keepGoing;
    TBatchEnd end;
    int sent;
    const char* shown;  // in the error or the failures listed at the end
  } rows[] = {
      {100000, false, TBatchEnd::AllSent, 2, ""},
      {20000, false, TBatchEnd::Failed, 0, "error: The batch did not start: 1 file is larger than the server takes"},
      {20000, true, TBatchEnd::SomeFailed, 1, "big.bin: the message would be 40.8 KB, the server takes 19.5 KB"},
      {0, false, TBatchEnd::AllSent, 2, ""},
  };
  for (const auto& row : rows) {
    SmtpCapture::Options options;
    options.sizeLimit = row.sizeLimit;
    SmtpCapture server(options);
    QTemporaryDir dir;
    TMailComponents components;
    RecordingFrontEnd frontEnd;
    FastClock clock;
    TBatchRunner runner(components.pxSMTP1, components.pxMessage1, frontEnd.Parts(), kSenderName);
    runner.SetClock(clock);
    frontEnd.server = "127.0.0.1:" + std::to_string(server.Port());
    frontEnd.journalFolder = dir.filePath("journals").toStdString();
    frontEnd.keepGoing = row.keepGoing;
    for (const auto& [name, bytes] : {std::pair{"a.txt", std::string("small\n")}, {"big.bin", RandomBytes(30000)}}) {
      frontEnd.files.push_back(dir.filePath(name).toStdString());
      WriteFile(frontEnd.files.back(), bytes);
    }
    EXPECT_EQ(runner.Run(frontEnd.Request()), row.end) << row.sizeLimit;
    EXPECT_EQ(server.Count(), row.sent) << row.sizeLimit;
    const std::string shown = frontEnd.events.empty() ? "" : frontEnd.events.back();
    EXPECT_NE(shown.find(row.shown), std::string::npos) << shown;
    if (row.end == TBatchEnd::Failed) {
      EXPECT_NE(shown.find("\"" + frontEnd.files[1] + "\" (the message would be"), std::string::npos) << shown;
      EXPECT_EQ(runner.JournalFileName(), "") << "a batch that did not start leaves no journal";
    }
    if (row.keepGoing) {
      const TJournal journal = ReadJournal(runner.JournalFileName());
      ASSERT_EQ(journal.records.size(), 2u);
      EXPECT_EQ(journal.records[0].outcome, TJournalOutcome::Skipped);
      EXPECT_EQ(journal.records[0].reply, runner.Status().Files()[1].detail);
      EXPECT_EQ(runner.Status().Files()[1].state, TFileState::Skipped);
    }
  }
}

// A file far below the limit fits whatever its bytes: it is not read to count its message.
TEST(SizeCheckTest, OnlyFilesNearTheLimitAreCounted) {
  constexpr uint64_t kMiB = 1 << 20;
  const struct {
    uint64_t fileSize, limit;
    bool counted;
  } cases[] = {
      {100 * 1024, 35 * kMiB, false},
      {8 * kMiB, 35 * kMiB, false},
      {9 * kMiB, 35 * kMiB, true},  // quoted-printable could make it 28 MiB and more with its headers
      {30 * kMiB, 35 * kMiB, true},
      {1000, kMiB, true},  // the headers and the text alone may come near a limit this small
  };
  for (const auto& c : cases) {
    TBatchFile file;
    file.path = "/a";
    file.size = c.fileSize;
    int counted = 0;
    FindTooLarge({file}, c.limit, [&](size_t) { return ++counted, uint64_t{0}; });
    EXPECT_EQ(counted > 0, c.counted) << c.fileSize << " of " << c.limit;
  }
}
