// mailcart-send end to end, as a user runs it from a shell with no display: against a real SMTP
// server (aiosmtpd), with Python's email package judging what arrived.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>

#include <QDeadlineTimer>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "app/batch/mailcomponents.h"
#include "support/files.h"
#include "support/mailcart_send_run.h"
#include "support/python_referee.h"
#include "support/samples.h"
#include "support/smtp_capture.h"
#include "support/tls_peer.h"
#include "toolkit/strutils.h"
#include "toolkit/version.h"

namespace {

constexpr char kRefused[] = "refused@example.com";
constexpr char kSecret[] = "Tr0ub4dor-send-31337";

class MailcartSendTest : public MailcartSendFixture {
 protected:
  MailcartSendTest() : MailcartSendFixture(SmtpCapture::Options{{kRefused}}) {}
};

// One session carries the whole batch, the text after DATA or in BDAT chunks.
TEST_F(MailcartSendTest, FiftyFilesOfEveryKindArriveExactlyOnOneSession) {
  std::string longText;
  for (int i = 0; longText.size() < 1000000; ++i) longText += "line " + std::to_string(i) + " of a long text  \r\n";
  std::vector<std::pair<std::string, std::string>> kinds = {
      {"random.bin", RandomBytes(4096, 1)},
      {"every byte.dat",
       [] {
         std::string b;
         for (int i = 0; i < 512; ++i) b += static_cast<char>(i);
         return b;
       }()},
      {"lf.txt", "one\ntwo\nthree\n"},
      {"crlf.txt", "one\r\ntwo\r\nthree\r\n"},
      {"lone cr.txt", "one\rtwo\rthree\r"},
      {"mixed ends.txt", "a\r\nb\nc\rd"},
      {"trailing blanks.txt", "blank \r\ntab\t\r\nboth \t \r\n   \r\n"},
      {"dots lf.txt", ".\n.x\nmiddle\n.\n"},
      {"dots crlf.txt", ".\r\n..\r\n.x\r\nend\r\n.\r\n"},
      {"empty.txt", ""},
      {"empty.bin", ""},
      {"one megabyte.bin", RandomBytes(1 << 20, 2)},
      {"one megabyte.txt", longText},
      {"my report 2024.txt", "with blanks in the name\r\n"},
      {"Gr\xc3\xbc\xc3\x9f\x65.txt", "non-ASCII name\r\n"},
      {"r\xc3\xa9sum\xc3\xa9 final.pdf", RandomBytes(3000, 3)},
      {"page.html", "<html><body><p>=3D and = signs</p>\r\n</body></html>\r\n"},
      {"table.csv", "a,b,c\r\n1,2,3\r\n"},
      {"picture.png", RandomBytes(777, 4)},
      {"long line.txt", std::string(5000, 'x')},
      {"latin1.txt", "caf\xe9 na\xefve = \xff\r\n"},
      {"nul bytes.txt", std::string("a\0b\0\r\n", 6)},
      {"ends in cr.txt", "last line\r"},
      {"from line.txt", "From me\r\n>From you\r\n"},
      {"double dot.txt", "..\r\n...\r\n"},
      {"UPPER.TXT", "upper case extension\r\n"},
      {"README", "no extension\n"},
      {".hidden", "a dot file\n"},
      {"only dot.txt", "\r\n.\r\n"},
      {"three.bin", "abc"},
  };
  for (unsigned i = 1; i <= 20; ++i)
    kinds.emplace_back("random " + std::to_string(i) + ".bin", RandomBytes(i * 7919, 100 + i));
  ASSERT_EQ(kinds.size(), 50u);
  // Through a server that takes the text after DATA, and one that takes it in BDAT chunks, the
  // envelopes pipelined behind the texts.
  SmtpCapture::Options chunkingOptions;
  chunkingOptions.pipelining = chunkingOptions.chunking = true;
  SmtpCapture chunking(chunkingOptions);
  for (SmtpCapture* server : {&server_, &chunking}) {
    SCOPED_TRACE(server == &server_ ? "DATA" : "BDAT");
    std::vector<std::string> files;
    for (const auto& [name, data] : kinds) files.push_back(MakeFile(name, data));

    // The sender's name and the subject's fields come through to what a mail program shows.
    std::vector<std::string> args =
        Args({"--delete", "--subject", "Scan {n} of {count}: {name}", "--from-name", "Scanner B\xc3\xbcro",
            "--server", "127.0.0.1:" + std::to_string(server->Port())});
    args.insert(args.end(), files.begin(), files.end());
    const SendRun run = RunSend(args);
    ASSERT_EQ(run.exitCode, 0) << run.errors;
    EXPECT_EQ(run.errors, "");
    ASSERT_EQ(run.lines.size(), 51u);
    EXPECT_EQ(run.lines.back(), "50 files sent, 0 failed, 0 skipped.");
    for (size_t i = 0; i < files.size(); ++i) {
      const std::string told = "[" + std::to_string(i + 1) + "/50] " + ShownFileName(files[i]) + ": sent (250 ";
      EXPECT_EQ(run.lines[i].rfind(told, 0), 0u) << run.lines[i];
      EXPECT_FALSE(std::filesystem::exists(files[i])) << files[i];
    }

    const std::vector<std::string> messages = server->Messages();
    ASSERT_EQ(messages.size(), 50u);
    EXPECT_EQ(server->Sessions(), 1);
    for (const SmtpCapture::Envelope& envelope : server->Envelopes()) EXPECT_EQ(envelope.chunked, server == &chunking);
    std::vector<std::string> stored;
    const QDir dir(QString::fromStdString(server->Dir()));
    for (const QString& name : dir.entryList({"*.eml"}, QDir::Files, QDir::Name))
      stored.push_back(dir.filePath(name).toStdString());
    const std::string judged = RunPython(E2eScript("mime_referee.py"), stored);
    const QJsonArray reports = QJsonDocument::fromJson(QByteArray::fromStdString(judged)).array();
    ASSERT_EQ(reports.size(), 50);
    for (int i = 0; i < 50; ++i) {
      SCOPED_TRACE(kinds[i].first);
      const QJsonObject report = reports[i].toObject();
      const QJsonArray defects = report["defects"].toArray();
      EXPECT_TRUE(defects.isEmpty()) << QJsonDocument(defects).toJson().toStdString();
      EXPECT_EQ(report["content_type"].toString(), "multipart/mixed");
      EXPECT_EQ(report["from_name"].toString().toStdString(), "Scanner B\xc3\xbcro");
      EXPECT_EQ(report["subject"].toString().toStdString(),
                "Scan " + std::to_string(i + 1) + " of 50: " + kinds[i].first);
      const QJsonArray parts = report["parts"].toArray();
      ASSERT_EQ(parts.size(), 2);
      const QJsonObject text = parts[0].toObject(), file = parts[1].toObject();
      EXPECT_EQ(text["content_type"].toString(), "text/plain");
      EXPECT_EQ(TrimRight(QByteArray::fromHex(text["data_hex"].toString().toLatin1()).toStdString()), "")
          << "the text part is a single blank";
      EXPECT_EQ(text["data_hex"].toString().left(2), "20");
      EXPECT_EQ(file["filename_hex"].toString().toStdString(), Hex(kinds[i].first));
      EXPECT_EQ(file["data_hex"].toString().toStdString(), Hex(kinds[i].second));
    }
  }
}

// What a user reads: on standard output a line for each file and the summary, with --verbose the
// window's state lines among them; on standard error one line for each wait, however long, the
// retry's with its reason.
TEST(MailcartSendOutputTest, ALineForEachFileAndOneForEachWait) {
  const std::vector<std::string> byDefault{"[1/2] {a}: sent (250 ", "[2/2] {b}: sent (250 ",
                                           "2 files sent, 0 failed, 0 skipped."};
  const std::string refused = "{server} refused the message: 451 4.3.0 busy";
  const struct {
    const char* name;
    const char* option;
    std::vector<std::string> lines;  // {a}, {b}, {server} stand for those; "(250 " ends a prefix
  } cases[] = {
      {"by default", "--report=text", byDefault},
      {"--verbose",
       "--verbose",
       {"File:{a} failed: " + refused + "; retry 1 of 3", "1 sec.", "0 sec.", "In progress", "Sended", byDefault[0],
        "File:{a} sended. WaitPause", "1", "0 sec.", "Sended and end WaitPause", "In progress", "Sended", byDefault[1],
        "File:{b} sended. WaitPause", "1", "0 sec.", "Sended and end WaitPause", "All Sended", byDefault[2]}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SmtpCapture::Options options;
    options.mailReplies = {"451 4.3.0 busy"};
    SmtpCapture server(options);
    QTemporaryDir dir;
    const std::string a = dir.filePath("a.txt").toStdString(), b = dir.filePath("b.txt").toStdString();
    const std::string settings = dir.filePath("none.ini").toStdString();
    for (const std::string& file : {a, b, settings}) WriteFile(file, "");
    const std::string address = "127.0.0.1:" + std::to_string(server.Port());
    const SendRun run =
        RunSend({"--settings", settings, "--server", address, "--from", "me@example.com", "--to", "you@example.com",
                 "--no-journal", "--pause", "1", "--retry-delays", "1", c.option, a, b});
    const auto fill = [&](std::string text) {
      for (const auto& [name, value] : {std::pair{"{a}", a}, {"{b}", b}, {"{server}", address}})
        for (size_t at; (at = text.find(name)) != std::string::npos;) text.replace(at, std::strlen(name), value);
      return text;
    };
    EXPECT_EQ(run.exitCode, 0) << run.errors;
    ASSERT_EQ(run.lines.size(), c.lines.size()) << ::testing::PrintToString(run.lines);
    for (size_t i = 0; i < c.lines.size(); ++i) {
      const std::string expected = fill(c.lines[i]);
      if (expected.ends_with("(250 "))
        EXPECT_EQ(run.lines[i].rfind(expected, 0), 0u) << run.lines[i];
      else
        EXPECT_EQ(run.lines[i], expected);
    }
    EXPECT_EQ(run.errors, fill("mailcart-send: [1/2] {a}: " + refused +
                               "; waiting 1 s before retry 1 of 3\n"
                               "mailcart-send: waiting 1 s\nmailcart-send: waiting 1 s\n"));
  }
}

// Header values go out as UTF-8; a byte that is not is refused before anything starts. The
// shell passes the raw byte, which a QString argument could not.
TEST_F(MailcartSendTest, AnArgumentThatIsNotUtf8IsAUsageError) {
  QProcess process;
  process.start("/bin/sh", {"-c", "exec \"$0\" --subject \"$(printf 'caf\\351')\" \"$1\"",
                            QString::fromStdString(Program()), QString::fromStdString(MakeFile("a.txt"))});
  const SendRun run = Finish(process);
  EXPECT_EQ(run.exitCode, 2);
  EXPECT_NE(run.errors.find("is not valid UTF-8"), std::string::npos) << run.errors;
  EXPECT_EQ(server_.Count(), 0);
}

// A file is deleted only once the server has accepted its message. Wrong usage, a value in
// effect from the settings file included, and a file that cannot be sent are found before
// anything connects or a journal is begun; wrong usage is told in one line and a pointer to
// --help.
TEST_F(MailcartSendTest, ExitStatusAndWhatIsLeft) {
  WriteFile(Path("negative pause.ini"), "[Param]\r\nPauseSec=-1\r\n");
  WriteFile(Path("bad pin.ini"), "[Param]\r\nFingerprint=12:34\r\n");
  ::chmod(Path("bad pin.ini").c_str(), 0600);
  WriteFile(Path("other user.ini"), "[Param]\r\nUser=ann\r\nSecurity=None\r\nUserServer=mail.other.example:25\r\n");
  ::chmod(Path("other user.ini").c_str(), 0600);
  const Variables state{{"XDG_STATE_HOME", QString::fromStdString(Path("state"))}};
  WriteFile(Path("password"), std::string(kSecret) + "\n");
  ::chmod(Path("password").c_str(), 0600);
  const std::string twoSources = "give the password in one way only";
  const struct {
    const char* name;
    std::vector<std::string> args;  // after the shared ones and the files
    int exitCode;
    std::string error;
    bool firstFileKept;
    bool connects = true;
  } cases[] = {
      {"a recipient the server refuses", {"--to", kRefused}, 1, "550 5.1.1 Recipient rejected.\n", true},
      {"files that are not there",
       {Path("missing.txt"), Path("gone.txt")},
       1,
       "2 files cannot be sent:\n\"" + Path("missing.txt") + "\" (No such file or directory)\n\"" + Path("gone.txt"),
       true,
       false},
      // The others are still sent; the summary names the one that was not, and why.
      {"a file that is not there, with --keep-going",
       {"--keep-going", Path("missing.txt")},
       1,
       "Not sent:\n" + Path("missing.txt") + ": No such file or directory",
       false},
      {"a settings file that is not there",
       {"--settings", Path("nowhere.ini")},
       1,
       "The settings file \"" + Path("nowhere.ini") + "\" given with --settings does not exist",
       true,
       false},
      // No login, so no password is asked for.
      {"a user saved for another server",
       {"--settings", Path("other user.ini")},
       0,
       "the user ann of the settings was saved for mail.other.example:25, not " + Server(),
       false},
      {"a negative number of retries", {"--retries", "-1"}, 2, "--retries needs a whole number", true},
      {"a retry delay left out", {"--retry-delays", "5,,120"}, 2, "--retry-delays needs a number", true},
      {"a negative retry delay", {"--retry-delays=-5"}, 2, "--retry-delays needs zero or more", true},
      {"no file", {"--delete"}, 2, "no file to send", true},
      {"an unknown option", {"--fast"}, 2, "unknown option --fast", true},
      {"a pause that is no number", {"--pause", "soon"}, 2, "--pause needs a number", true},
      {"a time-out of zero", {"--timeout=0"}, 2, "--timeout needs whole seconds", true},
      {"an option without its value", {"--subject"}, 2, "--subject needs a value", true},
      {"a flag with a value", {"--sort=1"}, 2, "--sort takes no value", true},
      {"a port that is no number", {"--server", "127.0.0.1:abc"}, 2, "the port must be a number from 1 to 65535", true},
      {"a port beyond 65535", {"--server", "127.0.0.1:99999"}, 2, "the port must be a number from 1 to 65535", true},
      {"a port of zero", {"--server", "127.0.0.1:0"}, 2, "the port must be a number from 1 to 65535", true},
      {"a negative pause", {"--pause", "-1"}, 2, "--pause needs zero or more", true},
      {"a negative pause from the settings file",
       {"--settings", Path("negative pause.ini")},
       2,
       "--pause needs zero or more",
       true},
      {"an empty recipient", {"--to", ""}, 2, "--to needs an address", true},
      {"a recipient with a blank",
       {"--to", "you @example.com"},
       2,
       "--to: \"you @example.com\" is not a mail address: it holds a blank",
       true},
      {"a recipient without @", {"--to", "you"}, 2, "--to: \"you\" is not a mail address: it holds no @", true},
      {"a second recipient smuggled in", {"--to", "a@x.example>,<evil@y.example"}, 2, "it holds an angle bracket", true},
      {"an empty sender", {"--from="}, 2, "--from needs an address", true},
      {"a sender that would add a recipient",
       {"--from", "me@example.com\r\nRCPT TO:<evil@example.com>"},
       2,
       "--from: \"me@example.com\\x0D\\x0ARCPT TO:<evil@example.com>\" is not a mail address: it holds a control "
       "character",
       true},
      {"a recipient with a tab", {"--to", "you\t@example.com"}, 2, "it holds a control character", true},
      {"a recipient that is not ASCII",
       {"--to", "j\xc3\xbcrgen@example.de"},
       2,
       "it holds characters other than ASCII",
       true},
      {"a security mode not known", {"--security", "ssl"}, 2, "--security needs auto, starttls, tls or none", true},
      {"an empty security mode", {"--security="}, 2, "--security needs", true},
      {"a login method not known",
       {"--auth", "cram-md5"},
       2,
       "--auth needs auto, plain, login, oauth2, oauthbearer or xoauth2",
       true},
      {"a fingerprint too short", {"--fingerprint", "AB:CD"}, 2, "--fingerprint needs", true},
      {"a fingerprint that is not hex", {"--fingerprint", std::string(63, 'a') + "g"}, 2, "--fingerprint needs", true},
      {"a password on the command line", {"--password", kSecret}, 2, "there is no --password", true},
      {"a password on the command line after =",
       {std::string("--password=") + kSecret},
       2,
       "there is no --password",
       true},
      {"a password command and a password file",
       {"--user", "ann", "--password-command", "echo x", "--password-file", Path("password")},
       2,
       twoSources,
       true},
      {"a user without any password", {"--user", "ann"}, 2, "the user ann needs a password", true},
      {"XOAUTH2 without a token command, for a server with no known sign-in",
       {"--user", "ann", "--auth", "XOAUTH2"},
       2,
       "does not know where the accounts of 127.0.0.1 sign in",
       true},
      {"OAuth 2 never signed in",
       {"--user", "ann", "--auth", "oauth2", "--oauth-issuer", "http://127.0.0.1:9", "--oauth-client-id", "c",
        "--token-file", Path("no token")},
       2,
       "is not signed in at 127.0.0.1 with the token file",
       true},
      {"a sign-in with a file", {"--sign-in", MakeFile("signin.txt")}, 2, "--sign-in signs in and exits", true},
      {"a password command that fails", {"--user", "ann", "--password-command", "exit 3"}, 1, "exit 3", true, false},
      {"a CA file that cannot be read",
       {"--ca-file", Path("missing.pem")},
       1,
       "missing.pem\" cannot be read",
       true,
       false},
      {"a malformed fingerprint in the settings",
       {"--settings", Path("bad pin.ini")},
       1,
       "\"12:34\" is no SHA-256",
       true,
       false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string first = MakeFile("first.txt");
    const int sessionsBefore = server_.Sessions();
    std::vector<std::string> args = Args({"--delete", first, MakeFile("last.txt")});
    args.insert(args.end(), c.args.begin(), c.args.end());
    if (std::string(c.name) == "no file") args = {"--settings", Path("none.ini")};
    std::filesystem::remove_all(Path("state"));
    const SendRun run = RunSend(args, state);
    EXPECT_EQ(run.exitCode, c.exitCode);
    EXPECT_NE(run.errors.find(c.error), std::string::npos) << run.errors;
    if (c.exitCode == 2) {
      EXPECT_EQ(std::count(run.errors.begin(), run.errors.end(), '\n'), 2) << "what is wrong, and where to read more";
      EXPECT_TRUE(run.errors.ends_with("\nTry 'mailcart-send --help'.\n")) << run.errors;
    }
    if (c.exitCode == 2 || !c.connects) {
      EXPECT_TRUE(run.lines.empty()) << "nothing was started: " << run.lines.front();
      EXPECT_EQ(server_.Sessions(), sessionsBefore);
      EXPECT_FALSE(std::filesystem::exists(Path("state/mailcart"))) << "no journal";
    }
    EXPECT_EQ(run.errors.find(kSecret), std::string::npos) << "a password is never echoed";
    EXPECT_EQ(run.errors.find('\r'), std::string::npos) << "no control character is echoed";
    EXPECT_EQ(std::filesystem::exists(first), c.firstFileKept);
  }
}

TEST_F(MailcartSendTest, SettingsFileIsReadAndOptionsWin) {
  const std::string settings = Path("mailcart.ini");
  const std::string text = "[Param]\r\nAddr=ann@example.com\r\nSubj=From the settings\r\nMailSrv=" + Server() +
                           "\r\nAddrFrom=bob@example.com\r\nDelFiles=0\r\nSortFiles=1\r\nPauseSec=0\r\n";
  WriteFile(settings, text);
  const std::string b = MakeFile("b.txt"), a = MakeFile("a.txt");
  const SendRun run = RunSend({"--settings", settings, "--subject", "From the options", b, a});
  ASSERT_EQ(run.exitCode, 0) << run.errors;
  const auto envelopes = server_.Envelopes();
  const auto messages = server_.Messages();
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_NE(messages[0].find("filename=\"a.txt\""), std::string::npos) << "sorted, as the settings say";
  for (size_t i = 0; i < 2; ++i) {
    EXPECT_EQ(envelopes[i].mailFrom, "bob@example.com");
    EXPECT_EQ(envelopes[i].rcptTos, std::vector<std::string>{"ann@example.com"});
    EXPECT_NE(messages[i].find("Subject:  From the options\r\n"), std::string::npos);
  }
  EXPECT_TRUE(std::filesystem::exists(a) && std::filesystem::exists(b));
  EXPECT_EQ(ReadFile(settings), text) << "never written";
}

// One session for the batch, unless the option or the settings file asks for one a message.
TEST_F(MailcartSendTest, ASessionPerMessageWhenAskedFor) {
  WriteFile(Path("per message.ini"), "[Param]\r\nNewConnectionPerMessage=1\r\n");
  const struct {
    const char* name;
    std::string settings;
    std::vector<std::string> options;
    int sessions;
  } cases[] = {
      {"neither", Path("none.ini"), {}, 1},
      {"the option", Path("none.ini"), {"--new-connection-per-message"}, 3},
      {"the settings file", Path("per message.ini"), {}, 3},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const int before = server_.Sessions();
    std::vector<std::string> args = Args(c.options);
    args[1] = c.settings;
    for (const char* name : {"1.txt", "2.txt", "3.txt"}) args.push_back(MakeFile(name));
    const SendRun run = RunSend(args);
    ASSERT_EQ(run.exitCode, 0) << run.errors;
    EXPECT_EQ(server_.Sessions() - before, c.sessions);
  }
}

// Whatever becomes of the login, the password shows nowhere: not in what the program prints,
// nor in the settings file, nor in the environment of a command it runs.
TEST_F(MailcartSendTest, ThePasswordShowsNowhere) {
  const std::string settings = Path("private.ini");
  WriteFile(settings, "[Param]\r\nUser=ann\r\nSecurity=None\r\n");
  ::chmod(settings.c_str(), 0600);
  WriteFile(Path("pw"), std::string(kSecret) + "\n");
  ::chmod(Path("pw").c_str(), 0600);
  const std::string env = Path("environment");
  const struct {
    const char* name;
    std::vector<std::string> args;
    Variables variables;
  } cases[] = {
      {"from MAILCART_PASSWORD, with a token command that runs",
       {"--auth", "xoauth2", "--token-command", "env > '" + env + "'; echo token"},
       {{"MAILCART_PASSWORD", kSecret}}},
      {"from a command", {"--password-command", std::string("echo ") + kSecret}, {}},
      {"from a file", {"--password-file", Path("pw")}, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> args = Args({"--settings", settings, MakeFile("note.txt")});
    args.insert(args.end(), c.args.begin(), c.args.end());
    const SendRun run = RunSend(args, c.variables);
    std::string printed = run.errors;
    for (const std::string& line : run.lines) printed += line + "\n";
    EXPECT_EQ(printed.find(kSecret), std::string::npos) << printed;
    EXPECT_EQ(ReadFile(settings).find(kSecret), std::string::npos);
    if (std::filesystem::exists(env)) {
      EXPECT_EQ(ReadFile(env).find(kSecret), std::string::npos) << "inherited";
    }
  }
}

// SIGINT and SIGTERM act like "Cancel sending".
TEST_F(MailcartSendTest, ASignalCancelsBetweenMessages) {
  for (const int signal : {SIGTERM, SIGINT}) {
    SCOPED_TRACE(signal == SIGTERM ? "SIGTERM" : "SIGINT");
    const int before = server_.Count();
    // Names of their own: the same files again would be named as sent before.
    const std::string prefix = std::to_string(signal);
    const std::vector<std::string> files = {MakeFile(prefix + "one.txt"), MakeFile(prefix + "two.txt"),
                                            MakeFile(prefix + "three.txt")};
    QProcess process;
    StartWithoutDisplay(process, Args({"--pause", "3", "--delete", files[0], files[1], files[2]}));
    // Once the first file is reported the batch is in its pause.
    QByteArray seen;
    const QDeadlineTimer deadline(kRunTimeoutMs);
    while (!seen.contains("[1/3]") && process.state() != QProcess::NotRunning && !deadline.hasExpired()) {
      process.waitForReadyRead(100);
      seen += process.readAllStandardOutput();
    }
    ASSERT_TRUE(seen.contains("[1/3]"));
    ::kill(static_cast<pid_t>(process.processId()), signal);
    SendRun run = Finish(process);
    const std::vector<std::string> early = Lines(seen);
    run.lines.insert(run.lines.begin(), early.begin(), early.end());
    EXPECT_EQ(run.exitCode, 3) << run.errors;
    EXPECT_EQ(run.errors, "mailcart-send: waiting 3 s\n");
    ASSERT_EQ(run.lines.size(), 2u);
    EXPECT_EQ(run.lines[0].rfind("[1/3] " + files[0] + ": sent (250 ", 0), 0u) << run.lines[0];
    EXPECT_EQ(run.lines.back(), "Cancelled: 1 of 3 files sent.");
    EXPECT_EQ(server_.Count() - before, 1);
    EXPECT_FALSE(std::filesystem::exists(files[0]));
    EXPECT_TRUE(std::filesystem::exists(files[1]) && std::filesystem::exists(files[2]));
  }
}

// Over STARTTLS with a login, the password taken from a file or a command and the test CA
// trusted by --ca-file; a refused login ends with the server's reply, the file kept, and the
// password in no output.
TEST(MailcartSendSecureTest, LogsInOverStartTlsWithThePasswordFromAFileOrACommand) {
  constexpr char kUser[] = "ann@example.org", kPassword[] = "Correct-Horse-7";
  struct Case {
    const char* name;
    const char* password;  // in the file the source reads
    const char* option;    // the option that gives it
    const char* before;    // its value: this, then the file's path
    int exitCode;
    const char* error;
  } cases[] = {
      {"password file", kPassword, "--password-file", "", 0, ""},
      {"password command", kPassword, "--password-command", "cat ", 0, ""},
      {"wrong password", "not-the-password", "--password-file", "", 1, "535 5.7.8"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SmtpCapture::Options options;
    options.cert = "good";
    options.auth = std::string(kUser) + ":" + kPassword;
    SmtpCapture server(options);
    QTemporaryDir dir;
    const std::string passwordFile = dir.filePath("password").toStdString();
    WriteFile(passwordFile, std::string(c.password) + "\n");
    ASSERT_EQ(::chmod(passwordFile.c_str(), 0600), 0);
    const std::string file = dir.filePath("report.bin").toStdString();
    WriteFile(file, RandomBytes(20000, 5));
    WriteFile(dir.filePath("none.ini").toStdString(), "");
    std::vector<std::string> args{"--settings",
                                  dir.filePath("none.ini").toStdString(),
                                  "--server",
                                  "localhost:" + std::to_string(server.Port()),
                                  "--from",
                                  "me@example.com",
                                  "--to",
                                  "you@example.com",
                                  "--delete",
                                  "--security",
                                  "starttls",
                                  "--user",
                                  kUser,
                                  "--ca-file",
                                  TestCerts::Get().Pem("ca"),
                                  c.option,
                                  c.before + passwordFile,
                                  file};
    const SendRun run = RunSend(args);
    EXPECT_EQ(run.exitCode, c.exitCode) << run.errors;
    EXPECT_NE(run.errors.find(c.error), std::string::npos) << run.errors;
    EXPECT_EQ(std::filesystem::exists(file), c.exitCode != 0) << "deleted only once delivered";
    const std::vector<SmtpCapture::Envelope> envelopes = server.Envelopes();
    ASSERT_EQ(envelopes.size(), c.exitCode == 0 ? 1u : 0u);
    if (!envelopes.empty()) {
      EXPECT_TRUE(envelopes[0].encrypted);
      EXPECT_EQ(envelopes[0].user, kUser);
    }
    std::string output = run.errors;
    for (const std::string& line : run.lines) output += line + "\n";
    EXPECT_EQ(output.find(c.password), std::string::npos) << output;
  }
}

}  // namespace

// A dry run writes the messages that would go, as files a standard reader takes, neither
// connects nor deletes, and says "written", never "sent".
TEST_F(MailcartSendTest, ADryRunWritesTheMessages) {
  const std::vector<std::string> files = {MakeFile("one.bin", std::string("\0\x01\xff", 3)), MakeFile("two.txt")};
  const SendRun run = RunSend(Args({"--dry-run=" + Path("out"), "--delete", files[0], files[1]}));
  EXPECT_EQ(run.exitCode, 0) << run.errors;
  EXPECT_EQ(run.lines, (std::vector<std::string>{"[1/2] " + files[0] + ": written (" + Path("out/0001.eml") + ")",
                                                 "[2/2] " + files[1] + ": written (" + Path("out/0002.eml") + ")",
                                                 "2 messages written to " + Path("out")}));
  EXPECT_EQ(server_.Count(), 0);
  EXPECT_TRUE(std::filesystem::exists(files[0]) && std::filesystem::exists(files[1]));
  const QJsonArray reports =
      QJsonDocument::fromJson(QByteArray::fromStdString(RunPython(E2eScript("mime_referee.py"),
                                                                  {Path("out/0001.eml"), Path("out/0002.eml")})))
          .array();
  ASSERT_EQ(reports.size(), 2);
  EXPECT_TRUE(reports[0].toObject()["defects"].toArray().isEmpty());
  EXPECT_EQ(reports[0].toObject()["parts"].toArray()[1].toObject()["data_hex"].toString(), "0001ff");
}

// On a terminal a progress line is drawn in place on standard error, never with --quiet (which
// prints nothing on standard output either); away from a terminal (every other test here)
// standard error has no progress.
TEST_F(MailcartSendTest, AProgressLineOnATerminalOnly) {
  const std::string file = MakeFile("one.txt", std::string(300000, 'x'));
  for (const bool quiet : {false, true}) {
    SCOPED_TRACE(quiet ? "--quiet" : "a terminal");
    std::string command = "'" + Program() + "'";
    for (const std::string& arg : Args({"--no-journal", file})) command += " '" + arg + "'";
    if (quiet) command += " --quiet";
    QProcess process;
    process.start("script", {"-qec", QString::fromStdString(command), "/dev/null"});
    process.closeWriteChannel();
    ASSERT_TRUE(process.waitForFinished(kRunTimeoutMs));
    const std::string output = process.readAllStandardOutput().toStdString();
    EXPECT_EQ(output.find("1 file sent, 0 failed, 0 skipped.") != std::string::npos, !quiet) << output;
    EXPECT_EQ(output.find("\rfile 1 of 1, 293.0 KB of 293.0 KB") != std::string::npos, !quiet) << output;
    EXPECT_EQ(output.find("\x1b[K") == std::string::npos, quiet) << output;
  }
}
