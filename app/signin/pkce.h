// RFC 7636: the proof key of the browser flow, and the random texts the flows are bound with.
#pragma once

#include <string>
#include <string_view>

#include "toolkit/secret.h"

struct TPkce {
  TSecret verifier;       // 43 characters of the unreserved set (RFC 7636 4.1), sent with the code
  std::string challenge;  // BASE64URL(SHA256(verifier)), sent with the authorization request
};

// A new verifier from the system's random source, and its S256 challenge.
TPkce NewPkce();
// RFC 7636 4.2: the S256 challenge of a verifier.
std::string S256Challenge(std::string_view verifier);
// bytes random bytes in base64url without padding (the state, the verifier).
std::string RandomUrlText(int bytes);
