// How the SMTP client's failures are sorted: each case makes the client fail for real against a
// scripted server, so the sorting its errors carry from where they were raised is checked.
#include "net/smtpfailure.h"

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <stdexcept>
#include <string>

#include "mail/pxmsg.h"
#include "net/nktls.h"
#include "net/pxsmtp.h"
#include "platform/winsock.h"
#include "support/scripted_server.h"
#include "support/smtp_transcript.h"

namespace {

const std::string kMailFrom = "C: MAIL FROM:<from@example.org>\n";

// Each also carries where the dialogue stood: the step and the reply (the advice's test has a
// failure after a login).
TEST(SmtpFailureTest, FailuresAreSortedByScopeAndKind) {
  using S = TFailureScope;
  using K = TFailureKind;
  using O = TSessionOutcome;
  using P = TSmtpStep;
  const std::string closedServer = ClosedServer();
  const auto login = [](TpxSMTP& smtp) {
    smtp.SetSecurity(TpxSecurity::None);  // allowed in the clear to this machine
    smtp.SetUserName("user");
    TSecret password;
    password.Text() = "secret";
    smtp.SetPassword(std::move(password));
  };
  const std::string offersAuth =
      "S: 220 ready\nC: EHLO {host}\nS: 250-hello\nS: 250 AUTH PLAIN\n"
      "C: AUTH PLAIN AHVzZXIAc2VjcmV0\n";
  const struct {
    const char* name;
    std::string transcript;
    S scope;
    K kind;
    O session;
    std::optional<P> step;  // nothing: no network failure
    int reply;
    std::function<void(TpxSMTP&)> setup = nullptr;
  } cases[] = {
      {"451 to MAIL FROM", kGreeting + kMailFrom + "S: 451 4.3.0 try later\n" + kQuit, S::Message, K::Transient,
       O::Usable, P::Mail, 451},
      {"452 to DATA", kGreeting + kEnvelope + "C: DATA\nS: 452 full\n" + kQuit, S::Message, K::Transient, O::Usable,
       P::Data, 452},
      {"554 to the text", kGreeting + kEnvelope + kData + "S: 554 rejected\n" + kQuit, S::Message, K::Permanent,
       O::Usable, P::Data, 554},
      {"550 to RCPT TO", kGreeting + kMail + Rcpt("to@example.org", "550 no such user") + kQuit, S::Recipient,
       K::Permanent, O::Usable, P::Rcpt, 550},
      {"a message over the server's SIZE", "S: 220 ready\nC: EHLO {host}\nS: 250-hello\nS: 250 SIZE 10\n" + kQuit,
       S::Message, K::Permanent, O::Usable, std::nullopt, 0},
      {"554 greeting", "S: 554 go away\n" + kQuit, S::Session, K::Permanent, O::Usable, P::Greeting, 554},
      {"421 to MAIL FROM ends the session", kGreeting + kMailFrom + "S: 421 closing\nclose\n", S::Session, K::Transient,
       O::Ended, P::Mail, 421},
      {"a close instead of a reply", kGreeting + kMailFrom + "close\n", S::Session, K::Transient, O::Ended, P::Mail, 0},
      {"a reset", kGreeting + kMailFrom + "reset\n", S::Session, K::Transient, O::Lost, P::Mail, 0},
      {"lost after the end of the text", kGreeting + kEnvelope + kData + "close\n", S::Message, K::Uncertain,
       O::Dropped, P::Data, 0},
      {"silent after the end of the text", kGreeting + kEnvelope + kData, S::Message, K::Uncertain, O::Dropped, P::Data,
       0, [](TpxSMTP& smtp) { smtp.SetTimeOut(1); }},
      {"a refused connection", "", S::Session, K::Transient, O::Lost, P::Connect, 0,
       [&](TpxSMTP& smtp) { smtp.SetServer(closedServer); }},
      {"a time-out", "S: 220 ready\nC: EHLO {host}\n", S::Session, K::Transient, O::Dropped, P::Ehlo, 0,
       [](TpxSMTP& smtp) { smtp.SetTimeOut(1); }},
      {"535 to AUTH", offersAuth + "S: 535 5.7.8 bad credentials\n", S::Session, K::Permanent, O::Dropped, P::Auth, 535,
       login},
      {"454 to AUTH is not retried either: a retried login locks accounts", offersAuth + "S: 454 4.7.0 try later\n",
       S::Session, K::Permanent, O::Dropped, P::Auth, 454, login},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedServer server(WithHost({c.transcript}));
    FixedMessage message;
    message.Sender().SetAddress("from@example.org");
    message.Recipients().AddAddress("to@example.org", "");
    TpxSMTP smtp;
    smtp.SetWinsockLoaded(true);
    smtp.SetTimeOut(10);
    smtp.SetServer(server.Address());
    smtp.SetMailMessage(&message);
    if (c.setup) c.setup(smtp);
    bool raised = false;
    try {
      smtp.Send();
    } catch (const std::exception& e) {
      raised = true;
      const TSmtpFailure failure = ClassifyFailure(e);
      EXPECT_EQ(failure.scope, c.scope) << e.what();
      EXPECT_EQ(failure.kind, c.kind) << e.what();
      EXPECT_EQ(failure.session, c.session) << e.what();
      const auto* net = dynamic_cast<const ENetFailure*>(&e);
      const std::optional<TSmtpPlace> place = net != nullptr ? net->Place() : std::nullopt;
      EXPECT_EQ(place.has_value(), c.step.has_value()) << e.what();
      if (!place || !c.step) continue;
      EXPECT_EQ(place->step, *c.step) << e.what();
      EXPECT_FALSE(place->loggedIn) << e.what();
      EXPECT_EQ(net->ReplyCode(), c.reply) << e.what();
    }
    EXPECT_TRUE(raised);
  }
}

// Errors the batch meets outside a dialogue: those raised by the program itself with the
// library's classes, and the toolkit's and the message's, which carry no sorting of their own.
TEST(SmtpFailureTest, ErrorsRaisedElsewhereAreSortedAsBefore) {
  using S = TFailureScope;
  using K = TFailureKind;
  using O = TSessionOutcome;
  const struct {
    const char* name;
    std::function<void()> raise;
    S scope;
    K kind;
    O session;
    bool unreachable = false;
  } cases[] = {
      {"a mailer's temporary failure", [] { throw EServerError("x", 451, TSmtpStage::Message); }, S::Message,
       K::Transient, O::Usable},
      {"a mailer that cannot start", [] { throw ESocketError("x"); }, S::Session, K::Permanent, O::Lost},
      {"a refused connection", [] { throw ESocketError("x", WSAECONNREFUSED); }, S::Session, K::Transient, O::Lost,
       true},
      {"a certificate refused: a socket error, never retried", [] { throw ETlsError("x"); }, S::Session, K::Permanent,
       O::Dropped},
      {"a file that cannot be read", [] { throw EInOutError("x"); }, S::Message, K::Permanent, O::Dropped},
      {"a composer that cannot write", [] { throw EFCreateError("x"); }, S::Message, K::Permanent, O::Usable},
      {"a message that cannot be built", [] { throw EMessageError("x"); }, S::Message, K::Permanent, O::Usable},
      {"anything unknown", [] { throw std::runtime_error("x"); }, S::Session, K::Permanent, O::Dropped},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    try {
      c.raise();
    } catch (const std::exception& e) {
      const TSmtpFailure failure = ClassifyFailure(e);
      EXPECT_EQ(failure.scope, c.scope);
      EXPECT_EQ(failure.kind, c.kind);
      EXPECT_EQ(failure.session, c.session);
      EXPECT_EQ(failure.unreachable, c.unreachable);
    }
  }
}

}  // namespace
