// How many messages an account may send in a rolling minute, hour and day, and how long the next
// message must wait so that none of those windows holds more. An account is a server and its
// user, or the sender's address when nobody logs in; what it sent is read from the journals'
// Sent records and added to as the batch sends.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/batch/batchcountdown.h"
#include "app/batch/batchjournal.h"

struct TBatchRequest;
struct TSettings;

// The state line of a wait for the caps, followed by its seconds ("12 s").
inline constexpr char kWaitingForCaps[] = "waiting for the provider's limit: ";

// The most messages in each window; 0: no cap.
struct TSendCaps {
  int perMinute = 0, perHour = 0, perDay = 0;
  bool Any() const { return perMinute > 0 || perHour > 0 || perDay > 0; }
};

// The caps asked for, each one not given (nullopt) taken from the provider whose submission
// server is server's host (any case), when it publishes one; 0 given is no cap.
struct TCapChoice {
  std::optional<int> perMinute, perHour, perDay;
};
TSendCaps ResolveCaps(const TCapChoice& choice, const std::string& server);
// The caps and the session limit the settings give (a cap key missing: the provider's), and
// NewConnectionPerMessage is a session limit of 1.
void ApplySettingsLimits(TBatchRequest& request, const TSettings& settings);

// Seconds until a message may go at now (0: at once): for each cap, a window of its length
// ending at now holds the sends after now - length; at the cap the message waits until the
// oldest of them leaves it. The longest wait of the caps wins. sent: seconds since the epoch.
int64_t CapWait(const std::vector<int64_t>& sent, const TSendCaps& caps, int64_t now);

// "at most 30 messages a minute": the tightest cap that a wait of seconds is for.
std::string CapText(const std::vector<int64_t>& sent, const TSendCaps& caps, int64_t now);

// When an account sent, from the Sent records of the journals through server (any case) within
// the day before now: with a login those of user, without one those of the sender from (any case).
std::vector<int64_t> SentTimes(const std::vector<TJournal>& journals, const std::string& server,
                               const std::string& user, const std::string& from, int64_t now);

// The caps and the session limit of one running batch, on the batch's clock: before each
// message the wait the caps ask for, after it whether its session is to end.
class TSendPacer {
 public:
  enum class TPace { Go, Cancelled, Stop };
  // A wait longer than this stops the batch unless it waits for the provider's daily limit.
  static constexpr int64_t kLongestWait = 15 * 60;
  // For a wait longer than this no session is held.
  static constexpr int64_t kLongestWaitInSession = 60;

  // tellState: shows the batch's state line; endSession: QUIT, the next message opens a new one.
  TSendPacer(TBatchCountdown& countdown, std::function<void(const std::string&)> tellState,
             std::function<void()> endSession)
      : countdown_(countdown), tellState_(std::move(tellState)), endSession_(std::move(endSession)) {}
  // A batch starts at now (seconds since the epoch): its caps (ResolveCaps) and session limit,
  // and what the journals of its folder record the account sent. A dry run and the system's
  // mailer send through no account of the server's: they have neither.
  void Start(const TBatchRequest& request, int64_t now);
  // Before a message: Go at once or after the wait (the state told first, the session ended
  // first when the wait is long); Stop for a wait past kLongestWait unless waitLong; Cancelled
  // when a cancel ended the wait.
  TPace Before(bool waitLong);
  // A message was accepted; its session ends when it holds MaxPerSession.
  void Sent();
  // Before a message: whether the one after it may follow in the same session without a wait,
  // should this one be accepted now.
  bool NextFollowsAtOnce() const;
  // After Stop: when the next message may go (seconds since the epoch), and which cap says so
  // ("The limit of at most 100 messages an hour").
  int64_t NextAllowed() const { return stoppedUntil_; }
  const std::string& StopReason() const { return stopReason_; }
  // How long this batch has waited for the caps, in seconds.
  int64_t SecondsWaited() const { return waited_; }

 private:
  // Seconds since the epoch on the batch's clock; rounded up for a send, so that a wait is never short.
  int64_t Now(bool roundUp = false) const;

  TBatchCountdown& countdown_;
  std::function<void(const std::string&)> tellState_;
  std::function<void()> endSession_;
  TSendCaps caps_;
  int maxPerSession_ = 0;
  int inSession_ = 0;
  std::vector<int64_t> sent_;
  int64_t startEpoch_ = 0;
  TBatchClock::Clock::time_point startTick_{};
  int64_t waited_ = 0;
  int64_t stoppedUntil_ = 0;
  std::string stopReason_;
};
