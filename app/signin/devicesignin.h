// The device flow (RFC 8628): the user opens a page anywhere, types a short code and signs in
// there, while the program polls the token endpoint.
#pragma once

#include <functional>
#include <string>

#include "app/signin/oauthtypes.h"

// tell(verificationUri, userCode, verificationUriComplete) is called once ("" where the server
// gives no complete URI). The token endpoint is polled at the server's interval (5 s where it
// names none); slow_down adds 5 s for good, authorization_pending goes on; access_denied and
// expired_token raise EOAuthError with their code; the code's expiry or cancelled() raises
// EOAuthError with the code "".
TOAuthTokens DeviceSignIn(const TOAuthEndpoints& e, const TOAuthClient& c, const TTlsTrust& trust,
                          const std::function<void(const std::string& uri, const std::string& code,
                                                   const std::string& complete)>& tell,
                          const TCancelled& cancelled);
