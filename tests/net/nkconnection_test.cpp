// The socket client's connection: its errors and their texts, cancel and time-out, the shared
// library, TLS start and a server that left an idle session.
#include "net/nkconnection.h"

#include <gtest/gtest.h>

#include <QTimer>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "net/nkwinsock.h"
#include "platform/modules.h"
#include "socket_probe.h"
#include "support/checks.h"
#include "support/scripted_server.h"

namespace {

// OnError hears the library's own text; the raised text names the server around it.
TEST(SocketClient, ErrorsPassOnErrorFirstAndOnlySocketErrorsTakeItsText) {
  struct Case {
    const char* name;
    std::string transcript;  // "refused": nothing listens
    std::function<void(Probe&)> act;
    std::string reported;
    std::string raised;  // {server}: the server's address
  } cases[] = {
      {"refused connection ends at once", "refused", [](Probe&) {}, "Connection refused",
       "ESocketError: Cannot connect to {server}: rewritten: Connection refused"},
      {"reset by the server closes the socket", "pause 50\nreset",
       [](Probe& p) {
         std::string l;
         p.ReadLine(l);
       },
       "Connection reset by the server",
       "ESocketError: Lost the connection to {server}: rewritten: Connection reset by the server"},
      {"usage error", "",
       [](Probe& p) {
         p.Close();
         p.WriteLine("x");
       },
       "You have to connect to the server first", "ESocketError: rewritten: You have to connect to the server first"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const bool refused = c.transcript == "refused";
    ScriptedServer server(refused ? "" : c.transcript);
    Probe client;
    client.rewrite = true;
    const std::string address = refused ? ClosedServer() : server.Address();
    std::string raised = c.raised;
    if (const size_t at = raised.find("{server}"); at != std::string::npos) raised.replace(at, 8, address);
    EXPECT_EQ(Raised([&] {
                client.ConnectTo(address);
                c.act(client);
              }),
              raised);
    EXPECT_NE(std::find(client.events.begin(), client.events.end(), "error:" + c.reported), client.events.end());
    EXPECT_FALSE(client.Connected());
  }
}

// A cancel or a time-out keeps its own text whatever OnError does.
TEST(SocketClient, CancelFromAHandlerClosesAtOnceThenTheWaitRaises) {
  ScriptedServer server("");
  Probe client;
  client.rewrite = true;
  client.ConnectTo(server.Address());
  QTimer::singleShot(50, [&] {
    client.Cancel();
    client.events.push_back("handler done");
  });
  std::string line;
  EXPECT_EQ(Raised([&] { client.ReadLine(line); }), "ECanceledError: Operation has been canceled");
  EXPECT_FALSE(client.Connected());
  EXPECT_EQ(client.events, (std::vector<std::string>{"cancel", "closing", "closed", "handler done",
                                                     "error:Operation has been canceled"}));
}

TEST(SocketClient, TimedOutStaysUntilResetState) {
  ScriptedServer server("");
  Probe client;
  client.rewrite = true;
  client.SetTimeOut(1);
  client.ConnectTo(server.Address());
  std::string line;
  EXPECT_EQ(Raised([&] { client.ReadLine(line); }),
            "ETimedOutError: Lost the connection to " + server.Address() + ": Operation timed out");
  EXPECT_EQ(client.events, (std::vector<std::string>{"error:Operation timed out", "closing", "closed"}));
  EXPECT_FALSE(client.Connected());
  client.Open();
  EXPECT_EQ(Raised([&] { client.ConnectSocket(); }),
            "ETimedOutError: Cannot connect to " + server.Address() + ": Operation timed out")
      << "the flag set by the first time-out";
  client.ResetState();
  client.Open();
  EXPECT_NO_THROW(client.ConnectSocket());
  EXPECT_TRUE(client.Connected());
}

TEST(SocketClient, WithoutErrorTextsTheNumberIsShown) {
  HideModule("wserr32.dll", true);
  Probe client;
  const std::string closed = ClosedServer();
  EXPECT_EQ(Raised([&] { client.ConnectTo(closed); }), "ESocketError: Cannot connect to " + closed + ": Error #10061");
  HideModule("wserr32.dll", false);
}

TEST(SocketClient, SharesOneLibraryThatEachNewComponentUnloads) {
  Probe first;
  EXPECT_TRUE(first.WinsockLoaded());
  EXPECT_EQ(ModuleLoadCount("wsock32.dll"), 1);
  TnkSocket second;
  EXPECT_FALSE(first.WinsockLoaded());
  first.SetServer("127.0.0.1:25");
  EXPECT_EQ(Raised([&] { first.Open(); }), "EWinsockDLLError: Winsock is not loaded");
  EXPECT_EQ(first.events, std::vector<std::string>{}) << "binding errors bypass OnError";
  second.SetWinsockLoaded(true);
  first.SetWinsockLoaded(true);
  EXPECT_TRUE(first.WinsockLoaded());
  EXPECT_EQ(ModuleLoadCount("wsock32.dll"), 1);
}

TEST(SocketClient, EveryStartUpIsCleanedUpWhenTheComponentGoes) {
  const int before = WinsockStartupCount();
  {
    Probe client;
    client.SetServer("127.0.0.1:2525");
    client.Open();
    client.Close();
    client.SetServiceName("");
    client.SetServer("127.0.0.1");
    EXPECT_THROW(client.Open(), ESocketError);  // after the start-up: counted all the same
    EXPECT_EQ(WinsockStartupCount(), before + 2);
  }
  EXPECT_EQ(WinsockStartupCount(), before);
}

TEST(SocketClientTls, StartsAfterTheServersReplyToStarttls) {
  struct Case {
    const char* name;
    std::vector<std::string> peerArgs;
    std::string error;
  } cases[] = {
      {"clean reply", {"--starttls"}, ""},
      {"bytes after the reply are an injection",
       {"--starttls", "--inject"},
       "the server sent data before the handshake"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TlsPeer peer("good", c.peerArgs);
    TlsProbe client(peer);
    EXPECT_EQ(client.ReadReply(), 220);
    client.WriteLine("STARTTLS");
    EXPECT_EQ(client.ReadReply(), 220);
    PumpUntil([] { return false; }, 100);  // lets the injected line arrive
    EXPECT_EQ(Raised([&] { client.Start(); }),
              c.error.empty() ? "" : "ETlsError: TLS with " + peer.Address() + " failed: " + c.error);
    if (!c.error.empty()) {
      EXPECT_FALSE(client.Connected());
      EXPECT_EQ(client.events.front(), "error:" + c.error);
      continue;
    }
    client.WriteLine("ECHO after STARTTLS");
    EXPECT_EQ(client.ReadReply(), 250);
    EXPECT_EQ(client.LastReply(), "250 after STARTTLS");
  }
}

// Before a kept session is used again: a server that closed it, reset it or spoke unasked
// (a 421) is noticed at once; a quiet one is not, over TLS neither, where the server's own
// records after the handshake (session tickets) are no words of its.
TEST(SocketClient, NoticesAServerThatLeftAnIdleSession) {
  const struct {
    const char* name;
    std::string transcript;
    bool left;
  } cases[] = {
      {"quiet", "S: 220 ready\n", false},
      {"421 before closing", "S: 220 ready\npause 20\nS: 421 4.7.0 too many messages\n", true},
      {"closed", "S: 220 ready\npause 20\nclose\n", true},
      {"reset", "S: 220 ready\npause 20\nreset\n", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedServer server(c.transcript);
    Probe client;
    client.ConnectTo(server.Address());
    EXPECT_EQ(client.ReadReply(), 220);
    EXPECT_FALSE(client.ServerLeftIdleSession());
    PumpUntil([] { return false; }, 150);
    EXPECT_EQ(client.ServerLeftIdleSession(), c.left);
  }
  TlsPeer peer("good");
  TlsProbe client(peer);
  client.Start();
  EXPECT_EQ(client.ReadReply(), 220);
  PumpUntil([] { return false; }, 150);
  EXPECT_FALSE(client.ServerLeftIdleSession());
  client.WriteLine("ECHO still here");
  EXPECT_EQ(client.ReadReply(), 250);
  EXPECT_FALSE(client.ServerLeftIdleSession());
  client.WriteLine("QUIT");
  EXPECT_EQ(client.ReadReply(), 221);
  PumpUntil([] { return false; }, 150);  // the close_notify and the close
  EXPECT_TRUE(client.ServerLeftIdleSession());
}

// A server that takes the connection and never answers the handshake.
TEST(SocketClientTls, StalledHandshakeEndsByTimeOutOrCancel) {
  TlsPeer peer("good", {"--stall"});
  {
    TlsProbe client(peer);
    client.SetTimeOut(1);
    EXPECT_EQ(Raised([&] { client.Start(); }),
              "ETimedOutError: TLS with " + peer.Address() + " failed: Operation timed out");
    EXPECT_FALSE(client.Connected());
  }
  TlsProbe client(peer);
  QTimer::singleShot(50, [&] { client.Cancel(); });
  EXPECT_EQ(Raised([&] { client.Start(); }), "ECanceledError: Operation has been canceled");
  EXPECT_EQ(client.events,
            (std::vector<std::string>{"cancel", "closing", "closed", "error:Operation has been canceled"}));
}

}  // namespace
