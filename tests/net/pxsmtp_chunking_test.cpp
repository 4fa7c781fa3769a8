// The SMTP client with CHUNKING (BDAT) and with the next message's envelope sent behind the end
// of a text (AnnounceNext), each case a set of transcripts with the exact bytes the server
// expects.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "composed_text.h"
#include "net/pxsmtp.h"
#include "support/checks.h"
#include "support/scripted_server.h"
#include "support/smtp_transcript.h"

namespace {

std::string Ehlo(const std::string& extensions) {
  std::string lines = "S: 220 ready\nC: EHLO {host}\nS: 250-hello\n";
  for (size_t at = 0; at < extensions.size();) {
    const size_t end = std::min(extensions.find(' ', at), extensions.size());
    lines += (end == extensions.size() ? "S: 250 " : "S: 250-") + extensions.substr(at, end - at) + "\n";
    at = end + 1;
  }
  return lines;
}

const std::string kGroup = "C: MAIL FROM:<from@example.org>\nC: RCPT TO:<to@example.org>\n";
const std::string kText = "C: Subject: t\nC: \nC: body\n";
const std::string kLast = "C: BDAT 20 LAST\n" + kText;
const std::string kOk = "S: 250 ok\n";
const std::string kRset = "C: RSET\nS: 250 reset\n";
const std::string kDataGroup = kGroup + "C: DATA\n";
const std::string kDataText = kText + "C: .\n";
const std::string kDataReplies = "S: 250 ok\nS: 250 ok\nS: 354 go\n";

// A text of whole chunks, each one line, and a short last one; and the lines that expect them.
std::string ChunkLine() { return std::string(TSmtpTextSink::kChunkSize - 2, 'x'); }
std::string Chunks(int count) {
  std::string text;
  for (int i = 0; i < count; ++i) text += ChunkLine() + "\r\n";
  return text + "tail\r\n";
}
std::string ChunkLines(int count) {
  std::string lines;
  for (int i = 0; i < count; ++i) lines += "C: BDAT " + std::to_string(TSmtpTextSink::kChunkSize) + "\nC: " + ChunkLine() + "\n";
  return lines;
}

struct Step {
  std::string raised = "";
  std::optional<int64_t> announce = std::nullopt;  // AnnounceNext before the Send
  std::string text = "Subject: t\r\n\r\nbody\r\n";
};

TEST(SmtpChunking, TransactionsAsTranscripts) {
  const std::string composed = ComposedText();
  const std::string size = std::to_string(composed.size());
  const std::string sized = "C: MAIL FROM:<from@example.org> SIZE=" + size + "\nC: RCPT TO:<to@example.org>\nC: DATA\n";
  const std::string refusedText = "EServerError: 127.0.0.1:{port} refused the message: 554 rejected";
  const struct {
    const char* name;
    std::vector<std::string> transcripts;
    std::vector<Step> steps;
    int connections = 1;
    int reconnects = 0;
  } cases[] = {
      {"BDAT without PIPELINING: MAIL and RCPT wait for their replies, then one chunk, LAST",
       {Ehlo("CHUNKING") + "C: MAIL FROM:<from@example.org>\n" + kOk + "C: RCPT TO:<to@example.org>\n" + kOk + kLast +
        "S: 250 queued\n" + kQuit},
       {{}}},
      {"BDAT with PIPELINING: the envelope and the chunk in one write",
       {Ehlo("PIPELINING CHUNKING") + kGroup + kLast + kOk + kOk + "S: 250 queued\n" + kQuit}, {{}}},
      {"an empty text is BDAT 0 LAST",
       {Ehlo("PIPELINING CHUNKING") + kGroup + "C: BDAT 0 LAST\n" + kOk + kOk + "S: 250 queued\n" + kQuit},
       {{"", std::nullopt, ""}}},
      {"chunks of a long text: a reply is read whenever more than three are owed",
       {Ehlo("CHUNKING") + "C: MAIL FROM:<from@example.org>\n" + kOk + "C: RCPT TO:<to@example.org>\n" + kOk +
        ChunkLines(4) + "S: 250 1\n" + ChunkLines(1) + "S: 250 2\nC: BDAT 6 LAST\nC: tail\n" +
        "S: 250 3\nS: 250 4\nS: 250 5\nS: 250 queued\n" + kQuit},
       {{"", std::nullopt, Chunks(5)}}},
      {"a refused chunk: no more go, the replies owed are read, then RSET; the session goes on",
       {Ehlo("CHUNKING") + "C: MAIL FROM:<from@example.org>\n" + kOk + "C: RCPT TO:<to@example.org>\n" + kOk +
        ChunkLines(1) + "S: 250 1\n" + ChunkLines(1) + "S: 554 rejected\n" + ChunkLines(3) +
        "S: 503 no\nS: 503 no\nS: 503 no\n" + kRset + "C: MAIL FROM:<from@example.org>\n" + kOk +
        "C: RCPT TO:<to@example.org>\n" + kOk + kLast + "S: 250 queued\n" + kQuit},
       {{refusedText, std::nullopt, Chunks(6)}, {}}},
      {"a refused last chunk: RSET",
       {Ehlo("PIPELINING CHUNKING") + kGroup + kLast + kOk + kOk + "S: 554 rejected\n" + kRset + kQuit},
       {{refusedText}}},
      {"pipelined BDAT with a refused MAIL FROM: the other replies are read, then RSET",
       {Ehlo("PIPELINING CHUNKING") + kGroup + kLast + "S: 553 bad sender\nS: 503 no\nS: 503 no\n" + kRset + kQuit},
       {{"EServerError: 127.0.0.1:{port} refused the message: 553 bad sender"}}},
      {"SIZE declared and a text of another size: no chunk goes, the accepted envelope is reset",
       {Ehlo("CHUNKING SIZE") + "C: MAIL FROM:<from@example.org> SIZE=" + size + "\n" + kOk +
        "C: RCPT TO:<to@example.org>\n" + kOk + kRset + kQuit},
       {{"EMessageError: The composer wrote 20 bytes of a message announced as " + size +
         " bytes; the message was not sent"}}},
      {"the next envelope goes with the end mark; its text follows at once",
       {Ehlo("PIPELINING") + kDataGroup + kDataReplies + kDataText + kDataGroup + "S: 250 queued\n" + kDataReplies +
        kDataText + "S: 250 queued\n" + kQuit},
       {{"", 20}, {}}},
      {"BDAT: the next MAIL and RCPT go behind LAST",
       {Ehlo("PIPELINING CHUNKING") + kGroup + kLast + kGroup + "S: 250 ok\nS: 250 ok\nS: 250 queued\nS: 250 ok\n" +
        kOk + kLast + "S: 250 queued\n" + kQuit},
       {{"", 20}, {}}},
      {"a refusal of the first text: the next envelope is kept, and its text goes",
       {Ehlo("PIPELINING") + kDataGroup + kDataReplies + kDataText + kDataGroup + "S: 554 rejected\n" + kDataReplies +
        kDataText + "S: 250 queued\n" + kQuit},
       {{refusedText, 20}, {}}},
      {"a refused next envelope is raised by the next Send, after RSET",
       {Ehlo("PIPELINING") + kDataGroup + kDataReplies + kDataText + kDataGroup +
        "S: 250 queued\nS: 452 full\nS: 503 no\nS: 503 no\n" + kRset + kDataGroup + kDataReplies + kDataText +
        "S: 250 queued\n" + kQuit},
       {{"", 20}, {"EServerError: 127.0.0.1:{port} refused the message: 452 full"}, {}}},
      {"a lost connection with the next envelope out: the first uncertain, the next goes on a new session",
       {Ehlo("PIPELINING") + kDataGroup + kDataReplies + kDataText + kDataGroup + "close\n",
        Ehlo("PIPELINING") + kDataGroup + kDataReplies + kDataText + "S: 250 queued\n" + kQuit},
       {{"EPossibleDuplicate: The connection to 127.0.0.1:{port} was lost after the end of the message and before its "
         "reply; the server may have kept it, so sending it again may deliver it twice",
         20},
        {}},
       2},
      {"no next Send after a 354: the session closes without QUIT and without a text",
       {Ehlo("PIPELINING") + kDataGroup + kDataReplies + kDataText + kDataGroup + "S: 250 queued\n" + kDataReplies},
       {{"", 20}}},
      {"a next message of another size than announced: after the 354, a new connection",
       {Ehlo("PIPELINING SIZE") + sized + kDataReplies + ClientLines(composed) + "C: .\n" +
            "C: MAIL FROM:<from@example.org> SIZE=999\nC: RCPT TO:<to@example.org>\nC: DATA\nS: 250 queued\n" +
            kDataReplies,
        Ehlo("PIPELINING SIZE") + sized + kDataReplies + ClientLines(composed) + "C: .\nS: 250 queued\n" + kQuit},
       {{"", 999, composed}, {"", std::nullopt, composed}},
       2,
       1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedServer server(WithHost(c.transcripts));
    FixedMessage message;
    message.Sender().SetAddress("from@example.org");
    message.Recipients().AddAddress("to@example.org", "To");
    TpxSMTP smtp;
    smtp.SetWinsockLoaded(true);
    smtp.SetTimeOut(10);
    smtp.SetServer(server.Address());
    smtp.SetKeepSession(true);
    smtp.SetMailMessage(&message);
    int sent = 0;
    int reconnects = 0;
    smtp.OnMailSent = [&](TComponent*) { ++sent; };
    smtp.OnReconnecting = [&](TComponent*, const std::string&) { ++reconnects; };
    int delivered = 0;
    for (size_t i = 0; i < c.steps.size(); ++i) {
      const Step& step = c.steps[i];
      SCOPED_TRACE("message " + std::to_string(i));
      message.text = step.text;
      if (step.announce) smtp.AnnounceNext(*step.announce);
      std::string raised = step.raised;
      if (const size_t port = raised.find("{port}"); port != std::string::npos)
        raised.replace(port, 6, std::to_string(server.Port()));
      EXPECT_EQ(Raised([&] { smtp.Send(); }), raised);
      if (raised.empty()) ++delivered;
    }
    smtp.Disconnect();
    EXPECT_EQ(sent, delivered);
    EXPECT_EQ(server.Connections(), c.connections);
    for (int k = 0; k < c.connections; ++k) EXPECT_TRUE(server.WaitFinished(k)) << k;
    EXPECT_EQ(server.Failures(), "");
    EXPECT_EQ(reconnects, c.reconnects);
  }
}

}  // namespace
