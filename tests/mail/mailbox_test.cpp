#include "mail/mailbox.h"

#include <gtest/gtest.h>

#include <string>

#include "mail/pxmsg.h"

namespace {

TEST(MailboxTest, OnlyAPlainMailboxPasses) {
  const std::string local64(64, 'l'), label63(63, 'd');
  const char* const kDots = "the part before the @ starts or ends with a dot, or holds two dots in a row";
  const char* const kQuoteOpen = "the quoted part before the @ is not closed right before the @";
  // 254 characters, the most a path of 256 leaves for the address.
  const std::string longest = local64 + "@" + label63 + "." + label63 + "." + std::string(61, 'e');
  const struct {
    const char* what;
    std::string address;
    const char* reason;  // empty: the address passes
  } cases[] = {
      {"plain", "jane@example.com", ""},
      {"a plus tag and dots", "jane.doe+reports@mail.example.co.uk", ""},
      {"atom characters", "o'neil!#$%&*/=?^_`{|}~-@x.example", ""},
      {"a quoted local part with an @ and an escaped quote", "\"j@ne\\\"s\"@example.com", ""},
      {"an IPv4 literal", "postmaster@[192.0.2.1]", ""},
      {"an IPv6 literal", "postmaster@[IPv6:2001:db8::1]", ""},
      {"the longest address", longest, ""},
      {"a local part beyond 64, as forwarding makes them", "l" + local64 + "@example.com", ""},
      {"empty", "", "it is empty"},
      {"no @", "jane.example.com", "it holds no @"},
      {"two @", "jane@corp@example.com", "it holds more than one @"},
      {"a blank", "a b@example.com", "it holds a blank"},
      {"a blank in quotes", "\"jane doe\"@example.com", "it holds a blank"},
      {"a comma", "a@x.example,b@y.example", "it holds a comma"},
      {"a second path", "a@x.example>,<evil@y.example", "it holds a comma"},
      {"an angle bracket", "a@x.example>", "it holds an angle bracket"},
      {"a line break", "a@x.example\r\nRCPT TO:<evil@y.example>", "it holds a control character"},
      {"non-ASCII", "j\xc3\xa4ne@example.com", "it holds characters other than ASCII"},
      {"nothing before the @", "@example.com", "nothing comes before the @"},
      {"nothing after the @", "jane@", "nothing comes after the @"},
      {"a leading dot", ".jane@example.com", kDots},
      {"two dots in a row", "ja..ne@example.com", kDots},
      {"a special unquoted", "ja(ne)@example.com",
       "the part before the @ holds a character it may hold only in quotes"},
      {"an unclosed quote", "\"jane@example.com", kQuoteOpen},
      {"text after the quotes", "\"ja\"ne@example.com", kQuoteOpen},
      {"an empty label", "jane@example..com", "the domain starts or ends with a dot, or holds two dots in a row"},
      {"a leading hyphen", "jane@-example.com", "a part of the domain starts or ends with a hyphen"},
      {"an underscore in the domain", "jane@ex_ample.com",
       "the domain holds a character other than letters, digits, hyphens and dots"},
      {"a bad IPv4 literal", "jane@[192.0.2.256]", "the address in [] is neither IPv4 nor IPv6"},
      {"a label of 64", "jane@d" + label63 + ".example", "a part of the domain is longer than 63 characters"},
      {"an address of 255", "l" + longest.substr(1) + "e", "it is longer than 254 characters"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string problem = MailboxProblem(c.address);
    if (*c.reason == '\0') {
      EXPECT_EQ(problem, "");
      EXPECT_NO_THROW(CheckMailbox(c.address));
      continue;
    }
    EXPECT_TRUE(problem.ends_with(std::string(" is not a mail address: ") + c.reason)) << problem;
    EXPECT_THROW(CheckMailbox(c.address), EMessageError);
  }
  // The address is shown so that no control character reaches the terminal.
  EXPECT_EQ(MailboxProblem("a\x1b[2J@x.example"),
            "\"a\\x1B[2J@x.example\" is not a mail address: it holds a control character");
  try {
    CheckMailbox("a b");
    FAIL() << "no exception";
  } catch (const EMessageError& e) {
    EXPECT_EQ(e.Message(), "\"a b\" is not a mail address: it holds a blank");
  }
}

}  // namespace
