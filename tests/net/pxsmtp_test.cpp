// The SMTP client against scripted servers: each case is a transcript of what the server says
// and the exact bytes it expects, with the outcome, the events and the temporary file checked.
#include "net/pxsmtp.h"

#include <gtest/gtest.h>

#include <QTimer>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "composed_text.h"
#include "mail/pxmsg.h"
#include "net/dotstuffing.h"
#include "support/checks.h"
#include "support/scripted_server.h"
#include "support/smtp_transcript.h"
#include "toolkit/componentstream.h"

namespace {

// The longest address a path may hold (254); the command that carries it is longer than 255.
std::string Long(char c) { return std::string(242, c) + "@example.org"; }

// A text of three blocks: the first ends with a line that is a lone ".", the third begins with
// a line that starts with ".".
std::string BlockBoundaryText() {
  const size_t block = TnkSocket::kBlockSize;
  std::string text = std::string(block - 3, 'a') + "\r\n.\r\n";
  text += std::string(2 * block - text.size() - 2, 'b') + "\r\n";
  return text + ".y\r\n";
}

TEST_F(SmtpTest, DialoguesAsTranscripts) {
  const std::string boundary = BlockBoundaryText();
  const size_t block = TnkSocket::kBlockSize;
  const std::string composed = ComposedText();
  const struct {
    const char* name;
    std::string transcript;
    std::string raised;  // "" when the send succeeds
    std::function<void(Session&)> setup = nullptr;
    std::vector<std::string> rejected = {};         // "address | reply" for each OnAddressRejected, which proceeds;
                                                    // empty: no handler
    std::function<void(Session&)> check = nullptr;  // runs after the send
  } cases[] = {
      {"a message is delivered and the connection ended", kDelivery, ""},
      {"a multi-line EHLO reply is read whole and its extensions kept",
       "S: 220 ready\nC: EHLO {host}\nS: 250-mx greets you\nS: 250-SIZE 1000\nS: 250-AUTH PLAIN LOGIN\n"
       "S: 250 PIPELINING\nC: MAIL FROM:<from@example.org> SIZE=" +
           std::to_string(composed.size()) +
           "\nC: RCPT TO:<to@example.org>\nC: DATA\nS: 250 ok\nS: 250 ok\nS: 354 go\n" + ClientLines(composed) +
           "C: .\n" + kQueued,
       "",
       [&composed](Session& s) { s.message.text = composed; },
       {},
       [](Session& s) {
         EXPECT_TRUE(s.smtp.Extensions().Supports("PIPELINING"));
         EXPECT_EQ(s.smtp.Extensions().Parameters("AUTH"), (std::vector<std::string>{"PLAIN", "LOGIN"}));
         EXPECT_EQ(s.smtp.Extensions().SizeLimit(), 1000u);
       }},
      {"EHLO refused with 5xx: HELO follows",
       "S: 220 ready\nC: EHLO {host}\nS: 500 what\nC: HELO {host}\nS: 250 hi\n" + kEnvelope + kData + kQueued,
       "",
       nullptr,
       {},
       [](Session& s) { EXPECT_TRUE(s.smtp.Extensions().Empty()); }},
      {"EHLO refused with 4xx: error, no HELO", "S: 220 ready\nC: EHLO {host}\nS: 421 busy\n" + kQuit,
       "EServerError: {server} refused the session: 421 busy"},
      {"a refused HELO with the host name is retried bare",
       "S: 220 ready\nC: EHLO {host}\nS: 502 no\nC: HELO {host}\nS: 501 bad name\nC: HELO\nS: 250 hi\n" + kEnvelope +
           kData + kQueued,
       ""},
      {"both HELO refused: error, then QUIT",
       "S: 220 ready\nC: EHLO {host}\nS: 502 no\nC: HELO {host}\nS: 501 bad name\nC: HELO\nS: 502 no\n" + kQuit,
       "EServerError: {server} refused the session: 502 no"},
      {"a refused greeting: error, then QUIT", "S: 554 busy\n" + kQuit,
       "EServerError: {server} refused the session: 554 busy"},
      {"recipients in the order Recipients, CC, BCC",
       kGreeting + kEnvelope + Rcpt("r2@example.org") + Rcpt("cc@example.org") + Rcpt("bcc@example.org") + kData +
           kQueued,
       "",
       [](Session& s) {
         s.message.Recipients().AddAddress("r2@example.org", "");
         s.message.BCC().AddAddress("bcc@example.org", "");
         s.message.CC().AddAddress("cc@example.org", "");
       }},
      {"an address in several lists goes once, its domain in any case; a local part's case counts",
       kGreeting + kEnvelope + Rcpt("To@example.org") + kData + kQueued, "",
       [](Session& s) {
         s.message.CC().AddAddress("to@EXAMPLE.org", "");
         s.message.BCC().AddAddress("To@example.org", "");
         s.message.BCC().AddAddress("to@example.org", "");
       }},
      {"refused recipients are skipped when the handler proceeds, each reported with its address",
       kGreeting + kMail + Rcpt("to@example.org", "550 no such user") + Rcpt("ok@example.org") +
           Rcpt("bcc@example.org", "551 not here") + kData + kQueued,
       "",
       [](Session& s) {
         s.message.CC().AddAddress("ok@example.org", "");
         s.message.BCC().AddAddress("bcc@example.org", "");
       },
       {"to@example.org | 550 no such user", "bcc@example.org | 551 not here"}},
      {"without a handler the first refused recipient ends the send, then QUIT",
       kGreeting + kMail + Rcpt("to@example.org", "550 no such user") + kQuit,
       "EServerError: {server} refused the recipient to@example.org: 550 no such user"},
      {"every recipient refused and proceeded: DATA is still sent, its refusal ends the send",
       kGreeting + kMail + Rcpt("to@example.org", "550 no") + "C: DATA\nS: 554 no valid recipients\n" + kQuit,
       "EServerError: {server} refused the message: 554 no valid recipients",
       nullptr,
       {"to@example.org | 550 no"}},
      {"pipelined: a refused recipient ends the send; a DATA taken all the same is closed, never ended empty",
       "S: 220 ready\nC: EHLO {host}\nS: 250-hello\nS: 250 PIPELINING\nC: MAIL FROM:<from@example.org>\n"
       "C: RCPT TO:<to@example.org>\nC: RCPT TO:<cc@example.org>\nC: DATA\nS: 250 ok\nS: 550 no such user\n"
       "S: 250 ok\nS: 354 go\n",
       "EServerError: {server} refused the recipient to@example.org: 550 no such user",
       [](Session& s) { s.message.CC().AddAddress("cc@example.org", ""); }},
      {"DATA answered with class 2 is an error", kGreeting + kEnvelope + "C: DATA\nS: 250 ok\n" + kQuit,
       "EServerError: {server} refused the message: 250 ok"},
      {"a refused text: no OnMailSent, then QUIT", kGreeting + kEnvelope + kData + "S: 554 rejected\n" + kQuit,
       "EServerError: {server} refused the message: 554 rejected"},
      {"a refused QUIT after delivery leaves the send successful",
       kGreeting + kEnvelope + kData + "S: 250 queued\nC: QUIT\nS: 500 what\n", ""},
      {"garbled replies: the handler gets them as received, the error text escaped",
       kGreeting + kMail + Rcpt("to@example.org", "550 \\x1B[2Jgone\\xFF") + "C: DATA\nS: 554 \\x1B]0;x\\x07no\n" +
           kQuit,
       "EServerError: {server} refused the message: 554 \\x1B]0;x\\x07no",
       nullptr,
       {"to@example.org | 550 \x1B[2Jgone\xFF"}},
      {"a server that closes instead of replying", kGreeting + "C: MAIL FROM:<from@example.org>\nclose\n",
       "EServerError: No reply from {server}: it closed the connection"},
      {"commands longer than 255 characters are sent whole",
       kGreeting + "C: MAIL FROM:<" + Long('f') + ">\nS: 250 ok\n" + Rcpt(Long('t')) + kData + kQueued, "",
       [](Session& s) {
         TpxMessage& m = s.message;
         m.Sender().SetAddress(Long('f'));
         m.Recipients().Clear();
         m.Recipients().Items(m.Recipients().Add(std::make_unique<TpxMailAddress>())).SetAddress(Long('t'));
       }},
      {"envelope recipients replace the message's lists",
       kGreeting + kMail + Rcpt("e1@example.org") + Rcpt("e2@example.org") + kData + kQueued, "",
       [](Session& s) {
         s.smtp.EnvelopeRecipients().Add("e1@example.org");
         s.smtp.EnvelopeRecipients().Add("e2@example.org");
       }},
      {"lines that begin with a dot get one more; other dots stay",
       kGreeting + kEnvelope + "C: DATA\nS: 354 go\nC: ..\nC: ..hidden\nC: mid.dot.\nC: ...\nC: .\nS: 250 ok\n" + kQuit,
       "", [](Session& s) { s.message.text = ".\r\n.hidden\r\nmid.dot.\r\n..\r\n"; }},
      {"a text without a final line end gets one before the dot",
       kGreeting + kEnvelope + "C: DATA\nS: 354 go\nC: no end\nC: .\nS: 250 ok\n" + kQuit, "",
       [](Session& s) { s.message.text = "no end"; }},
      {"dots at block boundaries are stuffed",
       kGreeting + kEnvelope + "C: DATA\nS: 354 go\nC: " + boundary.substr(0, block - 3) +
           "\nC: ..\nC: " + std::string(block - 4, 'b') + "\nC: ..y\nC: .\nS: 250 ok\n" + kQuit,
       "", [&boundary](Session& s) { s.message.text = boundary; }},
      {"a text of whole blocks without a final line end",
       kGreeting + kEnvelope + "C: DATA\nS: 354 go\nC: " + std::string(block, 'd') + "\nC: .\nS: 250 ok\n" + kQuit, "",
       [block](Session& s) { s.message.text = std::string(block, 'd'); }},
      {"a failing composer: nothing of the message is sent, then QUIT", kGreeting + kQuit, "EStreamError: disk full",
       [](Session& s) { s.message.failing = true; }},
      {"no recipient address: validation error, then QUIT", kGreeting + kQuit,
       "EMessageError: At least one Recipient, CC or BCC must be entered",
       [](Session& s) { s.message.Recipients().Clear(); }},
      {"no message: usage error, then QUIT", kGreeting + kQuit, "ESocketError: MailMessage property must be assigned",
       [](Session& s) { s.smtp.SetMailMessage(nullptr); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Session session(*this, {c.transcript});
    if (c.setup) c.setup(session);
    std::vector<std::string> rejected;
    if (!c.rejected.empty())
      session.smtp.OnAddressRejected = [&](TComponent*, const std::string& address, const std::string& reply,
                                           bool& proceed) {
        rejected.push_back(address + " | " + reply);
        proceed = true;
      };

    EXPECT_EQ(Raised([&] { session.smtp.Send(); }), WithServer(c.raised, session.server.Address()));
    EXPECT_TRUE(session.server.WaitFinished());
    EXPECT_EQ(session.server.Failures(), "");
    EXPECT_FALSE(session.smtp.Connected());
    EXPECT_EQ(rejected, c.rejected);
    const bool delivered = c.raised.empty();
    EXPECT_EQ(session.mailSent, delivered ? 1 : 0);
    if (delivered) {
      ASSERT_GE(session.progress.size(), 2u);
      EXPECT_EQ(session.progress.back(), std::make_pair(0, 0));
      for (const auto& [perc, transferred] : session.progress) EXPECT_TRUE(perc >= 0 && perc <= 100) << perc;
    }
    // The composed message has no name in the folder, not even while it is sent.
    if (session.tempFilesWhileSending >= 0) {
      EXPECT_EQ(session.tempFilesWhileSending, 0);
    }
    EXPECT_EQ(TempFiles(), 0);
    if (c.check) c.check(session);
  }
}

// Every failure a user can meet says which server it concerns ({server}: the Server property),
// and a refused recipient which address; what the socket library or the server said stays
// inside, unchanged.
TEST_F(SmtpTest, EveryFailureNamesTheServer) {
  const std::string ehlo = "S: 220 ready\nC: EHLO {host}\n";
  const std::string offers = ehlo + "S: 250-hello\n";
  const auto login = [](Session& s) {
    s.smtp.SetSecurity(TpxSecurity::None);  // allowed in the clear to this machine
    s.smtp.SetUserName("user");
    TSecret password;
    password.Text() = "secret";
    s.smtp.SetPassword(std::move(password));
  };
  const auto server = [](const std::string& name) { return [name](Session& s) { s.smtp.SetServer(name); }; };
  const struct {
    const char* name;
    std::string transcript;
    std::string text;
    std::function<void(Session&)> setup = nullptr;
  } cases[] = {
      {"a refused connection", "", "ESocketError: Cannot connect to {server}: Connection refused",
       server(ClosedServer())},
      {"an unknown host", "", "ESocketError: Cannot connect to {server}: Host not found",
       server("no-such-host.invalid:25")},
      {"a reset in the session", ehlo + "reset\n",
       "ESocketError: Lost the connection to {server}: Connection reset by the server"},
      {"a time-out in the session", ehlo, "ETimedOutError: Lost the connection to {server}: Operation timed out",
       [](Session& s) { s.smtp.SetTimeOut(1); }},
      {"a close instead of a reply", ehlo + "close\n",
       "EServerError: No reply from {server}: it closed the connection"},
      {"an overlong line", "S: 220 " + std::string(TnkSocket::kMaxLineLength, 'x') + "\n",
       "ESocketError: {server} sent a line longer than 65536 bytes"},
      {"a refused greeting", "S: 554 5.7.1 go away\n" + kQuit,
       "EServerError: {server} refused the session: 554 5.7.1 go away"},
      {"EHLO refused for now", ehlo + "S: 421 4.3.2 busy\n" + kQuit,
       "EServerError: {server} refused the session: 421 4.3.2 busy"},
      {"a refused sender", kGreeting + "C: MAIL FROM:<from@example.org>\nS: 451 4.3.0 try later\n" + kQuit,
       "EServerError: {server} refused the message: 451 4.3.0 try later"},
      {"a refused recipient", kGreeting + kMail + Rcpt("to@example.org", "550 5.1.1 no such user") + kQuit,
       "EServerError: {server} refused the recipient to@example.org: 550 5.1.1 no such user"},
      {"a refused DATA", kGreeting + kEnvelope + "C: DATA\nS: 554 5.5.1 no\n" + kQuit,
       "EServerError: {server} refused the message: 554 5.5.1 no"},
      {"a refused text", kGreeting + kEnvelope + kData + "S: 552 5.3.4 too big\n" + kQuit,
       "EServerError: {server} refused the message: 552 5.3.4 too big"},
      {"a message over the server's SIZE", offers + "S: 250 SIZE 10\n" + kQuit,
       "EMessageError: The message is " + std::to_string(ComposedText().size()) +
           " bytes; {server} accepts at most 10"},
      {"a refused login", offers + "S: 250 AUTH PLAIN\nC: AUTH PLAIN AHVzZXIAc2VjcmV0\nS: 535 5.7.8 bad credentials\n",
       "ESessionRefused: {server} refused the login: 535 5.7.8 bad credentials", login},
      {"a login refused for now", offers + "S: 250 AUTH PLAIN\nC: AUTH PLAIN AHVzZXIAc2VjcmV0\nS: 454 4.7.0 later\n",
       "ESessionRefused: {server} refused the login: 454 4.7.0 later", login},
      {"no login mechanism in common", offers + "S: 250 AUTH CRAM-MD5\n" + kQuit,
       "EAuthError: Cannot log in to {server}: No login mechanism in common: the server offers \"CRAM-MD5\", not PLAIN "
       "or LOGIN",
       login},
      {"no password", offers + "S: 250 AUTH PLAIN\n" + kQuit,
       "EAuthError: Cannot log in to {server}: no password for user",
       [&login](Session& s) {
         login(s);
         s.smtp.SetPassword(TSecret());
       }},
      {"STARTTLS refused", offers + "S: 250 STARTTLS\nC: STARTTLS\nS: 454 4.7.0 not now\n",
       "ESessionRefused: {server} refused STARTTLS: 454 4.7.0 not now",
       [](Session& s) { s.smtp.SetSecurity(TpxSecurity::StartTLS); }},
      {"a handshake the server breaks off", offers + "S: 250 STARTTLS\nC: STARTTLS\nS: 220 go ahead\nC: x\n",
       "ESocketError: TLS with {server} failed: Connection reset by the server",
       [](Session& s) { s.smtp.SetSecurity(TpxSecurity::StartTLS); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Session session(*this, {c.transcript});
    if (c.setup) c.setup(session);
    EXPECT_EQ(Raised([&] { session.smtp.Send(); }), WithServer(c.text, session.smtp.Server()));
  }
}

// RFC 5321 2.3.8: a command ends at CR LF, so an address holding one would add a command of
// its own. Such an envelope ends the send before a connection is made.
TEST_F(SmtpTest, UnsafeCharactersInTheEnvelopeEndTheSendBeforeConnecting) {
  const struct {
    const char* name;
    std::function<void(TpxSMTP&, TpxMessage&)> setup;
    std::string raised;
  } cases[] = {
      {"a sender with CR LF and a command",
       [](TpxSMTP&, TpxMessage& m) { m.Sender().SetAddress("a@b.c\r\nRCPT TO:<evil@x.y>"); },
       "EMessageError: \"a@b.c\\x0D\\x0ARCPT TO:<evil@x.y>\" is not a mail address: it holds a control character"},
      {"a recipient with a lone LF", [](TpxSMTP&, TpxMessage& m) { m.Recipients().AddAddress("r@x.y\nQUIT", ""); },
       "EMessageError: \"r@x.y\\x0AQUIT\" is not a mail address: it holds a control character"},
      {"a BCC with a NUL", [](TpxSMTP&, TpxMessage& m) { m.BCC().AddAddress(std::string("b@x.y\0z", 7), ""); },
       "EMessageError: \"b@x.y\\x00z\" is not a mail address: it holds a control character"},
      {"an envelope recipient with a tab",
       [](TpxSMTP& smtp, TpxMessage&) { smtp.EnvelopeRecipients().Add("e@x.y\tDATA"); },
       "EMessageError: \"e@x.y\\x09DATA\" is not a mail address: it holds a control character"},
      {"a sender that closes its path to add a parameter",
       [](TpxSMTP&, TpxMessage& m) { m.Sender().SetAddress("a@b.c> SIZE=1"); },
       "EMessageError: \"a@b.c> SIZE=1\" is not a mail address: it holds a blank"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Session session(*this, {kDelivery});
    int opens = 0;
    session.smtp.OnOpen = [&](TComponent*) { ++opens; };
    c.setup(session.smtp, session.message);
    EXPECT_EQ(Raised([&] { session.smtp.Send(); }), c.raised);
    EXPECT_EQ(opens, 0);
    EXPECT_EQ(session.server.Connections(), 0);
    EXPECT_EQ(session.mailSent, 0);
  }
  // A connection opened by the owner beforehand sees no command of the message either.
  Session session(*this, {kGreeting + kQuit});
  session.message.Sender().SetAddress("a@b.c\r\nRCPT TO:<evil@x.y>");
  session.smtp.Connect();
  EXPECT_EQ(Raised([&] { session.smtp.TransmitMessage(); }), cases[0].raised);
  session.smtp.Disconnect();
  EXPECT_TRUE(session.server.WaitFinished());
  EXPECT_EQ(session.server.Failures(), "");
}

// Cancel and time-out close the connection themselves: nothing more is sent, and the server
// would record a QUIT as bytes after its transcript.
TEST_F(SmtpTest, InterruptedSendsCloseWithoutQuit) {
  {
    Session session(*this, {kGreeting + kEnvelope + kData});
    session.smtp.OnProgress = [&](TComponent*, int perc, int transferred) {
      if (perc == 0 && transferred == 0) QTimer::singleShot(50, [&] { session.smtp.Cancel(); });
    };
    EXPECT_EQ(Raised([&] { session.smtp.Send(); }), "ECanceledError: Operation has been canceled");
    EXPECT_EQ(session.mailSent, 0);
    EXPECT_EQ(session.events, std::vector<std::string>{"error: Operation has been canceled"});
    EXPECT_TRUE(session.server.WaitFinished());
    EXPECT_EQ(session.server.Failures(), "");
  }
  {
    Session session(*this, {kGreeting + "C: MAIL FROM:<from@example.org>\n"});
    session.smtp.SetTimeOut(1);
    EXPECT_EQ(Raised([&] { session.smtp.Send(); }),
              "ETimedOutError: Lost the connection to " + session.server.Address() + ": Operation timed out");
    EXPECT_FALSE(session.smtp.Connected());
    EXPECT_EQ(session.server.Failures(), "");
  }
  EXPECT_EQ(TempFiles(), 0);
}

TEST_F(SmtpTest, EachMessageOfABatchHasItsOwnConnection) {
  Session session(*this, {kDelivery});
  session.smtp.Connect();
  for (int i = 0; i < 3; ++i) EXPECT_EQ(Raised([&] { session.smtp.Send(); }), "") << i;
  EXPECT_EQ(session.server.Connections(), 3);
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(session.server.WaitFinished(i)) << i;
  EXPECT_EQ(session.server.Failures(), "");
  EXPECT_EQ(session.mailSent, 3);
}

TEST(SmtpClient, MessageReferenceIsStoredAndClearedWhenTheMessageGoes) {
  TComponent form;
  auto* message = new TpxMessage(&form);
  message->SetName("pxMessage1");
  auto* smtp = new TpxSMTP(&form);
  smtp->SetName("pxSMTP1");
  EXPECT_EQ(smtp->ServiceName(), "smtp");
  EXPECT_EQ(smtp->DefaultPort(), 25);
  smtp->SetMailMessage(message);
  EXPECT_EQ(ComponentToText(*smtp).find("KeepSession"), std::string::npos);
  smtp->SetKeepSession(true);
  const std::string text = ComponentToText(*smtp);
  EXPECT_NE(text.find("DefaultPort = 25"), std::string::npos) << text;

  TpxSMTP read(&form);
  ComponentFromText(text, read);
  EXPECT_EQ(read.MailMessage(), message);
  EXPECT_TRUE(read.KeepSession());
  delete message;
  EXPECT_EQ(smtp->MailMessage(), nullptr);
  EXPECT_EQ(read.MailMessage(), nullptr);
}

// The filter must give the same bytes whatever the block sizes: a dot that opens a line may
// arrive first in a block, or a line end last in one.
TEST(DotStuffer, StuffsLinesThatBeginWithADotAcrossAnyBlocks) {
  const struct {
    const char* name;
    std::string text;
    std::string stuffed;
    bool lineOpen;
  } cases[] = {
      {"text without dots is unchanged", "a\r\nb\r\n", "a\r\nb\r\n", false},
      {"the first line is stuffed too", ".a\r\n", "..a\r\n", false},
      {"a lone dot line", "a\r\n.\r\nb", "a\r\n..\r\nb", true},
      {"dots inside or after a line are left", "a.b.\r\nc.\r\n", "a.b.\r\nc.\r\n", false},
      {"two dots become three", "..\r\n", "...\r\n", false},
      {"a line after a lone LF is stuffed", "a\n.b\n", "a\n..b\n", true},
      {"a lone CR ends no line", "a\r.b\r", "a\r.b\r", true},
      {"an empty text needs no line end", "", "", false},
      {"a text of one line end", "\r\n", "\r\n", false},
  };
  for (const auto& c : cases) {
    for (size_t chunk : {size_t{1}, size_t{2}, size_t{3}, size_t{1000}}) {
      SCOPED_TRACE(std::string(c.name) + ", blocks of " + std::to_string(chunk));
      TDotStuffer stuffer;
      std::string out;
      for (size_t at = 0; at < c.text.size(); at += chunk)
        stuffer.Stuff(std::string_view(c.text).substr(at, chunk), out);
      EXPECT_EQ(out, c.stuffed);
      EXPECT_EQ(stuffer.LineOpen(), c.lineOpen);
    }
  }
}

}  // namespace
