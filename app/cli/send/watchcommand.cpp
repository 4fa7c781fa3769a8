#include "app/cli/send/watchcommand.h"

#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "app/batch/batchjournal.h"
#include "app/batch/batchrunner.h"
#include "app/batch/filedigest.h"
#include "app/batch/folderwatch.h"
#include "app/batch/recipients.h"
#include "app/batch/sentfilemove.h"
#include "app/batch/settings.h"
#include "app/batch/watchjournal.h"
#include "app/cli/send/commandline.h"
#include "app/cli/send/exitstatus.h"
#include "app/cli/send/sendoptions.h"
#include "app/cli/send/stopsignals.h"
#include "toolkit/exceptions.h"
#include "toolkit/strutils.h"

namespace {
using Clock = std::chrono::steady_clock;

// The waits for a server that went away: the first, doubled after each try, up to the longest.
constexpr std::chrono::seconds kFirstRetry{5};
constexpr std::chrono::seconds kLongestRetry{15 * 60};

// The folder as the journals name it: absolute, without a trailing '/'.
std::string AbsoluteFolder(const std::string& folder) {
  std::string path = std::filesystem::absolute(folder).lexically_normal().string();
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

std::string SecondsText(std::chrono::seconds wait) {
  return wait.count() < 60 ? std::to_string(wait.count()) + " s" : std::to_string(wait.count() / 60) + " min";
}

// While it lives, a first signal stops the watch instead of ending the program.
class TStopScope {
 public:
  explicit TStopScope(TStopSignals& signals) : signals_(signals) { signals_.WatchFolder(true); }
  ~TStopScope() { signals_.WatchFolder(false); }
  TStopScope(const TStopScope&) = delete;
  TStopScope& operator=(const TStopScope&) = delete;

 private:
  TStopSignals& signals_;
};

class TWatchLoop {
 public:
  TWatchLoop(const TOptions& options, const TSettings& settings, TCommandLine& frontEnd, TBatchRunner& runner,
             TStopSignals& stop);
  int Run();

 private:
  struct TSentHere {
    std::string sha256;
    std::string why;  // why the same bytes stay
  };

  TWatchOptions WatchOptions(const TSettings& settings) const;
  // A complete file: queued, or skipped with its reason on standard error.
  void Take(const std::string& path);
  // The queued files as one batch; an exit status when the watch ends with it.
  std::optional<int> SendQueued();
  // Milliseconds poll() waits: for the watch's deadline, or the next try of the queued files.
  int Timeout(const TFolderWatch& watch) const;

  const TOptions& options_;
  TCommandLine& frontEnd_;
  TBatchRunner& runner_;
  TStopSignals& stop_;
  const std::string folder_;
  const TWatchOptions watchOptions_;
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

TWatchLoop::TWatchLoop(const TOptions& options, const TSettings& settings, TCommandLine& frontEnd, TBatchRunner& runner,
                       TStopSignals& stop)
    : options_(options),
      frontEnd_(frontEnd),
      runner_(runner),
      stop_(stop),
      folder_(AbsoluteFolder(*options.watch)),
      watchOptions_(WatchOptions(settings)),
      request_(frontEnd.Request()),
      envelope_(EnvelopeKey({request_.to, request_.cc, request_.bcc})) {
  request_.sortFiles = false;  // in the order they came
  request_.keepGoing = true;
  request_.waitForQuota = true;  // nobody is there to resume the watch
  if (options.moveTo) request_.moveSentTo = AbsoluteFolder(*options.moveTo);
  if (request_.journalFolder.empty()) return;
  journals_ = ReadJournals(request_.journalFolder);
  TJournalHead head{request_.server, request_.from, request_.to, request_.subject, {}, {}};
  head.cc = request_.cc;
  head.bcc = request_.bcc;
  head.body = request_.body;
  head.user = request_.account.user;
  head.watch = folder_;
  head.started = JournalTime(static_cast<int64_t>(std::time(nullptr)));
  journal_ = std::make_unique<TWatchJournal>(request_.journalFolder, head);
  request_.watchJournal = journal_.get();
}

TWatchOptions TWatchLoop::WatchOptions(const TSettings& settings) const {
  TWatchOptions watch;
  watch.folder = folder_;
  watch.recursive = options_.recursive;
  watch.newOnly = options_.newOnly;
  const double settle = options_.settle.value_or(settings.settleSeconds);
  watch.settle = std::chrono::milliseconds(static_cast<int64_t>(std::llround(std::min(settle, 86400.0) * 1000)));
  watch.names = {options_.include, options_.exclude};
  return watch;
}

int TWatchLoop::Run() {
  if (!request_.moveSentTo.empty())
    if (const std::string problem = MoveFolderProblem(request_.moveSentTo, folder_, options_.recursive);
        !problem.empty())
      throw TUsageError("--move-to: " + problem);
  TFolderWatch watch(watchOptions_);
  const TStopScope scope(stop_);
  frontEnd_.Notice("watching " + DisplayText(folder_) + " for files to send (SIGINT or SIGTERM stops)");
  for (;;) {
    for (const std::string& notice : watch.TakeNotices()) frontEnd_.Notice(notice);
    pollfd fds[] = {{watch.Descriptor(), POLLIN, 0}, {stop_.StopDescriptor(), POLLIN, 0}};
    if (::poll(fds, 2, Timeout(watch)) < 0 && errno != EINTR)
      throw EInOutError("Cannot wait for the files of " + DisplayText(folder_) + ": " + std::strerror(errno));
    if ((fds[1].revents & POLLIN) != 0) break;
    for (const TWatchedFile& file : watch.Process()) Take(file.path);
    if (queue_.empty() || (retryAt_ && Clock::now() < *retryAt_)) continue;
    if (const std::optional<int> status = SendQueued()) return *status;
  }
  frontEnd_.Notice("stopped watching " + DisplayText(folder_) + ": " + std::to_string(sent_) +
                   (sent_ == 1 ? " file" : " files") + (options_.dryRun ? " written" : " sent"));
  return kExitAllSent;
}

void TWatchLoop::Take(const std::string& path) {
  // A file queued goes with its bytes of the time its batch reads it.
  if (queued_.count(path) != 0) return;
  TFileDigest digest;
  try {
    digest = DigestFile(path);
  } catch (const std::exception& error) {
    frontEnd_.Notice(ShownFileName(path) + ": skipped: " + error.what());
    return;
  }
  bool send = true;
  std::string why;
  if (const auto here = sentHere_.find(path); here != sentHere_.end()) {
    const bool same = here->second.sha256 == digest.sha256;
    send = !same && options_.resendChanged;
    why = same ? here->second.why : "changed since this watch sent it (--resend-changed sends it again)";
  } else {
    TWatchDecision decision = DecideWatchFile(journals_, request_.server, envelope_, path, digest,
                                              options_.resendChanged, options_.resendUncertain);
    send = decision.send;
    why = std::move(decision.why);
  }
  if (send) {
    queue_.push_back(path);
    queued_.emplace(path, digest.sha256);
  } else {
    frontEnd_.Notice(ShownFileName(path) + ": skipped: " + DisplayText(why));
  }
}

std::optional<int> TWatchLoop::SendQueued() {
  request_.files = queue_;
  stop_.Watch(&runner_);
  const TBatchEnd end = runner_.Run(request_);
  stop_.Watch(nullptr);
  const bool unreachable = end == TBatchEnd::Failed && frontEnd_.ServerUnreachable();
  const std::vector<TBatchFile>& files = runner_.Status().Files();
  std::vector<std::string> kept;
  int keptFailed = -1;
  bool reached = false;
  for (size_t i = 0; i < files.size(); ++i) {
    const TBatchFile& file = files[i];
    const auto queued = queued_.find(file.path);
    const std::string sha256 = queued == queued_.end() ? std::string() : queued->second;
    if (file.state == TFileState::Sent) {
      ++sent_;
      sentHere_[file.path] = {sha256, "sent by this watch already"};
    } else if (file.state == TFileState::Uncertain) {
      sentHere_[file.path] = {sha256, "may have been delivered (--resend-uncertain sends it again)"};
    }
    const bool failedUnreached = unreachable && file.state == TFileState::Failed && keptFailed < 0;
    if (failedUnreached) keptFailed = static_cast<int>(i);
    if (unreachable && (failedUnreached || file.state == TFileState::Waiting) && queued != queued_.end())
      kept.push_back(file.path);
    reached = reached || (DealtWith(file.state) && !failedUnreached && file.state != TFileState::Skipped);
  }
  frontEnd_.ReportWatchBatch(runner_, keptFailed);
  if (unreachable && reached_ && end == TBatchEnd::Failed) {
    queue_ = std::move(kept);
    std::unordered_map<std::string, std::string> digests;
    for (const std::string& path : queue_) digests.emplace(path, queued_[path]);
    queued_ = std::move(digests);
    retryDelay_ = retryDelay_.count() == 0 ? kFirstRetry : std::min(retryDelay_ * 2, kLongestRetry);
    retryAt_ = Clock::now() + retryDelay_;
    frontEnd_.Notice("the server cannot be reached: " + std::to_string(queue_.size()) +
                     (queue_.size() == 1 ? " file waits" : " files wait") + ", the next try in " +
                     SecondsText(retryDelay_));
    return std::nullopt;
  }
  reached_ = reached_ || reached;
  queue_.clear();
  queued_.clear();
  retryDelay_ = std::chrono::seconds(0);
  retryAt_.reset();
  switch (end) {
    case TBatchEnd::Aborted: return kExitAllSent;  // stopped by a signal, the message in progress done
    case TBatchEnd::Failed: return kExitFailed;
    case TBatchEnd::QuotaReached: return kExitQuota;
    default: return std::nullopt;
  }
}

int TWatchLoop::Timeout(const TFolderWatch& watch) const {
  int timeout = watch.PollTimeout();
  if (queue_.empty() || !retryAt_) return timeout;
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(*retryAt_ - Clock::now()).count();
  const int retry = static_cast<int>(std::max<int64_t>(0, left));
  return timeout < 0 ? retry : std::min(timeout, retry);
}

}  // namespace

int WatchCommand(const TOptions& options, const TSettings& settings, TCommandLine& frontEnd, TBatchRunner& runner,
                 TStopSignals& stopSignals) {
  return TWatchLoop(options, settings, frontEnd, runner, stopSignals).Run();
}
