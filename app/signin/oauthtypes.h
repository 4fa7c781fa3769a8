// What the OAuth 2 sign-in works with: the server's trust, its endpoints, the client, the tokens
// it hands out and the error every step raises.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "toolkit/exceptions.h"
#include "toolkit/secret.h"

// As for SMTP: a CA file added to the system's; a pinned SHA-256 fingerprint "AB:CD:..."
// (64 hex digits, colons allowed) accepts that certificate only.
struct TTlsTrust {
  std::string caFile;
  std::string fingerprint;
};

// The authorization server's endpoints (RFC 8414 names them); empty where it offers none.
struct TOAuthEndpoints {
  std::string issuer, authorization, token, deviceAuthorization, registration, introspection;
};

// secret may be empty (a public client); scope is space-separated.
struct TOAuthClient {
  std::string id;
  TSecret secret;
  std::string scope;
};

struct TOAuthTokens {
  TSecret access;
  TSecret refresh;
  int64_t expiresAt = 0;  // epoch seconds; 0: unknown
  std::string user;       // from the ID token's "email", else "preferred_username", else "sub"
};

// The server's "error" code ("invalid_grant", "access_denied", "expired_token", ...) or "" for
// transport and format problems, time-outs and cancels; the text names the endpoint's host and
// never holds a token.
class EOAuthError : public Exception {
 public:
  EOAuthError(std::string text, std::string code) : Exception(std::move(text)), code_(std::move(code)) {}
  const std::string& Code() const { return code_; }

 private:
  std::string code_;
};

// A cancel flag the caller may set from its event handlers (a window's Cancel, SIGINT).
using TCancelled = std::function<bool()>;
