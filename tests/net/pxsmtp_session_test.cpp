// The SMTP client with KeepSession: several messages on one session, with and without
// pipelining, RSET after a failed transaction, a server that ends the session between messages,
// SIZE, BDAT chunks, and the next message's envelope behind the end of a text (AnnounceNext);
// each case a set of transcripts with the exact bytes the server expects.
#include "net/pxsmtp.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "composed_text.h"
#include "support/checks.h"
#include "support/files.h"
#include "support/scripted_server.h"
#include "support/smtp_transcript.h"
#include "support/tls_peer.h"
#include "toolkit/pump.h"

namespace {

const std::string kPipelining = "S: 220 ready\nC: EHLO {host}\nS: 250-hello\nS: 250 PIPELINING\n";
const std::string kMessage = kEnvelope + kData + "S: 250 queued\n";
const std::string kGroup = "C: MAIL FROM:<from@example.org>\nC: RCPT TO:<to@example.org>\nC: DATA\n";
const std::string kText = "C: Subject: t\nC: \nC: body\nC: .\n";
const std::string kGroupReplies = "S: 250 ok\nS: 250 ok\nS: 354 go\n";
const std::string kPipelined = kGroup + kGroupReplies + kText + "S: 250 queued\n";
const std::string kRset = "C: RSET\nS: 250 reset\n";

const std::string kChunking = "S: 220 ready\nC: EHLO {host}\nS: 250-hello\nS: 250 CHUNKING\n";
const std::string kPipelinedChunks = "S: 220 ready\nC: EHLO {host}\nS: 250-hello\nS: 250-PIPELINING\nS: 250 CHUNKING\n";
const std::string kMailRcpt = "C: MAIL FROM:<from@example.org>\nC: RCPT TO:<to@example.org>\n";
const std::string kLines = "C: Subject: t\nC: \nC: body\n";
const std::string kLast = "C: BDAT 20 LAST\n" + kLines;

// A text of whole chunks, each one line, and a short last one; and the lines that expect them.
std::string ChunkLine() { return std::string(TSmtpTextSink::kChunkSize - 2, 'x'); }
std::string Chunks(int count) {
  std::string text;
  for (int i = 0; i < count; ++i) text += ChunkLine() + "\r\n";
  return text + "tail\r\n";
}
std::string ChunkLines(int count) {
  std::string lines;
  for (int i = 0; i < count; ++i)
    lines += "C: BDAT " + std::to_string(TSmtpTextSink::kChunkSize) + "\nC: " + ChunkLine() + "\n";
  return lines;
}

// One Send of the batch: what the message holds, what the send raises, how long the client
// pauses before it (letting the server close in between).
struct Step {
  std::string raised = "";
  int pauseMs = 0;
  std::string text = "Subject: t\r\n\r\nbody\r\n";
  std::string body = "";                           // what the composer's size is counted from
  std::optional<int64_t> announce = std::nullopt;  // AnnounceNext before the Send
};

// A Send that announces the next message.
Step Announcing(int64_t size, std::string raised = "", std::string text = "Subject: t\r\n\r\nbody\r\n") {
  return {std::move(raised), 0, std::move(text), "", size};
}

struct Case {
  const char* name;
  std::vector<std::string> transcripts;
  std::vector<Step> steps;
  int connections = 1;
  int reconnects = 0;
  std::vector<std::string> rejected = {};  // "address | reply" for each OnAddressRejected
  bool proceed = false;                    // what the handler answers
};

struct Batch {
  explicit Batch(const std::vector<std::string>& transcripts) : server(WithHost(transcripts)) {
    smtp.SetWinsockLoaded(true);
    smtp.SetTimeOut(10);
    smtp.SetServer(server.Address());
    smtp.SetKeepSession(true);
    smtp.SetMailMessage(&message);
    message.Sender().SetAddress("from@example.org");
    message.Recipients().AddAddress("to@example.org", "To");
    smtp.OnMailSent = [this](TComponent*) { ++sent; };
    smtp.OnReconnecting = [this](TComponent*, const std::string& to) { reconnects.push_back(to); };
  }
  ScriptedServer server;
  FixedMessage message;
  TpxSMTP smtp;
  int sent = 0;
  std::vector<std::string> reconnects;
};

void Play(const Case& c) {
  SCOPED_TRACE(c.name);
  {
    Batch batch(c.transcripts);
    std::vector<std::string> rejected;
    batch.smtp.OnAddressRejected = [&](TComponent*, const std::string& address, const std::string& reply,
                                       bool& proceed) {
      rejected.push_back(address + " | " + reply);
      proceed = c.proceed;
    };
    int delivered = 0;
    for (size_t i = 0; i < c.steps.size(); ++i) {
      const Step& step = c.steps[i];
      SCOPED_TRACE("message " + std::to_string(i));
      if (step.pauseMs > 0) PumpUntil([] { return false; }, step.pauseMs);
      batch.message.text = step.text;
      batch.message.Body().SetText(step.body);
      if (step.announce) batch.smtp.AnnounceNext(*step.announce);
      std::string raised = step.raised;
      const size_t port = raised.find("{port}");
      if (port != std::string::npos) raised.replace(port, 6, std::to_string(batch.server.Port()));
      EXPECT_EQ(Raised([&] { batch.smtp.Send(); }), raised);
      if (raised.empty()) ++delivered;
    }
    batch.smtp.Disconnect();
    EXPECT_FALSE(batch.smtp.Connected());
    EXPECT_EQ(batch.sent, delivered);
    EXPECT_EQ(rejected, c.rejected);
    EXPECT_EQ(batch.server.Connections(), c.connections);
    for (int k = 0; k < c.connections; ++k) EXPECT_TRUE(batch.server.WaitFinished(k)) << k;
    EXPECT_EQ(batch.server.Failures(), "");
    EXPECT_EQ(batch.reconnects, std::vector<std::string>(static_cast<size_t>(c.reconnects),
                                                         "127.0.0.1:" + std::to_string(batch.server.Port())));
  }
}

TEST(SmtpSession, MessagesShareOneSession) {
  const std::string composed = ComposedText();
  const size_t larger = ComposedText(std::string(100, 'x')).size();
  const std::vector<std::string> refused = {"to@example.org | 550 no such user"};
  const Case cases[] = {
      {"three messages, one greeting and one QUIT",
       {kGreeting + kMessage + kMessage + kMessage + kQuit},
       {{}, {}, {}},
       1},
      {"three pipelined messages", {kPipelining + kPipelined + kPipelined + kPipelined + kQuit}, {{}, {}, {}}, 1},
      {"a refused recipient: RSET before the next message",
       {kGreeting + kMail + Rcpt("to@example.org", "550 no such user") + kRset + kMessage + kQuit},
       {{"EServerError: 127.0.0.1:{port} refused the recipient to@example.org: 550 no such user"}, {}},
       1,
       0,
       refused},
      {"a 5xx to DATA: RSET before the next message",
       {kGreeting + kEnvelope + "C: DATA\nS: 554 no\n" + kRset + kMessage + kQuit},
       {{"EServerError: 127.0.0.1:{port} refused the message: 554 no"}, {}},
       1},
      {"a refused text: RSET before the next message",
       {kGreeting + kEnvelope + kData + "S: 554 rejected\n" + kRset + kMessage + kQuit},
       {{"EServerError: 127.0.0.1:{port} refused the message: 554 rejected"}, {}},
       1},
      {"the server closes between messages: the next goes on a new session",
       {kGreeting + kMessage + "close\n", kGreeting + kMessage + kQuit},
       {{}, {"", 100}},
       2,
       1},
      {"421 between messages: the next goes on a new session",
       {kGreeting + kMessage + "S: 421 4.7.0 too many messages\nclose\n", kGreeting + kMessage + kQuit},
       {{}, {"", 100}},
       2,
       1},
      {"421 to MAIL FROM: the message goes again on a new session",
       {kGreeting + kMessage + "C: MAIL FROM:<from@example.org>\nS: 421 4.7.0 too many messages\nclose\n",
        kGreeting + kMessage + kQuit},
       {{}, {}},
       2,
       1},
      {"a pipelined group answered 421 and closed: again on a new session, its other replies unread",
       {kPipelining + kPipelined + kGroup + "S: 421 4.7.0 too many messages\nclose\n",
        kPipelining + kPipelined + kQuit},
       {{}, {}},
       2,
       1},
      {"lost again on the new session: sent once more only",
       {kGreeting + kMessage + "C: MAIL FROM:<from@example.org>\nclose\n",
        kGreeting + "C: MAIL FROM:<from@example.org>\nclose\n"},
       {{}, {"EServerError: No reply from 127.0.0.1:{port}: it closed the connection"}},
       2,
       1},
      {"lost after the end of the text: a possible duplicate, not sent again",
       {kGreeting + kMessage + kEnvelope + kData + "close\n", kGreeting + kMessage + kQuit},
       {{},
        {"EPossibleDuplicate: The connection to 127.0.0.1:{port} was lost after the end of the message and "
         "before its reply; the server may have kept it, so sending it again may deliver it twice"},
        {}},
       2},
      {"SIZE is declared, and a larger message is refused before its upload; the session goes on",
       {"S: 220 ready\nC: EHLO {host}\nS: 250-hello\nS: 250 SIZE " + std::to_string(composed.size()) +
        "\nC: MAIL FROM:<from@example.org> SIZE=" + std::to_string(composed.size()) + "\nS: 250 ok\n" +
        Rcpt("to@example.org") + "C: DATA\nS: 354 go\n" + ClientLines(composed) + "C: .\nS: 250 queued\n" + kQuit},
       {{"EMessageError: The message is " + std::to_string(larger) + " bytes; 127.0.0.1:{port} accepts at most " +
             std::to_string(composed.size()),
         0, composed, std::string(100, 'x')},
        {"", 0, composed}},
       1},
      {"SIZE 0 is no limit",
       {"S: 220 ready\nC: EHLO {host}\nS: 250-hello\nS: 250 SIZE 0\nC: MAIL FROM:<from@example.org> SIZE=" +
        std::to_string(composed.size()) + "\nS: 250 ok\n" + Rcpt("to@example.org") + "C: DATA\nS: 354 go\n" +
        ClientLines(composed) + "C: .\nS: 250 queued\n" + kQuit},
       {{"", 0, composed}},
       1},
      {"SIZE declared, and the composer writes another size: the connection closes before the end mark",
       {"S: 220 ready\nC: EHLO {host}\nS: 250-hello\nS: 250 SIZE 0\nC: MAIL FROM:<from@example.org> SIZE=" +
            std::to_string(composed.size()) + "\nS: 250 ok\n" + Rcpt("to@example.org") + "C: DATA\nS: 354 go\n",
        kGreeting + kMessage + kQuit},
       {{"EMessageError: The composer wrote 20 bytes of a message announced as " + std::to_string(composed.size()) +
         " bytes; the message was not sent"},
        {}},
       2},
      {"pipelined: every recipient refused, DATA still taken: an empty text, then RSET",
       {kPipelining + kGroup + "S: 250 ok\nS: 550 no such user\nS: 354 go\nC: .\nS: 554 no recipients\n" + kRset +
        kPipelined + kQuit},
       {{"EServerError: 127.0.0.1:{port} refused the recipient to@example.org: 550 no such user"}, {}},
       1,
       0,
       refused,
       true},
      {"pipelined: a refused MAIL FROM drops the other replies without events",
       {kPipelining + kGroup + "S: 553 bad sender\nS: 550 no such user\nS: 503 no valid recipients\n" + kRset +
        kPipelined + kQuit},
       {{"EServerError: 127.0.0.1:{port} refused the message: 553 bad sender"}, {}},
       1,
       0,
       {},
       true},
      {"pipelined: a refused recipient that ends the send; DATA's reply is read before RSET",
       {kPipelining + kGroup + "S: 250 ok\nS: 550 no such user\nS: 503 no valid recipients\n" + kRset + kPipelined +
        kQuit},
       {{"EServerError: 127.0.0.1:{port} refused the recipient to@example.org: 550 no such user"}, {}},
       1,
       0,
       refused},
      {"pipelined replies split across reads",
       {kPipelining + kGroup + "P: 250 o\npause 20\nP: k\\r\\n250 ok\\r\\n35\npause 20\nS: 4 go\n" + kText +
        "S: 250 queued\n" + kPipelined + kQuit},
       {{}, {}},
       1},
      {"pipelined replies byte by byte",
       {kPipelining + kGroup + "drip 1 1\nS: 250 ok\nS: 250 ok\nS: 354 go\n" + kText + "S: 250 queued\n" + kPipelined +
        kQuit},
       {{}, {}},
       1},
  };
  for (const Case& c : cases) Play(c);
}

TEST(SmtpSession, ChunksAndTheNextEnvelopeBehindTheText) {
  const std::string composed = ComposedText();
  const std::string size = std::to_string(composed.size());
  const std::string sized = "C: MAIL FROM:<from@example.org> SIZE=" + size + "\nC: RCPT TO:<to@example.org>\nC: DATA\n";
  const std::string kPipeliningSize = "S: 220 ready\nC: EHLO {host}\nS: 250-hello\nS: 250-PIPELINING\nS: 250 SIZE\n";
  const std::string refusedText = "EServerError: 127.0.0.1:{port} refused the message: 554 rejected";
  const Case cases[] = {
      {"BDAT without PIPELINING: MAIL and RCPT wait for their replies, then one chunk, LAST",
       {kChunking + kEnvelope + kLast + "S: 250 queued\n" + kQuit},
       {{}}},
      {"BDAT with PIPELINING: the envelope and the chunk in one write",
       {kPipelinedChunks + kMailRcpt + kLast + "S: 250 ok\nS: 250 ok\n" + "S: 250 queued\n" + kQuit},
       {{}}},
      {"an empty text is BDAT 0 LAST",
       {kPipelinedChunks + kMailRcpt + "C: BDAT 0 LAST\n" + "S: 250 ok\nS: 250 ok\n" + "S: 250 queued\n" + kQuit},
       {{"", 0, ""}}},
      // A reply is read whenever more than three are owed: the refusal of the second chunk is read
      // after the fifth has gone, and the sixth never goes.
      {"a refused chunk: no more go, the replies owed are read, then RSET; the session goes on",
       {kChunking + kEnvelope + ChunkLines(1) + "S: 250 1\n" + ChunkLines(1) + "S: 554 rejected\n" + ChunkLines(3) +
        "S: 503 no\nS: 503 no\nS: 503 no\n" + kRset + kEnvelope + kLast + "S: 250 queued\n" + kQuit},
       {{refusedText, 0, Chunks(6)}, {}}},
      {"a refused last chunk: RSET",
       {kPipelinedChunks + kMailRcpt + kLast + "S: 250 ok\nS: 250 ok\n" + "S: 554 rejected\n" + kRset + kQuit},
       {{refusedText}}},
      {"pipelined BDAT with a refused MAIL FROM: the other replies are read, then RSET",
       {kPipelinedChunks + kMailRcpt + kLast + "S: 553 bad sender\nS: 503 no\nS: 503 no\n" + kRset + kQuit},
       {{"EServerError: 127.0.0.1:{port} refused the message: 553 bad sender"}}},
      {"SIZE declared and a text of another size: no chunk goes, the accepted envelope is reset",
       {"S: 220 ready\nC: EHLO {host}\nS: 250-hello\nS: 250-CHUNKING\nS: 250 SIZE\nC: MAIL FROM:<from@example.org> "
        "SIZE=" +
        size + "\nS: 250 ok\n" + Rcpt("to@example.org") + kRset + kQuit},
       {{"EMessageError: The composer wrote 20 bytes of a message announced as " + size +
         " bytes; the message was not sent"}}},
      {"the next envelope goes with the end mark; its text follows at once",
       {kPipelining + kGroup + kGroupReplies + kText + kGroup + "S: 250 queued\n" + kGroupReplies + kText +
        "S: 250 queued\n" + kQuit},
       {Announcing(20), {}}},
      {"BDAT: the next MAIL and RCPT go behind LAST",
       {kPipelinedChunks + kMailRcpt + kLast + kMailRcpt +
        "S: 250 ok\nS: 250 ok\nS: 250 queued\nS: 250 ok\nS: 250 ok\n" + kLast + "S: 250 queued\n" + kQuit},
       {Announcing(20), {}}},
      {"a refusal of the first text: the next envelope is kept, and its text goes",
       {kPipelining + kGroup + kGroupReplies + kText + kGroup + "S: 554 rejected\n" + kGroupReplies + kText +
        "S: 250 queued\n" + kQuit},
       {Announcing(20, refusedText), {}}},
      {"a refused next envelope is raised by the next Send, after RSET",
       {kPipelining + kGroup + kGroupReplies + kText + kGroup + "S: 250 queued\nS: 452 full\nS: 503 no\nS: 503 no\n" +
        kRset + kGroup + kGroupReplies + kText + "S: 250 queued\n" + kQuit},
       {Announcing(20), {"EServerError: 127.0.0.1:{port} refused the message: 452 full"}, {}}},
      {"a lost connection with the next envelope out: the first uncertain, the next goes on a new session",
       {kPipelining + kGroup + kGroupReplies + kText + kGroup + "close\n",
        kPipelining + kGroup + kGroupReplies + kText + "S: 250 queued\n" + kQuit},
       {Announcing(20,
                   "EPossibleDuplicate: The connection to 127.0.0.1:{port} was lost after the end of the message "
                   "and before its reply; the server may have kept it, so sending it again may deliver it twice"),
        {}},
       2},
      {"announced with no size: the next MAIL FROM goes without SIZE, its text on the same session",
       {kPipeliningSize + sized + kGroupReplies + ClientLines(composed) + "C: .\n" + kGroup + "S: 250 queued\n" +
        kGroupReplies + ClientLines(composed) + "C: .\nS: 250 queued\n" + kQuit},
       {Announcing(TpxSMTP::kAnySize, "", composed), {"", 0, composed}}},
      {"a next message of another size than announced: after the 354, a new connection",
       {kPipeliningSize + sized + kGroupReplies + ClientLines(composed) + "C: .\n" +
            "C: MAIL FROM:<from@example.org> SIZE=999\nC: RCPT TO:<to@example.org>\nC: DATA\nS: 250 queued\n" +
            kGroupReplies,
        kPipeliningSize + sized + kGroupReplies + ClientLines(composed) + "C: .\nS: 250 queued\n" + kQuit},
       {Announcing(999, "", composed), {"", 0, composed}},
       2,
       1},
  };
  for (const Case& c : cases) Play(c);
}

// Without KeepSession each message still has its own session.
TEST(SmtpSession, WithoutKeepSessionEachMessageHasItsOwn) {
  Batch batch({kDelivery});
  batch.smtp.SetKeepSession(false);
  for (int i = 0; i < 2; ++i) EXPECT_EQ(Raised([&] { batch.smtp.Send(); }), "") << i;
  EXPECT_EQ(batch.server.Connections(), 2);
  for (int k = 0; k < 2; ++k) EXPECT_TRUE(batch.server.WaitFinished(k)) << k;
  EXPECT_EQ(batch.server.Failures(), "");
}

// The text is read in large pieces, but progress still comes in steps of one block, across the
// pieces' edges.
TEST(SmtpSession, ProgressKeepsItsBlockStepsAcrossLargeReads) {
  const size_t size = 70000;
  Batch batch(
      {kGreeting + kEnvelope + "C: DATA\nS: 354 go\nC: " + std::string(size, 'x') + "\nC: .\nS: 250 ok\n" + kQuit});
  batch.message.text = std::string(size, 'x');
  std::vector<int> transferred;
  batch.smtp.OnProgress = [&](TComponent*, int, int bytes) { transferred.push_back(bytes); };
  EXPECT_EQ(Raised([&] { batch.smtp.Send(); }), "");
  batch.smtp.Disconnect();
  std::vector<int> expected;
  for (size_t at = TnkSocket::kBlockSize; at < size; at += TnkSocket::kBlockSize)
    expected.push_back(static_cast<int>(at));
  expected.push_back(static_cast<int>(size));
  expected.push_back(0);
  EXPECT_EQ(transferred, expected);
  EXPECT_TRUE(batch.server.WaitFinished());
  EXPECT_EQ(batch.server.Failures(), "");
}

// The trust store is loaded once for many connections, but a CA file changed in between is
// read again: one that has become unusable ends the next send before it connects.
TEST(SmtpSession, AChangedCaFileIsReadAgain) {
  QTemporaryDir dir;
  const std::string ca = dir.filePath("ca.pem").toStdString();
  WriteFile(ca, ReadFile(TestCerts::Get().Pem("ca")));
  Batch batch({kDelivery});
  batch.smtp.SetKeepSession(false);
  batch.smtp.SetSecurity(TpxSecurity::None);
  batch.smtp.SetCAFile(ca);
  EXPECT_EQ(Raised([&] { batch.smtp.Send(); }), "");
  EXPECT_EQ(Raised([&] { batch.smtp.Send(); }), "");
  WriteFile(ca, "no certificate here\n");
  std::filesystem::last_write_time(ca, std::filesystem::last_write_time(ca) + std::chrono::seconds(1));
  EXPECT_EQ(Raised([&] { batch.smtp.Send(); }).rfind("ETlsError: ", 0), 0u);
  EXPECT_EQ(batch.server.Connections(), 2);
}

}  // namespace
