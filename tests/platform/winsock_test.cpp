#include "platform/winsock.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <functional>
#include <vector>

#include "platform/modules.h"
#include "platform/winsockerrors.h"
#include "support/checks.h"
#include "toolkit/pump.h"

namespace {

constexpr UINT kReply = WM_USER + 1;

struct Message {
  WPARAM wParam;
  uint16_t low;
  uint16_t high;
};

// A hidden window that keeps every message it gets.
class Recorder {
 public:
  Recorder() {
    window = AllocateHWnd([this](HWND, UINT message, WPARAM w, LPARAM l) {
      if (message == kReply)
        messages.push_back({w, LoWord(static_cast<uintptr_t>(l)), HiWord(static_cast<uintptr_t>(l))});
      return LRESULT{0};
    });
  }
  ~Recorder() { DeallocateHWnd(window); }
  HWND window;
  std::vector<Message> messages;

  void PumpFor(int ms) {
    PumpUntil([] { return false; }, ms);
  }
  int Count(long event, uint16_t error = 0) const {
    int n = 0;
    for (const Message& m : messages) n += (m.low == event && m.high == error);
    return n;
  }
};

// The library as a caller sees it: every call goes through its export.
class WinsockTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RegisterWinsockModules();
    module_ = LoadLibrary("wsock32.dll");
    ASSERT_NE(module_, 0u);
    WSADATA data;
    ASSERT_EQ(Get<wsock::WSAStartup_t>("WSAStartup")(0x0101, &data), 0);
  }
  void TearDown() override {
    Get<wsock::WSACleanup_t>("WSACleanup")();
    FreeLibrary(module_);
  }
  template <typename F>
  F* Get(const char* name) {
    return GetProc<F>(module_, name);
  }
  int LastError() { return Get<wsock::WSAGetLastError_t>("WSAGetLastError")(); }

  // A listening POSIX socket on 127.0.0.1 at a free port.
  int Listen(uint16_t& port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::listen(fd, 4);
    socklen_t length = sizeof a;
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &length);
    port = ntohs(a.sin_port);
    return fd;
  }

  // A client socket selected for all events, connecting to port.
  // A library socket connected to a POSIX peer on 127.0.0.1, its notices going to recorder.
  struct Link {
    uint16_t port;
    int listener;
    SOCKET s;
    int peer;
  };
  Link Connect(Recorder& recorder) {
    Link link{};
    link.listener = Listen(link.port);
    link.s = ConnectTo(link.port, recorder);
    link.peer = ::accept(link.listener, nullptr, nullptr);
    return link;
  }

  SOCKET ConnectTo(uint16_t port, Recorder& recorder) {
    const SOCKET s = Get<wsock::socket_t>("socket")(WS_AF_INET, WS_SOCK_STREAM, 0);
    EXPECT_EQ(Get<wsock::WSAAsyncSelect_t>("WSAAsyncSelect")(s, recorder.window, kReply, 0x33), 0);
    SOCKADDR_IN a{};
    a.sin_family = WS_AF_INET;
    a.sin_port = htons(port);
    a.sin_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(Get<wsock::connect_t>("connect")(s, &a, sizeof a), SOCKET_ERROR);
    EXPECT_EQ(LastError(), WSAEWOULDBLOCK) << "a non-blocking connect completes by FD_CONNECT";
    return s;
  }

  HMODULE module_ = 0;
};

TEST(WinsockErrors, PosixFailuresGetWinsockNumbersAndTexts) {
  struct Case {
    const char* name;
    int error;
    int expected;
  } cases[] = {
      {"would block", EAGAIN, 10035},
      {"connect under way is would-block too", EINPROGRESS, 10035},
      {"refused", ECONNREFUSED, 10061},
      {"reset", ECONNRESET, 10054},
      {"broken pipe is a reset", EPIPE, 10054},
      {"timed out", ETIMEDOUT, 10060},
      {"no counterpart", ENOENT, WSASYSCALLFAILURE},
  };
  for (const Case& c : cases) EXPECT_EQ(WsaErrorFromErrno(c.error), c.expected) << c.name;

  RegisterWinsockModules();
  const HMODULE texts = LoadLibrary("wserr32.dll");
  ASSERT_NE(texts, 0u);
  char buffer[255];
  for (auto [code, text] : {std::pair{10061, "Connection refused"}, {11001, "Host not found"}}) {
    EXPECT_GT(LoadString(texts, code, buffer, sizeof buffer), 0);
    EXPECT_STREQ(buffer, text);
  }
  EXPECT_EQ(LoadString(texts, 10999, buffer, sizeof buffer), 0) << "numbers without a text";
  FreeLibrary(texts);
}

TEST_F(WinsockTest, StartupIsCountedAndTheLastCleanupReleasesTheSockets) {
  auto* startup = Get<wsock::WSAStartup_t>("WSAStartup");
  auto* cleanup = Get<wsock::WSACleanup_t>("WSACleanup");
  auto* socket = Get<wsock::socket_t>("socket");
  WSADATA data;
  EXPECT_EQ(startup(0x0202, &data), 0);
  EXPECT_EQ(data.wVersion, 0x0101) << "a newer request gets this library's 1.1";
  EXPECT_EQ(startup(0x0000, &data), WSAVERNOTSUPPORTED);
  EXPECT_EQ(WinsockStartupCount(), 2);  // with the fixture's
  const int before = WinsockOpenSockets();
  socket(WS_AF_INET, WS_SOCK_STREAM, 0);
  EXPECT_EQ(WinsockOpenSockets(), before + 1);
  EXPECT_EQ(cleanup(), 0);
  EXPECT_EQ(WinsockOpenSockets(), before + 1) << "released by the last cleanup only";
  EXPECT_EQ(cleanup(), 0);
  EXPECT_EQ(WinsockOpenSockets(), 0);
  EXPECT_EQ(socket(WS_AF_INET, WS_SOCK_STREAM, 0), INVALID_SOCKET);
  EXPECT_EQ(LastError(), WSANOTINITIALISED);
  startup(0x0101, &data);  // for the fixture's cleanup
}

TEST_F(WinsockTest, NotificationsFollowWinsock) {
  Recorder r;
  const auto [port, listener, s, peer] = Connect(r);
  ASSERT_TRUE(PumpUntil([&] { return r.Count(FD_WRITE) == 1; }));
  EXPECT_EQ(r.messages[0].low, FD_CONNECT);
  EXPECT_EQ(r.messages[0].wParam, s);

  ::send(peer, "abc\r\ndef", 8, 0);
  ASSERT_TRUE(PumpUntil([&] { return r.Count(FD_READ) == 1; }));
  r.PumpFor(100);
  EXPECT_EQ(r.Count(FD_READ), 1) << "FD_READ waits for the next recv";

  auto* recv = Get<wsock::recv_t>("recv");
  char buffer[16] = {};
  EXPECT_EQ(recv(s, buffer, 16, WS_MSG_PEEK), 8);
  EXPECT_EQ(recv(s, buffer, 5, 0), 5);
  EXPECT_EQ(std::string(buffer, 5), "abc\r\n");
  ASSERT_TRUE(PumpUntil([&] { return r.Count(FD_READ) == 2; })) << "data left: posted again";
  EXPECT_EQ(recv(s, buffer, 16, 0), 3);
  r.PumpFor(100);
  EXPECT_EQ(r.Count(FD_READ), 2) << "nothing left: not posted";

  ::close(peer);
  ASSERT_TRUE(PumpUntil([&] { return r.Count(FD_CLOSE) == 1; }));
  EXPECT_EQ(recv(s, buffer, 16, 0), 0);
  r.PumpFor(100);
  EXPECT_EQ(r.Count(FD_CLOSE), 1) << "FD_CLOSE once";
  EXPECT_EQ(Get<wsock::closesocket_t>("closesocket")(s), 0);
  ::close(listener);
}

TEST_F(WinsockTest, ResetAndRefusalCarryTheirErrors) {
  Recorder r;
  const auto [port, listener, s, peer] = Connect(r);
  ASSERT_TRUE(PumpUntil([&] { return r.Count(FD_CONNECT) == 1; }));
  const linger off{1, 0};
  setsockopt(peer, SOL_SOCKET, SO_LINGER, &off, sizeof off);
  ::close(peer);
  EXPECT_TRUE(PumpUntil([&] { return r.Count(FD_CLOSE, WSAECONNRESET) == 1; }));
  Get<wsock::closesocket_t>("closesocket")(s);

  ::close(listener);  // nothing listens on port any more
  Recorder refused;
  const SOCKET t = ConnectTo(port, refused);
  EXPECT_TRUE(PumpUntil([&] { return refused.Count(FD_CONNECT, WSAECONNREFUSED) == 1; }));
  EXPECT_EQ(refused.Count(FD_WRITE), 0);
  Get<wsock::closesocket_t>("closesocket")(t);
}

TEST_F(WinsockTest, FullSendBufferGivesFdWriteOnceDrained) {
  Recorder r;
  const auto [port, listener, s, peer] = Connect(r);
  ASSERT_TRUE(PumpUntil([&] { return r.Count(FD_WRITE) == 1; }));
  auto* send = Get<wsock::send_t>("send");
  std::vector<char> block(65536, 'x');
  long long sent = 0;
  int n = 0;
  for (int i = 0; i < 10000 && (n = send(s, block.data(), static_cast<int>(block.size()), 0)) > 0; ++i) sent += n;
  ASSERT_EQ(n, SOCKET_ERROR);
  EXPECT_EQ(LastError(), WSAEWOULDBLOCK);
  for (long long drained = 0; drained < sent;) drained += ::recv(peer, block.data(), block.size(), 0);
  EXPECT_TRUE(PumpUntil([&] { return r.Count(FD_WRITE) == 2; }));
  Get<wsock::closesocket_t>("closesocket")(s);
  ::close(peer);
  ::close(listener);
}

TEST_F(WinsockTest, LookupsFillTheCallersBuffer) {
  Recorder r;
  alignas(8) std::array<char, MAXGETHOSTSTRUCT> host{};
  const HANDLE h = Get<wsock::WSAAsyncGetHostByName_t>("WSAAsyncGetHostByName")(
      r.window, kReply, "localhost", host.data(), static_cast<int>(host.size()));
  ASSERT_NE(h, 0u);
  ASSERT_TRUE(PumpUntil([&] { return r.messages.size() == 1; }));
  EXPECT_EQ(r.messages[0].wParam, h);
  EXPECT_EQ(r.messages[0].high, 0);
  const auto* entry = reinterpret_cast<const HOSTENT*>(host.data());
  EXPECT_EQ(entry->h_length, 4);
  ASSERT_NE(entry->h_addr_list[0], nullptr);
  EXPECT_EQ(std::memcmp(entry->h_addr_list[0], "\x7f\0\0\x01", 4), 0);

  struct Case {
    const char* name;
    const char* service;
    uint16_t error;
    int port;
  } cases[] = {
      {"known service", "smtp", 0, 25},
      {"unknown service", "no-such-service-here", WSANO_DATA, 0},
  };
  for (const Case& c : cases) {
    alignas(8) std::array<char, MAXGETHOSTSTRUCT> service{};
    r.messages.clear();
    Get<wsock::WSAAsyncGetServByName_t>("WSAAsyncGetServByName")(r.window, kReply, c.service, "tcp", service.data(),
                                                                 1024);
    ASSERT_TRUE(PumpUntil([&] { return r.messages.size() == 1; })) << c.name;
    EXPECT_EQ(r.messages[0].high, c.error) << c.name;
    if (c.error == 0) {
      EXPECT_EQ(ntohs(reinterpret_cast<const SERVENT*>(service.data())->s_port), c.port);
    }
  }

  const std::string tooLong(300, 'a');
  EXPECT_EQ(Get<wsock::WSAAsyncGetHostByName_t>("WSAAsyncGetHostByName")(r.window, kReply, tooLong.c_str(), host.data(),
                                                                         1024),
            0u);
  EXPECT_EQ(LastError(), WSAEINVAL) << "a name longer than DNS allows cannot be looked up";
}

TEST_F(WinsockTest, CanceledLookupNeitherPostsNorWrites) {
  Recorder r;
  int canceled = 0;
  for (int round = 0; round < 30; ++round) {
    alignas(8) std::array<char, MAXGETHOSTSTRUCT> buffer;
    buffer.fill('\x5A');
    r.messages.clear();
    const HANDLE h = Get<wsock::WSAAsyncGetHostByName_t>("WSAAsyncGetHostByName")(r.window, kReply, "localhost",
                                                                                  buffer.data(), 1024);
    if (round % 2) SleepBlocking(round % 3);  // let some finish before the cancel
    if (Get<wsock::WSACancelAsyncRequest_t>("WSACancelAsyncRequest")(h) == 0) {
      ++canceled;
      SleepBlocking(20);
      r.PumpFor(20);
      EXPECT_TRUE(r.messages.empty()) << "round " << round;
      EXPECT_EQ(std::count(buffer.begin(), buffer.end(), '\x5A'), 1024) << "round " << round;
    } else {
      EXPECT_EQ(LastError(), WSAEALREADY);
      EXPECT_TRUE(PumpUntil([&] { return r.messages.size() == 1; }));
    }
  }
  EXPECT_GT(canceled, 0);
}

}  // namespace
