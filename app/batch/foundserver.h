// A submission server found for an address (the providers' table, the domain's autoconfig
// document, its SRV or MX records, a guess), before and after it is probed.
#pragma once

#include <cstdint>
#include <string>

#include "net/pxsasl.h"
#include "net/pxsecurity.h"

struct TFoundServer {
  std::string host;
  uint16_t port = 0;
  TpxSecurity security = TpxSecurity::TLS;  // TLS or StartTLS: plain text is never offered
  std::string user;                          // the login for the address ("%EMAILADDRESS%" filled in)
  TAuthMethod authMethod = TAuthMethod::Auto;  // OAuth2 where the provider signs in so
  // Where it came from, for the user: "the providers' table (Google)", "autoconfig at
  // https://autoconfig.example.com/…", "SRV _submissions._tcp.example.com", "MX of example.com
  // (Microsoft)", "a guess".
  std::string source;
  // A server outside the address's domain found in DNS (an SRV target, an MX match): offered
  // only once the user confirms it.
  bool needsConfirmation = false;
  // What the user should know: the provider's page on app passwords, its published limits.
  std::string note;
};
