// How the SMTP client protects a connection, and the certificate a user pins, as the command
// line, the settings file and component streaming spell them.
#pragma once

#include <string>
#include <string_view>

// Auto: implicit TLS on port 465, STARTTLS elsewhere when offered (required once a user name
// is set); StartTLS and TLS: required, certificate checked; None: plain text.
enum class TpxSecurity { Auto, StartTLS, TLS, None };

// "auto", "starttls", "tls", "none" (any case); false for anything else.
bool ParseSecurity(std::string_view text, TpxSecurity& security);
// "Auto", "STARTTLS", "TLS", "None".
const char* SecurityName(TpxSecurity security);

// A SHA-256 fingerprint as 64 hex digits in pairs joined by colons, upper case (as
// "openssl x509 -fingerprint -sha256" prints it). text may hold the digits in any case, with
// or without colons, and blanks around them; empty stays empty. False for anything else.
bool NormaliseFingerprint(std::string_view text, std::string& normalised);
