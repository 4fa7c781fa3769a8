#include "app/signin/eventwait.h"

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTimer>

namespace {
constexpr int kCancelCheckMs = 100;
}  // namespace

TWaitEnd WaitInLoop(QEventLoop& loop, const std::function<bool()>& done, int timeoutMs, const TCancelled& cancelled) {
  const QDeadlineTimer deadline(timeoutMs);
  QTimer tick;
  tick.setInterval(kCancelCheckMs);
  QObject::connect(&tick, &QTimer::timeout, &loop, [&loop] { loop.quit(); });
  tick.start();
  for (;;) {
    if (done()) return TWaitEnd::Done;
    if (cancelled && cancelled()) return TWaitEnd::Cancelled;
    if (deadline.hasExpired()) return TWaitEnd::TimedOut;
    loop.exec();
  }
}
