// The SMTP client's costs against a minimal SMTP server on a thread of this process: small
// messages over fresh connections (messages/s, CPU, receive calls per reply line), a large
// attachment, and the CPU spent waiting for a server that never greets.
//
//   smtp_bench --benchmark_counters_tabular=true
#include <sys/socket.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <random>
#include <string>
#include <thread>

#include "mail/pxmsg.h"
#include "net/nkutils.h"
#include "net/nkwinsock.h"
#include "net/pxsmtp.h"
#include "platform/tempfiles.h"
#include "support/benchsupport.h"

namespace {

// Accepts connections one after the other and answers every command as a willing server
// does; counts the reply lines it sends.
class MiniSmtpServer {
 public:
  MiniSmtpServer() : thread_([this] { Serve(); }) {}
  ~MiniSmtpServer() {
    listener_.Shutdown();
    thread_.join();
  }
  std::string Address() const { return listener_.Address(); }
  long long ReplyLines() const { return replyLines_; }

 private:
  void Serve() {
    for (int peer; (peer = listener_.Accept()) >= 0; ::close(peer)) Converse(peer);
  }

  void Reply(int peer, const char* line) {
    ::send(peer, line, strlen(line), MSG_NOSIGNAL);
    ++replyLines_;
  }

  void Converse(int peer) {
    Reply(peer, "220 bench ready\r\n");
    std::string buffer;
    bool inData = false;
    char chunk[65536];
    for (ssize_t n; (n = ::recv(peer, chunk, sizeof chunk, 0)) > 0;) {
      buffer.append(chunk, static_cast<size_t>(n));
      size_t start = 0;
      for (size_t lf; (lf = buffer.find('\n', start)) != std::string::npos; start = lf + 1) {
        const std::string_view line(buffer.data() + start, lf + 1 - start);
        if (inData) {
          if (line == ".\r\n") {
            inData = false;
            Reply(peer, "250 queued\r\n");
          }
        } else if (line.starts_with("DATA")) {
          inData = true;
          Reply(peer, "354 go ahead\r\n");
        } else if (line.starts_with("QUIT")) {
          Reply(peer, "221 bye\r\n");
          return;
        } else {
          Reply(peer, "250 ok\r\n");
        }
      }
      buffer.erase(0, start);
    }
  }

  LoopbackListener listener_;
  std::atomic<long long> replyLines_{0};
  std::thread thread_;
};

// A message as the window builds it: one line of body and one file.
class BenchMessage {
 public:
  explicit BenchMessage(const std::string& fileBytes) : path_(GetTempFileName(GetTempPath(), "smtpbench")) {
    std::ofstream(path_, std::ios::binary) << fileBytes;
    message_.Sender().SetAddress("from@example.org");
    message_.Sender().SetName("Mailcart 1.1.0");
    message_.Recipients().AddAddress("to@example.org", "");
    message_.SetSubject("bench");
    message_.Body().Add(" ");
    message_.Attachments().AddFile(path_);
  }
  ~BenchMessage() { std::remove(path_.c_str()); }
  TpxMessage& Message() { return message_; }

 private:
  std::string path_;
  TpxMessage message_;
};

std::string TextFile(size_t size) {
  std::string text;
  for (int i = 0; text.size() < size; ++i) text += (i % 7 == 0 ? ".line " : "line ") + std::to_string(i) + "\r\n";
  return text.substr(0, size);
}

void Prepare(TpxSMTP& smtp, const std::string& server, TpxMessage& message) {
  smtp.SetWinsockLoaded(true);
  smtp.SetServer(server);
  smtp.SetMailMessage(&message);
}

// One small message per iteration, each over its own connection as in a batch.
void BM_SendSmallMessages(benchmark::State& state) {
  MiniSmtpServer server;
  BenchMessage message(TextFile(2000));
  TpxSMTP smtp;
  Prepare(smtp, server.Address(), message.Message());
  const long long recvBefore = WinsockRecvCalls();
  const double cpuBefore = CpuSeconds(CLOCK_PROCESS_CPUTIME_ID);
  const double clientBefore = CpuSeconds(CLOCK_THREAD_CPUTIME_ID);
  for (auto _ : state) smtp.Send();
  state.counters["cpu_s"] = CpuSeconds(CLOCK_PROCESS_CPUTIME_ID) - cpuBefore;
  state.counters["client_cpu_s"] = CpuSeconds(CLOCK_THREAD_CPUTIME_ID) - clientBefore;
  state.counters["recv_per_reply_line"] =
      static_cast<double>(WinsockRecvCalls() - recvBefore) / static_cast<double>(server.ReplyLines());
  state.counters["msgs_per_s"] =
      benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_SendSmallMessages)->Iterations(1000)->Unit(benchmark::kMillisecond)->UseRealTime();

// A 20 MB binary file: composing into the temporary file and sending it in blocks.
void BM_SendLargeAttachment(benchmark::State& state) {
  std::mt19937 random(1);
  std::string bytes(20u << 20, '\0');
  for (char& c : bytes) c = static_cast<char>(random() & 0xff);
  MiniSmtpServer server;
  BenchMessage message(bytes);
  TpxSMTP smtp;
  Prepare(smtp, server.Address(), message.Message());
  const double cpuBefore = CpuSeconds(CLOCK_PROCESS_CPUTIME_ID);
  for (auto _ : state) smtp.Send();
  state.counters["cpu_s"] = CpuSeconds(CLOCK_PROCESS_CPUTIME_ID) - cpuBefore;
  state.SetBytesProcessed(static_cast<int64_t>(bytes.size()) * state.iterations());
}
BENCHMARK(BM_SendLargeAttachment)->Iterations(2)->Unit(benchmark::kMillisecond)->UseRealTime();

// A server that accepts the connection and never greets: Send waits out a 5-second time-out.
void BM_WaitForSilentServer(benchmark::State& state) {
  LoopbackListener silent;  // the kernel completes the connection; nobody answers
  BenchMessage message("x");
  for (auto _ : state) {
    TpxSMTP smtp;
    Prepare(smtp, silent.Address(), message.Message());
    smtp.SetTimeOut(5);
    const double cpuBefore = CpuSeconds(CLOCK_PROCESS_CPUTIME_ID);
    try {
      smtp.Send();
    } catch (const ETimedOutError&) {
    }
    state.counters["cpu_s"] = CpuSeconds(CLOCK_PROCESS_CPUTIME_ID) - cpuBefore;
  }
}
BENCHMARK(BM_WaitForSilentServer)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
