// The connection test against a real server (aiosmtpd) with STARTTLS and a login.
#include "app/batch/connectiontest.h"

#include <gtest/gtest.h>

#include <string>

#include "support/recording_frontend.h"
#include "support/smtp_capture.h"
#include "support/tls_peer.h"

namespace {

TEST(ConnectionTest, TellsEachStepSendsNothingAndNeverThePassword) {
  SmtpCapture::Options options;
  options.cert = "good";
  options.auth = "ann@example.org:Correct-Horse-7";
  options.token = "ann@example.org:t0ken-from-sign-in";
  SmtpCapture server(options);
  const std::string address = "localhost:" + std::to_string(server.Port());
  const std::string opened = "Connected to " + address +
                             " (127.0.0.1).\nSecured with TLS (STARTTLS); the certificate was checked for localhost.\n";
  const struct {
    const char* name;
    TAuthMethod method;
    std::string password;  // for a bearer account, the sign-in's token
    bool ok;
    std::string text;
  } cases[] = {
      {"every step goes well", TAuthMethod::Auto, "Correct-Horse-7", true,
       opened + "Logged in as ann@example.org (PLAIN).\nThe server takes messages up to 33.6 MB.\n"
                "The server offers 8BITMIME.\nSaid goodbye."},
      {"a bearer account logs in with the sign-in's token", TAuthMethod::OAuthBearer, "t0ken-from-sign-in", true,
       opened + "Logged in as ann@example.org (OAUTHBEARER).\nThe server takes messages up to 33.6 MB.\n"
                "The server offers 8BITMIME.\nSaid goodbye."},
      {"a wrong password ends it with the server's refusal", TAuthMethod::Auto, "not-the-password", false,
       opened + address + " refused the login: 535 5.7.8 Authentication credentials invalid"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TAccount account;
    account.security = TpxSecurity::StartTLS;
    account.user = "ann@example.org";
    account.authMethod = c.method;
    account.caFile = TestCerts::Get().Pem("ca");
    RecordingFrontEnd host;
    const auto signIn = [&c](bool) { return TSecret(c.password); };
    const TConnectionTestResult result = TestConnection(address, account, TSecret(c.password), host, signIn);
    EXPECT_EQ(result.ok, c.ok);
    EXPECT_EQ(result.text, c.text);
    EXPECT_EQ(result.text.find(c.password), std::string::npos);
  }
  EXPECT_EQ(server.Count(), 0);
}

}  // namespace
