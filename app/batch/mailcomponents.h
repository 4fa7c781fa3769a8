// The two mail components a front end drives, with the values they are designed with.
#pragma once

#include <string>

#include "mail/pxmsg.h"
#include "net/pxsmtp.h"

struct TMailComponents {
  // Applies the stored design values: the socket library is loaded, port 25 when the service
  // look-up finds none, a plain-text message without receipt request.
  TMailComponents();

  TpxSMTP pxSMTP1;
  TpxMessage pxMessage1;
};
