#include "user_agent.h"

#include "python_referee.h"

namespace {
constexpr int kFinishTimeoutMs = 30000;
}  // namespace

void UserAgent::Open(const std::string& url, const std::string& login) {
  started_ = true;
  process_.setProcessChannelMode(QProcess::MergedChannels);
  process_.start(kPython, {QString(MAILCART_E2E_DIR) + "/oauth/user_agent.py", QString::fromStdString(url),
                           QString::fromStdString(login)});
}

bool UserAgent::Finish(std::string& out) {
  if (!started_) {
    out = "the browser was never opened";
    return false;
  }
  const bool ended = process_.state() == QProcess::NotRunning || process_.waitForFinished(kFinishTimeoutMs);
  if (!ended) process_.kill();
  out = process_.readAll().toStdString();
  return ended && process_.exitStatus() == QProcess::NormalExit && process_.exitCode() == 0;
}
