#include "smtp_capture.h"

#include <QDeadlineTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "python_referee.h"
#include "files.h"

namespace {
constexpr int kStartTimeoutMs = 15000;
constexpr int kStopTimeoutMs = 5000;

// "PORT 4711" -> 4711; 0 for anything else.
int ParsePortLine(const QByteArray& line) {
  const QByteArray trimmed = line.trimmed();
  if (!trimmed.startsWith("PORT ")) return 0;
  return trimmed.mid(5).toInt();
}
}  // namespace

SmtpCapture::SmtpCapture() : SmtpCapture(Options{}) {}

SmtpCapture::SmtpCapture(const Options& options)
    : dir_(options.dir.empty() ? root_.filePath("mail").toStdString() : options.dir),
      server_(std::make_unique<QProcess>()) {
  if (!root_.isValid()) throw std::runtime_error("cannot create a folder for the SMTP capture");
  QStringList args{QString::fromStdString(E2eScript("smtp_capture.py")),
                   "--dir", QString::fromStdString(Dir()),
                   "--port", QString::number(options.port),
                   "--max-seconds", QString::number(options.maxSeconds)};
  for (const std::string& address : options.rejectRcpt)
    args << "--reject-rcpt" << QString::fromStdString(address);
  // Error output goes to a file: a pipe nobody reads while a test runs could fill and stall
  // the server.
  server_->setStandardErrorFile(root_.filePath("server.log"));
  server_->start(kPython, args);
  const QDeadlineTimer deadline(kStartTimeoutMs);
  while (!server_->canReadLine() && server_->state() != QProcess::NotRunning &&
         !deadline.hasExpired())
    server_->waitForReadyRead(static_cast<int>(deadline.remainingTime()));
  if (server_->canReadLine()) port_ = ParsePortLine(server_->readLine());
  if (port_ <= 0) {
    Stop();
    throw std::runtime_error("the SMTP capture server did not start: " +
                             server_->errorString().toStdString() + "\n" + ServerLog());
  }
}

SmtpCapture::~SmtpCapture() { Stop(); }

void SmtpCapture::Stop() {
  if (server_->state() == QProcess::NotRunning) return;
  server_->terminate();
  if (server_->waitForFinished(kStopTimeoutMs)) return;
  server_->kill();
  server_->waitForFinished(kStopTimeoutMs);
}

std::string SmtpCapture::ServerLog() const {
  return ReadFile(root_.filePath("server.log").toStdString());
}

// The stored files with that extension, ordered by their number.
std::vector<std::string> SmtpCapture::StoredFiles(const char* extension) const {
  std::vector<std::pair<long, std::string>> numbered;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(Dir(), error)) {
    const std::filesystem::path& path = entry.path();
    if (path.extension() != extension) continue;
    numbered.emplace_back(std::strtol(path.stem().c_str(), nullptr, 10), path.string());
  }
  std::sort(numbered.begin(), numbered.end());
  std::vector<std::string> paths;
  for (auto& [number, path] : numbered) paths.push_back(std::move(path));
  return paths;
}

std::vector<std::string> SmtpCapture::Messages() const {
  std::vector<std::string> messages;
  for (const std::string& path : StoredFiles(".eml")) messages.push_back(ReadFile(path));
  return messages;
}

std::vector<SmtpCapture::Envelope> SmtpCapture::Envelopes() const {
  std::vector<Envelope> envelopes;
  for (const std::string& path : StoredFiles(".json")) {
    const QJsonObject json =
        QJsonDocument::fromJson(QByteArray::fromStdString(ReadFile(path))).object();
    Envelope envelope{json["mail_from"].toString().toStdString(), {}};
    for (const QJsonValue& rcpt : json["rcpt_tos"].toArray())
      envelope.rcptTos.push_back(rcpt.toString().toStdString());
    envelopes.push_back(std::move(envelope));
  }
  return envelopes;
}

int SmtpCapture::Count() const { return static_cast<int>(StoredFiles(".eml").size()); }
