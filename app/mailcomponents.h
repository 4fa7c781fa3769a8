// The two mail components a front end drives, with the values they are designed with, and the
// program's title that every message carries as its sender's display name.
#pragma once

#include <string>

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
