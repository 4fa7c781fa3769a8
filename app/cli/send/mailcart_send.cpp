// mailcart-send: the batch of the window's "Send" button from a shell, with no display.
// Values come from the window's settings file and the options override them; the settings
// file is never written. Each state text goes to standard output on its own line as it
// changes, the text of an error to standard error. SIGINT and SIGTERM act like "Cancel
// sending": the message in progress is completed, then the batch stops; a second one ends the
// program at once.
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
#include "app/cli/send/commandline.h"
#include "app/cli/send/exitstatus.h"
#include "app/cli/send/sendoptions.h"
#include "app/cli/send/stopsignals.h"
#include "toolkit/version.h"

namespace {

// The window's settings file: the window is installed beside this program.
std::string WindowSettingsFile() {
  const std::filesystem::path self(ExecutablePath());
  return SettingsFileName((self.parent_path() / "mailcart").string());
}

int Send(TOptions options, TStopSignals& stopSignals, std::optional<TSecret> passwordVariable) {
  const std::string settingsFile = options.settingsFile.value_or(WindowSettingsFile());
  const std::optional<int> timeOut = options.timeOut;
  const TSettings settings = ReadSettings(settingsFile);
  for (const std::string& warning : settings.warnings)
    std::fprintf(stderr, "mailcart-send: warning: %s\n", warning.c_str());
  TCommandLine frontEnd(settings, std::move(options));
  frontEnd.BuildRequest();
  frontEnd.CheckValues();
  TMailComponents components;
  if (frontEnd.NeedsPassword()) frontEnd.TakePassword(components.pxSMTP1, std::move(passwordVariable));
  if (timeOut) components.pxSMTP1.SetTimeOut(*timeOut);
  TBatchRunner runner(components.pxSMTP1, components.pxMessage1, TBatchFrontEnd{frontEnd, frontEnd, frontEnd},
                      ProgramTitle(TVersionInfo(ExecutablePath())));
  stopSignals.Watch(&runner);
  const TBatchEnd end = runner.Run(frontEnd.Request());
  stopSignals.Watch(nullptr);
  frontEnd.Report(runner);
  switch (end) {
    case TBatchEnd::AllSent: return kExitAllSent;
    case TBatchEnd::Aborted: return kExitCanceled;
    default: return kExitFailed;
  }
}

}  // namespace

int main(int argc, char** argv) {
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
    std::fprintf(stderr, "mailcart-send: %s\n%s", error.what(), kUsage);
    return kExitUsage;
  } catch (const TUsageError& error) {
    std::fprintf(stderr, "mailcart-send: %s\n%s", error.what(), kUsage);
    return kExitUsage;
  } catch (const std::exception& error) {
    PrintError(error);
    return kExitFailed;
  }
}
