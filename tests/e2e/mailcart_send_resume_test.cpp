// mailcart-send's journal end to end: batches killed or cancelled and resumed, and what guards
// a batch against other users and other programs (journals and settings files others could
// have written, a second Mailcart on the same files, FIFOs, the password in the environment).
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDeadlineTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "app/batch/batchjournal.h"
#include "app/batch/batchquestions.h"
#include "support/files.h"
#include "support/mailcart_send_run.h"
#include "support/smtp_capture.h"

namespace {

constexpr char kSecret[] = "Tr0ub4dor-env-4711";

class MailcartSendTest : public MailcartSendFixture {
 protected:
  std::string Journal() const { return std::filesystem::directory_iterator(Path("state/mailcart"))->path().string(); }

  const Variables state_{{"XDG_STATE_HOME", QString::fromStdString(Path("state"))}};
};

// Runs args until standard output has shown `count` files sent, then sends signal.
SendRun SignalAfter(const std::vector<std::string>& args, const Variables& env, int count, int signal) {
  QProcess process;
  StartWithoutDisplay(process, args, env);
  QByteArray seen;
  const QDeadlineTimer deadline(kRunTimeoutMs);
  while (seen.count(": sent (") < count && process.state() != QProcess::NotRunning && !deadline.hasExpired()) {
    process.waitForReadyRead(100);
    seen += process.readAllStandardOutput();
  }
  ::kill(static_cast<pid_t>(process.processId()), signal);
  SendRun run = Finish(process);
  const std::vector<std::string> early = Lines(seen);
  run.lines.insert(run.lines.begin(), early.begin(), early.end());
  return run;
}

}  // namespace

// The journal makes a batch cut short resumable: a batch killed in its pause, with a torn line
// at the end of its journal, is resumed without sending any file twice, and deletes only what
// the server took.
TEST_F(MailcartSendTest, AKilledBatchIsResumedWithoutSendingTwice) {
  const Variables state{{"XDG_STATE_HOME", QString::fromStdString(Path("state"))}};
  std::vector<std::string> files;
  for (int i = 1; i <= 5; ++i) files.push_back(MakeFile("f" + std::to_string(i) + ".txt"));
  std::vector<std::string> args = Args({"--pause", "1", "--delete"});
  args.insert(args.end(), files.begin(), files.end());
  QProcess process;
  StartWithoutDisplay(process, args, state);
  QByteArray seen;
  const QDeadlineTimer deadline(kRunTimeoutMs);
  while (seen.count(": sent (") < 2 && process.state() != QProcess::NotRunning && !deadline.hasExpired()) {
    process.waitForReadyRead(100);
    seen += process.readAllStandardOutput();
  }
  ::kill(static_cast<pid_t>(process.processId()), SIGKILL);
  process.waitForFinished();
  ASSERT_EQ(server_.Count(), 2);
  EXPECT_FALSE(std::filesystem::exists(files[1]));
  EXPECT_TRUE(std::filesystem::exists(files[2]));
  const std::string journal = std::filesystem::directory_iterator(Path("state/mailcart"))->path().string();
  WriteFile(journal, ReadFile(journal) + "{\"type\":\"file\",\"path\":\"" + files[2]);  // the power went

  const SendRun resumed = RunSend({"--resume", "--delete", "--settings", Path("none.ini")}, state);
  EXPECT_EQ(resumed.exitCode, 0) << resumed.errors;
  std::vector<std::string> names;
  for (const std::string& message : server_.Messages())
    names.push_back(message.substr(message.find("filename=\"") + 10, 6));
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"f1.txt", "f2.txt", "f3.txt", "f4.txt", "f5.txt"}));
  for (const std::string& file : files) EXPECT_FALSE(std::filesystem::exists(file)) << file;
  const SendRun again = RunSend({"--resume", "--settings", Path("none.ini")}, state);
  EXPECT_EQ(again.exitCode, 1);
  EXPECT_NE(again.errors.find("no batch to resume"), std::string::npos) << again.errors;
}

// A file refused, then changed, is not sent on --resume unless --resend-changed; a file sent
// before is named, and left out with --skip-sent; --report=json is all of standard output.
TEST_F(MailcartSendTest, ResumeChangedFilesSentBeforeAndTheReport) {
  SmtpCapture::Options options;
  options.mailReplies = {"ok", "550 5.7.1 not this one"};
  SmtpCapture server(options);
  const Variables state{{"XDG_STATE_HOME", QString::fromStdString(Path("state"))}};
  const std::vector<std::string> files = {MakeFile("a.txt"), MakeFile("b.txt"), MakeFile("c.txt")};
  std::vector<std::string> args{
      "--settings",  Path("none.ini"), "--server", "127.0.0.1:" + std::to_string(server.Port()),
      "--from",      "me@example.com", "--to",     "you@example.com",
      "--keep-going"};
  std::vector<std::string> firstArgs = args;
  firstArgs.insert(firstArgs.end(), files.begin(), files.end());
  const SendRun first = RunSend(firstArgs, state);
  EXPECT_EQ(first.exitCode, 1) << first.errors;
  EXPECT_EQ(server.Count(), 2);
  const std::string journal = std::filesystem::directory_iterator(Path("state/mailcart"))->path().string();
  WriteFile(files[1], "changed\r\n");

  const SendRun skipped = RunSend({"--resume=" + journal, "--report=json", "--settings", Path("none.ini")}, state);
  std::string output;
  for (const std::string& line : skipped.lines) output += line + "\n";
  const QJsonObject report = QJsonDocument::fromJson(QByteArray::fromStdString(output)).object();
  ASSERT_FALSE(report.isEmpty()) << skipped.errors;
  const QJsonArray list = report["files"].toArray();
  ASSERT_EQ(list.size(), 1);
  EXPECT_EQ(list[0].toObject()["outcome"].toString(), "skipped");
  EXPECT_TRUE(list[0].toObject()["reason"].toString().contains("changed"));
  EXPECT_EQ(server.Count(), 2);

  const SendRun resent = RunSend({"--resume=" + journal, "--resend-changed", "--settings", Path("none.ini")}, state);
  EXPECT_EQ(resent.exitCode, 0) << resent.errors;
  EXPECT_EQ(server.Count(), 3);

  args.insert(args.end(), {"--skip-sent", files[0], files[2]});
  const SendRun again = RunSend(args, state);
  EXPECT_EQ(again.exitCode, 0) << again.errors;
  EXPECT_NE(again.errors.find("2 files were sent to you@example.com before, the last on "), std::string::npos)
      << again.errors;
  EXPECT_EQ(server.Count(), 3);
  EXPECT_EQ(again.lines.back(), "0 files sent, 0 failed, 2 skipped.");
}

// Ctrl-C ends a batch as cancelled, and --resume takes it up, naming it first; once it is done,
// the newest batch is one that finished, and --resume says so instead of reaching further back.
TEST_F(MailcartSendTest, ACancelledBatchIsResumedAndNamedFirst) {
  std::vector<std::string> args = Args({"--pause", "2"});
  for (int i = 1; i <= 3; ++i) args.push_back(MakeFile("c" + std::to_string(i) + ".txt"));
  const SendRun cancelled = SignalAfter(args, state_, 1, SIGINT);
  EXPECT_EQ(cancelled.exitCode, 3) << cancelled.errors;
  ASSERT_EQ(server_.Count(), 1);
  const TJournal journal = ReadJournal(Journal());
  EXPECT_EQ(journal.end, TJournalEnd::Cancelled);

  const SendRun resumed = RunSend({"--resume", "--settings", Path("none.ini")}, state_);
  EXPECT_EQ(resumed.exitCode, 0) << resumed.errors;
  EXPECT_EQ(resumed.errors, "mailcart-send: resuming the batch of " + DayOf(journal.head.started) +
                                " to you@example.com through " + Server() + " (cancelled): 2 of 3 files left\n");
  EXPECT_EQ(server_.Count(), 3);
  const SendRun again = RunSend({"--resume", "--settings", Path("none.ini")}, state_);
  EXPECT_EQ(again.exitCode, 1);
  EXPECT_NE(again.errors.find(", finished"), std::string::npos) << again.errors;
}

// Each row is a run that something outside tries to lead astray; none of them sends what it
// should not, and each says why.
TEST_F(MailcartSendTest, WhatOthersLeaveDoesNotLeadABatchAstray) {
  const std::string file = MakeFile("secret.txt", "the bytes\r\n");
  const std::string fifo = Path("fifo");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const std::string planted = Path("planted.jsonl");
  WriteFile(planted, "{\"type\":\"batch\",\"version\":1,\"server\":\"" + Server() +
                         "\",\"from\":\"me@example.com\",\"to\":\"thief@example.net\",\"files\":[\"" + file + "\"]}\n");
  ::chmod(planted.c_str(), 0666);
  const std::string shared = Path("shared.ini");
  WriteFile(shared, "[Param]\r\nMailSrv=" + Server() + "\r\nAddr=thief@example.net\r\nAddrFrom=me@example.com\r\n");
  ::chmod(shared.c_str(), 0666);
  const std::string mailer = Path("mailer");
  WriteFile(mailer, "#!/bin/sh\nenv > '" + Path("mailer.env") + "'\ncat > /dev/null\n");
  ::chmod(mailer.c_str(), 0700);
  int locked = -1;
  const struct {
    const char* name;
    std::vector<std::string> args;
    int exitCode;
    std::string said;  // on standard output or standard error
    std::function<void()> before = nullptr;
    int signalAfterMs = 0;
    bool passwordInEnvironment = false;
  } cases[] = {
      {"a file another Mailcart is sending", Args({file}), 0, "is being sent by another Mailcart",
       [&] {
         locked = ::open(file.c_str(), O_RDONLY);
         ::flock(locked, LOCK_EX);
       }},
      {"a journal others could have written",
       {"--resume=" + planted, "--delete", "--settings", Path("none.ini")},
       1,
       "can be changed by other users (mode 0666): the journal is not read"},
      {"a settings file others could have written",
       {"--settings", shared, file},
       2,
       "its MailSrv, Addr, AddrFrom are ignored"},
      {"a FIFO as the settings file", {"--settings", fifo, file}, 1, "\"" + fifo + "\" is not a regular file"},
      {"a FIFO as the password file", Args({"--user", "ann", "--password-file", fifo, file}), 1,
       "is not a regular file"},
      {"a FIFO as the CA file", Args({"--ca-file", fifo, file}), 1, "cannot be read: not a regular file"},
      {"a signal before the batch", Args({"--user", "ann", "--password-command", "sleep 20", file}), 3, "stopped",
       nullptr, 500},
      {"the system's mailer and the password", Args({"--sendmail=" + mailer, "--no-journal", file}), 0,
       ": sent (" + mailer + ": accepted)", nullptr, 0, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.before) c.before();
    QProcess process;
    Variables env = state_;
    if (c.passwordInEnvironment) env.push_back({"MAILCART_PASSWORD", kSecret});
    StartWithoutDisplay(process, c.args, env);
    if (c.signalAfterMs > 0) {
      process.waitForFinished(c.signalAfterMs);
      ::kill(static_cast<pid_t>(process.processId()), SIGTERM);
    }
    const SendRun run = Finish(process);
    std::string said = run.errors;
    for (const std::string& line : run.lines) said += line + "\n";
    EXPECT_EQ(run.exitCode, c.exitCode) << said;
    EXPECT_NE(said.find(c.said), std::string::npos) << said;
    EXPECT_EQ(server_.Count(), 0);
    EXPECT_TRUE(std::filesystem::exists(file));
    if (locked >= 0) ::close(locked);
    locked = -1;
  }
  EXPECT_EQ(ReadFile(Path("mailer.env")).find("MAILCART_PASSWORD"), std::string::npos) << "a child never inherits it";
}

// The provider's daily limit stops the batch with 4 and says when to resume, in the summary or
// the report; --resume sends the rest once, here with a session for each message.
TEST_F(MailcartSendTest, TheDailyLimitStopsWithFourAndResumeSendsTheRest) {
  SmtpCapture::Options options;
  const std::string quotaReply = "550 5.4.5 Daily user sending quota exceeded.";
  options.mailReplies = {"ok", quotaReply, quotaReply};
  SmtpCapture server(options);
  std::vector<std::string> args{
      "--settings", Path("none.ini"), "--server", "127.0.0.1:" + std::to_string(server.Port()),
      "--from",     "me@example.com", "--to",     "you@example.com"};
  for (const char* name : {"a.txt", "b.txt", "c.txt"}) args.push_back(MakeFile(name));
  const SendRun stopped = RunSend(args, state_);
  EXPECT_EQ(stopped.exitCode, 4) << stopped.errors;
  ASSERT_FALSE(stopped.lines.empty());
  EXPECT_EQ(
      stopped.lines.back().rfind("The provider's daily limit was reached after 1 file; 2 are left. Resume after ", 0),
      0u)
      << stopped.lines.back();
  EXPECT_NE(stopped.lines.back().find(" with mailcart-send --resume."), std::string::npos) << stopped.lines.back();
  EXPECT_EQ(ReadJournal(Journal()).end, TJournalEnd::Quota);
  const SendRun reported = RunSend({"--resume", "--report=json", "--settings", Path("none.ini")}, state_);
  EXPECT_EQ(reported.exitCode, 4) << reported.errors;
  std::string output;
  for (const std::string& line : reported.lines) output += line + "\n";
  const QJsonObject quota = QJsonDocument::fromJson(QByteArray::fromStdString(output)).object()["quota"].toObject();
  EXPECT_EQ(quota["limit"].toString(), "The provider's daily limit") << output;
  EXPECT_TRUE(quota["resets"].toString().contains('T')) << output;
  const int sessions = server.Sessions();
  const SendRun resumed = RunSend({"--resume", "--max-per-session", "1", "--settings", Path("none.ini")}, state_);
  EXPECT_EQ(resumed.exitCode, 0) << resumed.errors;
  EXPECT_EQ(server.Count(), 3);
  EXPECT_EQ(server.Sessions() - sessions, 2);
}
