// Security names and pinned fingerprints as users type them, and the SMTP client's account
// properties in a component stream.
#include "net/pxsecurity.h"

#include <gtest/gtest.h>

#include <string>

#include "net/pxsmtp.h"
#include "support/checks.h"
#include "toolkit/componentstream.h"

namespace {

constexpr char kPin[] =
    "AB:CD:EF:01:23:45:67:89:AB:CD:EF:01:23:45:67:89:AB:CD:EF:01:23:45:67:89:AB:CD:EF:01:23:45:67:89";

TEST(Security, NamesInAnyCase) {
  const struct {
    const char* text;
    bool known;
    TpxSecurity security;
  } cases[] = {
      {"auto", true, TpxSecurity::Auto},       {"STARTTLS", true, TpxSecurity::StartTLS},
      {"StartTls", true, TpxSecurity::StartTLS}, {"tls", true, TpxSecurity::TLS},
      {"None", true, TpxSecurity::None},       {"ssl", false, TpxSecurity::Auto},
      {"", false, TpxSecurity::Auto},          {"tls ", false, TpxSecurity::Auto},
  };
  for (const auto& c : cases) {
    TpxSecurity security = TpxSecurity::Auto;
    EXPECT_EQ(ParseSecurity(c.text, security), c.known) << c.text;
    EXPECT_EQ(security, c.security) << c.text;
    if (c.known) {
      TpxSecurity again = TpxSecurity::Auto;
      EXPECT_TRUE(ParseSecurity(SecurityName(security), again) && again == security) << "its name reads back";
    }
  }
}

TEST(Security, FingerprintsAreNormalisedOrRefused) {
  const std::string digits = "abcdef0123456789abcdef0123456789abcdef0123456789abcdef0123456789";
  const struct {
    const char* name;
    std::string text;
    const char* normalised;  // nullptr: refused
  } cases[] = {
      {"as openssl prints it", kPin, kPin},
      {"lower case without colons", digits, kPin},
      {"blanks around it", "  " + digits + "\n", kPin},
      {"colons anywhere", "abcd:ef01:2345:6789:" + digits.substr(16), kPin},
      {"empty: no pin", "", ""},
      {"63 digits", digits.substr(1), nullptr},
      {"65 digits", digits + "0", nullptr},
      {"a SHA-1 fingerprint", digits.substr(0, 40), nullptr},
      {"a letter that is not hex", digits.substr(1) + "g", nullptr},
      {"a blank inside", digits.substr(0, 32) + " " + digits.substr(32), nullptr},
      {"colons alone", ":::", nullptr},
  };
  for (const auto& c : cases) {
    std::string normalised = "unchanged";
    const bool ok = NormaliseFingerprint(c.text, normalised);
    EXPECT_EQ(ok, c.normalised != nullptr) << c.name;
    EXPECT_EQ(normalised, c.normalised ? c.normalised : "unchanged") << c.name;
  }
}

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
  smtp.SetTokenSource([] { return TSecret("token"); });
  const std::string text = ComponentToText(smtp);
  EXPECT_NE(text.find("  Security = STARTTLS\n  UserName = \"ann\"\n  AuthMethod = LOGIN\n"
                      "  CAFile = \"/etc/ca.pem\"\n  Fingerprint = \"" + std::string(kPin) + "\"\n"),
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
    const std::string error = Raised([&] { ComponentFromText(std::string("object x: TpxSMTP\n  ") + b.line + "\nend\n", target); });
    EXPECT_NE(error.find(b.error), std::string::npos) << error;
    EXPECT_TRUE(target.Fingerprint().empty()) << b.line;
  }
}

}  // namespace
