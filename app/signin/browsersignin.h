// The browser flow (RFC 6749 4.1 for a native program, RFC 8252): PKCE S256 and a state, the
// system browser sent to the authorization endpoint, the answer taken at a loopback listener,
// the code exchanged for tokens.
#pragma once

#include <functional>
#include <string>

#include "app/signin/oauthtypes.h"

// openBrowser(url) is called once the listener listens (the caller opens the system browser or
// prints the URL). The listener answers the matching redirect with "Signed in. You can close
// this window.", other paths (a favicon) with 404 and a foreign state with 400, and goes on
// waiting after those; a redirect with error= raises EOAuthError with its code. timeoutMs passing
// or cancelled() raises EOAuthError with the code "".
TOAuthTokens BrowserSignIn(const TOAuthEndpoints& e, const TOAuthClient& c, const TTlsTrust& trust,
                           const std::function<void(const std::string& url)>& openBrowser, const TCancelled& cancelled,
                           int timeoutMs = 300000);

// The authorization request's URL (RFC 6749 4.1.1, RFC 7636 4.3): the endpoint's own query kept.
std::string AuthorizationUrl(const TOAuthEndpoints& e, const TOAuthClient& c, const std::string& redirectUri,
                             const std::string& state, const std::string& challenge);
