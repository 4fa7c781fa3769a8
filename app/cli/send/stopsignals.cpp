#include "app/cli/send/stopsignals.h"

#include <pthread.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <QCoreApplication>

#include <thread>

#include "app/batch/batchrunner.h"
#include "app/cli/send/exitstatus.h"

TStopSignals::TStopSignals() {
  sigemptyset(&set_);
  sigaddset(&set_, SIGINT);
  sigaddset(&set_, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &set_, nullptr);
  stopFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  std::thread([this] { Wait(); }).detach();
}

void TStopSignals::Wait() {
  for (int received = 0;;) {
    int signal = 0;
    if (sigwait(&set_, &signal) != 0) continue;
    TBatchRunner* runner = runner_.load();
    QCoreApplication* app = QCoreApplication::instance();
    const bool watching = watching_.load() && stopFd_ >= 0;
    if ((runner == nullptr && !watching) || app == nullptr || ++received > 1) {
      static constexpr char kText[] = "mailcart-send: stopped\n";
      [[maybe_unused]] const ssize_t written = ::write(STDERR_FILENO, kText, sizeof kText - 1);
      ::_exit(kExitCanceled);
    }
    if (watching) {
      const uint64_t one = 1;
      [[maybe_unused]] const ssize_t written = ::write(stopFd_, &one, sizeof one);
    }
    if (runner == nullptr) continue;
    QMetaObject::invokeMethod(
        app,
        [this] {
          if (TBatchRunner* current = runner_.load()) current->RequestCancel();
        },
        Qt::QueuedConnection);
  }
}
