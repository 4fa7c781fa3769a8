// The window's questions about earlier batches.
#include <gtest/gtest.h>

#include "app/batch/batchquestions.h"

namespace {

TEST(BatchQuestionsTest, Wording) {
  const std::vector<TSentBefore> three{{"/a", "2026-11-30T09:00:00+01:00", "j1"},
                                       {"/b", "2026-12-08T15:10:02+01:00", "j2"},
                                       {"/c", "2026-12-01T10:00:00+01:00", "j1"}};
  EXPECT_EQ(SentBeforeQuestion(three, "archive@example.com"),
            "3 of these files were sent to archive@example.com on 8 Dec 2026. Send them again?");
  EXPECT_EQ(SentBeforeQuestion({three[0]}, "a@b.c"),
            "1 of these files was sent to a@b.c on 30 Nov 2026. Send it again?");
  EXPECT_EQ(DayOf("not a time"), "not a time");

  TJournal journal;
  journal.head.to = "archive@example.com";
  journal.head.started = "2026-12-08T15:10:02+01:00";
  journal.head.files = {"/a", "/b", "/c"};
  TJournalRecord sent;
  sent.path = "/a";
  sent.outcome = TJournalOutcome::Sent;
  TJournalRecord failed = sent;
  failed.path = "/b";
  failed.outcome = TJournalOutcome::Failed;
  journal.records = {sent, failed};
  journal.end = TJournalEnd::Failed;
  journal.endError = "550 5.1.1 Recipient rejected";
  EXPECT_EQ(ResumeQuestion(journal, 2),
            "The batch of 8 Dec 2026 to archive@example.com did not finish (ended by an error: 550 5.1.1 Recipient "
            "rejected): 2 of 3 files were not sent. Resume it?");
}

}  // namespace
