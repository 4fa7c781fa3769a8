// The socket client's costs: CPU while waiting for a silent server, receive calls per reply
// line, and the line reader's throughput.
//
//   socket_bench --benchmark_counters_tabular=true
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <QCoreApplication>

#include <string>
#include <thread>

#include "net/nksocket.h"
#include "net/nkutils.h"
#include "net/nkwinsock.h"

namespace {

// A listening socket on 127.0.0.1; the kernel completes connections to it without accept().
class Listener {
 public:
  Listener() {
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::listen(fd_, 8);
    socklen_t length = sizeof a;
    getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &length);
    port_ = ntohs(a.sin_port);
  }
  ~Listener() { ::close(fd_); }
  int Accept() const { return ::accept(fd_, nullptr, nullptr); }
  std::string Address() const { return "127.0.0.1:" + std::to_string(port_); }

 private:
  int fd_;
  uint16_t port_ = 0;
};

void Connect(TnkSocket& client, const Listener& server) {
  client.SetWinsockLoaded(true);
  client.SetServer(server.Address());
  client.Open();
  client.ConnectSocket();
}

// The process's CPU time over a ReadLine that waits 5 seconds for a server that never answers.
void BM_WaitForSilentServer(benchmark::State& state) {
  Listener server;
  for (auto _ : state) {
    TnkSocket client;
    client.SetTimeOut(5);
    Connect(client, server);
    std::string line;
    try {
      client.ReadLine(line);
    } catch (const ETimedOutError&) {
    }
  }
}
BENCHMARK(BM_WaitForSilentServer)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// Replies of many lines written at once, as a server does; counts recv calls per line.
void BM_ReadReplyLines(benchmark::State& state) {
  const int lines = 1000;
  const int replies = static_cast<int>(state.max_iterations);
  Listener server;
  std::string reply;
  for (int i = 1; i < lines; ++i) reply += "250-" + std::string(static_cast<size_t>(state.range(0)), 'a') + "\r\n";
  reply += "250 end\r\n";
  std::thread writer([&] {
    const int peer = server.Accept();
    for (int i = 0; i < replies; ++i)
      for (size_t sent = 0; sent < reply.size();) sent += static_cast<size_t>(::send(peer, reply.data() + sent, reply.size() - sent, 0));
    ::close(peer);
  });
  TnkSocket client;
  Connect(client, server);
  const long long before = WinsockRecvCalls();
  for (auto _ : state) client.ReadReply();
  state.counters["recv_per_line"] =
      static_cast<double>(WinsockRecvCalls() - before) / (static_cast<double>(lines) * static_cast<double>(replies));
  state.SetItemsProcessed(static_cast<int64_t>(lines) * replies);
  state.SetBytesProcessed(static_cast<int64_t>(reply.size()) * replies);
  writer.join();
}
BENCHMARK(BM_ReadReplyLines)->Arg(20)->Arg(1000)->Iterations(50)->Unit(benchmark::kMillisecond);

// 100 MB of message text through the line reader, as the parser reads it.
void BM_LineStream(benchmark::State& state) {
  TLineStream stream;
  std::string text;
  for (int i = 0; text.size() < 100u << 20; ++i)
    text += std::string(static_cast<size_t>(20 + i % 57), static_cast<char>('A' + i % 26)) + "\r\n";
  stream.WriteString(text);
  std::string line;
  for (auto _ : state) {
    stream.Reset();
    for (stream.ReadLine(line); !stream.Eof(); stream.ReadLine(line)) benchmark::DoNotOptimize(line.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(text.size()) * state.iterations());
}
BENCHMARK(BM_LineStream)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
