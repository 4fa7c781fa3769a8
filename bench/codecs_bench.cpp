// Throughput of the transfer encodings in the shapes the composer and the parser use them:
// Base64 body lines (57-byte groups to 76-character lines with CR LF) both ways, beside
// coreutils' base64 on the same data in the same run, and quoted-printable text both ways.
// Figures are bytes of source data (the unencoded side) per second.
#include <QCoreApplication>

#include <benchmark/benchmark.h>

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>

#include "mime/codecs/pxcodecs.h"
#include "platform/tempfiles.h"
#include "toolkit/streams.h"
#include "toolkit/stringlist.h"

namespace {

constexpr size_t kDataSize = 64 * 1024 * 1024;
constexpr size_t kBlock = kBase64LineBytes * 1150;  // what the composer reads at a time

const std::string& BinaryData() {
  static const std::string data = [] {
    std::mt19937_64 rng(42);
    std::string s(kDataSize, '\0');
    for (size_t i = 0; i + 8 <= s.size(); i += 8) {
      const uint64_t v = rng();
      std::memcpy(&s[i], &v, 8);
    }
    return s;
  }();
  return data;
}

const std::string& Base64Text() {
  static const std::string text = [] {
    std::string out;
    TBase64LineEncoder encoder;
    encoder.Add(BinaryData(), out);
    encoder.Finish(out);
    return out;
  }();
  return text;
}

// Prose with CR LF lines of 40 to 90 characters, a few "=" and 8-bit letters.
const std::string& Text() {
  static const std::string text = [] {
    std::mt19937 rng(7);
    std::string s, line;
    while (s.size() < kDataSize) {
      const size_t width = 40 + rng() % 50;
      line.clear();
      while (line.size() < width) {
        for (size_t n = 1 + rng() % 9; n > 0; --n) line += static_cast<char>('a' + rng() % 26);
        const unsigned r = rng() % 40;
        line += r == 0 ? "\xE9 " : r == 1 ? "= " : r == 2 ? ", " : " ";
      }
      line.back() = '.';
      s += line + "\r\n";
    }
    return s;
  }();
  return text;
}

void BM_Base64EncodeLines(benchmark::State& state) {
  const std::string_view data = BinaryData();
  std::string out;
  for (auto _ : state) {
    TBase64LineEncoder encoder;
    for (size_t at = 0; at < data.size(); at += kBlock) {
      out.clear();
      encoder.Add(data.substr(at, kBlock), out);
      benchmark::DoNotOptimize(out.data());
    }
    encoder.Finish(out);
  }
  state.SetBytesProcessed(static_cast<int64_t>(data.size() * state.iterations()));
}
BENCHMARK(BM_Base64EncodeLines)->Unit(benchmark::kMillisecond)->MinTime(2.0);

void BM_Base64DecodeLines(benchmark::State& state) {
  const std::string_view text = Base64Text();
  std::string out;
  for (auto _ : state) {
    // Blocks of whole lines, as the parser hands them on.
    for (size_t at = 0; at < text.size();) {
      const size_t end = std::min(text.size(), at + 78 * 1150);
      out.clear();
      AppendBase64DecodedLines(text.substr(at, end - at), out);
      benchmark::DoNotOptimize(out.data());
      at = end;
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(BinaryData().size() * state.iterations()));
}
BENCHMARK(BM_Base64DecodeLines)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// coreutils on the same data, through the shell with the output thrown away. The time is the
// processor time of the child processes, as ours is our thread's: on a busy machine wall time
// would measure the neighbours. It includes starting the processes (about a millisecond).
std::string g_dataFile, g_base64File;

double ChildrenCpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_CHILDREN, &usage);
  auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

void RunTimed(benchmark::State& state, const std::string& command) {
  for (auto _ : state) {
    const double start = ChildrenCpuSeconds();
    if (std::system(command.c_str()) != 0) state.SkipWithError(("failed: " + command).c_str());
    state.SetIterationTime(ChildrenCpuSeconds() - start);
  }
  state.SetBytesProcessed(static_cast<int64_t>(BinaryData().size() * state.iterations()));
}

void BM_CoreutilsBase64Encode(benchmark::State& state) {
  RunTimed(state, "base64 -w 76 < " + g_dataFile + " > /dev/null");
}
BENCHMARK(BM_CoreutilsBase64Encode)->Unit(benchmark::kMillisecond)->UseManualTime()->MinTime(2.0);

void BM_CoreutilsBase64Decode(benchmark::State& state) {
  RunTimed(state, "base64 -d < " + g_base64File + " > /dev/null");
}
BENCHMARK(BM_CoreutilsBase64Decode)->Unit(benchmark::kMillisecond)->UseManualTime()->MinTime(2.0);

void BM_QuotedPrintableEncode(benchmark::State& state) {
  TMemoryStream source(Text());
  for (auto _ : state) {
    TStringList lines;
    TQuotedPrintable(&source, &lines).Encode();
    benchmark::DoNotOptimize(lines.Count());
  }
  state.SetBytesProcessed(static_cast<int64_t>(Text().size() * state.iterations()));
}
BENCHMARK(BM_QuotedPrintableEncode)->Unit(benchmark::kMillisecond)->MinTime(2.0);

void BM_QuotedPrintableEncodeBlocks(benchmark::State& state) {
  const std::string_view text = Text();
  std::string out;
  for (auto _ : state) {
    TQPEncoder encoder;
    for (size_t at = 0; at < text.size(); at += 65536) {
      out.clear();
      encoder.Add(text.substr(at, 65536), out);
      benchmark::DoNotOptimize(out.data());
    }
    encoder.Finish(out);
  }
  state.SetBytesProcessed(static_cast<int64_t>(text.size() * state.iterations()));
}
BENCHMARK(BM_QuotedPrintableEncodeBlocks)->Unit(benchmark::kMillisecond)->MinTime(2.0);

void BM_QuotedPrintableDecode(benchmark::State& state) {
  TMemoryStream source(Text());
  TStringList lines;
  TQuotedPrintable(&source, &lines).Encode();
  for (auto _ : state) {
    TMemoryStream output;
    TQuotedPrintable(&output, &lines).Decode();
    benchmark::DoNotOptimize(output.Data().data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(Text().size() * state.iterations()));
}
BENCHMARK(BM_QuotedPrintableDecode)->Unit(benchmark::kMillisecond)->MinTime(2.0);

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);  // the codecs pump as they do in the program
  benchmark::Initialize(&argc, argv);
  g_dataFile = GetTempFileName(GetTempPath(), "codecs-bench-");
  g_base64File = g_dataFile + ".b64";
  TMemoryStream(BinaryData()).SaveToFile(g_dataFile);
  const std::string encode = "base64 -w 76 < " + g_dataFile + " > " + g_base64File;
  const int prepared = std::system(encode.c_str());
  if (prepared == 0) benchmark::RunSpecifiedBenchmarks();
  std::remove(g_dataFile.c_str());
  std::remove(g_base64File.c_str());
  benchmark::Shutdown();
  return prepared == 0 ? 0 : 1;
}
