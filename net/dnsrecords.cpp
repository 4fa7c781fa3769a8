#include "net/dnsrecords.h"

#include <arpa/nameser.h>
#include <netdb.h>
#include <resolv.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QThread>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <random>
#include <system_error>
#include <thread>

#include "toolkit/pump.h"

namespace {

// The largest DNS message, so that no answer is cut short.
constexpr int kAnswerSize = 65535;

// What the resolver made of one query.
struct TReply {
  std::vector<unsigned char> answer;  // the answer's bytes; empty when there is none
  int hostError = 0;                  // the resolver's h_errno when there is none
  int systemError = 0;                // errno, which NETDB_INTERNAL refers to
};

// One query, owned by the caller and its worker together, so that a worker the caller stopped
// waiting for still writes into something alive.
struct TQuery {
  std::string name;
  int type = 0;
  int timeoutMs = 0;
  bool wakeApplication = false;  // the caller waits in the application's event loop

  std::mutex mutex;
  std::condition_variable answered;
  bool done = false;
  bool abandoned = false;  // the caller gave up: nobody waits any more
  TReply reply;
};

// The worker: a resolver state of its own, so that concurrent queries share nothing.
void RunQuery(const std::shared_ptr<TQuery>& query) {
  TReply reply;
  reply.hostError = NETDB_INTERNAL;
  struct __res_state state;
  std::memset(&state, 0, sizeof state);
  if (res_ninit(&state) == 0) {
    // Two tries at each server, the second waiting twice as long, end near the caller's time-out.
    state.retrans = std::max(1, query->timeoutMs / 3000);
    state.retry = 2;
    std::vector<unsigned char> answer(kAnswerSize);
    const int length = res_nquery(&state, query->name.c_str(), ns_c_in, query->type, answer.data(), kAnswerSize);
    reply.hostError = state.res_h_errno;
    reply.systemError = errno;
    if (length >= 0) {
      answer.resize(std::min(length, kAnswerSize));
      reply.answer = std::move(answer);
    }
    res_nclose(&state);
  } else {
    reply.systemError = errno;
  }
  const std::lock_guard lock(query->mutex);
  query->done = true;
  query->reply = std::move(reply);
  query->answered.notify_all();
  // Under the lock: a caller that has not given up is still waiting, so its application lives.
  if (query->wakeApplication && !query->abandoned) {
    QMetaObject::invokeMethod(
        QCoreApplication::instance(), [] {}, Qt::QueuedConnection);
  }
}

std::string What(int type, const std::string& name) {
  return std::string("Cannot look up the ") + (type == ns_t_srv ? "SRV" : "MX") + " records of " + name + ": ";
}

// Runs the query on a worker and waits for it at most timeoutMs, dispatching events meanwhile
// when called on the application's thread.
TReply Ask(const std::string& name, int type, int timeoutMs) {
  auto query = std::make_shared<TQuery>();
  query->name = name;
  query->type = type;
  query->timeoutMs = timeoutMs;
  const QCoreApplication* app = QCoreApplication::instance();
  query->wakeApplication = app != nullptr && app->thread() == QThread::currentThread();
  try {
    std::thread([query] { RunQuery(query); }).detach();
  } catch (const std::system_error& e) {
    throw EDnsError(What(type, name) + e.what());
  }
  const QDeadlineTimer deadline(std::max(0, timeoutMs));  // a negative one would never expire
  std::unique_lock lock(query->mutex);
  while (!query->done && !deadline.hasExpired()) {
    if (query->wakeApplication) {
      lock.unlock();
      WaitForEvents(static_cast<int>(deadline.remainingTime()));
      lock.lock();
    } else {
      query->answered.wait_for(lock, std::chrono::milliseconds(deadline.remainingTime()));
    }
  }
  if (!query->done) {
    query->abandoned = true;
    throw EDnsError(What(type, name) + "no answer from the DNS server within " + std::to_string(timeoutMs) + " ms");
  }
  return std::move(query->reply);
}

std::string Reason(const TReply& reply) {
  switch (reply.hostError) {
    case TRY_AGAIN: return "no answer from the DNS server";
    case NO_RECOVERY: return "the DNS server refused the query";
    default: return reply.systemError != 0 ? std::strerror(reply.systemError) : "the resolver failed";
  }
}

// A name as the records give it: lower-case, without the trailing dot; the root is "".
std::string HostName(std::string name) {
  while (!name.empty() && name.back() == '.') name.pop_back();
  for (char& c : name)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return name;
}

// The name in rr's data from offset on, which must end within the data.
std::string NameIn(const ns_msg& message, const ns_rr& rr, size_t offset, const std::string& what) {
  char name[NS_MAXDNAME];
  const int used = ns_rr_rdlen(rr) > offset ? dn_expand(ns_msg_base(message), ns_msg_end(message),
                                                        ns_rr_rdata(rr) + offset, name, sizeof name)
                                            : -1;
  if (used < 0 || offset + static_cast<size_t>(used) > ns_rr_rdlen(rr)) throw EDnsError(what + "a malformed answer");
  return HostName(name);
}

// Calls take(message, rr) for each record of type in the answer; no such name and no data give
// none, every other failure raises.
template <typename Take>
void ForEachRecord(const std::string& name, int type, int timeoutMs, Take take) {
  const TReply reply = Ask(name, type, timeoutMs);
  const std::string what = What(type, name);
  if (reply.answer.empty()) {
    if (reply.hostError == HOST_NOT_FOUND || reply.hostError == NO_DATA) return;
    throw EDnsError(what + Reason(reply));
  }
  ns_msg message;
  if (ns_initparse(reply.answer.data(), static_cast<int>(reply.answer.size()), &message) < 0)
    throw EDnsError(what + "a malformed answer");
  for (int i = 0; i < ns_msg_count(message, ns_s_an); ++i) {
    ns_rr rr;
    if (ns_parserr(&message, ns_s_an, i, &rr) < 0) throw EDnsError(what + "a malformed answer");
    if (ns_rr_type(rr) == type && ns_rr_class(rr) == ns_c_in) take(message, rr, what);
  }
}

std::mt19937& Random() {
  thread_local std::mt19937 random{std::random_device{}()};
  return random;
}

// RFC 2782: by priority; within one, repeatedly the first record whose running sum of weights
// reaches a random number from 0 to their total, the records of weight 0 placed first.
std::vector<TSrvRecord> InTryingOrder(std::vector<TSrvRecord> records) {
  std::shuffle(records.begin(), records.end(), Random());
  std::stable_sort(records.begin(), records.end(),
                   [](const TSrvRecord& a, const TSrvRecord& b) { return a.priority < b.priority; });
  std::vector<TSrvRecord> ordered;
  for (auto group = records.begin(); group != records.end();) {
    const auto end =
        std::find_if(group, records.end(), [&](const TSrvRecord& r) { return r.priority != group->priority; });
    std::stable_partition(group, end, [](const TSrvRecord& r) { return r.weight == 0; });
    std::vector<TSrvRecord> left(group, end);
    while (!left.empty()) {
      uint32_t total = 0;
      for (const TSrvRecord& r : left) total += r.weight;
      const uint32_t pick = std::uniform_int_distribution<uint32_t>(0, total)(Random());
      size_t chosen = 0;
      for (uint32_t running = left[0].weight; running < pick;) running += left[++chosen].weight;
      ordered.push_back(std::move(left[chosen]));
      left.erase(left.begin() + static_cast<std::ptrdiff_t>(chosen));
    }
    group = end;
  }
  return ordered;
}

}  // namespace

std::vector<TSrvRecord> LookUpSrv(const std::string& name, int timeoutMs) {
  std::vector<TSrvRecord> records;
  ForEachRecord(name, ns_t_srv, timeoutMs, [&](const ns_msg& message, const ns_rr& rr, const std::string& what) {
    const unsigned char* data = ns_rr_rdata(rr);
    TSrvRecord record;
    record.target = NameIn(message, rr, 6, what);
    record.priority = static_cast<uint16_t>(ns_get16(data));
    record.weight = static_cast<uint16_t>(ns_get16(data + 2));
    record.port = static_cast<uint16_t>(ns_get16(data + 4));
    if (!record.target.empty()) records.push_back(std::move(record));
  });
  return InTryingOrder(std::move(records));
}

std::vector<TMxRecord> LookUpMx(const std::string& domain, int timeoutMs) {
  std::vector<TMxRecord> records;
  ForEachRecord(domain, ns_t_mx, timeoutMs, [&](const ns_msg& message, const ns_rr& rr, const std::string& what) {
    TMxRecord record;
    record.host = NameIn(message, rr, 2, what);
    record.preference = static_cast<uint16_t>(ns_get16(ns_rr_rdata(rr)));
    if (!record.host.empty()) records.push_back(std::move(record));
  });
  // Hosts of one preference in no fixed order (RFC 5321 5.1).
  std::shuffle(records.begin(), records.end(), Random());
  std::stable_sort(records.begin(), records.end(),
                   [](const TMxRecord& a, const TMxRecord& b) { return a.preference < b.preference; });
  return records;
}
