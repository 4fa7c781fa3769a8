// The SHA-256 fingerprint a user pins a server's certificate with, as the SMTP account and the
// sign-in's HTTPS requests both take it.
#pragma once

#include <string>
#include <string_view>

// A SHA-256 fingerprint as 64 hex digits in pairs joined by colons, upper case (as
// "openssl x509 -fingerprint -sha256" prints it). text may hold the digits in any case, with
// or without colons, and blanks around them; empty stays empty. False for anything else.
bool NormaliseFingerprint(std::string_view text, std::string& normalised);
