#include "toolkit/pump.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <thread>

namespace {
using Clock = std::chrono::steady_clock;
// Read by ProcessMessages on any thread (a codec may run off the application thread), written
// only on the application thread.
std::atomic<Clock::rep> g_nextDispatch{0};

void ScheduleNextDispatch() {
  const auto next = Clock::now() + std::chrono::milliseconds(kPumpIntervalMs);
  g_nextDispatch.store(next.time_since_epoch().count(), std::memory_order_relaxed);
}

bool OnApplicationThread() {
  QCoreApplication* app = QCoreApplication::instance();
  return app != nullptr && app->thread() == QThread::currentThread();
}
}  // namespace

void ProcessMessagesNow() {
  if (!OnApplicationThread()) return;
  QCoreApplication::sendPostedEvents();
  QCoreApplication::processEvents(QEventLoop::AllEvents);
  ScheduleNextDispatch();
}

void ProcessMessages() {
  // Reading the monotonic clock is a few nanoseconds (vDSO); a dispatch is microseconds.
  if (Clock::now().time_since_epoch().count() < g_nextDispatch.load(std::memory_order_relaxed)) return;
  ProcessMessagesNow();
}

void WaitForEvents(int timeoutMs) {
  if (!OnApplicationThread()) {
    SleepBlocking(timeoutMs);
    return;
  }
  // A single-shot timer bounds the wait: processEvents(WaitForMoreEvents) returns once the
  // timer's event (or any other) has been dispatched.
  QTimer bound;
  bound.setSingleShot(true);
  bound.start(timeoutMs < 0 ? 0 : timeoutMs);
  QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
  ScheduleNextDispatch();
}

void SleepProcessing(int ms) {
  const QDeadlineTimer deadline(ms);
  while (!deadline.hasExpired()) WaitForEvents(static_cast<int>(deadline.remainingTime()));
}

void SleepBlocking(int ms) {
  if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}
