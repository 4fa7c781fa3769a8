// The capturing SMTP server the end-to-end tests deliver to: it must store exactly the bytes
// a client sent, minus the transparency dots, and keep the envelope.
#include "support/smtp_capture.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QTemporaryDir>
#include <QThread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "support/files.h"
#include "support/python_referee.h"
#include "support/tls_peer.h"

namespace {

constexpr int kReplyTimeoutSeconds = 10;

// A bare SMTP client over a blocking socket: what it sends is exactly what is on the wire.
class RawSession {
 public:
  explicit RawSession(int port) : fd_(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    const timeval timeout{kReplyTimeoutSeconds, 0};
    setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    connected_ = connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  }
  ~RawSession() { close(fd_); }
  bool Connected() const { return connected_; }

  // Reads one reply (all its lines) and returns its code; 0 when none came in time.
  int Reply() {
    for (;;) {
      size_t end;
      while ((end = buffer_.find("\r\n")) != std::string::npos) {
        const std::string line = buffer_.substr(0, end);
        buffer_.erase(0, end + 2);
        if (line.size() >= 4 && line[3] == ' ') return std::stoi(line.substr(0, 3));
      }
      char chunk[4096];
      const ssize_t n = recv(fd_, chunk, sizeof chunk, 0);
      if (n <= 0) return 0;
      buffer_.append(chunk, static_cast<size_t>(n));
    }
  }

  int Send(const std::string& bytes) {
    if (send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(bytes.size())) return 0;
    return Reply();
  }

 private:
  int fd_;
  bool connected_ = false;
  std::string buffer_;
};

TEST(SmtpCaptureTest, StoresTheDataBytesWithoutTransparencyDots) {
  struct Case {
    const char* name;
    std::string onTheWire;  // message text as sent, dot-stuffed, before the final "."
    std::string stored;
  } cases[] = {
      {"stuffed line loses its first dot", "Subject: a\r\n\r\n..x\r\n", "Subject: a\r\n\r\n.x\r\n"},
      {"line of two dots becomes a lone dot", "\r\n..\r\nend\r\n", "\r\n.\r\nend\r\n"},
      {"dots inside a line stay", "a.b..c\r\n", "a.b..c\r\n"},
      {"bare LF and bare CR stay inside their line", "a\nb\rc\r\n", "a\nb\rc\r\n"},
      {"8-bit and NUL bytes stay", std::string("\xff\xfe\0z\r\n", 6), std::string("\xff\xfe\0z\r\n", 6)},
      {"empty lines stay", "\r\n\r\n\r\n", "\r\n\r\n\r\n"},
  };
  SmtpCapture capture;
  RawSession session(capture.Port());
  ASSERT_TRUE(session.Connected());
  ASSERT_EQ(session.Reply(), 220);
  ASSERT_EQ(session.Send("EHLO client\r\n"), 250);
  for (const Case& c : cases) {
    ASSERT_EQ(session.Send("MAIL FROM:<from@example.org>\r\n"), 250) << c.name;
    ASSERT_EQ(session.Send("RCPT TO:<to@example.org>\r\n"), 250) << c.name;
    ASSERT_EQ(session.Send("DATA\r\n"), 354) << c.name;
    ASSERT_EQ(session.Send(c.onTheWire + ".\r\n"), 250) << c.name;
  }
  session.Send("QUIT\r\n");
  const std::vector<std::string> messages = capture.Messages();
  ASSERT_EQ(messages.size(), std::size(cases));
  EXPECT_EQ(capture.Count(), static_cast<int>(std::size(cases)));
  for (size_t i = 0; i < messages.size(); ++i)
    EXPECT_EQ(messages[i], cases[i].stored) << cases[i].name << " (message " << i + 1 << ")";
}

// One message through a bare session; false when any reply is not the expected one.
bool Deliver(int port, const std::string& text) {
  RawSession session(port);
  return session.Connected() && session.Reply() == 220 && session.Send("HELO client\r\n") == 250 &&
         session.Send("MAIL FROM:<from@example.org>\r\n") == 250 &&
         session.Send("RCPT TO:<to@example.org>\r\n") == 250 && session.Send("DATA\r\n") == 354 &&
         session.Send(text + ".\r\n") == 250 && session.Send("QUIT\r\n") == 221;
}

// The outbox of scripts/run outlives the server: each start numbers on after the highest
// stored file, and no stored file is ever replaced.
TEST(SmtpCaptureTest, EachStartNumbersOnAndNeverOverwrites) {
  QTemporaryDir folder;
  const std::string dir = folder.path().toStdString();
  WriteFile(dir + "/0002.eml", "old two\r\n");
  WriteFile(dir + "/0007.json", "{}");
  WriteFile(dir + "/notes.txt", "not a message");
  for (const char* text : {"first start\r\n", "second start\r\n"}) {
    SmtpCapture capture(SmtpCapture::Options{{}, 600, dir});
    ASSERT_TRUE(Deliver(capture.Port(), text)) << text;
  }
  std::vector<std::string> names;
  for (const QString& name : QDir(folder.path()).entryList(QDir::Files, QDir::Name))
    names.push_back(name.toStdString());
  EXPECT_EQ(names, (std::vector<std::string>{"0002.eml", "0007.json", "0008.eml", "0008.json", "0009.eml", "0009.json",
                                             "notes.txt"}));
  EXPECT_EQ(ReadFile(dir + "/0002.eml"), "old two\r\n");
  EXPECT_EQ(ReadFile(dir + "/0007.json"), "{}");
  EXPECT_EQ(ReadFile(dir + "/0008.eml"), "first start\r\n");
  EXPECT_EQ(ReadFile(dir + "/0009.eml"), "second start\r\n");
}

TEST(SmtpCaptureTest, ABusyPortIsToldInOneLine) {
  SmtpCapture first;
  std::string error;
  try {
    SmtpCapture second(SmtpCapture::Options{{}, 600, "", first.Port()});
  } catch (const std::runtime_error& e) {
    error = e.what();
  }
  const std::string told = "port " + std::to_string(first.Port()) + " on 127.0.0.1 is busy";
  EXPECT_NE(error.find(told), std::string::npos) << error;
  EXPECT_EQ(error.find("Traceback"), std::string::npos) << error;
  EXPECT_EQ(std::count(error.begin(), error.end(), '\n'), 2) << "our line and the server's one line: " << error;
}

// smtplib as the client: a refused recipient is told 550 and left out of the envelope.
constexpr const char* kSmtplibClient = R"(
import json, smtplib, sys
with smtplib.SMTP('127.0.0.1', int(sys.argv[1]), timeout=30) as client:
    refused = client.sendmail('sender@example.org', ['kept@example.org', 'refused@example.org'],
                              b'Subject: envelope\r\n\r\n.x\r\n')
print(json.dumps({address: reply[0] for address, reply in refused.items()}))
)";

TEST(SmtpCaptureTest, RejectedRecipientIsRefusedAndLeftOutOfTheEnvelope) {
  SmtpCapture capture(SmtpCapture::Options{{"Refused@Example.org"}});
  QTemporaryDir scripts;
  const std::string script = scripts.filePath("client.py").toStdString();
  WriteFile(script, kSmtplibClient);
  const std::string refused = RunPython(script, {std::to_string(capture.Port())});
  EXPECT_EQ(refused, "{\"refused@example.org\": 550}\n");
  ASSERT_EQ(capture.Count(), 1);
  EXPECT_EQ(capture.Messages()[0], "Subject: envelope\r\n\r\n.x\r\n");
  const SmtpCapture::Envelope envelope = capture.Envelopes().at(0);
  EXPECT_EQ(envelope.mailFrom, "sender@example.org");
  EXPECT_EQ(envelope.rcptTos, std::vector<std::string>{"kept@example.org"});
}

// True once nothing accepts connections on the port any more (bounded).
bool StopsListening(int port) {
  const QDeadlineTimer deadline(15000);
  while (!deadline.hasExpired()) {
    if (!RawSession(port).Connected()) return true;
    QThread::msleep(100);
  }
  return false;
}

TEST(SmtpCaptureTest, ServerGoesAwayWithTheObjectOrAtItsTimeLimit) {
  int port = 0;
  std::string dir;
  {
    SmtpCapture capture;
    port = capture.Port();
    dir = capture.Dir();
    EXPECT_TRUE(RawSession(port).Connected());
    EXPECT_TRUE(QDir(QString::fromStdString(dir)).exists());
  }
  EXPECT_TRUE(StopsListening(port));
  EXPECT_FALSE(QDir(QString::fromStdString(dir)).exists()) << "its folder is removed";

  SmtpCapture shortLived(SmtpCapture::Options{{}, 1});
  EXPECT_TRUE(StopsListening(shortLived.Port())) << "the server stops by itself";
}

TEST(SmtpCaptureTest, RunPythonReportsTheExitCode) {
  QTemporaryDir scripts;
  const std::string script = scripts.filePath("exit.py").toStdString();
  WriteFile(script, "import sys\nprint(sys.argv[1])\nsys.exit(int(sys.argv[2]))\n");
  int code = -2;
  EXPECT_EQ(RunPython(script, {"hello world", "3"}, &code), "hello world\n");
  EXPECT_EQ(code, 3);
  EXPECT_THROW(RunPython(script, {"x", "1"}), std::runtime_error);
}

// smtplib as the client of a secured server: argv is port, CA file, "plain", "starttls" or
// "implicit", then the mechanism ("" for no login), user and secret. Prints the replies to the
// login and to MAIL FROM (0: not reached), and sends the message after a 250 to MAIL.
constexpr const char* kSecureClient = R"(
import base64, json, smtplib, ssl, sys
port, cafile, mode, mechanism, user, secret = sys.argv[1:7]
b64 = lambda text: base64.b64encode(text.encode()).decode()
context = ssl.create_default_context(cafile=cafile)
if mode == 'implicit':
    client = smtplib.SMTP_SSL('localhost', int(port), context=context, timeout=30)
else:
    client = smtplib.SMTP('localhost', int(port), timeout=30)
client.ehlo()
if mode == 'starttls':
    client.starttls(context=context)
    client.ehlo()
auth = 0
if mechanism == 'PLAIN':
    auth = client.docmd('AUTH', 'PLAIN ' + b64('\0' + user + '\0' + secret))[0]
elif mechanism == 'LOGIN':
    auth = client.docmd('AUTH', 'LOGIN ' + b64(user))[0]
    if auth == 334:
        auth = client.docmd(b64(secret))[0]
elif mechanism == 'XOAUTH2':
    auth = client.docmd('AUTH', 'XOAUTH2 ' + b64('user=' + user + '\1auth=Bearer ' + secret + '\1\1'))[0]
    if auth == 334:
        auth = client.docmd('')[0]
mail = client.mail('from@example.org')[0]
if mail == 250:
    client.rcpt('to@example.org')
    client.data(b'Subject: secure\r\n\r\nbody\r\n')
client.quit()
print(json.dumps([auth, mail]))
)";

TEST(SmtpCaptureTest, SecurityOptionsGuardTheSessionAndTheJsonTellsHowItWent) {
  struct Case {
    const char* name;
    SmtpCapture::Options options;
    const char* mode;
    const char* mechanism;
    const char* secret;
    int authReply, mailReply;
    bool encrypted;
    const char* user;  // who the .json names; nullptr: no message stored
  };
  auto with = [](std::string cert, std::string auth, std::string token = {}) {
    SmtpCapture::Options options;
    options.cert = std::move(cert);
    options.auth = std::move(auth);
    options.token = std::move(token);
    return options;
  };
  SmtpCapture::Options implicit = with("good", "ann:pw");
  implicit.implicitTls = true;
  SmtpCapture::Options plaintextLogin = with("", "ann:pw");
  plaintextLogin.authPlaintext = true;
  SmtpCapture::Options requireTls = with("good", "");
  requireTls.requireStartTls = true;
  const Case cases[] = {
      {"STARTTLS then PLAIN", with("good", "ann:pw"), "starttls", "PLAIN", "pw", 235, 250, true, "ann"},
      {"STARTTLS then LOGIN", with("good", "ann:pw"), "starttls", "LOGIN", "pw", 235, 250, true, "ann"},
      {"implicit TLS", implicit, "implicit", "PLAIN", "pw", 235, 250, true, "ann"},
      {"XOAUTH2 token", with("good", "", "ann:tok"), "starttls", "XOAUTH2", "tok", 235, 250, true, "ann"},
      {"XOAUTH2 wrong token", with("good", "", "ann:tok"), "starttls", "XOAUTH2", "bad", 535, 530, true, nullptr},
      {"wrong password", with("good", "ann:pw"), "starttls", "PLAIN", "bad", 535, 530, true, nullptr},
      {"no login, no MAIL", with("good", "ann:pw"), "starttls", "", "", 0, 530, true, nullptr},
      {"no login in the clear", with("good", "ann:pw"), "plain", "PLAIN", "pw", 538, 530, false, nullptr},
      {"login in the clear when allowed", plaintextLogin, "plain", "PLAIN", "pw", 235, 250, false, "ann"},
      {"STARTTLS required", requireTls, "plain", "", "", 0, 530, false, nullptr},
      {"STARTTLS offered, not required", with("good", ""), "plain", "", "", 0, 250, false, ""},
      {"open relay as before", with("", ""), "plain", "", "", 0, 250, false, ""},
  };
  QTemporaryDir scripts;
  const std::string script = scripts.filePath("client.py").toStdString();
  WriteFile(script, kSecureClient);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SmtpCapture capture(c.options);
    const std::string replies = RunPython(
        script, {std::to_string(capture.Port()), TestCerts::Get().Pem("ca"), c.mode, c.mechanism, "ann", c.secret});
    EXPECT_EQ(replies, "[" + std::to_string(c.authReply) + ", " + std::to_string(c.mailReply) + "]\n");
    const std::vector<SmtpCapture::Envelope> envelopes = capture.Envelopes();
    ASSERT_EQ(envelopes.size(), c.user ? 1u : 0u);
    if (c.user) {
      EXPECT_EQ(envelopes[0].encrypted, c.encrypted);
      EXPECT_EQ(envelopes[0].user, c.user);
      EXPECT_EQ(envelopes[0].mechanism, *c.user ? c.mechanism : "");
    }
    // The transcript tells the lines read under TLS from those read in the clear.
    const bool clearMail = std::string(c.mode) == "plain";
    EXPECT_EQ(capture.ReadInClear().find("FROM:<from@example.org>") != std::string::npos, clearMail)
        << capture.Transcript();
    EXPECT_NE(capture.Transcript().find("FROM:<from@example.org>"), std::string::npos);
  }
}

}  // namespace
