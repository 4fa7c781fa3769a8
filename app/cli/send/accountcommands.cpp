#include "app/cli/send/accountcommands.h"

#include <unistd.h>

#include <cstdio>
#include <iostream>

#include "app/batch/accountlookup.h"
#include "app/batch/connectiontest.h"
#include "app/batch/settings.h"
#include "toolkit/hostport.h"
#include "toolkit/strutils.h"

namespace {

void Notice(const std::string& text) { std::fprintf(stderr, "mailcart-send: %s\n", text.c_str()); }

// Asked on a terminal only: a script gets no server it did not name.
bool ConfirmOnTerminal(const TFoundServer& server) {
  const std::string name = HostPortText(server.host, server.port);
  if (!::isatty(STDIN_FILENO)) {
    Notice(server.source + ": " + name + " is outside the address's domain; run on a terminal to confirm it");
    return false;
  }
  std::fprintf(stderr, "mailcart-send: %s names %s, outside the address's domain. Use it? [y/N] ",
               DisplayText(server.source).c_str(), DisplayText(name).c_str());
  std::fflush(stderr);
  std::string answer;
  if (!std::getline(std::cin, answer)) return false;
  answer = LowerCase(Trim(answer));
  return answer == "y" || answer == "yes";
}

}  // namespace

int FindSettingsCommand(const TOptions& options, const std::string& settingsFile, TBatchHost& host) {
  const TLookupHooks hooks{ConfirmOnTerminal, [&options](const std::string& step) {
                             if (options.verbose) Notice(step);
                           }};
  const TLookupResult result = FindSettings(*options.findSettings, options.caFile.value_or(""), host, hooks);
  for (const std::string& step : result.steps) Notice(step);
  if (!result.server) {
    Notice("no submission server of " + DisplayText(*options.findSettings) +
           " could be found that takes TLS: give --server, --security and --user yourself");
    return 1;
  }
  const TFoundServer& server = *result.server;
  Notice("found in " + server.source + ": " + DisplayText(result.probe.text));
  if (!server.note.empty()) Notice(server.note);
  std::printf("[Param]\n");
  for (const auto& [key, value] : FoundServerKeys(server)) std::printf("%s=%s\n", key.c_str(), DisplayText(value).c_str());
  std::fflush(stdout);
  if (options.save) {
    WriteFoundServer(settingsFile, server);
    Notice("written to " + QuotedName(settingsFile));
  }
  return 0;
}

int CheckCommand(const TBatchRequest& request, const TSecret& password, TBatchHost& host) {
  const TConnectionTestResult result = TestConnection(request.server, request.account, password, host, request.signIn);
  std::printf("%s\n", result.text.c_str());
  std::fflush(stdout);
  return result.ok ? 0 : 1;
}
