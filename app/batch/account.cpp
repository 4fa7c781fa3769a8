#include "app/batch/account.h"

#include <unistd.h>

#include "app/batch/passwordsource.h"
#include "net/pxsmtp.h"
#include "toolkit/regularfile.h"
#include "toolkit/strutils.h"

void ApplyAccount(TpxSMTP& smtp, const TAccount& account, TTokenSource signIn) {
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
  // The command runs at every login; a renewal is one more run, which gives what it gives now.
  if (!account.tokenCommand.empty())
    signIn = [command = account.tokenCommand](bool) { return RunSecretCommand(command, kTokenCommand); };
  smtp.SetTokenSource(std::move(signIn));
}

bool LogsInWithPassword(const TAccount& account) {
  return !account.user.empty() && !UsesBearerToken(account.authMethod);
}
