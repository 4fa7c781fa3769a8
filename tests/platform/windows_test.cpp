// Hidden windows: posted messages across threads, registered messages, timers, lifetime.
#include "platform/windows.h"

#include <QDeadlineTimer>

#include <gtest/gtest.h>

#include <memory>
#include <thread>
#include <vector>

#include "toolkit/pump.h"

namespace {

constexpr UINT kTestMessage = WM_USER + 1;
constexpr int kWaitLimitMs = 10000;

// Dispatches events until done() holds or the generous limit runs out.
template <typename Done>
bool DispatchUntil(Done done) {
  const QDeadlineTimer deadline(kWaitLimitMs);
  while (!done() && !deadline.hasExpired()) WaitForEvents(50);
  return done();
}

struct Received {
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
  std::thread::id thread;
};

// A window that records what its procedure is called with.
class RecordingWindow {
 public:
  explicit RecordingWindow(const std::string& className = "")
      : handle(AllocateHWnd(
            [this](HWND, UINT m, WPARAM w, LPARAM l) {
              received.push_back({m, w, l, std::this_thread::get_id()});
              return static_cast<LRESULT>(w + 1);
            },
            className)) {}
  ~RecordingWindow() { DeallocateHWnd(handle); }
  size_t Count(UINT message) const {
    size_t n = 0;
    for (const Received& r : received) n += r.message == message ? 1 : 0;
    return n;
  }

  std::vector<Received> received;
  const HWND handle;
};

TEST(WindowsTest, MessagesPostedFromAnotherThreadArriveInOrderOnTheMainThread) {
  RecordingWindow window;
  constexpr int kCount = 200;
  std::thread poster([&window] {
    for (int i = 0; i < kCount; ++i) PostMessage(window.handle, kTestMessage, static_cast<WPARAM>(i), MakeLParam(7, i));
  });
  poster.join();
  ASSERT_TRUE(DispatchUntil([&] { return window.received.size() >= kCount; }));
  ASSERT_EQ(window.received.size(), static_cast<size_t>(kCount));
  for (int i = 0; i < kCount; ++i) {
    const Received& r = window.received[i];
    EXPECT_EQ(r.message, kTestMessage);
    EXPECT_EQ(r.wParam, static_cast<WPARAM>(i)) << "messages keep the order they were posted in";
    EXPECT_EQ(LoWord(r.lParam), 7);
    EXPECT_EQ(HiWord(r.lParam), i);
    EXPECT_EQ(r.thread, std::this_thread::get_id());
  }
}

TEST(WindowsTest, SendMessageCallsTheProcedureAtOnce) {
  RecordingWindow window;
  EXPECT_EQ(SendMessage(window.handle, kTestMessage, 41, 0), 42);
  EXPECT_EQ(window.received.size(), 1u);
  EXPECT_EQ(SendMessage(0, kTestMessage, 41, 0), 0);
}

TEST(WindowsTest, RegisteredMessagesAreStableAndIgnoreCase) {
  const UINT first = RegisterWindowMessage("Mailcart.Test.First");
  const UINT second = RegisterWindowMessage("Mailcart.Test.Second");
  struct Case {
    const char* name;
    UINT got;
    UINT expected;
  } cases[] = {
      {"same name again", RegisterWindowMessage("Mailcart.Test.First"), first},
      {"other letter case", RegisterWindowMessage("MAILCART.TEST.first"), first},
      {"second name asked again", RegisterWindowMessage("mailcart.test.second"), second},
  };
  for (const Case& c : cases) EXPECT_EQ(c.got, c.expected) << c.name;
  EXPECT_NE(first, second);
  EXPECT_GE(first, 0xC000u);
  EXPECT_GE(second, 0xC000u);
  EXPECT_LE(second, 0xFFFFu);
}

TEST(WindowsTest, TimerTicksWhileDispatchingAndStopsWhenKilled) {
  RecordingWindow window;
  ASSERT_EQ(SetTimer(window.handle, 7, 10), 7u);
  ASSERT_TRUE(DispatchUntil([&] { return window.Count(WM_TIMER) >= 3; }));
  for (const Received& r : window.received) EXPECT_EQ(r.wParam, 7u) << "the timer's id";
  EXPECT_TRUE(KillTimer(window.handle, 7));
  EXPECT_FALSE(KillTimer(window.handle, 7)) << "already killed";
  const size_t ticks = window.Count(WM_TIMER);
  SleepProcessing(100);
  EXPECT_EQ(window.Count(WM_TIMER), ticks) << "no tick after KillTimer";
  EXPECT_EQ(SetTimer(0, 1, 10), 0u);
}

TEST(WindowsTest, DeallocatedWindowGetsNothing) {
  auto window = std::make_unique<RecordingWindow>();
  const HWND handle = window->handle;
  PostMessage(handle, kTestMessage, 1, 0);
  SetTimer(handle, 1, 1);
  // Deallocate while a message and timer ticks are still pending, then dispatch.
  DeallocateHWnd(handle);
  RecordingWindow witness;  // its message proves the queue was dispatched past the dead one's
  PostMessage(witness.handle, kTestMessage, 2, 0);
  ASSERT_TRUE(DispatchUntil([&] { return !witness.received.empty(); }));
  SleepProcessing(20);
  EXPECT_TRUE(window->received.empty());
  EXPECT_FALSE(IsWindow(handle));
  EXPECT_FALSE(PostMessage(handle, kTestMessage, 3, 0));
  EXPECT_FALSE(KillTimer(handle, 1));
}

// The procedure's captured state; expired once the window has really gone.
std::weak_ptr<int> g_procState;
bool g_stateAliveAfterDeallocate = false;
int g_calls = 0;

TEST(WindowsTest, ProcedureThatDeallocatesItsWindowRunsToItsEnd) {
  auto state = std::make_shared<int>(0);
  g_procState = state;
  HWND self = 0;
  self = AllocateHWnd([state, &self](HWND, UINT, WPARAM, LPARAM) {
    ++g_calls;
    DeallocateHWnd(self);  // as an owner destroyed from a nested pump would
    g_stateAliveAfterDeallocate = !g_procState.expired();
    return static_cast<LRESULT>(++*state);
  });
  state.reset();
  PostMessage(self, kTestMessage, 0, 0);
  PostMessage(self, kTestMessage, 0, 0);
  ASSERT_TRUE(DispatchUntil([] { return g_procState.expired(); }));
  EXPECT_TRUE(g_stateAliveAfterDeallocate) << "the procedure outlived its own deallocation";
  EXPECT_EQ(g_calls, 1) << "the second posted message died with the window";
  EXPECT_FALSE(IsWindow(self));
}

TEST(WindowsTest, FindWindowByClassName) {
  RecordingWindow a("Mailcart.Test.A");
  auto b = std::make_unique<RecordingWindow>("Mailcart.Test.B");
  const HWND bHandle = b->handle;
  EXPECT_EQ(FindWindow("Mailcart.Test.A"), a.handle);
  EXPECT_EQ(FindWindow("Mailcart.Test.B"), bHandle);
  EXPECT_EQ(FindWindow("Mailcart.Test.None"), 0u);
  b.reset();
  EXPECT_EQ(FindWindow("Mailcart.Test.B"), 0u);
}

}  // namespace
