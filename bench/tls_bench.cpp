// TLS throughput of the socket client: 100 MB of a message stream through WriteStream to a
// local TLS peer (tests/e2e/tls_peer.py, Python's ssl over OpenSSL), beside the same bytes in
// plain text to a local sink. Reports MB/s and the client thread's CPU seconds.
//
//   tls_bench --benchmark_counters_tabular=true
#include <sys/socket.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <QProcess>
#include <QTemporaryDir>

#include <cstdlib>
#include <stdexcept>
#include <string>
#include <thread>

#include "net/nksocket.h"
#include "net/nktls.h"
#include "support/benchsupport.h"
#include "toolkit/streams.h"

namespace {
const std::string kE2e = std::string(MAILCART_E2E_DIR) + "/";
constexpr size_t kBytes = 100u << 20;

// A Python script of the end-to-end tests that announces its port with "PORT <n>".
class Script {
 public:
  explicit Script(const QStringList& args) {
    process_.start("/usr/bin/python3", args);
    while (!process_.canReadLine() && process_.waitForReadyRead(15000)) {
    }
    port_ = process_.readLine().trimmed().mid(5).toInt();
    if (port_ == 0) throw std::runtime_error("the TLS peer did not start");
  }
  ~Script() {
    process_.kill();
    process_.waitForFinished();
  }
  std::string Address() const { return "127.0.0.1:" + std::to_string(port_); }

 private:
  QProcess process_;
  int port_ = 0;
};

void Report(benchmark::State& state, double cpu) {
  state.SetBytesProcessed(static_cast<int64_t>(kBytes) * state.iterations());
  state.counters["client_cpu_s"] = cpu / static_cast<double>(state.iterations());
}

void Connect(TnkSocket& client, const std::string& address) {
  client.SetWinsockLoaded(true);
  client.SetServer(address);
  client.Open();
  client.ConnectSocket();
}

void BM_SendTls(benchmark::State& state) {
  QTemporaryDir certs;
  if (std::system(("/usr/bin/python3 " + kE2e + "make_certs.py " + certs.path().toStdString()).c_str()) != 0)
    throw std::runtime_error("make_certs.py failed");
  Script peer({QString::fromStdString(kE2e + "tls_peer.py"), "--cert", certs.filePath("good.pem"), "--key",
               certs.filePath("good.key")});
  TnkTlsContext context({TnkTlsPolicy::Checked, certs.filePath("ca.pem").toStdString(), ""});
  std::string data;
  RandomBytes(data, kBytes);
  TMemoryStream stream(data);
  double cpu = 0;
  for (auto _ : state) {
    TnkSocket client;
    Connect(client, peer.Address());
    client.StartTls(context);
    client.ReadReply();
    const double before = ThreadCpuSeconds();
    client.WriteLine("BULK " + std::to_string(kBytes));
    client.WriteStream(stream);
    if (client.ReadReply() != 250) throw std::runtime_error("the TLS peer lost bytes");
    cpu += ThreadCpuSeconds() - before;
  }
  Report(state, cpu);
}
BENCHMARK(BM_SendTls)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_SendPlain(benchmark::State& state) {
  LoopbackListener server;
  std::string data;
  RandomBytes(data, kBytes);
  TMemoryStream stream(data);
  const int runs = static_cast<int>(state.max_iterations);
  std::thread sink([&] {
    std::string buffer(1 << 20, '\0');
    for (int run = 0; run < runs; ++run) {
      const int peer = server.Accept();
      for (size_t got = 0; got < kBytes;) got += static_cast<size_t>(::recv(peer, buffer.data(), buffer.size(), 0));
      ::send(peer, "250 done\r\n", 10, 0);
      ::close(peer);
    }
  });
  double cpu = 0;
  for (auto _ : state) {
    TnkSocket client;
    Connect(client, server.Address());
    const double before = ThreadCpuSeconds();
    client.WriteStream(stream);
    client.ReadReply();
    cpu += ThreadCpuSeconds() - before;
  }
  sink.join();
  Report(state, cpu);
}
BENCHMARK(BM_SendPlain)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
