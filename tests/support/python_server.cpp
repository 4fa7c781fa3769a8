#include "python_server.h"

#include <QDeadlineTimer>
#include <QProcess>

#include <stdexcept>

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

PythonServer::PythonServer(const std::string& script, const std::vector<std::string>& args, const std::string& logFile,
                           const char* interpreter)
    : process_(std::make_unique<QProcess>()) {
  QStringList list{QString::fromStdString(script)};
  for (const std::string& a : args) list << QString::fromStdString(a);
  // A pipe nobody reads while a test runs could fill and stall the server.
  process_->setStandardErrorFile(QString::fromStdString(logFile));
  process_->start(interpreter, list);
  const QDeadlineTimer deadline(kStartTimeoutMs);
  while (!process_->canReadLine() && process_->state() != QProcess::NotRunning && !deadline.hasExpired())
    process_->waitForReadyRead(static_cast<int>(deadline.remainingTime()));
  if (process_->canReadLine()) port_ = ParsePortLine(process_->readLine());
  if (port_ <= 0) {
    Stop();
    throw std::runtime_error(script + " did not start: " + process_->errorString().toStdString() + "\n" +
                             ReadFile(logFile));
  }
}

PythonServer::~PythonServer() { Stop(); }

void PythonServer::Stop() {
  if (process_->state() == QProcess::NotRunning) return;
  process_->terminate();
  if (process_->waitForFinished(kStopTimeoutMs)) return;
  process_->kill();
  process_->waitForFinished(kStopTimeoutMs);
}
