#include "net/smtpaccount.h"

#include "toolkit/componentstream.h"

void TSmtpAccount::SetFingerprint(const std::string& text) {
  if (!NormaliseFingerprint(text, fingerprint))
    throw EConvertError("\"" + text + "\" is no SHA-256 fingerprint: it needs 64 hex digits, colons allowed");
}

void TSmtpAccount::Write(TPropertyWriter& writer) const {
  if (security != TpxSecurity::Auto) writer.Property("Security", TPropValue::Ident(SecurityName(security)));
  if (!userName.empty()) writer.Property("UserName", TPropValue::Str(userName));
  if (authMethod != TAuthMethod::Auto) writer.Property("AuthMethod", TPropValue::Ident(AuthMethodName(authMethod)));
  if (!caFile.empty()) writer.Property("CAFile", TPropValue::Str(caFile));
  if (!fingerprint.empty()) writer.Property("Fingerprint", TPropValue::Str(fingerprint));
}

bool TSmtpAccount::Read(const std::string& name, const TPropValue& value) {
  const bool ident = value.kind == TPropValue::Kind::Ident;
  if (name == "Security") {
    if (!ident || !ParseSecurity(value.text, security))
      throw EReadError("Invalid value " + value.text + " for property Security");
  } else if (name == "AuthMethod") {
    if (!ident || !ParseAuthMethod(value.text, authMethod))
      throw EReadError("Invalid value " + value.text + " for property AuthMethod");
  } else if (name == "UserName") {
    userName = value.text;
  } else if (name == "CAFile") {
    caFile = value.text;
  } else if (name == "Fingerprint") {
    SetFingerprint(value.text);
  } else {
    return false;
  }
  return true;
}
