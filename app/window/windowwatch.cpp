#include "app/window/windowwatch.h"

#include <utility>

#include "app/window/filelistview.h"
#include "toolkit/regularfile.h"

TWindowWatch::TWindowWatch(QObject* parent, TWatchChoice choice, TBatchRequest request, TBatchRunner& runner,
                           TFileListView& list, THooks hooks)
    : QObject(parent),
      session_(std::make_unique<TWatchSession>(std::move(choice), std::move(request),
                                               static_cast<TWatchSessionView&>(*this))),
      runner_(runner),
      list_(list),
      hooks_(std::move(hooks)),
      notifier_(session_->Descriptor(), QSocketNotifier::Read) {
  files_.Start({});
  list_.ShowStatus(files_, -1);
  connect(&notifier_, &QSocketNotifier::activated, this, [this] { Step(); });
  deadline_.setSingleShot(true);
  connect(&deadline_, &QTimer::timeout, this, [this] { Step(); });
  hooks_.state(WatchingText());
  // The files already there are the folder's first news.
  deadline_.start(0);
}

std::string TWindowWatch::WatchingText() const {
  const int sent = session_->Sent();
  return "Watching " + session_->Folder() + ": " + std::to_string(sent) + (sent == 1 ? " file" : " files") +
         " sent so far";
}

void TWindowWatch::Stop() {
  stopping_ = true;
  if (inBatch_)
    runner_.RequestCancel();  // the batch's end ends the watch
  else
    Finish(std::nullopt, {});
}

void TWindowWatch::Step() {
  // While a batch runs the window takes its events, this one's included: the folder's wait for
  // the batch's end, in the kernel's queue.
  if (inBatch_ || ended_) return;
  notifier_.setEnabled(false);
  deadline_.stop();
  try {
    session_->Process();
    if (session_->Due()) {
      inBatch_ = true;
      const std::optional<TBatchEnd> end = session_->SendDue(runner_);
      inBatch_ = false;
      if (end || stopping_) return Finish(end, {});
      hooks_.state(WatchingText());
    }
  } catch (const std::exception& error) {
    inBatch_ = false;
    return Finish(std::nullopt, error.what());
  }
  notifier_.setEnabled(true);
  if (const int timeout = session_->PollTimeout(); timeout >= 0) deadline_.start(timeout);
}

void TWindowWatch::Finish(std::optional<TBatchEnd> end, const std::string& error) {
  if (std::exchange(ended_, true)) return;
  notifier_.setEnabled(false);
  deadline_.stop();
  // The list keeps what it shows, but not this status, which goes with the watch.
  list_.ShowEnd(files_);
  const int sent = session_->Sent();
  hooks_.state("Stopped watching " + session_->Folder() + ": " + std::to_string(sent) +
               (sent == 1 ? " file" : " files") + " sent");
  // Its folder and its journal's lock go now, not when this object does: a new watch of the
  // folder may start at once.
  session_.reset();
  hooks_.ended(end, error);
}

void TWindowWatch::AddRow(const std::string& path, TFileState state, const std::string& detail) {
  const size_t row = files_.Files().size();
  TBatchFile file;
  file.path = path;
  file.size = RegularFileSize(path);
  file.state = state;
  file.detail = detail;
  lastRow_[path] = row;
  files_.Add(std::move(file));
  list_.ShowStatus(files_, static_cast<int>(row));
}

void TWindowWatch::Queued(const std::string& path) { AddRow(path, TFileState::Waiting, {}); }

void TWindowWatch::Skipped(const std::string& path, const std::string& why) { AddRow(path, TFileState::Skipped, why); }

void TWindowWatch::BatchChanged(const TBatchStatus& batch, int index) {
  const std::vector<TBatchFile>& files = batch.Files();
  if (batch.Number() != batchNumber_) {
    // A new batch: its files are the newest rows of their paths, queued before it began.
    batchNumber_ = batch.Number();
    batchRows_.clear();
    for (const TBatchFile& file : files) {
      const auto row = lastRow_.find(file.path);
      if (row != lastRow_.end()) {
        batchRows_.push_back(row->second);
      } else {
        batchRows_.push_back(files_.Files().size());
        AddRow(file.path, file.state, file.detail);
      }
    }
  }
  const auto show = [&](size_t i) {
    if (i >= files.size() || i >= batchRows_.size()) return;
    files_.File(batchRows_[i]) = files[i];
    list_.ShowStatus(files_, static_cast<int>(batchRows_[i]));
  };
  const int current = batch.Current();
  files_.SetCurrent(
      current >= 0 && static_cast<size_t>(current) < batchRows_.size() ? static_cast<int>(batchRows_[current]) : -1);
  if (index >= 0) return show(static_cast<size_t>(index));
  for (size_t i = 0; i < files.size(); ++i) show(i);
}
