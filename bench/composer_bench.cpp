// Composing a message with one large attachment into a temporary file, as the SMTP client has
// it done before a send: a 100 MB binary file (Base64) and a 20 MB text file
// (quoted-printable). Figures are attachment bytes per second; "peak_rss_MB" is the process's
// peak resident set so far, which must stay under the attachment's size plus 40 MB.
//
// A 1 GiB file streamed from its descriptor, as a batch sends it, is composed to a sink that
// keeps nothing: its "peak_rss_MB" stays the same whatever the file's size.
//
// Run one benchmark per process for a clean peak, e.g.
//   composer_bench --benchmark_filter=Binary

#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <ctime>

#include "app/batch/sourcefile.h"
#include "mail/pxmsg.h"
#include "platform/tempfiles.h"
#include "support/benchsupport.h"
#include "toolkit/streams.h"

namespace {

constexpr size_t kBinarySize = 100 * 1000 * 1000;
constexpr size_t kTextSize = 20 * 1000 * 1000;
constexpr off_t kStreamedSize = off_t{1} << 30;

// The message the main window sends, its attachment's bytes made in place (no second copy).
std::unique_ptr<TpxMessage> MessageWith(const std::string& fileName, void (*fill)(std::string&, size_t), size_t size) {
  auto message = std::make_unique<TpxMessage>();
  message->Sender().SetAddress("sender@example.com");
  message->Sender().SetName("Mailcart 1.1.0");
  message->Recipients().AddAddress("rcpt@example.com", "");
  message->SetSubject("Bench");
  message->Body().Add(" ");
  auto item = std::make_unique<TpxAttItem>();
  item->SetFileName(fileName);
  fill(item->Stream().Data(), size);
  message->Attachments().Add(std::move(item));
  return message;
}

// Each run composes into a new temporary file, as each send does; deleting it is not timed.
// Beside the wall-clock rate, "cpu_MB_per_s" counts only the CPU time of composing (user and
// system), which other processes on a busy machine do not inflate.
void Compose(benchmark::State& state, TpxMessage& message, size_t attachmentSize) {
  int64_t written = 0;
  double cpuSeconds = 0;
  for (auto _ : state) {
    const std::string path = GetTempFileName(GetTempPath(), "composer");
    const double start = ThreadCpuSeconds();
    {
      TFileStream out(path, TFileMode::fmCreate);
      message.SaveToStream(out);
      written = out.Size();
    }
    cpuSeconds += ThreadCpuSeconds() - start;
    state.PauseTiming();
    std::remove(path.c_str());
    state.ResumeTiming();
  }
  const double bytes = static_cast<double>(state.iterations()) * static_cast<double>(attachmentSize);
  state.SetBytesProcessed(static_cast<int64_t>(bytes));
  state.counters["cpu_MB_per_s"] = bytes / 1e6 / cpuSeconds;
  state.counters["output_MB"] = static_cast<double>(written) / 1e6;
  state.counters["peak_rss_MB"] = PeakRssMB();
}

void BM_ComposeBinaryAttachment(benchmark::State& state) {
  static const auto message = MessageWith("data.bin", RandomBytes, kBinarySize);
  Compose(state, *message, kBinarySize);
}
BENCHMARK(BM_ComposeBinaryAttachment)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ComposeTextAttachment(benchmark::State& state) {
  static const auto message = MessageWith("notes.txt", TextLines, kTextSize);
  Compose(state, *message, kTextSize);
}
BENCHMARK(BM_ComposeTextAttachment)->Unit(benchmark::kMillisecond)->UseRealTime();

// Takes what it is given and keeps only the count.
class TNullSink : public TStream {
 public:
  int64_t Read(void*, int64_t) override { return 0; }
  int64_t Write(const void*, int64_t count) override {
    size_ += count;
    return count;
  }
  int64_t Seek(int64_t, TSeekOrigin) override { return size_; }
  void SetSize(int64_t) override {}
  int64_t Size() override { return size_; }

 private:
  int64_t size_ = 0;
};

// The file has no blocks on the disk (all of it a hole), so the bench needs no free gigabyte.
void BM_ComposeStreamedFile(benchmark::State& state) {
  const std::string path = GetTempFileName(GetTempPath(), "streamed") + ".bin";
  { TFileStream(path, TFileMode::fmCreate).SetSize(kStreamedSize); }
  auto message = MessageWith(path, [](std::string&, size_t) {}, 0);
  message->Attachments().Items(0).SetSource(std::make_shared<TSourceFile>(path));
  const double rssBefore = PeakRssMB();
  int64_t written = 0;
  for (auto _ : state) {
    TNullSink sink;
    message->SaveToStream(sink);
    written = sink.Size();
  }
  std::remove(path.c_str());
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kStreamedSize);
  state.counters["output_MB"] = static_cast<double>(written) / 1e6;
  state.counters["peak_rss_MB"] = PeakRssMB();
  state.counters["peak_rss_growth_MB"] = PeakRssMB() - rssBefore;
}
BENCHMARK(BM_ComposeStreamedFile)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

}  // namespace
