// The account of an SMTP client: how it protects the connection and whom it logs in as. It is
// published, so it streams with the client; defaults are left out. The password and the token
// source are not part of it: streaming would write them out.
#pragma once

#include <string>

#include "net/pxsasl.h"
#include "net/pxsecurity.h"
#include "toolkit/components.h"

struct TSmtpAccount {
  TpxSecurity security = TpxSecurity::Auto;
  std::string userName;
  TAuthMethod authMethod = TAuthMethod::Auto;
  std::string caFile;       // a PEM file of certificates trusted besides the system's
  std::string fingerprint;  // the pinned certificate's SHA-256, normalised; empty: none

  // Takes a fingerprint as NormaliseFingerprint does; a malformed one raises EConvertError and
  // leaves the pin as it was.
  void SetFingerprint(const std::string& text);
  void Write(TPropertyWriter& writer) const;
  // False when name is none of the account's properties.
  bool Read(const std::string& name, const TPropValue& value);
};
