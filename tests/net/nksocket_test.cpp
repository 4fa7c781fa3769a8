// The socket client's lines, replies and streams against scripted servers.
#include "net/nksocket.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QTimer>

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "net/nkwinsock.h"
#include "platform/tempfiles.h"
#include "socket_probe.h"
#include "support/checks.h"
#include "support/files.h"
#include "support/scripted_server.h"
#include "toolkit/streams.h"

namespace {

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
  EXPECT_EQ(Raised([&] { client.ReadLine(line); }),
            "ESocketError: " + server.Address() + " sent a line longer than 65536 bytes");
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
    int cancelAfterMs;   // 0: no cancel
    std::string raised;  // {server}: the server's address
    size_t kept;
  } cases[] = {
      {"a line every 100 ms ends by the time-out", tenSecondsOfLines, 0,
       "ETimedOutError: Lost the connection to {server}: Operation timed out", 0},
      {"a cancel ends the wait between lines", tenSecondsOfLines, 300, "ECanceledError: Operation has been canceled",
       0},
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
