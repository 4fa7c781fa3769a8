// The advice after failures made for real by the SMTP client, so that the table reads what the
// network layer stamps.
#include "app/batch/failureadvice.h"

#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <string>

#include "mail/pxmsg.h"
#include "support/smtp_transcript.h"
#include "support/tls_peer.h"

namespace {

const std::string kWantsLogin = "the server wants a login: set a user name (Account…, --user)";

void LogIn(TpxSMTP& smtp) {
  smtp.SetSecurity(TpxSecurity::None);  // allowed in the clear to this machine
  smtp.SetUserName("user");
  smtp.SetPassword(TSecret("secret"));
}

TEST_F(SmtpTest, EachFailureGetsItsAdvice) {
  const TlsPeer starttlsPort("good", {"--starttls"});
  const TlsPeer tlsPort("good");
  const std::string mailFrom = "C: MAIL FROM:<from@example.org>\n";
  const std::string loggedIn =
      "S: 220 ready\nC: EHLO {host}\nS: 250-hello\nS: 250 AUTH PLAIN\nC: AUTH PLAIN AHVzZXIAc2VjcmV0\nS: 235 ok\n";
  const struct {
    const char* name;
    std::string transcript;
    std::function<void(TpxSMTP&)> setup;
    std::string advice;
  } cases[] = {
      {"TLS from the first byte to a port for STARTTLS", "",
       [&](TpxSMTP& smtp) {
         smtp.SetServer(starttlsPort.Address());
         smtp.SetSecurity(TpxSecurity::TLS);
       },
       "this port expects STARTTLS: choose Security STARTTLS (--security starttls), or port 465 for TLS"},
      {"a login offered only after STARTTLS, in the clear",
       "S: 220 ready\nC: EHLO {host}\nS: 250-hello\nS: 250 STARTTLS\n" + kQuit, LogIn,
       "the server offers login only over TLS: choose Security STARTTLS"},
      {"530 to MAIL FROM without a login", kGreeting + mailFrom + "S: 530 5.7.0 Authentication required\n" + kQuit,
       nullptr, kWantsLogin},
      {"530 to RCPT TO without a login",
       kGreeting + kMail + Rcpt("to@example.org", "530 5.7.0 Authentication required") + kQuit, nullptr, kWantsLogin},
      {"relaying denied without a login",
       kGreeting + kMail + Rcpt("to@example.org", "554 5.7.1 <to@example.org>: Relay access denied") + kQuit, nullptr,
       kWantsLogin},
      {"relaying denied after a login: no advice",
       loggedIn + kMail + Rcpt("to@example.org", "554 5.7.1 Relay access denied") + kQuit, LogIn, ""},
      {"530 that asks for STARTTLS: no login advice",
       kGreeting + mailFrom + "S: 530 5.7.0 Must issue a STARTTLS command first\n" + kQuit, nullptr, ""},
      {"a pinned certificate that changed", "",
       [&](TpxSMTP& smtp) {
         smtp.SetServer(tlsPort.Address());
         smtp.SetSecurity(TpxSecurity::TLS);
         smtp.SetFingerprint(TestCerts::Get().Fingerprint("selfsigned"));
       },
       "the certificate changed since it was pinned; if the provider announced a new certificate, pin it again"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Session session(*this, {c.transcript});
    if (c.setup) c.setup(session.smtp);
    try {
      session.smtp.Send();
      ADD_FAILURE() << "no failure";
    } catch (const std::exception& e) {
      EXPECT_EQ(Advice(e), c.advice) << e.what();
      EXPECT_EQ(AdvisedText(e), c.advice.empty() ? e.what() : e.what() + ("\n" + c.advice));
    }
    EXPECT_EQ(session.server.Failures(), "") << "the failure is the one the transcript makes";
  }
  EXPECT_EQ(AdvisedText(std::runtime_error("wrong version number")), "wrong version number")
      << "a row for a step fits no error that was not raised in a session";
}

}  // namespace
