#include "app/batch/mailcomponents.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "app/batch/credentials.h"
#include "app/batch/passwordsource.h"
#include "toolkit/componentstream.h"
#include "toolkit/hostport.h"
#include "toolkit/regularfile.h"
#include "toolkit/strutils.h"
#include "toolkit/version.h"

namespace {
// As a form stores its components' design values.
constexpr char kSmtpDesign[] =
    "object pxSMTP1: TpxSMTP\n"
    "  WinsockLoaded = True\n"
    "  DefaultPort = 25\n"
    "end\n";
constexpr char kMessageDesign[] =
    "object pxMessage1: TpxMessage\n"
    "  ContentType = \"text/plain\"\n"
    "  ReturnReceipt = False\n"
    "end\n";
}  // namespace

TMailComponents::TMailComponents() {
  ComponentFromText(kSmtpDesign, pxSMTP1);
  ComponentFromText(kMessageDesign, pxMessage1);
}

std::string ProgramTitle(const TVersionInfo& version) {
  return version.ProductName() + " " + version.FileVersion() + " (" + FormatShortDate(version.FileDate()) + ")";
}

void ApplyAccount(TpxSMTP& smtp, const TAccount& account) {
  if (!account.caFile.empty()) {
    std::string why;
    struct stat st;
    const int fd = OpenRegularFile(account.caFile, why, st);
    if (fd < 0) throw EFOpenError("The CA file " + QuotedName(account.caFile) + " cannot be read: " + why);
    ::close(fd);
  }
  smtp.SetFingerprint(account.fingerprint);
  smtp.SetSecurity(account.security);
  smtp.SetUserName(account.user);
  smtp.SetAuthMethod(account.authMethod);
  smtp.SetCAFile(account.caFile);
  std::function<TSecret()> tokenSource;
  if (!account.tokenCommand.empty())
    tokenSource = [command = account.tokenCommand] { return RunSecretCommand(command); };
  smtp.SetTokenSource(std::move(tokenSource));
}

std::string AccountKey(const std::string& user, const std::string& server, int defaultPort) {
  try {
    const THostPort target = ParseHostPort(server);
    return CredentialKey(user, target.host, target.port.value_or(defaultPort));
  } catch (const EConvertError&) {
    // No server the client would connect to: the key still names what was typed.
    return CredentialKey(user, server, defaultPort);
  }
}
