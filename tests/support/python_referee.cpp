#include "python_referee.h"

#include <QProcess>
#include <QStringList>

#include <iostream>
#include <stdexcept>

namespace {
constexpr int kScriptTimeoutMs = 60000;

QStringList ToArguments(const std::string& script, const std::vector<std::string>& args) {
  QStringList list{QString::fromStdString(script)};
  for (const std::string& a : args) list << QString::fromStdString(a);
  return list;
}

// Waits for the script to end, killing it when it overruns; its exit code, or -1 when it did
// not start, crashed or ran out of time.
int Finish(QProcess& process) {
  if (!process.waitForFinished(kScriptTimeoutMs)) {
    if (process.state() == QProcess::NotRunning) return -1;  // never started
    process.kill();
    process.waitForFinished();
    return -1;
  }
  return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}
}  // namespace

std::string RunPython(const std::string& script, const std::vector<std::string>& args, int* exitCode) {
  QProcess process;
  process.start(kPython, ToArguments(script, args));
  process.closeWriteChannel();
  const int code = Finish(process);
  const std::string out = process.readAllStandardOutput().toStdString();
  std::string err = process.readAllStandardError().toStdString();
  if (code == -1 && err.empty()) err = process.errorString().toStdString();
  if (exitCode == nullptr) {
    if (code != 0) throw std::runtime_error(script + " failed (" + std::to_string(code) + "): " + err);
  } else {
    *exitCode = code;
    if (code != 0) std::cerr << script << " exited with " << code << ": " << err << "\n";
  }
  return out;
}

std::string E2eScript(const std::string& name) { return std::string(MAILCART_E2E_DIR) + "/" + name; }
