#include "app/cli/send/watchcommand.h"

#include <poll.h>

#include <cerrno>
#include <cstring>
#include <optional>
#include <string>

#include "app/batch/batchrunner.h"
#include "app/batch/sentfilemove.h"
#include "app/batch/settings.h"
#include "app/batch/watchsession.h"
#include "app/cli/send/commandline.h"
#include "app/cli/send/exitstatus.h"
#include "app/cli/send/sendoptions.h"
#include "app/cli/send/stopsignals.h"
#include "toolkit/exceptions.h"
#include "toolkit/strutils.h"

namespace {

// While it lives, a first signal stops the watch instead of ending the program.
class TStopScope {
 public:
  explicit TStopScope(TStopSignals& signals) : signals_(signals) { signals_.WatchFolder(true); }
  ~TStopScope() { signals_.WatchFolder(false); }
  TStopScope(const TStopScope&) = delete;
  TStopScope& operator=(const TStopScope&) = delete;

 private:
  TStopSignals& signals_;
};

// The watch's news on standard error, each batch's outcomes as its files end.
class TWatchLines : public TWatchSessionView {
 public:
  explicit TWatchLines(TCommandLine& frontEnd) : frontEnd_(frontEnd) {}
  void Skipped(const std::string& path, const std::string& why) override {
    frontEnd_.Notice(ShownFileName(path) + ": skipped: " + DisplayText(why));
  }
  void Notice(const std::string& text) override { frontEnd_.Notice(text); }
  void BatchEnded(const TBatchRunner& runner, int kept) override { frontEnd_.ReportWatchBatch(runner, kept); }

 private:
  TCommandLine& frontEnd_;
};

TWatchChoice WatchChoice(const TOptions& options, const TSettings& settings) {
  TWatchChoice choice;
  choice.folder.folder = WatchedFolderPath(*options.watch);
  choice.folder.recursive = options.recursive;
  choice.folder.newOnly = options.newOnly;
  choice.folder.settle = SettleTime(options.settle.value_or(settings.settleSeconds));
  choice.folder.names = {options.include, options.exclude};
  choice.resendChanged = options.resendChanged;
  choice.resendUncertain = options.resendUncertain;
  return choice;
}

int ExitStatus(TBatchEnd end) {
  switch (end) {
    case TBatchEnd::Aborted: return kExitAllSent;  // stopped by a signal, the message in progress done
    case TBatchEnd::QuotaReached: return kExitQuota;
    default: return kExitFailed;
  }
}

}  // namespace

int WatchCommand(const TOptions& options, const TSettings& settings, TCommandLine& frontEnd, TBatchRunner& runner,
                 TStopSignals& stopSignals) {
  TWatchChoice choice = WatchChoice(options, settings);
  TBatchRequest request = frontEnd.Request();
  if (options.moveTo) {
    request.moveSentTo = WatchedFolderPath(*options.moveTo);
    if (const std::string problem = MoveFolderProblem(request.moveSentTo, choice.folder.folder, options.recursive);
        !problem.empty())
      throw TUsageError("--move-to: " + problem);
  }
  TWatchLines lines(frontEnd);
  TWatchSession session(std::move(choice), std::move(request), lines);
  const TStopScope scope(stopSignals);
  const std::string folder = DisplayText(session.Folder());
  frontEnd.Notice("watching " + folder + " for files to send (SIGINT or SIGTERM stops)");
  for (;;) {
    session.Process();
    if (session.Due()) {
      stopSignals.Watch(&runner);
      const std::optional<TBatchEnd> end = session.SendDue(runner);
      stopSignals.Watch(nullptr);
      if (end) return ExitStatus(*end);
    }
    pollfd fds[] = {{session.Descriptor(), POLLIN, 0}, {stopSignals.StopDescriptor(), POLLIN, 0}};
    if (::poll(fds, 2, session.PollTimeout()) < 0 && errno != EINTR)
      throw EInOutError("Cannot wait for the files of " + folder + ": " + std::strerror(errno));
    if ((fds[1].revents & POLLIN) != 0) break;
  }
  const int sent = session.Sent();
  frontEnd.Notice("stopped watching " + folder + ": " + std::to_string(sent) + (sent == 1 ? " file" : " files") +
                  (options.dryRun ? " written" : " sent"));
  return kExitAllSent;
}
