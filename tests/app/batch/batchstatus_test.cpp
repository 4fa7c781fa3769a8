// The words and numbers a front end shows of a batch.
#include <gtest/gtest.h>

#include "app/batch/batchstatus.h"

namespace {

using namespace std::chrono_literals;

TBatchFile File(uint64_t size, TFileState state, uint64_t done = 0) {
  TBatchFile file;
  file.path = "f";
  file.size = size;
  file.state = state;
  file.bytesDone = done;
  return file;
}

TEST(BatchStatusTest, LinesAndCounts) {
  const TBatchStatus::Clock::time_point t0{};
  constexpr auto kFromTheStart = -1ms;
  const struct {
    const char* name;
    std::vector<TBatchFile> files;
    int current;
    bool cancelled;
    // When the current file's bytes came, after connecting and logging in; a front end looks at
    // the status then. kFromTheStart: the files held them when the batch started.
    std::chrono::milliseconds dataCame;
    std::chrono::milliseconds elapsed;  // since the start: the look whose line is compared
    std::string line, summary;
  } cases[] = {
      {"at the start",
       {File(1024, TFileState::Waiting), File(2048, TFileState::Waiting)},
       0,
       false,
       kFromTheStart,
       0ms,
       "file 1 of 2, 0 bytes of 3.0 KB",
       "0 files sent, 0 failed, 0 skipped."},
      {"half way, a second in",
       {File(1 << 20, TFileState::Sent), File(1 << 20, TFileState::Sending, 0)},
       1,
       false,
       kFromTheStart,
       1000ms,
       "file 2 of 2, 1.0 MB of 2.0 MB, 1.0 MB/s, 1 s left",
       "1 file sent, 0 failed, 0 skipped."},
      {"the rate counts from the first data, not from the connection and the login",
       {File(1 << 20, TFileState::Sending, 1 << 19)},
       0,
       false,
       5000ms,
       6000ms,
       "file 1 of 1, 512.0 KB of 1.0 MB, 512.0 KB/s, 1 s left",
       "0 files sent, 0 failed, 0 skipped."},
      {"no rate before a second of data",
       {File(1 << 20, TFileState::Sending, 36)},
       0,
       false,
       5000ms,
       5900ms,
       "file 1 of 1, 36 bytes of 1.0 MB",
       "0 files sent, 0 failed, 0 skipped."},
      {"after a cancel",
       {File(10, TFileState::Sent), File(10, TFileState::Waiting), File(10, TFileState::Waiting)},
       -1,
       true,
       kFromTheStart,
       2000ms,
       "file 1 of 3, 10 bytes of 30 bytes, 5 bytes/s, 4 s left",
       "Cancelled: 1 of 3 files sent."},
      {"a failed file counts for nothing done",
       {File(3, TFileState::Sent), File(5, TFileState::Failed), File(7, TFileState::Skipped)},
       -1,
       false,
       kFromTheStart,
       1000ms,
       "file 3 of 3, 10 bytes of 15 bytes, 3 bytes/s, 0 s left",
       "1 file sent, 1 failed, 1 skipped."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<TBatchFile> files = c.files;
    uint64_t bytes = 0;
    if (c.dataCame != kFromTheStart) std::swap(bytes, files[c.current].bytesDone);
    TBatchStatus status;
    status.Start(files, t0);
    status.SetCurrent(c.current);
    if (c.cancelled) status.SetCancelled();
    if (c.dataCame != kFromTheStart) {
      status.ProgressLine(t0 + c.dataCame / 2);
      status.File(c.current).bytesDone = bytes;
      status.ProgressLine(t0 + c.dataCame);
    }
    EXPECT_EQ(status.ProgressLine(t0 + c.elapsed), c.line);
    EXPECT_EQ(status.Summary(), c.summary);
  }
}

}  // namespace
