// Security names and pinned fingerprints as users type them.
#include "net/pxsecurity.h"

#include <gtest/gtest.h>

#include <string>

namespace {

constexpr char kPin[] =
    "AB:CD:EF:01:23:45:67:89:AB:CD:EF:01:23:45:67:89:AB:CD:EF:01:23:45:67:89:AB:CD:EF:01:23:45:67:89";

TEST(Security, NamesInAnyCase) {
  const struct {
    const char* text;
    bool known;
    TpxSecurity security;
  } cases[] = {
      {"auto", true, TpxSecurity::Auto},
      {"STARTTLS", true, TpxSecurity::StartTLS},
      {"StartTls", true, TpxSecurity::StartTLS},
      {"tls", true, TpxSecurity::TLS},
      {"None", true, TpxSecurity::None},
      {"ssl", false, TpxSecurity::Auto},
      {"", false, TpxSecurity::Auto},
      {"tls ", false, TpxSecurity::Auto},
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

}  // namespace
