#include "toolkit/hostport.h"

#include <gtest/gtest.h>

#include <optional>

#include "support/checks.h"
#include "toolkit/strutils.h"

namespace {

TEST(HostPort, ReadsAServerOrSaysWhyItIsNone) {
  const std::string port = "the port must be a number from 1 to 65535";
  const std::string brackets = "an IPv6 address must be in brackets, as in [2001:db8::1]:25";
  const std::string name = "a host name holds only letters, digits, hyphens, dots and underscores";
  struct Case {
    const char* name;
    std::string text;
    std::string host;
    std::optional<uint16_t> port;
    std::string error;  // what is wrong; empty when it is a server
  } cases[] = {
      {"name alone", "mail.example", "mail.example", {}, ""},
      {"name and port", "mail.example:2525", "mail.example", 2525, ""},
      {"IPv4 address and port", "127.0.0.1:25", "127.0.0.1", 25, ""},
      {"underscore and hyphen", "smtp_relay-2.local:587", "smtp_relay-2.local", 587, ""},
      {"highest port, leading zero", "mx:065535", "mx", 65535, ""},
      {"bracketed IPv6 and port", "[::1]:25", "::1", 25, ""},
      {"port is no number", "mail.example:abc", "", {}, port},
      {"port 0", "mail.example:0", "", {}, port},
      {"port above the range", "mail.example:65536", "", {}, port},
      {"digits that overflow", "mail.example:18446744073709551641", "", {}, port},
      {"colon without a port", "mail.example:", "", {}, port},
      {"port without a host", ":25", "", {}, "the host name is missing"},
      {"blank in the name", "mail example:25", "", {}, name},
      {"line break in the name", "mail\r\n.example", "", {}, name},
      {"bare IPv6", "2001:db8::1", "", {}, brackets},
      {"unclosed bracket", "[::1:25", "", {}, brackets},
      {"name in brackets", "[mail.example]:25", "", {}, "the brackets must hold an IPv6 address"},
      {"port after bracketed IPv6 checked too", "[::1]:99999", "", {}, port},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    THostPort parsed;
    const std::string raised = Raised([&] { parsed = ParseHostPort(c.text); });
    if (!c.error.empty()) {
      EXPECT_EQ(raised, "EConvertError: \"" + DisplayText(c.text) + "\" is not a server: " + c.error);
      continue;
    }
    EXPECT_EQ(raised, "");
    EXPECT_EQ(parsed.host, c.host);
    EXPECT_EQ(parsed.port, c.port);
    if (c.port) {
      EXPECT_EQ(ParseHostPort(HostPortText(parsed.host, *c.port)).host, c.host) << "written back readably";
    }
  }
}

}  // namespace
