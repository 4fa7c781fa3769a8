// The window while it sends a 100 MB file, its list and bars updating: a 5 ms timer runs beside
// the batch and the longest gap between two of its ticks is how long the window could not react.
// Needs an SMTP server: MAILCART_BENCH_SMTP=127.0.0.1:PORT (bench/batch_bench.sh starts one and
// sets it). And how long a list of 5,000 files takes to fill and paint, needing no server.
#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeView>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <string>

#include "app/window/filelistview.h"
#include "app/window/mainf.h"
#include "toolkit/msgbox.h"
#include "toolkit/pump.h"

namespace {

constexpr int kTickMs = 5;
constexpr size_t kFileSize = 100u << 20;

// The boxes of the batch are not shown.
class SilentBoxes : public TMessageBoxService {
 public:
  void Show(const std::string&, const std::string&, TMsgIcon) override {}
};

std::string MakeFile(const QTemporaryDir& dir) {
  const std::string path = dir.filePath("large.bin").toStdString();
  std::string block(1 << 20, '\0');
  std::ofstream out(path, std::ios::binary);
  for (size_t written = 0; written < kFileSize; written += block.size()) {
    for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>((i * 131 + written / block.size()) & 0xFF);
    out.write(block.data(), static_cast<std::streamsize>(block.size()));
  }
  return path;
}

void BM_WindowWhileSending100MB(benchmark::State& state) {
  const char* server = std::getenv("MAILCART_BENCH_SMTP");
  if (server == nullptr) {
    state.SkipWithError("set MAILCART_BENCH_SMTP=127.0.0.1:PORT");
    return;
  }
  const QTemporaryDir dir;
  const std::string file = MakeFile(dir);
  SilentBoxes boxes;
  SetMessageBoxService(&boxes);
  double worstGapMs = 0, seconds = 0;
  for (auto _ : state) {
    TForm1 form((dir.path() + "/mailcart").toStdString());
    form.findChild<QLineEdit*>("MailServerE")->setText(server);
    form.findChild<QLineEdit*>("EMailFromE")->setText("me@example.com");
    form.findChild<QLineEdit*>("AddrE")->setText("you@example.com");
    form.OpenDialog1().SetChooser([&](QWidget*, const QString&) { return QStringList{QString::fromStdString(file)}; });
    form.findChild<QPushButton*>("SelFilesB")->click();
    form.show();

    QElapsedTimer clock;
    qint64 lastTick = 0;
    qint64 worstGap = 0;
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
      const qint64 now = clock.nsecsElapsed();
      worstGap = std::max(worstGap, now - lastTick);
      lastTick = now;
    });
    clock.start();
    ticker.start(kTickMs);
    form.findChild<QPushButton*>("SendB")->click();
    seconds = clock.nsecsElapsed() / 1e9;
    ticker.stop();
    const auto& files = form.findChild<TFileListView*>("FileList")->Model().Files();
    if (files.size() != 1 || files[0].state != TFileState::Sent) {
      state.SkipWithError("the file was not sent");
      break;
    }
    worstGapMs = worstGap / 1e6;
  }
  SetMessageBoxService(nullptr);
  state.counters["worst_gap_ms"] = worstGapMs;
  state.counters["send_s"] = seconds;
  state.counters["MB_per_s"] = kFileSize / 1e6 / seconds;
}
BENCHMARK(BM_WindowWhileSending100MB)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// Files dropped onto the window (each one looked at), then the same files as a batch's list.
void BM_FillListOf5000Files(benchmark::State& state) {
  constexpr int kFiles = 5000;
  const QTemporaryDir dir;
  std::vector<std::string> paths;
  std::vector<TBatchFile> files(kFiles);
  for (int i = 0; i < kFiles; ++i) {
    paths.push_back(dir.filePath(QString("file%1.bin").arg(i)).toStdString());
    std::ofstream(paths.back()) << i;
    files[i].path = paths.back();
    files[i].size = 4;
  }
  TBatchStatus status;
  status.Start(files);
  double addMs = 0, showMs = 0;
  for (auto _ : state) {
    TForm1 form((dir.path() + "/mailcart").toStdString());
    form.show();
    ProcessMessagesNow();
    auto* list = form.findChild<TFileListView*>("FileList");
    QElapsedTimer clock;
    clock.start();
    form.AddFiles(paths);
    list->View()->viewport()->repaint();
    addMs = clock.nsecsElapsed() / 1e6;
    clock.restart();
    list->ShowStatus(status, -1);
    list->View()->viewport()->repaint();
    showMs = clock.nsecsElapsed() / 1e6;
  }
  state.counters["add_and_paint_ms"] = addMs;
  state.counters["batch_list_and_paint_ms"] = showMs;
}
BENCHMARK(BM_FillListOf5000Files)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
