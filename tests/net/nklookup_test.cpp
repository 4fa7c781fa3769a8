// The socket client's look-ups of a server's address and port.
#include "net/nklookup.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/modules.h"
#include "socket_probe.h"
#include "support/checks.h"
#include "toolkit/strutils.h"

namespace {

TEST(SocketClient, ResolvesHostAndPortFromServer) {
  struct Case {
    const char* name;
    std::string server;
    std::string service;
    const char* hidden;  // an export the case must not need
    int port;
    std::string error;
  } cases[] = {
      {"port after the colon, no service look-up", "127.0.0.1:2525", "smtp", "WSAAsyncGetServByName", 2525, ""},
      {"dotted host, no host look-up", "127.0.0.1:2525", "smtp", "WSAAsyncGetHostByName", 2525, ""},
      {"host name looked up", "localhost:2525", "smtp", nullptr, 2525, ""},
      {"no colon: services database", "127.0.0.1", "smtp", nullptr, 25, ""},
      {"a port that is no number is an error, not a service", "127.0.0.1:abc", "smtp", "WSAAsyncGetServByName", 0,
       "ESocketError: \"127.0.0.1:abc\" is not a server: the port must be a number from 1 to 65535"},
      {"IPv6 address named in brackets; the library has IPv4 only", "[::1]:2525", "smtp", nullptr, 0,
       "ESocketError: Cannot connect to [::1]:2525: No data record of the requested type"},
      {"unknown service gives DefaultPort", "127.0.0.1", "no-such-service-here", nullptr, 2626, ""},
      {"empty Server", "", "smtp", nullptr, 0, "ESocketError: Server property is required"},
      {"no service name", "127.0.0.1", "", nullptr, 0, "ESocketError: Service name is required"},
      {"look-up that cannot start fails at once", std::string(300, 'h'), "smtp", nullptr, 0,
       "ESocketError: Cannot connect to " + DisplayText(std::string(300, 'h')) + ":2626: Invalid argument"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Probe client;
    client.SetDefaultPort(2626);
    client.SetServer(c.server);
    client.SetServiceName(c.service);
    if (c.hidden) HideExport("wsock32.dll", c.hidden, true);
    EXPECT_EQ(Raised([&] { client.Open(); }), c.error);
    if (c.hidden) HideExport("wsock32.dll", c.hidden, false);
    if (!c.error.empty()) continue;
    EXPECT_EQ(client.Port(), c.port);
    EXPECT_EQ(client.RemoteAddress(), "127.0.0.1");
    EXPECT_TRUE(client.Connected());
  }
}

TEST(SocketClient, UnknownHostIsASocketError) {
  Probe client;
  // A name under "invalid" is refused by the resolver itself: no name server is asked.
  client.SetServer("no-such-host.invalid:25");
  EXPECT_EQ(Raised([&] { client.Open(); }), "ESocketError: Cannot connect to no-such-host.invalid:25: Host not found");
}

}  // namespace
