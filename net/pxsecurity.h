// How the SMTP client protects a connection, and the certificate a user pins, as the command
// line, the settings file and component streaming spell them.
#pragma once

#include <string>
#include <string_view>

#include "toolkit/fingerprint.h"  // NormaliseFingerprint, the pin users type

// Auto: implicit TLS on port 465, STARTTLS elsewhere when offered (required once a user name
// is set); StartTLS and TLS: required, certificate checked; None: plain text.
enum class TpxSecurity { Auto, StartTLS, TLS, None };

// "auto", "starttls", "tls", "none" (any case); false for anything else.
bool ParseSecurity(std::string_view text, TpxSecurity& security);
// "Auto", "STARTTLS", "TLS", "None".
const char* SecurityName(TpxSecurity security);
