#include "support/mailcart_send_run.h"

#include <QProcessEnvironment>
#include <QStringList>

#include "support/files.h"

std::vector<std::string> Lines(const QByteArray& output) {
  std::vector<std::string> lines;
  for (const QByteArray& line : output.split('\n'))
    if (!line.isEmpty()) lines.push_back(line.toStdString());
  return lines;
}
std::string Program() { return std::string(MAILCART_BINARY_DIR) + "/app/mailcart-send"; }

void StartWithoutDisplay(QProcess& process, const std::vector<std::string>& args, const Variables& more) {
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  for (const char* name :
       {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "DBUS_SESSION_BUS_ADDRESS", "MAILCART_PASSWORD"})
    env.remove(name);
  for (const auto& [name, value] : more) env.insert(name, value);
  process.setProcessEnvironment(env);
  QStringList arguments;
  for (const std::string& a : args) arguments << QString::fromStdString(a);
  process.start(QString::fromStdString(Program()), arguments);
  process.closeWriteChannel();
}

SendRun Finish(QProcess& process) {
  SendRun run;
  if (!process.waitForFinished(kRunTimeoutMs)) {
    process.kill();
    process.waitForFinished();
  } else if (process.exitStatus() == QProcess::NormalExit) {
    run.exitCode = process.exitCode();
  }
  run.lines = Lines(process.readAllStandardOutput());
  run.errors = process.readAllStandardError().toStdString();
  return run;
}

SendRun RunSend(const std::vector<std::string>& args, const Variables& more) {
  QProcess process;
  StartWithoutDisplay(process, args, more);
  return Finish(process);
}

MailcartSendFixture::MailcartSendFixture(const SmtpCapture::Options& options) : server_(options) {
  WriteFile(Path("none.ini"), "");
}

std::string MailcartSendFixture::Path(const std::string& name) const {
  return dir_.filePath(QString::fromStdString(name)).toStdString();
}

std::vector<std::string> MailcartSendFixture::Args(std::vector<std::string> more) const {
  std::vector<std::string> args{"--settings", Path("none.ini"), "--server", Server(),
                                "--from",     "me@example.com", "--to",     "you@example.com"};
  args.insert(args.end(), more.begin(), more.end());
  return args;
}

std::string MailcartSendFixture::MakeFile(const std::string& name, const std::string& data) {
  WriteFile(Path(name), data);
  return Path(name);
}
