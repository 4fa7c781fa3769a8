#include "unpack_tool.h"

#include <QProcess>
#include <QStringList>

namespace {
constexpr int kRunTimeoutMs = 60000;
}

UnpackRun RunUnpack(const std::vector<std::string>& args, const std::string& workingDir) {
  QStringList arguments;
  for (const std::string& a : args) arguments << QString::fromStdString(a);
  QProcess process;
  if (!workingDir.empty()) process.setWorkingDirectory(QString::fromStdString(workingDir));
  process.start(QString(MAILCART_BINARY_DIR) + "/app/mailcart-unpack", arguments);
  process.closeWriteChannel();
  UnpackRun run;
  if (!process.waitForFinished(kRunTimeoutMs)) {
    process.kill();
    process.waitForFinished();
  } else if (process.exitStatus() == QProcess::NormalExit) {
    run.exitCode = process.exitCode();
  }
  for (const QByteArray& line : process.readAllStandardOutput().split('\n'))
    if (!line.isEmpty()) run.lines.push_back(line.toStdString());
  run.errors = process.readAllStandardError().toStdString();
  return run;
}
