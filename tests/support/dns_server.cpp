#include "dns_server.h"

#include <sys/prctl.h>

#include <QDeadlineTimer>
#include <QProcess>

#include <csignal>
#include <stdexcept>

#include "files.h"

namespace {
constexpr int kStartTimeoutMs = 10000;
constexpr int kStopTimeoutMs = 5000;
}  // namespace

DnsServer::DnsServer(const std::vector<std::string>& records) : process_(std::make_unique<QProcess>()) {
  std::string config;
  for (const std::string& line : records) config += line + "\n";
  const QString configFile = dir_.filePath("records.conf");
  WriteFile(configFile.toStdString(), config);
  process_->setProcessChannelMode(QProcess::MergedChannels);
  // Should the test die without its destructor, the server goes with it.
  process_->setChildProcessModifier([] { prctl(PR_SET_PDEATHSIG, SIGKILL); });
  // --conf-file keeps the system's /etc/dnsmasq.conf unread; --local=/#/ answers every name not
  // given here "no such name" instead of asking upstream; root, since a change of user would
  // clear the parent-death signal (the server listens on the private loopback alone).
  process_->start("/usr/sbin/dnsmasq", {"--keep-in-foreground", "--no-resolv", "--no-hosts", "--port=53",
                                        "--listen-address=127.0.0.1", "--bind-interfaces", "--local=/#/", "--user=root",
                                        "--pid-file=", "--log-facility=-", "--conf-file=" + configFile});
  // It logs "started" once its sockets are bound.
  QByteArray output;
  const QDeadlineTimer deadline(kStartTimeoutMs);
  while (!output.contains("started, version") && process_->state() != QProcess::NotRunning && !deadline.hasExpired()) {
    process_->waitForReadyRead(static_cast<int>(deadline.remainingTime()));
    output += process_->readAll();
  }
  if (!output.contains("started, version") || process_->state() == QProcess::NotRunning) {
    Stop();
    throw std::runtime_error("dnsmasq did not start: " + process_->errorString().toStdString() + "\n" +
                             (output + process_->readAll()).toStdString());
  }
}

DnsServer::~DnsServer() { Stop(); }

void DnsServer::Stop() {
  if (process_->state() == QProcess::NotRunning) return;
  process_->terminate();
  if (process_->waitForFinished(kStopTimeoutMs)) return;
  process_->kill();
  process_->waitForFinished(kStopTimeoutMs);
}
