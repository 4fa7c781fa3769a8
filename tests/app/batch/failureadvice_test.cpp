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

void LogInWithToken(TpxSMTP& smtp) {
  LogIn(smtp);
  smtp.SetAuthMethod(TAuthMethod::XOAuth2);
  smtp.SetTokenSource([](bool renew) { return TSecret(renew ? "new" : "old"); });
}

TEST_F(SmtpTest, EachFailureGetsItsAdvice) {
  const TlsPeer starttlsPort("good", {"--starttls"});
  const TlsPeer tlsPort("good");
  const std::string mailFrom = "C: MAIL FROM:<from@example.org>\n";
  const std::string loggedIn =
      "S: 220 ready\nC: EHLO {host}\nS: 250-hello\nS: 250 AUTH PLAIN\nC: AUTH PLAIN AHVzZXIAc2VjcmV0\nS: 235 ok\n";
  const std::string offers = "S: 220 ready\nC: EHLO {host}\nS: 250-hello\nS: 250 AUTH PLAIN XOAUTH2\n";
  const std::string password = offers + "C: AUTH PLAIN AHVzZXIAc2VjcmV0\nS: ";
  const auto twoTokens = [&](const std::string& reply) {
    return offers + "C: AUTH XOAUTH2 dXNlcj11c2VyAWF1dGg9QmVhcmVyIG9sZAEB\nS: " + reply +
           "\nC: AUTH XOAUTH2 dXNlcj11c2VyAWF1dGg9QmVhcmVyIG5ldwEB\nS: " + reply + "\n";
  };
  const std::string noPasswordLogin =
      "the provider has switched off password logins: sign in with OAuth 2 (Authentication: OAuth2, then Sign in… in "
      "Account…; or mailcart-send --auth oauth2 --sign-in), or the tenant's administrator has disabled SMTP AUTH";
  const std::string signInAgain =
      "the sign-in must be renewed: the access token was refused, also after a renewal; sign in again (Sign in… in "
      "Account…, or mailcart-send --sign-in), or mend the token command if one gives the token";
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
      {"5.7.1 without the words of a sending limit: no advice",
       kGreeting + mailFrom + "S: 550 5.7.1 Message rejected as spam\n" + kQuit, nullptr, ""},
      {"relaying denied after a login: no advice",
       loggedIn + kMail + Rcpt("to@example.org", "554 5.7.1 Relay access denied") + kQuit, LogIn, ""},
      {"530 that asks for STARTTLS: no login advice",
       kGreeting + mailFrom + "S: 530 5.7.0 Must issue a STARTTLS command first\n" + kQuit, nullptr, ""},
      {"password logins switched off", password + "535 5.7.139 Authentication unsuccessful, basic auth disabled\n",
       LogIn, noPasswordLogin},
      {"password logins not supported", password + "550 5.7.30 Basic authentication is not supported\n", LogIn,
       noPasswordLogin},
      {"an app password wanted", password + "534 5.7.9 Application-specific password required\n", LogIn,
       "the provider wants more than the account's password: use OAuth 2 (Authentication: OAuth2) or an app "
       "password"},
      {"a token refused also after its renewal", twoTokens("535 5.7.8 Username and Password not accepted"),
       LogInWithToken, signInAgain},
      {"a token refused with 5.7.3 also after its renewal", twoTokens("535 5.7.3 Authentication unsuccessful"),
       LogInWithToken, signInAgain},
      {"a wrong password: no advice to sign in", password + "535 5.7.8 bad credentials\n", LogIn, ""},
      {"too many logins", password + "454 4.7.0 Too many login attempts, please try again later.\n", LogIn,
       "the provider refuses logins for a while after too many of them: try again in an hour at the earliest, "
       "since each login tried meanwhile may lengthen the lock"},
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
