// The window's watch of a folder: the watch's batches run from the event loop (its descriptor
// through a QSocketNotifier, its deadlines through a timer), and the list shows every file the
// watch found, in the order they came, each with what became of it; the batch that sends some of
// them shows its progress in their rows. It runs until "Cancel sending", an error, or a batch
// that ends the watch.
#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "app/batch/batchstatus.h"
#include "app/batch/watchsession.h"

class TFileListView;

class TWindowWatch : public QObject, private TWatchSessionView {
 public:
  struct THooks {
    std::function<void(const std::string&)> state;  // for the state line
    // Once, when the watch has ended: how the batch that ended it ended (nullopt: a cancel
    // between batches, or an error), and the error that ended it, for a box; empty when a batch
    // ended it. The watch may be deleted (deleteLater) from here on.
    std::function<void(std::optional<TBatchEnd> end, const std::string& error)> ended;
  };

  // Starts the watch (EWatchError); from now on the list shows its files.
  TWindowWatch(QObject* parent, TWatchChoice choice, TBatchRequest request, TBatchRunner& runner, TFileListView& list,
               THooks hooks);

  // "Cancel sending": ends the watch now, or once the batch in progress has stopped.
  void Stop();
  // The runner's changes to the status of a batch of the watch, shown in its files' rows.
  void BatchChanged(const TBatchStatus& batch, int index);
  // One of the watch's batches is running.
  bool InBatch() const { return inBatch_; }

 private:
  // TWatchSessionView
  void Queued(const std::string& path) override;
  void Skipped(const std::string& path, const std::string& why) override;
  void Notice(const std::string& text) override { hooks_.state(text); }
  void BatchEnded(const TBatchRunner& /*runner*/, int /*kept*/) override {}

  // Takes the folder's news, sends the files due, then waits for the next news or deadline.
  void Step();
  void AddRow(const std::string& path, TFileState state, const std::string& detail);
  void Finish(std::optional<TBatchEnd> end, const std::string& error);
  std::string WatchingText() const;

  std::unique_ptr<TWatchSession> session_;  // until the watch has ended
  TBatchRunner& runner_;
  TFileListView& list_;
  const THooks hooks_;
  QSocketNotifier notifier_;
  QTimer deadline_;
  TBatchStatus files_;                               // every file found, as the list shows them
  std::unordered_map<std::string, size_t> lastRow_;  // by path: its newest row
  std::vector<size_t> batchRows_;                    // the row of each file of the running batch
  uint64_t batchNumber_ = 0;                         // of the batch batchRows_ is for
  bool inBatch_ = false;
  bool stopping_ = false;
  bool ended_ = false;
};
