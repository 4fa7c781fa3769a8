// A DNS server of a test's own on 127.0.0.1:53, in a private network (private_network.h): dnsmasq
// in the foreground for the life of the object, serving the records it is given and answering
// every other name "no such name".
#pragma once

#include <QTemporaryDir>

#include <memory>
#include <string>
#include <vector>

class QProcess;

class DnsServer {
 public:
  // records: dnsmasq's lines, "srv-host=_submissions._tcp.example.com,smtp.example.com,465,10,50",
  // "mx-host=example.com,mx.example.com,10", "host-record=smtp.example.com,127.0.0.1". Waits (at
  // most 10 s) until the server has started; raises std::runtime_error with its output if it does not.
  explicit DnsServer(const std::vector<std::string>& records);
  // Stops the server (SIGTERM, then SIGKILL if it lingers).
  ~DnsServer();
  DnsServer(const DnsServer&) = delete;
  DnsServer& operator=(const DnsServer&) = delete;

 private:
  void Stop();

  QTemporaryDir dir_;
  std::unique_ptr<QProcess> process_;
};
