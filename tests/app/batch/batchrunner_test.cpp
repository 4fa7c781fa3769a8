// The batch against a real SMTP server (aiosmtpd), driven through a recording front end: the
// order of the texts, one message per file, deletion only after a message was accepted, and
// how a cancel, an exit or an error ends a batch.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>

#include <QTcpServer>
#include <QTemporaryDir>

#include <algorithm>
#include <climits>
#include <cmath>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "app/batch/batchrunner.h"
#include "app/batch/mailcomponents.h"
#include "app/batch/sourcefile.h"
#include "support/batchrunner_fixture.h"
#include "support/files.h"
#include "support/scripted_server.h"
#include "support/smtp_capture.h"
#include "support/smtp_transcript.h"
#include "toolkit/pump.h"

namespace {

TEST_F(BatchRunnerTest, EachFileGoesInItsOwnMessageWithTheTextsInOrder) {
  const std::string a = MakeFile("a.txt"), b = MakeFile("b.bin", std::string("\0\x01\xff", 3));
  frontEnd_.files = {a, b};
  frontEnd_.pause = 1.9;  // one whole second: two ticks
  // What the user changes during a batch belongs to the next batch.
  frontEnd_.onEvent = [this](const std::string& event) {
    if (event.rfind("SFileShowL: ", 0) != 0) return;
    frontEnd_.subject = "Changed";
    frontEnd_.to = "elsewhere@example.com";
  };
  runner_.RequestCancel();  // pressed while no batch ran: it belongs to no batch
  EXPECT_EQ(runner_.Run(frontEnd_.Request()), TBatchEnd::AllSent);

  std::vector<std::string> expected;
  for (const std::string& f : {a, b}) {
    const std::vector<std::string> perFile{"StateL: In progress",
                                           "StateL: Sended",
                                           "SFileShowL: " + f,
                                           "StateL: File:" + f + " sended. WaitPause",
                                           "RemaindL: 1",
                                           "RemaindL: 0 sec.",
                                           "StateL: Sended and end WaitPause"};
    expected.insert(expected.end(), perFile.begin(), perFile.end());
  }
  expected.push_back("box: All Sended");
  EXPECT_EQ(frontEnd_.events, expected);

  EXPECT_EQ(SentNames(), (std::vector<std::string>{"a.txt", "b.bin"}));
  const auto envelopes = server_.Envelopes();
  const auto messages = server_.Messages();
  ASSERT_EQ(envelopes.size(), 2u);
  for (size_t i = 0; i < 2; ++i) {
    EXPECT_EQ(envelopes[i].mailFrom, "me@example.com");
    EXPECT_EQ(envelopes[i].rcptTos, std::vector<std::string>{"you@example.com"});
    const std::string sender = std::string("\"") + kSenderName + "\" <me@example.com>";
    EXPECT_NE(messages[i].find(sender), std::string::npos) << messages[i];
    EXPECT_NE(messages[i].find("Subject:  Files\r\n"), std::string::npos);
  }
  EXPECT_TRUE(Exists(a) && Exists(b)) << "deletion is off";
  EXPECT_FALSE(runner_.SendingActive());
  EXPECT_TRUE(runner_.RequestExit()) << "no batch runs: the caller closes";
}

TEST_F(BatchRunnerTest, CancelAndExitStopBetweenMessages) {
  const struct {
    const char* name;
    double pause;
    const char* at;  // the user acts at this event of file number `file` (from 1)
    int file;
    bool exit;    // "Exit" rather than "Cancel sending"
    int sent;     // messages the server has
    int deleted;  // leading files gone (deletion is on)
  } cases[] = {
      // The message in progress is completed, and its file goes: the server has it.
      {"cancel during the send of file 2", 0, "StateL: In progress", 1, false, 2, 2},
      {"exit during the send of file 2", 0, "StateL: In progress", 1, true, 2, 2},
      {"cancel during the pause after file 2", 2, "RemaindL: 2", 2, false, 2, 2},
      {"exit during the pause after file 1", 1, "RemaindL: 1", 1, true, 1, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    frontEnd_.Reset();
    const std::vector<std::string> files = MakeFiles(4);
    const int before = server_.Count();
    quits_ = 0;
    frontEnd_.files = files;
    frontEnd_.pause = c.pause;
    frontEnd_.remove = true;
    // The cancel is seen after the send in progress, or at the end of the tick it came in:
    // neither the file's report nor the count-down follows it.
    int shown = 0, afterCancel = 0;
    bool acted = false;
    frontEnd_.onEvent = [&](const std::string& event) {
      if (event.rfind("SFileShowL: ", 0) == 0) ++shown;
      if (acted && (event.rfind("RemaindL: ", 0) == 0 || event.rfind("StateL: File:", 0) == 0)) ++afterCancel;
      if (acted || event != c.at || shown != c.file) return;
      acted = true;
      if (!c.exit)
        runner_.RequestCancel();
      else
        EXPECT_FALSE(runner_.RequestExit()) << "a batch runs";
    };
    EXPECT_EQ(runner_.Run(frontEnd_.Request()), TBatchEnd::Aborted);
    EXPECT_EQ(server_.Count() - before, c.sent);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(Exists(files[i]), i >= c.deleted) << files[i];
    std::vector<std::string> ending{"box: Sending Aborted!"};
    if (c.exit) ending.push_back("close");
    const auto& events = frontEnd_.events;
    ASSERT_GE(events.size(), ending.size());
    EXPECT_EQ(std::vector<std::string>(events.end() - static_cast<long>(ending.size()), events.end()), ending);
    EXPECT_TRUE(acted);
    EXPECT_EQ(afterCancel, 0);
    // The batch's one session ends with QUIT, before the box.
    EXPECT_EQ(quits_, 1);
    EXPECT_FALSE(components_.pxSMTP1.Connected());
  }
}

TEST_F(BatchRunnerTest, ASecondBatchIsRefusedWhileOneRuns) {
  frontEnd_.files = MakeFiles(1);
  frontEnd_.pause = 1;
  std::vector<TBatchEnd> nested;
  frontEnd_.onPump = [&] {
    if (nested.empty()) nested.push_back(runner_.Run(frontEnd_.Request()));
  };
  EXPECT_EQ(runner_.Run(frontEnd_.Request()), TBatchEnd::AllSent);
  EXPECT_EQ(nested, std::vector<TBatchEnd>{TBatchEnd::Busy});
  EXPECT_EQ(server_.Count(), 1);
}

TEST_F(BatchRunnerTest, SortedFilesAndNoPause) {
  frontEnd_.files = {MakeFile("c.txt"), MakeFile("a.txt"), MakeFile("B.txt")};
  frontEnd_.sort = true;
  frontEnd_.pause = -3.5;
  EXPECT_EQ(runner_.Run(frontEnd_.Request()), TBatchEnd::AllSent);
  EXPECT_EQ(SentNames(), (std::vector<std::string>{"a.txt", "B.txt", "c.txt"}));
  EXPECT_EQ(frontEnd_.Count("RemaindL: -3"), 1);
  const auto shownAt = std::find(frontEnd_.events.begin(), frontEnd_.events.end(), "SFileShowL: " + frontEnd_.files[1]);
  ASSERT_NE(shownAt, frontEnd_.events.end());
  EXPECT_EQ(*(shownAt + 3), "StateL: Sended and end WaitPause") << "no count-down after \"-3\"";
}

TEST_F(BatchRunnerTest, AnErrorEndsTheBatchAndLeavesTheFileInPlace) {
  QTcpServer closed;
  ASSERT_TRUE(closed.listen(QHostAddress::LocalHost));
  const std::string closedServer = "127.0.0.1:" + std::to_string(closed.serverPort());
  closed.close();
  const std::string ours = frontEnd_.server;
  const struct {
    const char* name;
    std::string server, to;
    bool secondFileMissing;
    const char* errorPart;
    int sent;         // and deleted: the first file goes once its message was accepted
    int stateErrors;  // the client reported it through its error event, once a try
  } cases[] = {
      // Found before anything connects: nothing is sent.
      {"a file removed after it was chosen", ours, "you@example.com", true, "file2.txt", 0, 0},
      // Not tried again: before the server ever answered, it is a setting to mend.
      {"a refused connection", closedServer, "you@example.com", false, "", 0, 1},
      {"an empty server name", "", "you@example.com", false, "Server property is required", 0, 1},
      {"a recipient the server refuses", ours, kRefused, false, "550", 0, 0},
      // Found before connecting: the server named does not listen.
      {"a recipient that is not ASCII", closedServer, "j\xc3\xbcrgen@example.de", false,
       "holds characters other than ASCII", 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    frontEnd_.Reset();
    const std::vector<std::string> files = MakeFiles(3);
    if (c.secondFileMissing) std::filesystem::remove(files[1]);
    const int before = server_.Count();
    frontEnd_.files = files;
    frontEnd_.server = c.server;
    frontEnd_.to = c.to;
    frontEnd_.remove = true;
    EXPECT_EQ(runner_.Run(frontEnd_.Request()), TBatchEnd::Failed);
    ASSERT_FALSE(frontEnd_.events.empty());
    const std::string& error = frontEnd_.events.back();
    EXPECT_EQ(error.rfind("error: ", 0), 0u) << error;
    EXPECT_NE(error.find(c.errorPart), std::string::npos) << error;
    EXPECT_EQ(server_.Count() - before, c.sent);
    EXPECT_EQ(Exists(files[0]), c.sent == 0);
    EXPECT_TRUE(Exists(files[2]));
    EXPECT_EQ(frontEnd_.Count("box: All Sended"), 0);
    EXPECT_EQ(frontEnd_.Count("StateL: ERROR"), c.stateErrors);
    EXPECT_FALSE(runner_.SendingActive());
    EXPECT_FALSE(components_.pxSMTP1.Connected()) << "a refusal leaves the session open for the batch to end";
  }
}

// One session carries the batch, unless each message, or each few, is to have its own; a server
// that ends the session after a few messages gets a new one, and the state says so.
TEST_F(BatchRunnerTest, OneSessionCarriesTheBatch) {
  const struct {
    const char* name;
    int maxPerSession;
    int messagesPerSession;  // the server's limit; 0: none
    int sessions;
    int reconnects;
    int quits;
  } cases[] = {
      {"one session", 0, 0, 1, 0, 1},
      {"a session per message", 1, 0, 5, 0, 5},
      {"two messages a session", 2, 0, 3, 0, 3},
      {"a server that takes two messages a session", 0, 2, 3, 2, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SmtpCapture server(SmtpCapture::Options{{}, 600, "", 0, c.messagesPerSession});
    const std::string address = "127.0.0.1:" + std::to_string(server.Port());
    frontEnd_.Reset();
    frontEnd_.server = address;
    frontEnd_.maxPerSession = c.maxPerSession;
    frontEnd_.files = MakeFiles(5);
    frontEnd_.remove = true;
    quits_ = 0;
    EXPECT_EQ(runner_.Run(frontEnd_.Request()), TBatchEnd::AllSent);
    EXPECT_EQ(server.Count(), 5);
    EXPECT_EQ(server.Sessions(), c.sessions);
    EXPECT_EQ(frontEnd_.Count("StateL: Reconnecting to " + address), c.reconnects);
    EXPECT_EQ(frontEnd_.Count("StateL: ERROR"), 0);
    EXPECT_EQ(quits_, c.quits);
    EXPECT_FALSE(components_.pxSMTP1.Connected());
    for (const std::string& file : frontEnd_.files) EXPECT_FALSE(Exists(file)) << file;
  }
}

// A failure that may pass sends the same file again after each delay; one that does not, or the
// last retry's, ends the batch unless KeepGoing lists the file and goes on. A refused login is
// never tried again, KeepGoing or not: a retried login locks accounts.
TEST_F(BatchRunnerTest, RetriesAndKeepGoing) {
  const std::vector<std::string> fourRefusals{"451 4.3.0 a", "451 4.3.0 b", "451 4.3.0 c", "451 4.3.0 d"};
  const std::string folder = dir_.filePath("folder").toStdString();
  std::filesystem::create_directory(folder);
  const struct {
    const char* name;
    std::vector<std::string> mailReplies;  // the server's first replies to MAIL FROM
    bool keepGoing;
    bool folderFirst;    // a folder is the first of the chosen files
    bool wrongPassword;  // the server wants a login, and refuses this one
    TBatchEnd end;
    std::vector<std::string> sent;
    int retries;       // count-downs shown
    std::string last;  // the start of the last event; {file1}, {folder} and {server} stand for those
  } cases[] = {
      {"a 451 then success",
       {"451 4.3.0 busy"},
       false,
       false,
       false,
       TBatchEnd::AllSent,
       {"file1.txt", "file2.txt"},
       1,
       "box: All Sended"},
      {"a lost connection then success",
       {"close"},
       false,
       false,
       false,
       TBatchEnd::AllSent,
       {"file1.txt", "file2.txt"},
       1,
       "box: All Sended"},
      {"tries run out: the batch stops",
       fourRefusals,
       false,
       false,
       false,
       TBatchEnd::Failed,
       {},
       3,
       "error: The file \"{file1}\" was not sent: {server} refused the message: 451 4.3.0 d"},
      {"tries run out with KeepGoing: the next file goes",
       fourRefusals,
       true,
       false,
       false,
       TBatchEnd::SomeFailed,
       {"file2.txt"},
       3,
       "failures: Not sent:\n{file1}: {server} refused the message: 451 4.3.0 d"},
      {"a refused login", {}, true, false, true, TBatchEnd::Failed, {}, 0, "error: "},
      {"a folder among the files with KeepGoing",
       {},
       true,
       true,
       false,
       TBatchEnd::SomeFailed,
       {"file1.txt", "file2.txt"},
       0,
       "failures: Not sent:\n{folder}: "},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SmtpCapture::Options options;
    options.mailReplies = c.mailReplies;
    if (c.wrongPassword) {
      options.auth = "user:right";
      options.authPlaintext = true;
    }
    SmtpCapture server(options);
    frontEnd_.Reset();
    frontEnd_.server = "127.0.0.1:" + std::to_string(server.Port());
    frontEnd_.files = MakeFiles(2);
    if (c.folderFirst) frontEnd_.files.insert(frontEnd_.files.begin(), folder);
    frontEnd_.keepGoing = c.keepGoing;
    frontEnd_.account = {};
    if (c.wrongPassword) {
      frontEnd_.account.security = TpxSecurity::None;  // allowed in the clear to this machine
      frontEnd_.account.user = "user";
    }
    frontEnd_.password = "wrong";
    EXPECT_EQ(runner_.Run(frontEnd_.Request()), c.end);
    std::vector<std::string> names;
    for (const std::string& message : server.Messages())
      names.push_back(message.substr(message.find("filename=\"") + 10, 9));
    EXPECT_EQ(names, c.sent);
    const auto retries = std::count_if(frontEnd_.events.begin(), frontEnd_.events.end(),
                                       [](const std::string& e) { return e.find("; retry ") != std::string::npos; });
    EXPECT_EQ(retries, c.retries);
    std::string last = c.last;
    if (const size_t at = last.find("{file1}"); at != std::string::npos) last.replace(at, 7, frontEnd_.files[0]);
    if (const size_t at = last.find("{folder}"); at != std::string::npos) last.replace(at, 8, folder);
    if (const size_t at = last.find("{server}"); at != std::string::npos) last.replace(at, 8, frontEnd_.server);
    ASSERT_FALSE(frontEnd_.events.empty());
    EXPECT_EQ(frontEnd_.events.back().rfind(last, 0), 0u) << frontEnd_.events.back();
    const std::string transcript = server.Transcript();
    size_t logins = 0;
    for (size_t at = transcript.find("AUTH "); at != std::string::npos; at = transcript.find("AUTH ", at + 1)) ++logins;
    EXPECT_EQ(logins, c.wrongPassword ? 1u : 0u) << transcript;
    EXPECT_FALSE(components_.pxSMTP1.Connected());
  }
}

// The count-down before a retry shows the seconds left and ends at a cancel, with nothing sent.
TEST_F(BatchRunnerTest, CancelEndsARetryCountDown) {
  SmtpCapture::Options options;
  options.mailReplies = {"451 4.3.0 busy"};
  SmtpCapture server(options);
  frontEnd_.server = "127.0.0.1:" + std::to_string(server.Port());
  frontEnd_.files = MakeFiles(2);
  frontEnd_.retryDelays = {30};  // a test that waits this long has failed
  frontEnd_.onEvent = [this](const std::string& event) {
    if (event == "RemaindL: 30 sec.") runner_.RequestCancel();
  };
  EXPECT_EQ(runner_.Run(frontEnd_.Request()), TBatchEnd::Aborted);
  EXPECT_EQ(server.Count(), 0);
  EXPECT_EQ(frontEnd_.Count("StateL: File:" + frontEnd_.files[0] + " failed: " + frontEnd_.server +
                            " refused the message: 451 4.3.0 busy; retry 1 of 3"),
            1);
  EXPECT_EQ(frontEnd_.events.back(), "box: Sending Aborted!");
}

// An exit requested during a batch closes the program once the batch has ended, however it
// ended, after its last box; and the next batch starts with no exit pending.
TEST_F(BatchRunnerTest, AnExitClosesWhenTheBatchEndsHoweverItEnds) {
  const struct {
    const char* name;
    double pause;
    int files;
    bool lastFileMissing;
    const char* at;  // Exit is pressed at this event, or
    int atPump;      // at this message-processing call of the batch
    TBatchEnd end;
    const char* box;  // the start of the last box
  } cases[] = {
      // Each read of the text file makes one call (its charset, then the send); a one-second
      // pause is two ticks of eight calls: 15 is the first after the last tick.
      {"after the last tick of the pause", 1, 1, false, "", 15, TBatchEnd::AllSent, "box: All Sended"},
      {"before a send that fails", 0, 2, true, "RemaindL: 0", 0, TBatchEnd::Failed, "error: "},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    frontEnd_.Reset();
    frontEnd_.files = MakeFiles(c.files);
    frontEnd_.pause = c.pause;
    bool acted = false;
    const auto exit = [&] {
      acted = true;
      EXPECT_FALSE(runner_.RequestExit()) << "a batch runs";
      // Gone once the batch has checked its files: its send fails.
      if (c.lastFileMissing) std::filesystem::remove(frontEnd_.files.back());
    };
    frontEnd_.onEvent = [&](const std::string& event) {
      if (!acted && event == c.at) exit();
    };
    int pumps = 0;
    frontEnd_.onPump = [&] {
      if (++pumps == c.atPump) exit();
    };
    EXPECT_EQ(runner_.Run(frontEnd_.Request()), c.end);
    EXPECT_TRUE(acted);
    const auto& events = frontEnd_.events;
    ASSERT_GE(events.size(), 2u);
    EXPECT_EQ(events[events.size() - 2].rfind(c.box, 0), 0u) << events[events.size() - 2];
    EXPECT_EQ(events.back(), "close") << "closed after the box, with no batch active";

    // The next batch: a plain cancel only stops it.
    frontEnd_.Reset();
    frontEnd_.onPump = nullptr;
    frontEnd_.files = MakeFiles(2);
    frontEnd_.pause = 0;
    frontEnd_.onEvent = [&](const std::string& event) {
      if (event == "StateL: In progress") runner_.RequestCancel();
    };
    EXPECT_EQ(runner_.Run(frontEnd_.Request()), TBatchEnd::Aborted);
    EXPECT_EQ(frontEnd_.events.back(), "box: Sending Aborted!");
    EXPECT_EQ(frontEnd_.Count("close"), 0);
  }
}

TEST(PauseFromValueTest, TruncatesTowardZero) {
  const struct {
    const char* name;
    double value;
    int pause;
  } cases[] = {
      {"decimals are dropped", 7.8, 7},  {"a negative pause is kept", -1.5, -1}, {"no pause", 0, 0},
      {"not a number", std::nan(""), 0}, {"beyond an int", 1e12, INT_MAX},
  };
  for (const auto& c : cases) EXPECT_EQ(PauseFromValue(c.value), c.pause) << c.name;
}

// With no pause, the next file's envelope goes out behind the end of this one's text (one round
// trip a message); a pause, or the session limit, keeps each envelope to itself. A cancel with
// the next DATA taken closes the connection: neither a text nor QUIT follows a 354.
TEST_F(BatchRunnerTest, TheNextEnvelopeGoesBehindTheText) {
  const std::string hello = "S: 220 ready\nC: EHLO {host}\nS: 250-hello\nS: 250 PIPELINING\n";
  const std::string envelope = "C: MAIL FROM:<me@example.com>\nC: RCPT TO:<you@example.com>\nC: DATA\n";
  const std::string accepted = "S: 250 ok\nS: 250 ok\nS: 354 go\n";
  const std::string quit = "C: QUIT\nS: 221 bye\n";
  const struct {
    const char* name;
    double pause;
    int maxPerSession;
    bool cancel;  // at the first file's text
    std::vector<std::string> transcripts;
    TBatchEnd end;
    int sent;
  } cases[] = {
      {"no pause",
       0,
       0,
       false,
       {hello + envelope + accepted + "message\n" + envelope + "S: 250 queued\n" + accepted + "message\n" +
        "S: 250 queued\n" + quit},
       TBatchEnd::AllSent,
       2},
      {"a pause",
       1,
       0,
       false,
       {hello + envelope + accepted + "message\nS: 250 queued\n" + envelope + accepted + "message\nS: 250 queued\n" + quit},
       TBatchEnd::AllSent,
       2},
      {"a session a message",
       0,
       1,
       false,
       {hello + envelope + accepted + "message\nS: 250 queued\n" + quit},
       TBatchEnd::AllSent,
       2},
      {"a cancel", 0, 0, true, {hello + envelope + accepted + "message\n" + envelope + "S: 250 queued\n" + accepted},
       TBatchEnd::Aborted, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedServer server(WithHost(c.transcripts));
    frontEnd_.Reset();
    frontEnd_.server = server.Address();
    frontEnd_.account.security = TpxSecurity::None;
    frontEnd_.pause = c.pause;
    frontEnd_.files = MakeFiles(2);
    frontEnd_.onEvent = [&](const std::string& event) {
      if (c.cancel && event == "StateL: In progress") runner_.RequestCancel();
    };
    TBatchRequest request = frontEnd_.Request();
    request.maxPerSession = c.maxPerSession;
    EXPECT_EQ(runner_.Run(request), c.end);
    EXPECT_EQ(runner_.Status().Count(TFileState::Sent), c.sent);
    SleepProcessing(50);  // for the server to see whatever came last
    EXPECT_EQ(server.Failures(), "");
  }
}

}  // namespace
