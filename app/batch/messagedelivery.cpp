#include "app/batch/messagedelivery.h"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDeadlineTimer>
#include <QProcess>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <vector>

#include "mail/mailbox.h"
#include "mail/pxmsg.h"
#include "net/crlftolf.h"
#include "net/nkutils.h"
#include "toolkit/folders.h"
#include "toolkit/pump.h"
#include "toolkit/strtable.h"
#include "toolkit/strutils.h"

namespace {

// ---- Dry run ----------------------------------------------------------------------------------

std::string MessageFileName(const std::string& folder, int number) {
  char name[16];
  std::snprintf(name, sizeof name, "/%04d.eml", number);
  return folder + name;
}

bool Exists(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;
}

// ---- The system's mailer ----------------------------------------------------------------------

constexpr int64_t kBlock = 64 * 1024;
// Enough of the mailer's complaint to say what went wrong; the rest is read and dropped.
constexpr size_t kMaxErrorText = 4096;
// How long a killed mailer may take to be reaped.
constexpr int kReapMs = 5000;
// sysexits.h: "temporary failure; the user is invited to retry".
constexpr int kTempFail = 75;
// The mailer's outcomes, sorted as a mail transfer agent's replies are: its queue may take the
// message later, never, or there is no mailer at all (every file would fail alike).
constexpr TSmtpFailure kTransient{TFailureScope::Message, TFailureKind::Transient, false, TSessionOutcome::Usable};
constexpr TSmtpFailure kPermanent{TFailureScope::Message, TFailureKind::Permanent, false, TSessionOutcome::Usable};
constexpr TSmtpFailure kNoMailer{TFailureScope::Session, TFailureKind::Permanent, false, TSessionOutcome::Dropped};

QString AddressArgument(const std::string& address) {
  // An address with a line break in it would reach the mailer's queue file as more than an
  // address, one with a comma as two; the SMTP client refuses the same.
  CheckMailbox(address);
  return QString::fromStdString(address);
}

// -i: a line of a lone dot is text, not the end; -f: the envelope sender; "--" ends the options,
// so that no recipient is taken for one. Copy and blind copy go in the envelope as the SMTP
// client puts them there.
QStringList MailerArguments(const TpxMessage& message) {
  QStringList arguments{"-i", "-f", AddressArgument(message.Sender().Address()), "--"};
  for (const TpxAddressList* list : {&message.Recipients(), &message.CC(), &message.BCC()})
    for (int i = 0; i < list->Count(); ++i)
      if (!list->Items(i).Address().empty()) arguments << AddressArgument(list->Items(i).Address());
  return arguments;
}

struct TMailerRun {
  QProcess process;
  std::string errors;  // the start of its standard error
  qint64 queued = 0;   // bytes of the message given to the process
  qint64 taken = 0;    // of those, the bytes that went down its standard input
};

void CollectErrors(TMailerRun& run) {
  const QByteArray chunk = run.process.readAllStandardError();
  run.errors.append(chunk.constData(), std::min(static_cast<size_t>(chunk.size()), kMaxErrorText - run.errors.size()));
}

bool Running(const TMailerRun& run, const QDeadlineTimer& deadline) {
  return run.process.state() != QProcess::NotRunning && !deadline.hasExpired();
}

void Start(TMailerRun& run, const std::string& path, const QStringList& arguments) {
  run.process.setStandardOutputFile(QProcess::nullDevice());
  // Its own process group, so that a time-out stops whatever it started too.
  run.process.setChildProcessModifier([] { ::setpgid(0, 0); });
  QObject::connect(&run.process, &QProcess::bytesWritten, [&run](qint64 n) { run.taken += n; });
  run.process.start(QString::fromStdString(path), arguments);
}

// Hands the text over a block at a time, never more than two blocks ahead of the mailer, so a
// large message is never held in memory. True when the whole text was given to the process.
bool Feed(TMailerRun& run, TStream& text, const QDeadlineTimer& deadline) {
  TCrLfToLf filter;
  std::vector<char> block(kBlock);
  bool more = true;
  while (more && Running(run, deadline)) {
    if (run.process.bytesToWrite() < kBlock) {
      const int64_t n = text.Read(block.data(), kBlock);
      more = n > 0;
      const std::string lines = more ? filter.Convert({block.data(), static_cast<size_t>(n)}) : filter.Finish();
      run.process.write(lines.data(), static_cast<qint64>(lines.size()));
      run.queued += static_cast<qint64>(lines.size());
    } else {
      WaitForEvents(static_cast<int>(deadline.remainingTime()));
    }
    CollectErrors(run);
  }
  if (!more) run.process.closeWriteChannel();
  return !more;
}

void WaitUntilEnded(TMailerRun& run, const QDeadlineTimer& deadline) {
  while (Running(run, deadline)) {
    WaitForEvents(static_cast<int>(deadline.remainingTime()));
    CollectErrors(run);
  }
  CollectErrors(run);
}

// ": " and the first line of what the mailer said, made safe to show; nothing when it said
// nothing.
std::string Complaint(const std::string& errors) {
  std::string line = errors.substr(0, errors.find('\n'));
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line.empty() ? "" : ": " + DisplayText(line);
}

}  // namespace

// ---- Deliveries -------------------------------------------------------------------------------

TDryRunDelivery::TDryRunDelivery(std::string folder) : folder_(std::move(folder)) {}

std::string TDryRunDelivery::Deliver(TpxMessage& message) {
  // A message that could not be sent is not written either: the dry run says what a send would.
  message.Validate();
  if (const int error = ForceDirectories(folder_, 0700))
    throw EInOutError("The folder " + QuotedName(folder_) + " cannot be made: " + std::strerror(error));
  for (;; ++next_) {
    const std::string name = MessageFileName(folder_, next_);
    std::optional<TFileStream> file;
    try {
      // Readable by the user alone, like the files it holds may be.
      file.emplace(name, TFileMode::fmCreateNew, 0600);
    } catch (const EFCreateError&) {
      if (Exists(name)) continue;  // a file of an earlier run, or of someone else: kept
      throw;
    }
    try {
      message.SaveToStream(*file);
    } catch (...) {
      ::unlink(name.c_str());  // half a message would read as a whole one
      throw;
    }
    ++next_;
    return "written " + name;
  }
}

TSendmailDelivery::TSendmailDelivery(std::string path, int timeoutSeconds)
    : path_(std::move(path)), timeoutSeconds_(timeoutSeconds) {}

std::string TSendmailDelivery::Deliver(TpxMessage& message) {
  message.Validate();
  const QStringList arguments = MailerArguments(message);
  TTempFileStream text;  // its file goes with it, on every exit
  message.SaveToStream(text);
  text.SetPosition(0);
  const std::string name = "The mail program " + QuotedName(path_);
  const QDeadlineTimer deadline(static_cast<qint64>(timeoutSeconds_) * 1000);
  TMailerRun run;
  Start(run, path_, arguments);
  const bool given = Feed(run, text, deadline);
  WaitUntilEnded(run, deadline);
  if (run.process.state() != QProcess::NotRunning) {
    ::kill(-static_cast<pid_t>(run.process.processId()), SIGKILL);
    WaitUntilEnded(run, QDeadlineTimer(kReapMs));
    throw EMailerError(name + " ran longer than " + std::to_string(timeoutSeconds_) + " s and was stopped", kTransient);
  }
  // Every file would fail alike: the batch ends.
  if (run.process.error() == QProcess::FailedToStart)
    throw EMailerError(name + " could not be started: " + run.process.errorString().toStdString(), kNoMailer);
  if (run.process.exitStatus() == QProcess::CrashExit)
    throw EMailerError(name + " was ended by a signal" + Complaint(run.errors), kPermanent);
  const int status = run.process.exitCode();
  if (status != 0)
    throw EMailerError(name + " failed with exit status " + std::to_string(status) + Complaint(run.errors),
                       status == kTempFail ? kTransient : kPermanent);
  // A mailer that ends well before it has read the whole message has not got it.
  if (!given || run.taken < run.queued)
    throw EMailerError(name + " ended before it read the whole message", kPermanent);
  return path_ + ": accepted";
}
