#include "net/dnsrecords.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QUdpSocket>

#include <map>
#include <optional>
#include <string>

#include "support/checks.h"
#include "support/dns_server.h"
#include "support/private_network.h"

namespace {

// "p10 w90 heavy.a.test:465, …" or "10 mx1.a.test, …", or what was raised.
std::string LookedUp(bool srv, const std::string& name, int timeoutMs) {
  std::string text;
  const std::string raised = Raised([&] {
    if (srv) {
      for (const TSrvRecord& r : LookUpSrv(name, timeoutMs))
        text += "p" + std::to_string(r.priority) + " w" + std::to_string(r.weight) + " " + r.target + ":" +
                std::to_string(r.port) + ", ";
    } else {
      for (const TMxRecord& r : LookUpMx(name, timeoutMs)) text += std::to_string(r.preference) + " " + r.host + ", ";
    }
  });
  return !raised.empty() ? raised : text.substr(0, text.empty() ? 0 : text.size() - 2);
}

enum class TServer { Records, None, Silent };

TEST(DnsRecords, SrvAndMxFromARealServer) {
  MAILCART_RUN_IN_PRIVATE_NETWORK();
  const std::vector<std::string> records = {
      "srv-host=_submissions._tcp.a.test,heavy.a.test,465,10,90",
      "srv-host=_submissions._tcp.a.test,light.a.test,465,10,10",
      "srv-host=_submissions._tcp.a.test,backup.a.test,2465,20,0",
      "srv-host=_submission._tcp.a.test,rare.a.test,587,5,0",
      "srv-host=_submission._tcp.a.test,usual.a.test,587,5,50",
      "srv-host=_submissions._tcp.none.test",
      "mx-host=a.test,mx2.a.test,20",
      "mx-host=a.test,mx1.a.test,10",
      "mx-host=null.test,.,0",
      "host-record=nomx.test,127.0.0.1",
  };
  const std::string noAnswer =
      "EDnsError: Cannot look up the SRV records of _submissions._tcp.a.test: no answer from the DNS server";
  struct Row {
    TServer server;
    bool srv;
    std::string name;
    std::map<std::string, int> outcomes;  // each seen at least this often, and nothing else seen
    int calls = 1;
    int timeoutMs = 5000;
  };
  const std::string heavyFirst = "p10 w90 heavy.a.test:465, p10 w10 light.a.test:465, p20 w0 backup.a.test:2465";
  const std::string lightFirst = "p10 w10 light.a.test:465, p10 w90 heavy.a.test:465, p20 w0 backup.a.test:2465";
  const std::string usualFirst = "p5 w50 usual.a.test:587, p5 w0 rare.a.test:587";
  const std::string rareFirst = "p5 w0 rare.a.test:587, p5 w50 usual.a.test:587";
  const std::vector<Row> rows = {
      {TServer::Records, true, "_submissions._tcp.a.test", {{heavyFirst, 120}, {lightFirst, 1}}, 200},
      {TServer::Records, true, "_submission._tcp.a.test", {{usualFirst, 170}, {rareFirst, 0}}, 200},
      {TServer::Records, true, "_submissions._tcp.none.test", {{"", 1}}},
      {TServer::Records, true, "_submissions._tcp.nxdomain.test", {{"", 1}}},
      {TServer::Records, false, "a.test", {{"10 mx1.a.test, 20 mx2.a.test", 1}}},
      {TServer::Records, false, "null.test", {{"", 1}}},
      {TServer::Records, false, "nomx.test", {{"", 1}}},
      {TServer::None, true, "_submissions._tcp.a.test", {{noAnswer, 1}}},
      {TServer::Silent, true, "_submissions._tcp.a.test", {{noAnswer + " within 1500 ms", 1}}, 1, 1500},
  };
  std::optional<DnsServer> dns;
  QUdpSocket silent;
  for (const Row& row : rows) {
    if (row.server != TServer::Records) dns.reset();
    if (row.server == TServer::Records && !dns) dns.emplace(records);
    if (row.server == TServer::Silent && silent.state() != QAbstractSocket::BoundState) {
      ASSERT_TRUE(silent.bind(QHostAddress::LocalHost, 53));
    }
    std::map<std::string, int> seen;
    for (int i = 0; i < row.calls; ++i) {
      QElapsedTimer took;
      took.start();
      ++seen[LookedUp(row.srv, row.name, row.timeoutMs)];
      EXPECT_LT(took.elapsed(), row.timeoutMs + 1000) << row.name;
    }
    for (const auto& [outcome, count] : seen) EXPECT_TRUE(row.outcomes.count(outcome)) << row.name << ": " << outcome;
    for (const auto& [outcome, least] : row.outcomes) EXPECT_GE(seen[outcome], least) << row.name << ": " << outcome;
  }
}

}  // namespace
