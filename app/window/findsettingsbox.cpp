#include "app/window/findsettingsbox.h"

#include <QProgressDialog>

#include "app/batch/accountlookup.h"
#include "app/window/windowtext.h"
#include "toolkit/hostport.h"
#include "toolkit/msgbox.h"
#include "toolkit/pump.h"
#include "toolkit/strutils.h"

namespace {

class TBoxHost : public TBatchHost {
 public:
  void ProcessMessages() override { ProcessMessagesNow(); }
  void CloseApplication() override {}
};

// A cancel between two steps ends the look-up; a step under way runs to its time-out.
MAILCART_EXCEPTION(ELookupCancelled, Exception);

std::string Lines(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += "\n\u2022 " + line;
  return text;
}

}  // namespace

std::optional<TFoundServer> FindSettingsFor(QWidget* parent, const std::string& address, const std::string& caFile) {
  QProgressDialog box(parent);
  box.setWindowTitle("Find settings");
  box.setLabelText(Text("Looking up " + address + "\u2026"));
  box.setRange(0, 0);
  box.setMinimumDuration(0);
  box.setWindowModality(Qt::ApplicationModal);
  box.show();
  TBoxHost host;
  TLookupHooks hooks;
  hooks.progress = [&box](const std::string& step) {
    if (box.wasCanceled()) throw ELookupCancelled("cancelled");
    box.setLabelText(Text(step + "\u2026"));
  };
  hooks.confirm = [](const TFoundServer& server) {
    return AskQuestion(server.source + " names " + HostPortText(server.host, server.port) +
                           ", a server outside the address's domain. Try it?",
                       false) == TMsgAnswer::Yes;
  };
  TLookupResult result;
  try {
    result = FindSettings(address, caFile, host, hooks);
  } catch (const ELookupCancelled&) {
    return std::nullopt;
  } catch (const ELookupError& error) {
    box.close();
    ShowException(error);
    return std::nullopt;
  }
  box.close();
  if (!result.server) {
    MessageBox("No submission server of " + address + " that takes TLS was found. Tried:" + Lines(result.steps) +
                   "\n\nEnter the server, its security and the user yourself.",
               "Find settings", TMsgIcon::Warning);
    return std::nullopt;
  }
  const TFoundServer& server = *result.server;
  const std::string question = "Found in " + server.source + ":\n" + result.probe.text + "\n\nUser: " + server.user +
                               "\nAuthentication: " + AuthMethodName(server.authMethod) +
                               (server.note.empty() ? "" : "\n" + server.note) + "\n\nUse these settings?";
  if (AskQuestion(question, false) != TMsgAnswer::Yes) return std::nullopt;
  return server;
}
