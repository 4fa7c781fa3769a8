// The two mail components a front end drives, with the values they are designed with, the
// program's title that every message carries as its sender's display name, and the account.
#pragma once

#include <string>

#include "app/batch/settings.h"
#include "mail/pxmsg.h"
#include "net/pxsmtp.h"

class TVersionInfo;

struct TMailComponents {
  // Applies the stored design values: the socket library is loaded, port 25 when the service
  // look-up finds none, a plain-text message without receipt request.
  TMailComponents();

  TpxSMTP pxSMTP1;
  TpxMessage pxMessage1;
};

// Product name + " " + file version + " (" + date in the short date format + ")".
std::string ProgramTitle(const TVersionInfo& version);

// Gives the client the account's values; the token command, when there is one, becomes its
// token source and runs at every login. A CA file that cannot be read, or a malformed
// fingerprint, raises an error naming it, before anything connects.
void ApplyAccount(TpxSMTP& smtp, const TAccount& account);

// The secret service entry of the account on server ("host" or "host:port"; the port is
// defaultPort when none is given), as the window saves it and mailcart-send reads it.
std::string AccountKey(const std::string& user, const std::string& server, int defaultPort);
