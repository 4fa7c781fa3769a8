// mailcart-send's reach beyond one recipient and a blank message: several recipients, copies,
// a text, folders. A real SMTP server (aiosmtpd) gives the envelope, Python's email package
// judges the headers and the text.
#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <filesystem>
#include <string>
#include <vector>

#include "support/files.h"
#include "support/mailcart_send_run.h"
#include "support/python_referee.h"

namespace {

using MailcartSendMessageTest = MailcartSendFixture;

std::vector<std::string> Mailboxes(const QJsonValue& list) {
  std::vector<std::string> found;
  for (const QJsonValue& mailbox : list.toArray())
    found.push_back(mailbox[0].toString().toStdString() + " <" + mailbox[1].toString().toStdString() + ">");
  return found;
}

// BCC recipients get the message and appear nowhere in it; the text is UTF-8 with the subject's
// fields filled in. A later batch to the same people, listed otherwise, finds the file sent
// before; one to fewer people does not.
TEST_F(MailcartSendMessageTest, TwoRecipientsACopyABlindCopyAndAText) {
  const std::string text = "Gr\xc3\xbc\xc3\x9f" "e,\n\nhere is {name}, {n} of {count}.\n.\nFrom the scanner\n";
  WriteFile(Path("text.txt"), text);
  const std::string scan = MakeFile("scan.pdf", "%PDF-1.4\r\n");
  const std::vector<std::string> to{"--to", "Ann Example <ann@example.com>, \"Doe, Bob\" <bob@example.com>",
                                    "--cc", "carol@example.com", "--bcc", "dave@example.com"};
  std::vector<std::string> args = Args(to);
  args.insert(args.end(), {"--body-file", Path("text.txt"), scan});
  const SendRun run = RunSend(args);
  ASSERT_EQ(run.exitCode, 0) << run.errors;
  ASSERT_EQ(server_.Count(), 1);
  EXPECT_EQ(server_.Envelopes()[0].rcptTos,
            (std::vector<std::string>{"ann@example.com", "bob@example.com", "carol@example.com", "dave@example.com"}));
  const std::string message = server_.Messages()[0];
  EXPECT_EQ(message.find("dave@"), std::string::npos) << "a blind copy leaves no trace";
  const QJsonObject report =
      QJsonDocument::fromJson(QByteArray::fromStdString(RunPython(E2eScript("mime_referee.py"), {server_.Dir() + "/0001.eml"})))
          .array()[0]
          .toObject();
  EXPECT_TRUE(report["defects"].toArray().isEmpty());
  EXPECT_EQ(Mailboxes(report["to_mailboxes"]),
            (std::vector<std::string>{"Ann Example <ann@example.com>", "Doe, Bob <bob@example.com>"}));
  EXPECT_EQ(Mailboxes(report["cc_mailboxes"]), std::vector<std::string>{" <carol@example.com>"});
  const QJsonObject body = report["parts"].toArray()[0].toObject();
  EXPECT_EQ(body["charset"].toString(), "utf-8");
  EXPECT_EQ(body["text"].toString().toStdString(),
            "Gr\xc3\xbc\xc3\x9f" "e,\r\n\r\nhere is scan.pdf, 1 of 1.\r\n.\r\nFrom the scanner\r\n");

  // The same four in another order and case: the journal knows the file was sent to them.
  const struct {
    std::vector<std::string> recipients;
    bool sentBefore;
  } later[] = {
      {{"--to", "BOB@example.com, ann@example.com", "--cc", "dave@example.com", "--bcc", "Carol@Example.com"}, true},
      {{"--to", "ann@example.com, bob@example.com", "--cc", "carol@example.com"}, false},
  };
  for (const auto& c : later) {
    std::vector<std::string> again = Args(c.recipients);
    again.insert(again.end(), {"--skip-sent", scan});
    const SendRun second = RunSend(again);
    EXPECT_EQ(second.exitCode, 0) << second.errors;
    EXPECT_EQ(second.errors.find("1 file was sent to") != std::string::npos, c.sentBefore) << second.errors;
  }
  EXPECT_EQ(server_.Count(), 2) << "the file went again to fewer people only";
}

// --recursive sends the files of the folders named, in path order, hidden ones left out; without
// it a folder stops the batch before anything connects.
TEST_F(MailcartSendMessageTest, RecursiveSendsTheFilesOfAFolderTree) {
  for (const char* name : {"scans/b.pdf", "scans/a/2.pdf", "scans/a/1.pdf", "scans/.hidden", "scans/.git/x"}) {
    std::filesystem::create_directories(std::filesystem::path(Path(name)).parent_path());
    MakeFile(name, name);
  }
  const SendRun plain = RunSend(Args({Path("scans")}));
  EXPECT_EQ(plain.exitCode, 1);
  EXPECT_EQ(server_.Count(), 0);
  const SendRun run = RunSend(Args({"--recursive", "--subject", "{name}", Path("scans")}));
  ASSERT_EQ(run.exitCode, 0) << run.errors;
  std::vector<std::string> subjects;
  for (const std::string& message : server_.Messages())
    subjects.push_back(message.substr(message.find("Subject:"), message.find("\r\n", message.find("Subject:")) - message.find("Subject:")));
  EXPECT_EQ(subjects, (std::vector<std::string>{"Subject:  1.pdf", "Subject:  2.pdf", "Subject:  b.pdf"}));
}

}  // namespace
