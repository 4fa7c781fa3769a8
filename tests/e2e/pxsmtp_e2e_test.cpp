// The SMTP client against a real server (aiosmtpd): composed messages go out over SMTP, and
// Python's email package reads what the server stored back to the very bytes of every file,
// including lines that are "." or begin with one, which only dot transparency carries whole.
#include <gtest/gtest.h>

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <random>
#include <string>
#include <vector>

#include "mail/pxmsg.h"
#include "net/pxsmtp.h"
#include "support/files.h"
#include "support/python_referee.h"
#include "support/smtp_capture.h"

namespace {

struct File {
  std::string name;
  std::string bytes;
  int transferEncoding;  // -1: as the content type selects
};

std::string RandomBytes(size_t size) {
  std::mt19937 random(7);
  std::string bytes(size, '\0');
  for (char& c : bytes) c = static_cast<char>(random() & 0xff);
  return bytes;
}

std::string Hex(const std::string& bytes) {
  return QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size())).toHex().toStdString();
}

struct Sent {
  std::vector<std::string> body;
  std::vector<File> files;
};

void SendAndCheck(bool keepSession);

// Once with a session per message, once with one session for all of them.
TEST(SmtpEndToEnd, StoredMessagesCarryTheExactBytesOfEveryFile) {
  for (const bool keepSession : {false, true}) {
    SCOPED_TRACE(keepSession ? "one session" : "a session per message");
    SendAndCheck(keepSession);
  }
}

void SendAndCheck(bool keepSession) {
  QTemporaryDir dir;
  const std::string dots = ".\r\n.profile\r\n..\r\nmid.dot\r\n.";
  const std::vector<Sent> messages = {
      {{".", ".starts with a dot", "plain"},
       {{"dot lines.txt", dots, -1},
        {"dot lines.dat", dots + "\r\n", 0},  // 7bit: the lines reach the wire as they are
        {"random.bin", RandomBytes(300000), -1}}},
      {{"..", "only a body"}, {}},
      {{"body"}, {{"lone dot.dat", ".\r\n", 0}}},
  };

  SmtpCapture capture;
  TpxMessage message;
  TpxSMTP smtp;
  smtp.SetWinsockLoaded(true);
  smtp.SetTimeOut(20);
  smtp.SetServer("127.0.0.1:" + std::to_string(capture.Port()));
  smtp.SetMailMessage(&message);
  smtp.SetKeepSession(keepSession);
  int sent = 0;
  smtp.OnMailSent = [&](TComponent*) { ++sent; };
  for (const Sent& m : messages) {
    message.Clear();
    message.Sender().SetAddress("from@example.org");
    message.Sender().SetName("Mailcart");
    message.Recipients().AddAddress("to@example.org", "");
    message.SetSubject("files");
    for (const std::string& line : m.body) message.Body().Add(line);
    for (const File& f : m.files) {
      const std::string path = dir.filePath(QString::fromStdString(f.name)).toStdString();
      WriteFile(path, f.bytes);
      message.Attachments().AddFile(path);
      if (f.transferEncoding >= 0)
        message.Attachments().Items(message.Attachments().Count() - 1).SetTransferEncoding(f.transferEncoding);
    }
    ASSERT_NO_THROW(smtp.Send());
  }
  smtp.Disconnect();
  EXPECT_EQ(sent, 3);
  EXPECT_EQ(capture.Sessions(), keepSession ? 1 : 3);

  ASSERT_EQ(capture.Count(), 3);
  std::vector<std::string> stored;
  for (const char* name : {"/0001.eml", "/0002.eml", "/0003.eml"}) stored.push_back(capture.Dir() + name);
  const QJsonArray reports =
      QJsonDocument::fromJson(QByteArray::fromStdString(RunPython(E2eScript("mime_referee.py"), stored))).array();
  ASSERT_EQ(reports.size(), 3);
  const std::vector<std::string> texts = capture.Messages();
  for (size_t i = 0; i < messages.size(); ++i) {
    SCOPED_TRACE("message " + std::to_string(i + 1));
    const Sent& m = messages[i];
    // The server took exactly the composed text: no empty line was added before the end mark.
    EXPECT_FALSE(texts[i].ends_with("\r\n\r\n"));
    const QJsonObject report = reports[static_cast<qsizetype>(i)].toObject();
    EXPECT_TRUE(report["defects"].toArray().isEmpty()) << QJsonDocument(report).toJson().toStdString();
    const QJsonArray parts = report["parts"].toArray();
    ASSERT_EQ(parts.size(), static_cast<qsizetype>(m.files.size() + 1));
    std::string body;
    for (const std::string& line : m.body) body += line + "\r\n";
    EXPECT_EQ(parts[0].toObject()["data_hex"].toString().toStdString().rfind(Hex(body), 0), 0u);
    for (size_t k = 0; k < m.files.size(); ++k) {
      SCOPED_TRACE(m.files[k].name);
      const QJsonObject part = parts[static_cast<qsizetype>(k + 1)].toObject();
      EXPECT_EQ(part["filename_hex"].toString().toStdString(), Hex(m.files[k].name));
      EXPECT_EQ(part["data_hex"].toString().toStdString(), Hex(m.files[k].bytes));
    }
  }
  const std::vector<SmtpCapture::Envelope> envelopes = capture.Envelopes();
  ASSERT_EQ(envelopes.size(), 3u);
  for (const SmtpCapture::Envelope& envelope : envelopes) {
    EXPECT_EQ(envelope.mailFrom, "from@example.org");
    EXPECT_EQ(envelope.rcptTos, std::vector<std::string>{"to@example.org"});
  }
}

}  // namespace
