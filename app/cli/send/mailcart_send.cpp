// mailcart-send: the batch of the window's "Send" button from a shell, with no display.
// Values come from the window's settings file and the options override them; the settings
// file is written only by --find-settings --save and by a sign-in that registered a client. What became of each file goes to standard output, a line each, the
// text of an error to standard error. SIGINT and SIGTERM act like "Cancel sending": the message
// in progress is completed, then the batch stops; a second one ends the program at once. With
// --watch they stop the watch the same way, which then ends with status 0.
#include <QCoreApplication>

#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "app/batch/batchrunner.h"
#include "app/batch/mailcomponents.h"
#include "app/batch/passwordsource.h"
#include "app/batch/settings.h"
#include "app/cli/send/accountcommands.h"
#include "app/cli/send/commandline.h"
#include "app/cli/send/exitstatus.h"
#include "app/cli/send/sendoptions.h"
#include "app/cli/send/signincommand.h"
#include "app/cli/send/stopsignals.h"
#include "app/cli/send/watchcommand.h"
#include "toolkit/exceptions.h"
#include "toolkit/heappolicy.h"
#include "toolkit/strutils.h"
#include "toolkit/version.h"

namespace {

// The window's settings file: the window is installed beside this program.
std::string WindowSettingsFile() {
  const std::filesystem::path self(ExecutablePath());
  return SettingsFileName((self.parent_path() / "mailcart").string());
}

// The file named by --settings, else the window's, which is not there before the window first
// saves it: then the defaults hold.
std::string SettingsFile(const TOptions& options) { return options.settingsFile.value_or(WindowSettingsFile()); }

TSettings Settings(const TOptions& options) {
  std::error_code error;
  if (options.settingsFile && !std::filesystem::exists(*options.settingsFile, error) && !error)
    throw EInOutError("The settings file " + QuotedName(*options.settingsFile) +
                      " given with --settings does not exist");
  return ReadSettings(SettingsFile(options));
}

// What is wrong, and where to read how it is right: the whole usage would bury the one line.
void PrintUsageError(const std::exception& error) {
  std::fprintf(stderr, "mailcart-send: %s\nTry 'mailcart-send --help'.\n", error.what());
}

int Send(TOptions options, TStopSignals& stopSignals, std::optional<TSecret> passwordVariable) {
  const std::optional<int> timeOut = options.timeOut;
  const TSettings settings = Settings(options);
  for (const std::string& warning : settings.warnings)
    std::fprintf(stderr, "mailcart-send: warning: %s\n", warning.c_str());
  const TOptions given = options;
  TCommandLine frontEnd(settings, std::move(options));
  if (given.findSettings) return FindSettingsCommand(given, SettingsFile(given), frontEnd);
  TMailComponents components;
  frontEnd.BuildRequest(components.pxSMTP1.DefaultPort());
  if (given.signIn) {
    CheckServer(frontEnd.Request().server);
    return SignInCommand(frontEnd.Request(), given, SettingsFile(given));
  }
  if (given.check) {
    CheckServer(frontEnd.Request().server);
    frontEnd.TakePassword(components.pxSMTP1, std::move(passwordVariable));
    return CheckCommand(frontEnd.Request(), frontEnd.Password(), frontEnd);
  }
  frontEnd.CheckValues();
  if (frontEnd.NeedsPassword()) frontEnd.TakePassword(components.pxSMTP1, std::move(passwordVariable));
  if (timeOut) components.pxSMTP1.SetTimeOut(*timeOut);
  TBatchRunner runner(components.pxSMTP1, components.pxMessage1, TBatchFrontEnd{frontEnd, frontEnd, frontEnd},
                      ProgramTitle(TVersionInfo(ExecutablePath())));
  if (given.watch) return WatchCommand(given, settings, frontEnd, runner, stopSignals);
  stopSignals.Watch(&runner);
  const TBatchEnd end = runner.Run(frontEnd.Request());
  stopSignals.Watch(nullptr);
  frontEnd.Report(runner);
  switch (end) {
    case TBatchEnd::AllSent: return kExitAllSent;
    case TBatchEnd::Aborted: return kExitCanceled;
    case TBatchEnd::QuotaReached: return kExitQuota;
    default: return kExitFailed;
  }
}

}  // namespace

int main(int argc, char** argv) {
  KeepMessageBuffers();
  // Before anything else: no thread may take the signals their own way, and no child (a
  // password or token command, the system's mailer) may inherit the password.
  TStopSignals stopSignals;
  std::optional<TSecret> passwordVariable = TakePasswordVariable();
  const std::vector<std::string> args(argv + 1, argv + argc);
  QCoreApplication app(argc, argv);  // the event loop of the socket client; no display
  if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
    std::fputs(kUsage, stdout);
    return kExitAllSent;
  }
  if (args.size() == 1 && args[0] == "--version") {
    std::printf("mailcart-send %s\n", TVersionInfo(ExecutablePath()).FileVersion().c_str());
    return kExitAllSent;
  }
  try {
    return Send(ParseArguments(args), stopSignals, std::move(passwordVariable));
  } catch (const EPasswordUsage& error) {
    PrintUsageError(error);
    return kExitUsage;
  } catch (const TUsageError& error) {
    PrintUsageError(error);
    return kExitUsage;
  } catch (const std::exception& error) {
    PrintError(error);
    return kExitFailed;
  }
}
