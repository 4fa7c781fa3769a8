// The socket client's costs: CPU while waiting for a silent server, receive calls per reply
// line, and the line reader's throughput.
//
//   socket_bench --benchmark_counters_tabular=true
#include <sys/socket.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <string>
#include <thread>

#include "net/nksocket.h"
#include "net/nkutils.h"
#include "net/nkwinsock.h"
#include "support/benchsupport.h"

namespace {

void Connect(TnkSocket& client, const LoopbackListener& server) {
  client.SetWinsockLoaded(true);
  client.SetServer(server.Address());
  client.Open();
  client.ConnectSocket();
}

// The process's CPU time over a ReadLine that waits 5 seconds for a server that never answers.
void BM_WaitForSilentServer(benchmark::State& state) {
  LoopbackListener server;
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
  LoopbackListener server;
  std::string reply;
  for (int i = 1; i < lines; ++i) reply += "250-" + std::string(static_cast<size_t>(state.range(0)), 'a') + "\r\n";
  reply += "250 end\r\n";
  std::thread writer([&] {
    const int peer = server.Accept();
    for (int i = 0; i < replies; ++i)
      for (size_t sent = 0; sent < reply.size();)
        sent += static_cast<size_t>(::send(peer, reply.data() + sent, reply.size() - sent, 0));
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
