// How the SMTP client's failures are sorted: each case makes the client fail for real against a
// scripted server, so the sorting its errors carry from where they were raised is checked.
#include "net/smtpfailure.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "net/pxsmtp.h"
#include "support/scripted_server.h"
#include "support/smtp_transcript.h"

namespace {

const std::string kMailFrom = "C: MAIL FROM:<from@example.org>\n";

TEST(SmtpFailureTest, FailuresAreSortedByScopeAndKind) {
  using S = TFailureScope;
  using K = TFailureKind;
  using O = TSessionOutcome;
  const std::string closedServer = ClosedServer();
  const auto login = [](TpxSMTP& smtp) {
    smtp.SetSecurity(TpxSecurity::None);  // allowed in the clear to this machine
    smtp.SetUserName("user");
    TSecret password;
    password.Text() = "secret";
    smtp.SetPassword(std::move(password));
  };
  const std::string offersAuth = "S: 220 ready\nC: EHLO {host}\nS: 250-hello\nS: 250 AUTH PLAIN\n"
                                 "C: AUTH PLAIN AHVzZXIAc2VjcmV0\n";
  const struct {
    const char* name;
    std::string transcript;
    S scope;
    K kind;
    O session;
    std::function<void(TpxSMTP&)> setup = nullptr;
  } cases[] = {
      {"451 to MAIL FROM", kGreeting + kMailFrom + "S: 451 4.3.0 try later\n" + kQuit, S::Message, K::Transient,
       O::Usable},
      {"452 to DATA", kGreeting + kEnvelope + "C: DATA\nS: 452 full\n" + kQuit, S::Message, K::Transient, O::Usable},
      {"554 to the text", kGreeting + kEnvelope + kData + "S: 554 rejected\n" + kQuit, S::Message, K::Permanent,
       O::Usable},
      {"550 to RCPT TO", kGreeting + kMail + Rcpt("to@example.org", "550 no such user") + kQuit, S::Recipient,
       K::Permanent, O::Usable},
      {"a message over the server's SIZE", "S: 220 ready\nC: EHLO {host}\nS: 250-hello\nS: 250 SIZE 10\n" + kQuit,
       S::Message, K::Permanent, O::Usable},
      {"554 greeting", "S: 554 go away\n" + kQuit, S::Session, K::Permanent, O::Usable},
      {"421 to MAIL FROM ends the session", kGreeting + kMailFrom + "S: 421 closing\nclose\n", S::Session,
       K::Transient, O::Ended},
      {"a close instead of a reply", kGreeting + kMailFrom + "close\n", S::Session, K::Transient, O::Ended},
      {"a reset", kGreeting + kMailFrom + "reset\n", S::Session, K::Transient, O::Lost},
      {"lost after the end of the text", kGreeting + kEnvelope + kData + "close\n", S::Message, K::Uncertain,
       O::Dropped},
      {"silent after the end of the text", kGreeting + kEnvelope + kData, S::Message, K::Uncertain, O::Dropped,
       [](TpxSMTP& smtp) { smtp.SetTimeOut(1); }},
      {"a refused connection", "", S::Session, K::Transient, O::Lost,
       [&](TpxSMTP& smtp) { smtp.SetServer(closedServer); }},
      {"a time-out", "S: 220 ready\nC: EHLO {host}\n", S::Session, K::Transient, O::Dropped,
       [](TpxSMTP& smtp) { smtp.SetTimeOut(1); }},
      {"535 to AUTH", offersAuth + "S: 535 5.7.8 bad credentials\n", S::Session, K::Permanent, O::Dropped, login},
      {"454 to AUTH is not retried either: a retried login locks accounts",
       offersAuth + "S: 454 4.7.0 try later\n", S::Session, K::Permanent, O::Dropped, login},
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
    }
    EXPECT_TRUE(raised);
  }
}

}  // namespace
