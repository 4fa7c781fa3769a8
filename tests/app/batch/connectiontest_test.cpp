// The connection test against a real server (aiosmtpd) with STARTTLS and a login: what it says of
// each step, that nothing is sent, and that the password is never in its text.
#include "app/batch/connectiontest.h"

#include <gtest/gtest.h>

#include <string>

#include "support/smtp_capture.h"
#include "support/tls_peer.h"

namespace {

constexpr char kUser[] = "ann@example.org";
constexpr char kPassword[] = "Correct-Horse-7";

class PumpCount : public TBatchHost {
 public:
  void ProcessMessages() override { ++pumps; }
  void CloseApplication() override {}
  int pumps = 0;
};

TEST(ConnectionTest, TellsEachStepAndSendsNothing) {
  SmtpCapture::Options options;
  options.cert = "good";
  options.auth = std::string(kUser) + ":" + kPassword;
  SmtpCapture server(options);
  const std::string address = "localhost:" + std::to_string(server.Port());
  const std::string opened = "Connected to " + address +
                             " (127.0.0.1).\n"
                             "Secured with TLS (STARTTLS); the certificate was checked for localhost.\n";
  const struct {
    const char* name;
    std::string password;
    bool ok;
    std::string text;
  } cases[] = {
      {"every step goes well", kPassword, true,
       opened + "Logged in as ann@example.org (PLAIN).\nThe server takes messages up to 33.6 MB.\n"
                "The server offers 8BITMIME.\nSaid goodbye."},
      {"a wrong password ends it with the server's refusal", "not-the-password", false,
       opened + address + " refused the login: 535 5.7.8 Authentication credentials invalid"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TAccount account;
    account.security = TpxSecurity::StartTLS;
    account.user = kUser;
    account.caFile = TestCerts::Get().Pem("ca");
    PumpCount host;
    const TConnectionTestResult result = TestConnection(address, account, TSecret(c.password), host);
    EXPECT_EQ(result.ok, c.ok);
    EXPECT_EQ(result.text, c.text);
    EXPECT_EQ(result.text.find(c.password), std::string::npos);
    EXPECT_GT(host.pumps, 0);
  }
  EXPECT_EQ(server.Count(), 0);
  EXPECT_EQ(server.Transcript().find("MAIL FROM"), std::string::npos) << server.Transcript();
}

}  // namespace
