// The message pump in the hot loops of the codecs and the composer: what a call costs when
// nothing is due, and how late a posted event is dispatched while such a loop runs.
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEvent>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <numeric>
#include <thread>
#include <vector>

#include "toolkit/pump.h"

namespace {

using Clock = std::chrono::steady_clock;
const auto kStamp = static_cast<QEvent::Type>(QEvent::User + 7);

// Carries the moment it was posted.
struct StampEvent : QEvent {
  Clock::time_point posted = Clock::now();
  StampEvent() : QEvent(kStamp) {}
};

class LatencyProbe : public QObject {
 public:
  std::atomic<int> received{0};
  std::vector<double> latenciesMs;
  bool event(QEvent* e) override {
    if (e->type() != kStamp) return QObject::event(e);
    const double ms =
        std::chrono::duration<double, std::milli>(Clock::now() - static_cast<StampEvent*>(e)->posted).count();
    latenciesMs.push_back(ms);
    ++received;
    return true;
  }
};

void BM_ProcessMessages10M(benchmark::State& state) {
  constexpr int kCalls = 10'000'000;
  for (auto _ : state)
    for (int i = 0; i < kCalls; ++i) ProcessMessages();
  state.SetItemsProcessed(static_cast<int64_t>(kCalls) * state.iterations());
}
BENCHMARK(BM_ProcessMessages10M)->Unit(benchmark::kMillisecond)->Iterations(5);

// Another thread posts events at irregular moments while this thread runs a hot loop that
// only calls ProcessMessages(); each event measures its own time from post to dispatch.
void BM_PostToDispatchLatency(benchmark::State& state) {
  constexpr int kEvents = 500;
  for (auto _ : state) {
    LatencyProbe probe;
    std::atomic<bool> stop{false};
    std::thread poster([&] {
      for (int i = 0; i < kEvents && !stop; ++i) {
        std::this_thread::sleep_for(std::chrono::microseconds(500 + (i * 7919) % 3000));
        QCoreApplication::postEvent(&probe, new StampEvent);
      }
    });
    const QDeadlineTimer bound(60000);
    uint64_t spins = 0;
    while (probe.received < kEvents && !bound.hasExpired()) {
      benchmark::DoNotOptimize(++spins);
      ProcessMessages();
    }
    stop = true;
    poster.join();
    QCoreApplication::removePostedEvents(&probe);
    std::vector<double>& ms = probe.latenciesMs;
    std::sort(ms.begin(), ms.end());
    state.counters["events"] = static_cast<double>(ms.size());
    if (ms.empty()) continue;
    state.counters["mean_ms"] = std::accumulate(ms.begin(), ms.end(), 0.0) / static_cast<double>(ms.size());
    state.counters["p99_ms"] = ms[ms.size() * 99 / 100];
    state.counters["worst_ms"] = ms.back();
  }
}
BENCHMARK(BM_PostToDispatchLatency)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace
