// A watch of a folder as a run of batches: the files the folder's watch finds complete, minus
// those the journals (read once, at the start) or this watch have sent, queued in the order they
// came and sent as one batch each time the front end finds some due. A server that cannot be
// reached ends the watch at its start; once one batch reached it, the files wait in order and go
// again after growing delays. The window (a QSocketNotifier with a timer) and mailcart-send (a
// poll() loop) drive it: neither waits inside it but in SendDue's batch.
#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "app/batch/batchjournal.h"
#include "app/batch/batchrequest.h"
#include "app/batch/batchrunner.h"
#include "app/batch/folderwatch.h"
#include "app/batch/watchjournal.h"

struct TWatchChoice {
  TWatchOptions folder;          // folder.folder absolute, without a trailing '/'
  bool resendChanged = false;    // a file changed since a clean send goes again
  bool resendUncertain = false;  // a file the server may hold goes again
};

// What the watch tells its front end.
class TWatchSessionView {
 public:
  virtual ~TWatchSessionView() = default;
  // A complete file goes with the next batch.
  virtual void Queued(const std::string& /*path*/) {}
  // A complete file stays unsent: why (sent before, may be held, could not be read).
  virtual void Skipped(const std::string& path, const std::string& why) = 0;
  // Folders on network file systems, folders that could not be read, the waits for a server.
  virtual void Notice(const std::string& text) = 0;
  // A batch of the watch has ended (runner's status holds its files); kept: the index of the
  // failed file that waits for the next try with the rest, or -1.
  virtual void BatchEnded(const TBatchRunner& runner, int kept) = 0;
};

class TWatchSession {
 public:
  using Clock = std::chrono::steady_clock;
  // Watches the folder (EWatchError) for batches of request (built and checked by the front end,
  // its files the watch's own); with a journal folder, reads the journals and keeps a watch
  // journal there.
  TWatchSession(TWatchChoice choice, TBatchRequest request, TWatchSessionView& view);
  TWatchSession(const TWatchSession&) = delete;
  TWatchSession& operator=(const TWatchSession&) = delete;

  // Readable when the folder has news; never read it but through Process.
  int Descriptor() const { return watch_.Descriptor(); }
  // Milliseconds a wait for Descriptor may last: to the folder's deadline or the next try of the
  // waiting files; -1 for none.
  int PollTimeout() const;
  // Reads the folder's news (never blocking) and queues the files complete now, or tells why
  // they stay. Raises EWatchError when the watch has ended with its folder.
  void Process();
  // Files are queued and their try is due.
  bool Due() const { return !queue_.empty() && (!retryAt_ || Clock::now() >= *retryAt_); }
  // Sends the files queued when it starts as one batch through runner; files queued meanwhile
  // wait for the next. nullopt: the watch goes on; else how the batch that ends the watch ended
  // (Aborted by a cancel, Failed, QuotaReached).
  std::optional<TBatchEnd> SendDue(TBatchRunner& runner);
  // Files this watch sent (or wrote, for a dry run).
  int Sent() const { return sent_; }
  const std::string& Folder() const { return choice_.folder.folder; }

 private:
  struct TSentHere {
    std::string sha256;
    std::string why;  // why the same bytes stay
  };

  // A complete file: queued, or skipped with its reason.
  void Take(const std::string& path);

  const TWatchChoice choice_;
  TWatchSessionView& view_;
  TFolderWatch watch_;
  TBatchRequest request_;
  const std::string envelope_;
  std::vector<TJournal> journals_;  // as they were at the start
  std::unique_ptr<TWatchJournal> journal_;
  std::vector<std::string> queue_;                       // in the order the files came
  std::unordered_map<std::string, std::string> queued_;  // the SHA-256 of each, as found complete
  std::unordered_map<std::string, TSentHere> sentHere_;  // by path: what this watch sent
  int sent_ = 0;
  bool reached_ = false;  // a batch of this watch has reached the server
  std::chrono::seconds retryDelay_{0};
  std::optional<Clock::time_point> retryAt_;
};

// The folder as the journals name it: absolute, without a trailing '/'.
std::string WatchedFolderPath(const std::string& folder);
// The settle time of seconds as SettleSeconds or --settle give it, at most a day.
std::chrono::milliseconds SettleTime(double seconds);
