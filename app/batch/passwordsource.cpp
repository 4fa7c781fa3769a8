#include "app/batch/passwordsource.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDeadlineTimer>
#include <QProcess>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/batch/filetrust.h"
#include "toolkit/pump.h"
#include "toolkit/regularfile.h"
#include "toolkit/strutils.h"

namespace {

// A first line longer than this is not a password; the rest is not kept.
constexpr size_t kMaxLine = 64 * 1024;
// How long a killed command may take to be reaped.
constexpr int kReapMs = 5000;

// Appends bytes to line until the first line is complete. The caller reserves kMaxLine, so the
// line never moves and leaves no copy behind.
void AddToFirstLine(std::string& line, bool& complete, const char* bytes, size_t size) {
  if (complete) return;
  const char* lf = static_cast<const char*>(std::memchr(bytes, '\n', size));
  const size_t take = std::min(lf ? static_cast<size_t>(lf - bytes) : size, kMaxLine - line.size());
  line.append(bytes, take);
  complete = lf != nullptr || line.size() >= kMaxLine;
}

TSecret FirstLine(TSecret& line) {
  if (!line.View().empty() && line.View().back() == '\r') line.Text().pop_back();
  return std::move(line);
}

void Drain(QProcess& process, TSecret& line, bool& complete) {
  QByteArray chunk = process.readAllStandardOutput();
  AddToFirstLine(line.Text(), complete, chunk.constData(), static_cast<size_t>(chunk.size()));
  WipeBytes(chunk.data(), static_cast<size_t>(chunk.size()));
}

void WaitUntilEnded(QProcess& process, const QDeadlineTimer& deadline, TSecret& line, bool& complete) {
  while (process.state() != QProcess::NotRunning && !deadline.hasExpired()) {
    WaitForEvents(static_cast<int>(deadline.remainingTime()));
    Drain(process, line, complete);
  }
}

void Start(QProcess& process, const std::string& command) {
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  environment.remove(kPasswordVariable);
  process.setProcessEnvironment(environment);
  process.setStandardInputFile(QProcess::nullDevice());
  process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
  // Its own process group, so that a time-out stops what the shell started too.
  process.setChildProcessModifier([] { ::setpgid(0, 0); });
  process.start("/bin/sh", {"-c", QString::fromStdString(command)});
}

std::string ModeText(mode_t mode) {
  char text[8];
  std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
  return text;
}

}  // namespace

TSecret RunSecretCommand(const std::string& command, const TSecretCommandKind& kind, int timeoutMs) {
  const std::string name = std::string("The ") + kind.what + " (" + kind.setting + ") " + QuotedName(command);
  QProcess process;
  TSecret line;
  line.Text().reserve(kMaxLine);
  bool complete = false;
  Start(process, command);
  WaitUntilEnded(process, QDeadlineTimer(timeoutMs), line, complete);
  if (process.state() != QProcess::NotRunning) {
    ::kill(-static_cast<pid_t>(process.processId()), SIGKILL);
    WaitUntilEnded(process, QDeadlineTimer(kReapMs), line, complete);
    throw EPasswordError(name + " ran longer than " + std::to_string((timeoutMs + 999) / 1000) + " s and was stopped");
  }
  Drain(process, line, complete);
  if (process.error() == QProcess::FailedToStart) throw EPasswordError(name + " could not be started");
  if (process.exitStatus() == QProcess::CrashExit) throw EPasswordError(name + " was ended by a signal");
  if (process.exitCode() != 0)
    throw EPasswordError(name + " failed with exit status " + std::to_string(process.exitCode()));
  TSecret result = FirstLine(line);
  if (result.Empty()) throw EPasswordError(name + " printed no " + kind.secret);
  return result;
}

namespace {

std::string SecretFileName(const std::string& fileName, const TSecretFileKind& kind) {
  return std::string("The ") + kind.what + " " + QuotedName(fileName);
}

// fileName opened for reading when it may hold kind's secret; -1 when there is no such file.
int OpenSecretFile(const std::string& fileName, const TSecretFileKind& kind) {
  const std::string name = SecretFileName(fileName, kind);
  struct stat st;
  const int found = kind.written ? ::lstat(fileName.c_str(), &st) : ::stat(fileName.c_str(), &st);
  if (found != 0 && errno == ENOENT) return -1;
  // A written file is replaced by a rename, which would put a file in the place of a link.
  if (found == 0 && kind.written && S_ISLNK(st.st_mode))
    throw EPasswordError(name + " is a symbolic link; name the file itself");
  std::string why;
  const int fd = OpenRegularFile(fileName, why, st, kind.written ? O_NOFOLLOW : 0);
  if (fd < 0)
    throw EPasswordError(name + (why == "not a regular file" ? " is not a regular file" : " cannot be read: " + why));
  std::string problem;
  if (st.st_mode & (S_IRGRP | S_IROTH))
    problem = name + " can be read by other users (mode " + ModeText(st.st_mode) + "); make it private with chmod 600";
  else if (const std::string trust = kind.written ? DescriptorTrustProblem(fd, fileName) : ""; !trust.empty())
    problem = "The " + std::string(kind.what) + " " + trust +
              (st.st_uid != ::geteuid() ? "; name a file of your own" : "; make it private with chmod 600");
  if (problem.empty()) return fd;
  ::close(fd);
  throw EPasswordError(problem);
}

}  // namespace

TSecret ReadSecretFile(const std::string& fileName, const TSecretFileKind& kind) {
  const std::string name = SecretFileName(fileName, kind);
  const int fd = OpenSecretFile(fileName, kind);
  if (fd < 0) throw EPasswordError(name + " cannot be read: " + std::strerror(ENOENT));
  TSecret line;
  line.Text().reserve(kMaxLine);
  bool complete = false;
  char buffer[4096];
  ssize_t n = 0;
  while (!complete && ((n = ::read(fd, buffer, sizeof buffer)) > 0 || (n < 0 && errno == EINTR)))
    if (n > 0) AddToFirstLine(line.Text(), complete, buffer, static_cast<size_t>(n));
  const int error = n < 0 ? errno : 0;
  WipeBytes(buffer, sizeof buffer);
  ::close(fd);
  if (error != 0) throw EPasswordError(name + " cannot be read: " + std::strerror(error));
  TSecret result = FirstLine(line);
  if (result.Empty()) throw EPasswordError(name + " holds no " + kind.secret + " on its first line");
  return result;
}

bool SecretFileThere(const std::string& fileName, const TSecretFileKind& kind) {
  const int fd = OpenSecretFile(fileName, kind);
  if (fd >= 0) ::close(fd);
  return fd >= 0;
}

std::optional<TSecret> TakePasswordVariable() {
  char* value = std::getenv(kPasswordVariable);
  if (value == nullptr) return std::nullopt;
  TSecret secret{std::string(value)};
  WipeBytes(value, std::strlen(value));
  ::unsetenv(kPasswordVariable);
  return secret;
}

std::optional<TSecret> ObtainPassword(const TPasswordOptions& options, std::optional<TSecret> variable) {
  if (!options.command.empty() + !options.file.empty() + variable.has_value() > 1)
    throw EPasswordUsage("give the password in one way only: --password-command, --password-file or " +
                         std::string(kPasswordVariable));
  if (!options.command.empty()) return RunSecretCommand(options.command, kPasswordCommand, options.timeoutMs);
  if (!options.file.empty()) return ReadSecretFile(options.file);
  if (variable && variable->Empty()) throw EPasswordError(std::string(kPasswordVariable) + " is empty");
  return variable;
}
