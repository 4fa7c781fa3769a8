// Reading messages back: one message with a 100 MB Base64 attachment (and, for comparison, one
// with a 20 MB quoted-printable text) read from a file, and 10,000 small messages of the shape
// the main window sends. Rates are bytes of message text per second, or messages per second;
// "peak_rss_MB" is the process's peak resident set so far, which must stay under three times
// the message's size.
//
// Run one benchmark per process for a clean peak, e.g.
//   parser_bench --benchmark_filter=Base64

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <ctime>

#include "mail/pxmsg.h"
#include "platform/tempfiles.h"
#include "support/benchsupport.h"
#include "toolkit/streams.h"

namespace {

constexpr size_t kBinarySize = 100 * 1000 * 1000;
constexpr size_t kTextSize = 20 * 1000 * 1000;
constexpr int kSmallMessages = 10000;

// The message the main window sends: one body line and one file.
void Fill(TpxMessage& message, const std::string& fileName, void (*fill)(std::string&, size_t), size_t size) {
  message.Sender().SetAddress("sender@example.com");
  message.Sender().SetName("Mailcart 1.1.0");
  message.Recipients().AddAddress("rcpt@example.com", "");
  message.SetSubject("Bench");
  message.Body().Add(" ");
  auto item = std::make_unique<TpxAttItem>();
  item->SetFileName(fileName);
  fill(item->Stream().Data(), size);
  message.Attachments().Add(std::move(item));
}

// A composed message in a temporary file; the message object is gone before any reading.
class TMessageFile {
 public:
  TMessageFile(const std::string& fileName, void (*fill)(std::string&, size_t), size_t size)
      : path_(GetTempFileName(GetTempPath(), "parser")) {
    TpxMessage message;
    Fill(message, fileName, fill, size);
    TFileStream out(path_, TFileMode::fmCreate);
    message.SaveToStream(out);
    size_ = out.Size();
  }
  ~TMessageFile() { std::remove(path_.c_str()); }
  const std::string& Path() const { return path_; }
  int64_t Size() const { return size_; }

 private:
  std::string path_;
  int64_t size_ = 0;
};

void Read(benchmark::State& state, const TMessageFile& file, size_t attachmentSize) {
  double cpuSeconds = 0;
  for (auto _ : state) {
    const double start = ThreadCpuSeconds();
    TpxMessage message;
    TFileStream in(file.Path(), TFileMode::fmOpenRead);
    message.LoadFromStream(in);
    cpuSeconds += ThreadCpuSeconds() - start;
    if (message.Attachments().Count() != 1 || message.Attachments().Items(0).Stream().Data().size() != attachmentSize)
      state.SkipWithError("the attachment did not come back whole");
  }
  const double bytes = static_cast<double>(state.iterations()) * static_cast<double>(file.Size());
  state.SetBytesProcessed(static_cast<int64_t>(bytes));
  state.counters["cpu_MB_per_s"] = bytes / 1e6 / cpuSeconds;
  state.counters["message_MB"] = static_cast<double>(file.Size()) / 1e6;
  state.counters["peak_rss_MB"] = PeakRssMB();
  state.counters["peak_per_message_size"] = PeakRssMB() * 1024 * 1024 / static_cast<double>(file.Size());
}

void BM_ReadBase64Attachment(benchmark::State& state) {
  static const TMessageFile file("data.bin", RandomBytes, kBinarySize);
  Read(state, file, kBinarySize);
}
BENCHMARK(BM_ReadBase64Attachment)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ReadQuotedPrintableAttachment(benchmark::State& state) {
  static const TMessageFile file("notes.txt", TextLines, kTextSize);
  Read(state, file, kTextSize);
}
BENCHMARK(BM_ReadQuotedPrintableAttachment)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ReadSmallMessages(benchmark::State& state) {
  TpxMessage original;
  Fill(original, "report.pdf", RandomBytes, 2000);
  TMemoryStream text;
  original.SaveToStream(text);
  for (auto _ : state) {
    for (int i = 0; i < kSmallMessages; ++i) {
      TpxMessage message;
      text.SetPosition(0);
      message.LoadFromStream(text);
      benchmark::DoNotOptimize(message.Attachments().Count());
    }
  }
  state.SetItemsProcessed(state.iterations() * kSmallMessages);
  state.counters["message_bytes"] = static_cast<double>(text.Size());
}
BENCHMARK(BM_ReadSmallMessages)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
