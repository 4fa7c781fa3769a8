#include "toolkit/pump.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QThread>
#include <QTimer>

#include <chrono>
#include <thread>

namespace {
using Clock = std::chrono::steady_clock;
Clock::time_point g_nextDispatch{};

bool OnApplicationThread() {
  QCoreApplication* app = QCoreApplication::instance();
  return app != nullptr && app->thread() == QThread::currentThread();
}
}  // namespace

void ProcessMessagesNow() {
  if (!OnApplicationThread()) return;
  QCoreApplication::sendPostedEvents();
  QCoreApplication::processEvents(QEventLoop::AllEvents);
  g_nextDispatch = Clock::now() + std::chrono::milliseconds(kPumpIntervalMs);
}

void ProcessMessages() {
  // Reading the monotonic clock is a few nanoseconds (vDSO); a dispatch is microseconds.
  if (Clock::now() < g_nextDispatch) return;
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
  g_nextDispatch = Clock::now() + std::chrono::milliseconds(kPumpIntervalMs);
}

void SleepProcessing(int ms) {
  const QDeadlineTimer deadline(ms);
  while (!deadline.hasExpired()) WaitForEvents(static_cast<int>(deadline.remainingTime()));
}

void SleepBlocking(int ms) {
  if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}
