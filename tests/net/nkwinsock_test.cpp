#include "net/nkwinsock.h"

#include <gtest/gtest.h>

#include <functional>

// The shared binding starts unloaded in this process; each test leaves it unloaded.
class WinsockBindingTest : public ::testing::Test {
 protected:
  void TearDown() override {
    HideModule("wsock32.dll", false);
    HideExport("wsock32.dll", "recv", false);
    SharedWinsock().Unload();
  }
  TnkWinsock& ws = SharedWinsock();
};

std::string ErrorOf(const std::function<void()>& call) {
  try {
    call();
  } catch (const EWinsockDLLError& e) {
    return e.what();
  }
  return "";
}

TEST_F(WinsockBindingTest, LoadingTwiceHoldsTheLibraryOnce) {
  ws.Load();
  ws.Load();
  EXPECT_TRUE(ws.IsLoaded());
  EXPECT_EQ(ModuleLoadCount("wsock32.dll"), 1);
  ws.Unload();
  ws.Unload();
  EXPECT_FALSE(ws.IsLoaded());
  EXPECT_EQ(ModuleLoadCount("wsock32.dll"), 0);
}

TEST_F(WinsockBindingTest, CallsPassThroughWhileLoaded) {
  ws.Load();
  EXPECT_EQ(ws.inet_addr("127.0.0.1"), 0x0100007Fu);
  EXPECT_EQ(ws.inet_addr("not an address"), WS_INADDR_NONE);
  EXPECT_EQ(ws.htons(25), 0x1900);
  EXPECT_EQ(ws.WSACleanup(), SOCKET_ERROR) << "no start-up to match";
  EXPECT_EQ(ws.WSAGetLastError(), WSANOTINITIALISED);
}

TEST_F(WinsockBindingTest, MissingPiecesAreNamed) {
  struct Case {
    const char* name;
    std::function<void()> prepare;
    std::function<void()> call;
    const char* error;
  } cases[] = {
      {"any call while unloaded", [] {}, [this] { ws.closesocket(1); }, "Winsock is not loaded"},
      {"inet_addr while unloaded", [] {}, [this] { ws.inet_addr("1.2.3.4"); }, "Function inet_addr not found"},
      {"missing export",
       [this] {
         HideExport("wsock32.dll", "recv", true);
         ws.Load();
       },
       [this] { ws.recv(1, nullptr, 0, 0); }, "Function recv not found"},
      {"missing library", [] { HideModule("wsock32.dll", true); }, [this] { ws.Load(); }, "Winsock not found"},
  };
  for (const Case& c : cases) {
    c.prepare();
    EXPECT_EQ(ErrorOf(c.call), c.error) << c.name;
    TearDown();
  }
  EXPECT_FALSE(ws.IsLoaded()) << "a failed load leaves the binding unloaded";
}
