#include "app/batch/sendcaps.h"

#include <algorithm>

#include "app/batch/batchrequest.h"
#include "app/batch/oauthproviders.h"
#include "app/batch/quotawindow.h"
#include "toolkit/hostport.h"
#include "toolkit/strutils.h"

namespace {
struct TCapWindow {
  int cap;
  int64_t seconds;
  const char* name;
};

std::vector<TCapWindow> WindowsOf(const TSendCaps& caps) {
  return {{caps.perMinute, 60, "a minute"},
          {caps.perHour, 60 * 60, "an hour"},
          {caps.perDay, kQuotaWindowSeconds, "a day"}};
}

// How long a message at now waits for this window alone.
int64_t WindowWait(std::vector<int64_t> sent, const TCapWindow& window, int64_t now) {
  if (window.cap <= 0) return 0;
  std::erase_if(sent, [&](int64_t at) { return at <= now - window.seconds; });
  if (static_cast<int64_t>(sent.size()) < window.cap) return 0;
  // The window may go on holding cap - 1 of them: the message waits until the rest have left.
  std::sort(sent.begin(), sent.end());
  const int64_t leaves = sent[sent.size() - static_cast<size_t>(window.cap)] + window.seconds;
  return std::max<int64_t>(0, leaves - now);
}

std::optional<TSendingLimits> PublishedLimits(const std::string& server) {
  std::string host;
  try {
    host = ParseHostPort(server).host;
  } catch (const std::exception&) {
    return std::nullopt;  // the batch tells of a malformed server itself
  }
  for (const TMailProvider& provider : MailProviders())
    if (SameText(provider.smtpHost, host)) return provider.limits;
  return std::nullopt;
}
}  // namespace

TSendCaps ResolveCaps(const TCapChoice& choice, const std::string& server) {
  const TSendingLimits published = PublishedLimits(server).value_or(TSendingLimits{});
  TSendCaps caps;
  caps.perMinute = std::max(0, choice.perMinute.value_or(published.perMinute));
  caps.perHour = std::max(0, choice.perHour.value_or(0));
  caps.perDay = std::max(0, choice.perDay.value_or(published.perDay));
  return caps;
}

int64_t CapWait(const std::vector<int64_t>& sent, const TSendCaps& caps, int64_t now) {
  int64_t wait = 0;
  for (const TCapWindow& window : WindowsOf(caps)) wait = std::max(wait, WindowWait(sent, window, now));
  return wait;
}

std::string CapText(const std::vector<int64_t>& sent, const TSendCaps& caps, int64_t now) {
  std::string text;
  int64_t longest = 0;
  for (const TCapWindow& window : WindowsOf(caps)) {
    const int64_t wait = WindowWait(sent, window, now);
    if (wait <= longest) continue;
    longest = wait;
    text = "at most " + std::to_string(window.cap) + (window.cap == 1 ? " message " : " messages ") + window.name;
  }
  return text;
}

std::vector<int64_t> SentTimes(const std::vector<TJournal>& journals, const std::string& server,
                               const std::string& user, const std::string& from, int64_t now) {
  std::vector<int64_t> sent;
  for (const TJournal& journal : journals) {
    // RFC 4343: host names compare without regard to case; so do the addresses' domains, and
    // providers take the local part so too.
    if (!SameText(journal.head.server, server) || journal.head.user != user) continue;
    if (user.empty() && !SameText(journal.head.from, from)) continue;
    for (const TJournalRecord& record : journal.records) {
      const std::optional<int64_t> at = JournalEpoch(record.time);
      if (record.outcome == TJournalOutcome::Sent && at && *at > now - kQuotaWindowSeconds) sent.push_back(*at);
    }
  }
  return sent;
}

void ApplySettingsLimits(TBatchRequest& request, const TSettings& settings) {
  request.caps = {settings.maxPerMinute, settings.maxPerHour, settings.maxPerDay};
  request.maxPerSession = settings.newConnectionPerMessage ? 1 : settings.maxPerSession;
}

void TSendPacer::Start(const TBatchRequest& request, int64_t now) {
  const bool throughServer = request.delivery == nullptr;
  caps_ = throughServer ? ResolveCaps(request.caps, request.server) : TSendCaps{};
  maxPerSession_ = throughServer ? std::max(0, request.maxPerSession) : 0;
  inSession_ = 0;
  sent_.clear();
  if (caps_.Any() && !request.journalFolder.empty())
    sent_ = SentTimes(ReadJournals(request.journalFolder), request.server, request.account.user, request.from, now);
  startEpoch_ = now;
  startTick_ = countdown_.Clock().Now();
  waited_ = 0;
}

int64_t TSendPacer::Now(bool roundUp) const {
  const auto elapsed = countdown_.Clock().Now() - startTick_;
  return startEpoch_ + (roundUp ? std::chrono::ceil<std::chrono::seconds>(elapsed)
                                : std::chrono::floor<std::chrono::seconds>(elapsed))
                           .count();
}

TSendPacer::TPace TSendPacer::Before(bool waitLong) {
  if (!caps_.Any()) return TPace::Go;
  const int64_t now = Now();
  const int64_t wait = CapWait(sent_, caps_, now);
  if (wait <= 0) return TPace::Go;
  if (wait > kLongestWait && !waitLong) {
    stoppedUntil_ = now + wait;
    stopReason_ = "The limit of " + CapText(sent_, caps_, now);
    return TPace::Stop;
  }
  // A server should not keep a session open for a client that sends nothing.
  if (wait > kLongestWaitInSession) {
    endSession_();
    inSession_ = 0;
  }
  tellState_(kWaitingForCaps + std::to_string(wait) + " s");
  const int64_t before = Now();
  const bool waited = countdown_.Pause(static_cast<int>(std::min<int64_t>(wait, kQuotaWindowSeconds)));
  waited_ += Now() - before;
  return waited ? TPace::Go : TPace::Cancelled;
}

bool TSendPacer::NextFollowsAtOnce() const {
  if (maxPerSession_ > 0 && inSession_ + 1 >= maxPerSession_) return false;
  if (!caps_.Any()) return true;
  std::vector<int64_t> sent = sent_;
  const int64_t now = Now(true);
  sent.push_back(now);
  return CapWait(sent, caps_, now) <= 0;
}

void TSendPacer::Sent() {
  sent_.push_back(Now(true));
  if (maxPerSession_ <= 0 || ++inSession_ < maxPerSession_) return;
  inSession_ = 0;
  endSession_();
}
