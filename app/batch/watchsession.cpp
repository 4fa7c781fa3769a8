#include "app/batch/watchsession.h"

#include <algorithm>
#include <cmath>
#include <ctime>
#include <filesystem>
#include <unordered_set>
#include <utility>

#include "app/batch/filedigest.h"
#include "app/batch/recipients.h"

namespace {
// The waits for a server that went away: the first, doubled after each try, up to the longest.
constexpr std::chrono::seconds kFirstRetry{5};
constexpr std::chrono::seconds kLongestRetry{15 * 60};

std::string WaitText(std::chrono::seconds wait) {
  return wait.count() < 60 ? std::to_string(wait.count()) + " s" : std::to_string(wait.count() / 60) + " min";
}
}  // namespace

std::string WatchedFolderPath(const std::string& folder) {
  std::string path = std::filesystem::absolute(folder).lexically_normal().string();
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

std::chrono::milliseconds SettleTime(double seconds) {
  return std::chrono::milliseconds(static_cast<int64_t>(std::llround(std::clamp(seconds, 0.0, 86400.0) * 1000)));
}

TWatchSession::TWatchSession(TWatchChoice choice, TBatchRequest request, TWatchSessionView& view)
    : choice_(std::move(choice)),
      view_(view),
      watch_(choice_.folder),
      request_(std::move(request)),
      envelope_(EnvelopeKey({request_.to, request_.cc, request_.bcc})) {
  request_.sortFiles = false;  // in the order they came
  request_.keepGoing = true;
  request_.waitForQuota = true;  // nobody is there to resume the watch
  if (request_.journalFolder.empty()) return;
  journals_ = ReadJournals(request_.journalFolder);
  TJournalHead head{request_.server, request_.from, request_.to, request_.subject, {}, {}};
  head.cc = request_.cc;
  head.bcc = request_.bcc;
  head.body = request_.body;
  head.user = request_.account.user;
  head.watch = Folder();
  head.started = JournalTime(static_cast<int64_t>(std::time(nullptr)));
  journal_ = std::make_unique<TWatchJournal>(request_.journalFolder, head);
  request_.watchJournal = journal_.get();
}

void TWatchSession::Process() {
  for (const TWatchedFile& file : watch_.Process()) Take(file.path);
  for (const std::string& notice : watch_.TakeNotices()) view_.Notice(notice);
}

void TWatchSession::Take(const std::string& path) {
  // A file queued goes with its bytes of the time its batch reads it.
  if (queued_.count(path) != 0) return;
  TFileDigest digest;
  try {
    digest = DigestFile(path);
  } catch (const std::exception& error) {
    view_.Skipped(path, error.what());
    return;
  }
  bool send = true;
  std::string why;
  if (const auto here = sentHere_.find(path); here != sentHere_.end()) {
    const bool same = here->second.sha256 == digest.sha256;
    send = !same && choice_.resendChanged;
    why = same ? here->second.why : "changed since this watch sent it (--resend-changed sends it again)";
  } else {
    TWatchDecision decision = DecideWatchFile(journals_, request_.server, envelope_, path, digest,
                                              choice_.resendChanged, choice_.resendUncertain);
    send = decision.send;
    why = std::move(decision.why);
  }
  if (!send) return view_.Skipped(path, why);
  queue_.push_back(path);
  queued_.emplace(path, digest.sha256);
  view_.Queued(path);
}

std::optional<TBatchEnd> TWatchSession::SendDue(TBatchRunner& runner) {
  const std::vector<std::string> batch = std::exchange(queue_, {});
  request_.files = batch;
  const TBatchEnd end = runner.Run(request_);
  const bool unreachable = end == TBatchEnd::Failed && runner.EndedUnreachable();
  const std::vector<TBatchFile>& files = runner.Status().Files();
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
  view_.BatchEnded(runner, keptFailed);
  const bool retry = unreachable && reached_;
  if (!retry) kept.clear();
  // The batch's files are done with, but for those that wait for the next try, in front of any
  // queued meanwhile.
  const std::unordered_set<std::string> waiting(kept.begin(), kept.end());
  for (const std::string& path : batch)
    if (waiting.count(path) == 0) queued_.erase(path);
  kept.insert(kept.end(), queue_.begin(), queue_.end());
  queue_ = std::move(kept);
  if (retry) {
    retryDelay_ = retryDelay_.count() == 0 ? kFirstRetry : std::min(retryDelay_ * 2, kLongestRetry);
    retryAt_ = Clock::now() + retryDelay_;
    view_.Notice("the server cannot be reached: " + std::to_string(queue_.size()) +
                 (queue_.size() == 1 ? " file waits" : " files wait") + ", the next try in " + WaitText(retryDelay_));
    return std::nullopt;
  }
  reached_ = reached_ || reached;
  retryDelay_ = std::chrono::seconds(0);
  retryAt_.reset();
  switch (end) {
    case TBatchEnd::Aborted:
    case TBatchEnd::Failed:
    case TBatchEnd::QuotaReached: return end;
    default: return std::nullopt;
  }
}

int TWatchSession::PollTimeout() const {
  const int timeout = watch_.PollTimeout();
  if (queue_.empty() || !retryAt_) return timeout;
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(*retryAt_ - Clock::now()).count();
  const int retry = static_cast<int>(std::max<int64_t>(0, left));
  return timeout < 0 ? retry : std::min(timeout, retry);
}
