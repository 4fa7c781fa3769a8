// What the benchmarks share: sample data, CPU and memory readings, a loopback listener.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>

// Fills data with size pseudo-random bytes (the same every run).
void RandomBytes(std::string& data, size_t size);
// Fills data with size bytes of prose lines of 60 to 90 characters ending in CR LF, with a few
// accented letters and "=" signs.
void TextLines(std::string& data, size_t size);

// CPU seconds of the given clock (CLOCK_THREAD_CPUTIME_ID, CLOCK_PROCESS_CPUTIME_ID).
double CpuSeconds(clockid_t clock);
inline double ThreadCpuSeconds() { return CpuSeconds(CLOCK_THREAD_CPUTIME_ID); }
// The process's peak resident set so far, in MB.
double PeakRssMB();

// A listening socket on 127.0.0.1 at a free port; the kernel completes connections to it
// without accept().
class LoopbackListener {
 public:
  LoopbackListener();
  ~LoopbackListener();
  LoopbackListener(const LoopbackListener&) = delete;
  LoopbackListener& operator=(const LoopbackListener&) = delete;
  int Accept() const;
  // Wakes a thread blocked in Accept, which then returns -1.
  void Shutdown() const;
  std::string Address() const { return "127.0.0.1:" + std::to_string(port_); }

 private:
  int fd_;
  uint16_t port_ = 0;
};
