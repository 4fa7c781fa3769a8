// A provider's limits on an account: a reply that asks to slow down is waited out, one that says
// the day's limit is reached stops the batch resumable (or is waited for), and too many logins
// end the batch at once.
#include <gtest/gtest.h>

#include <ctime>
#include <string>
#include <vector>

#include "app/batch/batchjournal.h"
#include "app/batch/quotawindow.h"
#include "app/batch/sendcaps.h"
#include "support/batchrunner_fixture.h"
#include "support/scripted_server.h"
#include "support/smtp_transcript.h"

namespace {

// The replies of each provider to the second file: a slow-down sends every file after a wait of
// a minute or more; a limit sends nothing more, fails nothing, and a resume sends the rest once.
TEST_F(BatchRunnerTest, ProvidersLimitsSlowDownOrStopTheBatch) {
  const struct {
    std::vector<std::string> mailReplies, dataReplies;
    bool quota;
    int64_t statedIn = 0;  // the reset the reply states, in seconds from now
  } cases[] = {
      // A session the server ended gets one new session at once: the second 421 is waited out.
      {{"ok", "421 4.7.0 Try again later, closing connection.", "421 4.7.0 Try again later."}, {}, false},
      {{"ok", "450 4.2.1 The user is receiving mail too quickly."}, {}, false},
      {{"ok", "432 4.3.2 Concurrent connections limit exceeded."}, {}, false},
      {{"ok", "550 5.4.5 Daily user sending quota exceeded."}, {}, true},
      {{"ok", "550 5.4.5 Daily SMTP relay limit exceeded for user."}, {}, true},
      {{}, {"ok", "554 5.2.0 STOREDRV.Submission.Exception:SubmissionQuotaExceededException"}, true},
      {{}, {"ok", "554 5.2.0 STOREDRV.Submission.Exception:OutboundSpamException; RefuseQuota"}, true},
      {{"ok", "550 5.7.1 You have exceeded your daily sending limit."}, {}, true},
      // The provider's own time wins over the estimate.
      {{"ok", "550 5.4.5 Daily user sending quota exceeded, try again in 3 hours."}, {}, true, 3 * 3600},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.mailReplies.empty() ? c.dataReplies[1] : c.mailReplies[1]);
    SmtpCapture::Options options;
    options.mailReplies = c.mailReplies;
    options.dataReplies = c.dataReplies;
    SmtpCapture server(options);
    frontEnd_.Reset();
    frontEnd_.server = "127.0.0.1:" + std::to_string(server.Port());
    frontEnd_.journalFolder = dir_.filePath("journals").toStdString();
    frontEnd_.files = MakeFiles(3);
    EXPECT_EQ(runner_.Run(frontEnd_.Request()), c.quota ? TBatchEnd::QuotaReached : TBatchEnd::AllSent);
    EXPECT_EQ(runner_.Status().Count(TFileState::Failed), 0);
    if (!c.quota) {
      EXPECT_EQ(server.Count(), 3);
      EXPECT_EQ(frontEnd_.Count("RemaindL: 60 sec."), 1) << "the wait is a minute, not the 0.05 s of a retry";
      continue;
    }
    EXPECT_EQ(server.Count(), 1);
    const std::string box = "box: The provider's daily limit was reached after 1 file; 2 are left. Resume after ";
    EXPECT_EQ(frontEnd_.events.back().rfind(box, 0), 0u) << frontEnd_.events.back();
    EXPECT_EQ(ReadJournal(runner_.JournalFileName()).end, TJournalEnd::Quota);
    const int64_t resets = std::time(nullptr) + (c.statedIn > 0 ? c.statedIn : kQuotaWindowSeconds);
    EXPECT_NEAR(*runner_.QuotaResets(), resets, 2);
    TBatchRequest resume = frontEnd_.Request();
    resume.resumeJournal = runner_.JournalFileName();
    EXPECT_EQ(runner_.Run(resume), TBatchEnd::AllSent);
    EXPECT_EQ(server.Count(), 3);
  }
}

// A time the reply states counts only when it is a time ahead, and not far.
TEST(StatedResetTime, ReadsTimesAndWaitsAhead) {
  const int64_t now = 1796816000;  // 2026-12-09T11:33:20Z
  const struct {
    const char* reply;
    std::optional<int64_t> resets;
  } cases[] = {
      {"550 5.4.5 Daily user sending quota exceeded.", std::nullopt},
      {"421 4.7.0 Try again in 45 minutes", now + 45 * 60},
      {"550 quota exceeded, retry after 2 hours", now + 7200},
      {"550 limit reached until 2026-12-10T08:00:00Z", 1796889600},
      {"550 limit reached until 2026-12-10 09:00 +0100", 1796889600},
      {"550 limit reached until 2026-12-10 08:00:00 UTC", 1796889600},
      {"550 limit reset 2026-12-09T10:00:00Z", std::nullopt},  // passed: not about this refusal
      {"550 try again in 30 days", std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(StatedResetTime(c.reply, now), c.resets) << c.reply;
}

// A 454 to the login ends the batch at once: a login tried again may lengthen the lock.
TEST_F(BatchRunnerTest, TooManyLoginsEndTheBatchUntried) {
  ScriptedServer server(
      WithHost({"S: 220 ready\nC: EHLO {host}\nS: 250-hello\nS: 250 AUTH PLAIN\n"
                "C: AUTH PLAIN AHVzZXIAc2VjcmV0\n"
                "S: 454 4.7.0 Too many login attempts, please try again later.\n"}));
  frontEnd_.server = server.Address();
  frontEnd_.account.security = TpxSecurity::None;  // allowed in the clear to this machine
  frontEnd_.account.user = "user";
  frontEnd_.password = "secret";
  frontEnd_.files = MakeFiles(2);
  EXPECT_EQ(runner_.Run(frontEnd_.Request()), TBatchEnd::Failed);
  EXPECT_EQ(server.Connections(), 1);
  EXPECT_EQ(server.Failures(), "");
}

// With WaitForQuota the batch quits its session, waits until a day after the first message the
// journals record (two minutes from now), and goes on; a cancel ends the wait.
TEST_F(BatchRunnerTest, TheWaitForTheLimitEndsWhenItResets) {
  for (const bool cancel : {false, true}) {
    SCOPED_TRACE(cancel ? "cancelled" : "waited");
    SmtpCapture::Options options;
    options.mailReplies = {"550 5.4.5 Daily user sending quota exceeded."};
    SmtpCapture server(options);
    frontEnd_.Reset();
    frontEnd_.server = "127.0.0.1:" + std::to_string(server.Port());
    frontEnd_.journalFolder = dir_.filePath(cancel ? "cancelled" : "waited").toStdString();
    TJournalHead head;
    head.server = frontEnd_.server;
    TJournalRecord earlier{
        "/elsewhere",          1,       "", JournalTime(std::time(nullptr) - kQuotaWindowSeconds + 120),
        TJournalOutcome::Sent, "250 ok"};
    TJournalWriter(frontEnd_.journalFolder, head).Record(earlier, false);
    frontEnd_.files = MakeFiles(2);
    int quitsBeforeWait = -1;
    frontEnd_.onEvent = [&](const std::string& event) {
      if (event.rfind("StateL: waiting for the provider's daily limit: it resets about ", 0) != 0) return;
      quitsBeforeWait = quits_;
      if (cancel) runner_.RequestCancel();
    };
    TBatchRequest request = frontEnd_.Request();
    request.waitForQuota = true;
    EXPECT_EQ(runner_.Run(request), cancel ? TBatchEnd::Aborted : TBatchEnd::AllSent);
    EXPECT_EQ(server.Count(), cancel ? 0 : 2);
    EXPECT_GE(quitsBeforeWait, 1) << "no session is held during the wait";
    EXPECT_EQ(frontEnd_.Count("RemaindL: 120") + frontEnd_.Count("RemaindL: 119"), 1);
  }
}

// The caps wait before a message until the account's window has room, counting what the journals
// record it sent: within a session up to a minute, with no session held beyond one; a wait past
// a quarter of an hour stops the batch as the daily limit does.
TEST_F(BatchRunnerTest, SendingCapsWaitOrStopTheBatch) {
  const struct {
    const char* name;
    TCapChoice caps;
    int64_t journalSentAgo;  // a message of an earlier batch; 0: none
    int files, sent;
    int64_t wait;  // the first wait's seconds; 0: it stops at once
  } cases[] = {
      {"two a minute", {2, 0, 0}, 0, 3, 3, 60},
      {"two an hour, one of them sent 55 minutes ago", {0, 2, 0}, 55 * 60, 2, 2, 5 * 60},
      {"one a day, sent an hour ago", {0, 0, 1}, 60 * 60, 2, 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SmtpCapture server;
    frontEnd_.Reset();
    frontEnd_.server = "127.0.0.1:" + std::to_string(server.Port());
    frontEnd_.journalFolder = dir_.filePath(c.name).toStdString();
    if (c.journalSentAgo > 0) {
      TJournalHead head;
      head.server = frontEnd_.server;
      head.from = frontEnd_.from;
      const std::string at = JournalTime(std::time(nullptr) - c.journalSentAgo);
      TJournalWriter(frontEnd_.journalFolder, head).Record({"/elsewhere", 1, "", at, TJournalOutcome::Sent, ""}, false);
    }
    frontEnd_.files = MakeFiles(c.files);
    const std::string waiting = std::string("StateL: ") + kWaitingForCaps;
    std::vector<int64_t> waits;
    int quitsBeforeWait = -1;
    frontEnd_.onEvent = [&](const std::string& event) {
      if (event.rfind(waiting, 0) != 0) return;
      waits.push_back(std::stoll(event.substr(waiting.size())));
      quitsBeforeWait = quits_;
    };
    quits_ = 0;
    TBatchRequest request = frontEnd_.Request();
    request.caps = c.caps;
    EXPECT_EQ(runner_.Run(request), c.wait > 0 ? TBatchEnd::AllSent : TBatchEnd::QuotaReached);
    EXPECT_EQ(server.Count(), c.sent);
    if (c.wait == 0) {
      EXPECT_EQ(ReadJournal(runner_.JournalFileName()).end, TJournalEnd::Quota);
      EXPECT_NEAR(*runner_.QuotaResets(), std::time(nullptr) - c.journalSentAgo + kQuotaWindowSeconds, 2);
      continue;
    }
    ASSERT_EQ(waits.size(), 1u);
    EXPECT_NEAR(waits[0], c.wait, 2);
    EXPECT_NEAR(runner_.SecondsWaitedForCaps(), c.wait, 2);
    EXPECT_EQ(quitsBeforeWait, c.wait > 60 ? 1 : 0) << "a session is held through a minute's wait only";
  }
}

}  // namespace
