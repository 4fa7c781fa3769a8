#include "net/nksocket.h"

#include <gtest/gtest.h>


#include <openssl/evp.h>

#include <QElapsedTimer>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>

#include "net/nkRasCmp.h"
#include "net/nktls.h"
#include "net/nkwinsock.h"
#include "net/pxmb.h"
#include "platform/modules.h"
#include "platform/tempfiles.h"
#include "support/files.h"
#include "support/scripted_server.h"
#include "support/tls_peer.h"
#include "toolkit/componentstream.h"
#include "toolkit/streams.h"
#include "toolkit/strutils.h"
#include "support/checks.h"

namespace {

// A mail client whose protocol only connects, counting its hooks.
class Probe : public TpxMailBase {
 public:
  Probe() {
    SetWinsockLoaded(true);
    SetTimeOut(10);  // a safety net: no test below should reach it unless it asks for it
    SetServiceName("smtp");
    SetDefaultPort(25);
    OnError = [this](TComponent*, std::string& msg) {
      events.push_back("error:" + msg);
      if (rewrite) msg = "rewritten: " + msg;
    };
    OnCancel = [this](TComponent*) { events.push_back("cancel"); };
    OnClosing = [this](TComponent*) { events.push_back("closing"); };
    OnClosed = [this](TComponent*) { events.push_back("closed"); };
  }
  void ConnectTo(const std::string& server) {
    SetServer(server);
    Open();
    ConnectSocket();
  }
  std::vector<std::string> events;
  bool rewrite = false;
  int logins = 0;
  int logouts = 0;

 protected:
  void Login() override {
    ++logins;
    ConnectSocket();
  }
  void Logout() override { ++logouts; }
};

TEST(SocketClient, ReadsRepliesByTheirLines) {
  const std::string line64k = "250 " + std::string(TnkSocket::kMaxLineLength - 6, 'x');
  struct Case {
    const char* name;
    std::string transcript;
    int code;
    std::string last;
    std::optional<std::string> next;  // what the following reply holds: bytes stayed behind
  } cases[] = {
      {"single line", "S: 220 ready\nS: 221 next", 220, "220 ready", "221 next"},
      {"multi-line reply ends at the blank", "S: 250-a\nS: 250-b\nS: 250 c\nS: 221 next", 250, "250 c", "221 next"},
      {"blank after another code does not end it", "S: 250-a\nS: 251 b\nS: 250 c", 250, "250 c", {}},
      {"code alone ends it (RFC 5321 4.2.1)", "S: 250-a\nS: 250\nS: 221 next", 250, "250", "221 next"},
      {"LF-only line end", "P: 220 lf only\\n\nS: 221 next", 220, "220 lf only", "221 next"},
      {"every trailing CR and LF removed", "P: 220 x\\r\\r\\n", 220, "220 x", {}},
      {"no number: one line, code -1", "S: hello\nS: 250-a\nS: 250 b", -1, "hello", "250 b"},
      {"reply dripped in pieces", "drip 3 5\nS: 220 slowly now\nS: 221 next", 220, "220 slowly now", "221 next"},
      {"server closes mid-line", "P: 220 half\nclose", -1, "", {}},
      {"server closes inside a multi-line reply", "S: 250-a\nP: 250 b\nclose", 250, "", {}},
      {"line of 64 KiB read whole", "S: " + line64k + "\nS: 221 next", 250, line64k, "221 next"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedServer server(c.transcript);
    Probe client;
    client.ConnectTo(server.Address());
    int code = 0;
    EXPECT_EQ(Raised([&] { code = client.ReadReply(); }), "");
    EXPECT_EQ(code, c.code);
    EXPECT_EQ(client.LastReply(), c.last);
    if (c.next) {
      client.ReadReply();
      EXPECT_EQ(client.LastReply(), *c.next);
    }
    EXPECT_EQ(server.Failures(), "");
  }
}

TEST(SocketClient, ReadsALineWithAFewReceiveCalls) {
  std::string transcript;
  for (int i = 0; i < 19; ++i) transcript += "S: 250-" + std::string(1000, 'a') + "\n";
  ScriptedServer server(transcript + "S: 250 end");
  Probe client;
  client.ConnectTo(server.Address());
  const long long before = WinsockRecvCalls();
  EXPECT_EQ(client.ReadReply(), 250);
  const long long calls = WinsockRecvCalls() - before;
  EXPECT_LE(calls, 20 * 4) << "one receive call per byte would be 20000";
}

TEST(SocketClient, LineOverTheLimitIsAClearErrorAndEndsTheConversation) {
  ScriptedServer server("S: 250 " + std::string(TnkSocket::kMaxLineLength, 'x'));
  Probe client;
  client.ConnectTo(server.Address());
  std::string line = "old";
  EXPECT_EQ(Raised([&] { client.ReadLine(line); }), "ESocketError: " + server.Address() + " sent a line longer than 65536 bytes");
  EXPECT_EQ(line, "");
  EXPECT_FALSE(client.Connected()) << "the rest of the line must not be read as the next reply";
}

// However steadily its lines come, a reply ends within the time-out, or at a cancel; and it
// holds at most kMaxReplyLines lines.
TEST(SocketClient, BoundsAWholeReplyInTimeAndLength) {
  auto continuations = [](int count, const std::string& between) {
    std::string transcript;
    for (int i = 0; i < count; ++i) transcript += "S: 250-line " + std::to_string(i) + "\n" + between;
    return transcript;
  };
  const std::string tenSecondsOfLines = continuations(100, "pause 100\n");
  struct Case {
    const char* name;
    std::string transcript;
    int cancelAfterMs;  // 0: no cancel
    std::string raised;  // {server}: the server's address
    size_t kept;
  } cases[] = {
      {"a line every 100 ms ends by the time-out", tenSecondsOfLines, 0,
       "ETimedOutError: Lost the connection to {server}: Operation timed out", 0},
      {"a cancel ends the wait between lines", tenSecondsOfLines, 300, "ECanceledError: Operation has been canceled", 0},
      {"1001 lines at once", continuations(1000, "") + "S: 250 end", 0,
       "ESocketError: {server} sent a reply of more than 1000 lines", 1000},
      {"1000 lines read whole", continuations(999, "") + "S: 250 end", 0, "", 1000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedServer server(c.transcript);
    Probe client;
    client.SetTimeOut(1);
    client.ConnectTo(server.Address());
    QTimer cancel;
    cancel.setSingleShot(true);
    QObject::connect(&cancel, &QTimer::timeout, [&] { client.Cancel(); });
    if (c.cancelAfterMs > 0) cancel.start(c.cancelAfterMs);
    std::string raised = c.raised;
    if (const size_t at = raised.find("{server}"); at != std::string::npos) raised.replace(at, 8, server.Address());
    std::vector<std::string> lines;
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(Raised([&] { client.ReadReply(&lines); }), raised);
    EXPECT_LT(clock.elapsed(), 3000) << "the server sends for ten seconds";
    if (c.kept > 0) {
      EXPECT_EQ(lines.size(), c.kept);
      EXPECT_EQ(lines.back(), c.raised.empty() ? "250 end" : "250-line 999");
    }
    EXPECT_EQ(client.Connected(), raised.empty()) << "the rest of a reply must not be read as the next";
  }
}

// Lines are reported as they go out and come in; the log holds them in the same order, with
// the body left out, and is written when the component goes.
TEST(SocketClient, ReportsAndLogsLinesInOrder) {
  const std::string log = GetTempFileName(GetTempPath(), "nklog");
  std::vector<std::string> lines;
  {
    ScriptedServer server("S: 220 hi\nC: HELO me\nS: 250 ok");
    server.ExpectBytes("body");
    Probe client;
    client.SetLogFileName(log);
    client.OnLineSent = [&](TComponent*, const std::string& l) { lines.push_back("sent " + l); };
    client.OnLineReceived = [&](TComponent*, const std::string& l) { lines.push_back("got " + l); };
    client.ConnectTo(server.Address());
    client.ReadReply();
    client.WriteLine("HELO me");
    client.ReadReply();
    TMemoryStream body("body");
    client.WriteStream(body);
    EXPECT_TRUE(server.WaitFinished());
    EXPECT_EQ(server.Failures(), "");
  }
  EXPECT_EQ(lines, (std::vector<std::string>{"got 220 hi", "sent HELO me", "got 250 ok"}));
  EXPECT_EQ(ReadFile(log), "220 hi\r\nHELO me\r\n250 ok\r\nSuppressing the message body\r\n");
  std::remove(log.c_str());
}

TEST(SocketClient, SendsStreamsWithProgress) {
  using Progress = std::vector<std::pair<int, int>>;
  struct Case {
    const char* name;
    int size;
    Progress progress;  // empty: not checked
  } cases[] = {
      {"three blocks", 5000, {{41, 2047}, {82, 4094}, {100, 5000}, {0, 0}}},
      {"half rounds to even", 4600, {{44, 2047}, {89, 4094}, {100, 4600}, {0, 0}}},
      {"exactly one block", 2047, {{100, 2047}, {0, 0}}},
      {"empty stream counts as complete", 0, {{100, 0}, {0, 0}}},
      {"more than the socket buffers hold", 8 << 20, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string data(static_cast<size_t>(c.size), '\0');
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 7 % 251);
    ScriptedServer server("");
    server.ExpectBytes(data);
    Probe client;
    Progress progress;
    client.OnProgress = [&](TComponent*, int perc, int transferred) { progress.emplace_back(perc, transferred); };
    client.ConnectTo(server.Address());
    TMemoryStream stream(data);
    stream.SetPosition(stream.Size());  // sent from the start all the same
    client.WriteStream(stream);
    EXPECT_TRUE(server.WaitFinished());
    EXPECT_EQ(server.Failures(), "");
    if (!c.progress.empty()) {
      EXPECT_EQ(progress, c.progress);
    }
    EXPECT_EQ(progress.back(), std::make_pair(0, 0));
  }
}

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
      {"reset by the server closes the socket", "pause 50\nreset", [](Probe& p) { std::string l; p.ReadLine(l); },
       "Connection reset by the server", "ESocketError: Lost the connection to {server}: rewritten: Connection reset by the server"},
      {"usage error", "", [](Probe& p) { p.Close(); p.WriteLine("x"); }, "You have to connect to the server first",
       "ESocketError: rewritten: You have to connect to the server first"},
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
  EXPECT_EQ(Raised([&] { client.ReadLine(line); }), "ETimedOutError: Lost the connection to " + server.Address() + ": Operation timed out");
  EXPECT_EQ(client.events, (std::vector<std::string>{"error:Operation timed out", "closing", "closed"}));
  EXPECT_FALSE(client.Connected());
  client.Open();
  EXPECT_EQ(Raised([&] { client.ConnectSocket(); }), "ETimedOutError: Cannot connect to " + server.Address() + ": Operation timed out")
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

TEST(MailBase, ConnectAndDisconnectOnlyWhenThereIsSomethingToDo) {
  ScriptedServer server("");
  Probe client;
  client.Disconnect();
  EXPECT_EQ(client.logouts, 0);
  client.SetServer(server.Address());
  client.Connect();
  client.Connect();
  EXPECT_EQ(client.logins, 1);
  EXPECT_EQ(server.Connections(), 1);
  client.Disconnect();
  client.Disconnect();
  EXPECT_EQ(client.logouts, 1);
  EXPECT_FALSE(client.Connected());
}

TEST(MailBase, PublishedPropertiesRoundTripAndTheRasLinkIsCleared) {
  TComponent form;
  auto* ras = new TnkRas(&form);
  ras->SetName("Ras1");
  TpxMailBase stored(&form);
  stored.SetWinsockLoaded(true);
  stored.SetServer("mail.example:2525");
  stored.SetDefaultPort(25);
  stored.SetTimeOut(30);
  stored.SetRAS(ras);
  const std::string text = ComponentToText(stored);
  TpxMailBase read(&form);  // unloads the shared library; the stored value loads it again
  ComponentFromText(text, read);
  EXPECT_EQ(read.Server(), "mail.example:2525");
  EXPECT_EQ(read.DefaultPort(), 25);
  EXPECT_EQ(read.TimeOut(), 30);
  EXPECT_EQ(read.RAS(), ras);
  EXPECT_TRUE(read.WinsockLoaded());
  delete ras;
  EXPECT_EQ(stored.RAS(), nullptr);
  EXPECT_EQ(read.RAS(), nullptr);
}

// --- TLS ------------------------------------------------------------------------------------

std::string Sha256Hex(const std::string& data) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  EVP_Digest(data.data(), data.size(), digest, &size, EVP_sha256(), nullptr);
  static const char kHex[] = "0123456789abcdef";
  std::string hex;
  for (unsigned int i = 0; i < size; ++i) hex += {kHex[digest[i] >> 4], kHex[digest[i] & 15]};
  return hex;
}

// Connected to a TLS peer with the test CA trusted.
class TlsProbe : public Probe {
 public:
  explicit TlsProbe(const TlsPeer& peer) : context_({TnkTlsPolicy::Checked, TestCerts::Get().Pem("ca"), ""}) {
    ConnectTo(peer.Address());
  }
  void Start() { StartTls(context_); }

 private:
  TnkTlsContext context_;
};

// Lines many to a record and records split across reads, both ways, a few megabytes: every
// byte arrives and every line is handed up whole.
TEST(SocketClientTls, CarriesLinesAndStreamsWithoutLoss) {
  TlsPeer peer("good");
  TlsProbe client(peer);
  client.Start();
  EXPECT_TRUE(client.Encrypted());
  EXPECT_EQ(client.ReadReply(), 220);
  const int lines = 30000;  // about 3 MB
  client.WriteLine("SEND " + std::to_string(lines));
  std::string line;
  for (int i = 0; i < lines; ++i) {
    client.ReadLine(line);
    ASSERT_EQ(line, std::to_string(i) + " " + std::string(static_cast<size_t>(i % 200), static_cast<char>('a' + i % 26)));
  }
  EXPECT_EQ(client.ReadReply(), 250);
  std::string body;
  for (int i = 0; body.size() < (4u << 20); ++i) body += "line " + std::to_string(i) + std::string(static_cast<size_t>(i % 97), 'x') + "\r\n";
  client.WriteLine("DATA");
  TMemoryStream stream(body);
  client.WriteStream(stream);
  client.WriteLine(".");
  EXPECT_EQ(client.ReadReply(), 250);
  EXPECT_EQ(client.LastReply(), "250 " + Sha256Hex(body) + " " + std::to_string(body.size()));
  client.WriteLine("QUIT");
  EXPECT_EQ(client.ReadReply(), 221);
  client.Close();
  EXPECT_FALSE(client.Encrypted());
}

TEST(SocketClientTls, StartsAfterTheServersReplyToStarttls) {
  struct Case {
    const char* name;
    std::vector<std::string> peerArgs;
    std::string error;
  } cases[] = {
      {"clean reply", {"--starttls"}, ""},
      {"bytes after the reply are an injection", {"--starttls", "--inject"},
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
    EXPECT_EQ(Raised([&] { client.Start(); }), c.error.empty() ? "" : "ETlsError: TLS with " + peer.Address() + " failed: " + c.error);
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
    EXPECT_EQ(Raised([&] { client.Start(); }), "ETimedOutError: TLS with " + peer.Address() + " failed: Operation timed out");
    EXPECT_FALSE(client.Connected());
  }
  TlsProbe client(peer);
  QTimer::singleShot(50, [&] { client.Cancel(); });
  EXPECT_EQ(Raised([&] { client.Start(); }), "ECanceledError: Operation has been canceled");
  EXPECT_EQ(client.events, (std::vector<std::string>{"cancel", "closing", "closed", "error:Operation has been canceled"}));
}

// A secret goes out as given; the log and the event see only the mask.
TEST(SocketClient, SecretLinesAreMaskedWhereTheyAreShown) {
  const std::string log = GetTempFileName(GetTempPath(), "nklog");
  std::vector<std::string> sent;
  {
    ScriptedServer server("C: AUTH PLAIN AHVzZXIAc2VjcmV0\nC: NOOP");
    Probe client;
    client.SetLogFileName(log);
    client.OnLineSent = [&](TComponent*, const std::string& l) { sent.push_back(l); };
    client.ConnectTo(server.Address());
    client.WriteSecretLine("AUTH PLAIN AHVzZXIAc2VjcmV0");
    client.WriteLine("NOOP");
    EXPECT_TRUE(server.WaitFinished());
    EXPECT_EQ(server.Failures(), "");
  }
  EXPECT_EQ(sent, (std::vector<std::string>{"****", "NOOP"}));
  EXPECT_EQ(ReadFile(log), "****\r\nNOOP\r\n");
  std::remove(log.c_str());
}

}  // namespace
