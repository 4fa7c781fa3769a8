// The SMTP client's account properties in a component stream.
#include "net/smtpaccount.h"

#include <gtest/gtest.h>

#include <string>

#include "net/pxsmtp.h"
#include "support/checks.h"
#include "toolkit/componentstream.h"

namespace {

constexpr char kPin[] =
    "AB:CD:EF:01:23:45:67:89:AB:CD:EF:01:23:45:67:89:AB:CD:EF:01:23:45:67:89:AB:CD:EF:01:23:45:67:89";

// The account streams like the server does, defaults left out; the password and the token
// source are never written.
TEST(Security, SmtpAccountPropertiesStreamWithoutThePassword) {
  TpxSMTP smtp;
  smtp.SetName("pxSMTP1");
  const std::string defaults = ComponentToText(smtp);
  EXPECT_EQ(defaults.find("Security"), std::string::npos) << defaults;
  smtp.SetSecurity(TpxSecurity::StartTLS);
  smtp.SetUserName("ann");
  smtp.SetAuthMethod(TAuthMethod::Login);
  smtp.SetCAFile("/etc/ca.pem");
  smtp.SetFingerprint(std::string(kPin).substr(0, 2) + std::string(kPin).substr(3));
  smtp.SetPassword(TSecret("Tr0ub4dor-stream-31337"));
  smtp.SetTokenSource([](bool) { return TSecret("token"); });
  const std::string text = ComponentToText(smtp);
  EXPECT_NE(text.find("  Security = STARTTLS\n  UserName = \"ann\"\n  AuthMethod = LOGIN\n"
                      "  CAFile = \"/etc/ca.pem\"\n  Fingerprint = \"" +
                      std::string(kPin) + "\"\n"),
            std::string::npos)
      << text;
  EXPECT_EQ(text.find("Tr0ub4dor"), std::string::npos);

  TpxSMTP read;
  ComponentFromText(text, read);
  EXPECT_EQ(read.Security(), TpxSecurity::StartTLS);
  EXPECT_EQ(read.UserName(), "ann");
  EXPECT_EQ(read.AuthMethod(), TAuthMethod::Login);
  EXPECT_EQ(read.CAFile(), "/etc/ca.pem");
  EXPECT_EQ(read.Fingerprint(), kPin);
  EXPECT_TRUE(read.Password().empty());

  const struct {
    const char* line;
    const char* error;
  } bad[] = {
      {"Security = SSL", "Invalid value SSL for property Security"},
      {"AuthMethod = CRAM", "Invalid value CRAM for property AuthMethod"},
      {"Fingerprint = \"AB:CD\"", "is no SHA-256 fingerprint"},
  };
  for (const auto& b : bad) {
    TpxSMTP target;
    const std::string error =
        Raised([&] { ComponentFromText(std::string("object x: TpxSMTP\n  ") + b.line + "\nend\n", target); });
    EXPECT_NE(error.find(b.error), std::string::npos) << error;
    EXPECT_TRUE(target.Fingerprint().empty()) << b.line;
  }
}

}  // namespace
