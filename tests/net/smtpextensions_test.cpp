// The extension list of an EHLO reply, as servers of different kinds write it.
#include "net/smtpextensions.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Words = std::vector<std::string>;

TEST(SmtpExtensions, ReadsTheListOfAnEhloReply) {
  const struct {
    const char* name;
    std::vector<std::string> lines;
    std::string asked;
    bool supported;
    Words parameters;
    uint64_t sizeLimit;
  } cases[] = {
      {"a keyword without parameters", {"250-mx hello", "250 PIPELINING"}, "PIPELINING", true, {}, 0},
      {"names are asked without regard to case", {"250-mx", "250 8bitmime"}, "8BITMIME", true, {}, 0},
      {"AUTH with its mechanisms in order",
       {"250-mx", "250-AUTH PLAIN LOGIN XOAUTH2", "250 HELP"},
       "auth",
       true,
       {"PLAIN", "LOGIN", "XOAUTH2"},
       0},
      {"SIZE with a limit", {"250-mx", "250-SIZE 35882577", "250 HELP"}, "SIZE", true, {"35882577"}, 35882577},
      {"SIZE 0 announces no limit", {"250-mx", "250 SIZE 0"}, "SIZE", true, {"0"}, 0},
      {"SIZE with garbage counts as no limit", {"250-mx", "250 SIZE lots"}, "SIZE", true, {"lots"}, 0},
      {"the greeting line lists nothing", {"250 PIPELINING"}, "PIPELINING", false, {}, 0},
      {"a one-line reply has no extensions", {"250 mx.example.org"}, "mx.example.org", false, {}, 0},
      {"the old AUTH= form is no keyword", {"250-mx", "250-AUTH=LOGIN", "250 OK"}, "AUTH", false, {}, 0},
      {"repeated blanks between parameters",
       {"250-mx", "250 AUTH  PLAIN   LOGIN"},
       "AUTH",
       true,
       {"PLAIN", "LOGIN"},
       0},
      {"a line with only a code is skipped", {"250-mx", "250-", "250 STARTTLS"}, "STARTTLS", true, {}, 0},
      {"a name not listed", {"250-mx", "250 STARTTLS"}, "PIPELINING", false, {}, 0},
      {"a hyphen inside a keyword", {"250-mx", "250 X-EXPS GSSAPI"}, "x-exps", true, {"GSSAPI"}, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const TSmtpExtensions extensions = TSmtpExtensions::FromReply(c.lines);
    EXPECT_EQ(extensions.Supports(c.asked), c.supported);
    EXPECT_EQ(extensions.Parameters(c.asked), c.parameters);
    EXPECT_EQ(extensions.SizeLimit(), c.sizeLimit);
  }
  EXPECT_TRUE(TSmtpExtensions().Empty());
}

}  // namespace
