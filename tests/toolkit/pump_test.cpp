#include "toolkit/pump.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QEvent>
#include <QTimer>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace {

const auto kPing = static_cast<QEvent::Type>(QEvent::User + 1);

class Receiver : public QObject {
 public:
  std::atomic<int> received{0};
  bool event(QEvent* e) override {
    if (e->type() != kPing) return QObject::event(e);
    ++received;
    return true;
  }
};

}  // namespace

TEST(Pump, HotLoopDispatchesPostedEventsAndDueTimers) {
  Receiver r;
  bool fired = false;
  QTimer::singleShot(20, [&] { fired = true; });
  QCoreApplication::postEvent(&r, new QEvent(kPing));
  const QDeadlineTimer bound(10000);
  while ((r.received == 0 || !fired) && !bound.hasExpired()) ProcessMessages();
  EXPECT_EQ(r.received, 1);
  EXPECT_TRUE(fired);
}

TEST(Pump, WaitWakesOnAnEventFromAnotherThread) {
  Receiver r;
  std::thread poster([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    QCoreApplication::postEvent(&r, new QEvent(kPing));
  });
  QElapsedTimer elapsed;
  elapsed.start();
  const QDeadlineTimer bound(30000);
  while (r.received == 0 && !bound.hasExpired()) WaitForEvents(10000);
  poster.join();
  EXPECT_EQ(r.received, 1);
  EXPECT_LT(elapsed.elapsed(), 9000) << "the wait ran into its time-out instead of waking";
}

TEST(Pump, WaitsEndWithNothingToDispatchAndSleepProcessingDispatches) {
  QElapsedTimer elapsed;
  elapsed.start();
  for (int i = 0; i < 3; ++i) WaitForEvents(20);
  Receiver r;
  QCoreApplication::postEvent(&r, new QEvent(kPing));
  SleepProcessing(30);
  EXPECT_EQ(r.received, 1);
  EXPECT_LT(elapsed.elapsed(), 5000);
}

TEST(Pump, OtherThreadsDispatchNothing) {
  Receiver r;
  QCoreApplication::postEvent(&r, new QEvent(kPing));
  std::thread worker([] {
    ProcessMessagesNow();
    ProcessMessages();
    WaitForEvents(10);  // sleeps instead
  });
  worker.join();
  EXPECT_EQ(r.received, 0);
  ProcessMessagesNow();
  EXPECT_EQ(r.received, 1);
}
