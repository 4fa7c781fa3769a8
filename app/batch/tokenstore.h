// Where the refresh token of a signed-in account lives: the secret service, keyed by issuer,
// client and user; or a token file the user names (mailcart-send --token-file) where no secret
// service runs. A token never goes into a log or an error text.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "app/batch/credentials.h"
#include "toolkit/secret.h"

// The secret service's entry of the refresh token that client got for user from issuer:
// "oauth2:<issuer> <client> <user>". A password's entry ends in its port, so none can be taken
// for it.
std::string RefreshTokenKey(const std::string& issuer, const std::string& clientId, const std::string& user);

class TRefreshTokenStore {
 public:
  virtual ~TRefreshTokenStore() = default;
  // Nothing when no token is kept.
  virtual std::optional<TSecret> Read() = 0;
  // Replaces what is kept. A rotated token is written before the new access token is used: once
  // the server has issued it, the old one may no longer work.
  virtual void Write(const TSecret& token) = 0;
  // "Sign out"; nothing kept is not an error.
  virtual void Remove() = 0;
};

// The entry key of keeper, which raises ENoSecretService or ECredentialsError as it does.
std::unique_ptr<TRefreshTokenStore> SecretServiceTokenStore(TPasswordKeeper& keeper, std::string key);

// The file holds the refresh token alone, on one line; no file: no token. It is written through
// a new file beside it (mode 0600 from the start, never through a link) that is renamed over it,
// so a failure leaves the old token whole. A file that is no regular file, is a symbolic link,
// belongs to another user, or that others may read or change is neither read nor replaced
// (ReadSecretFile's rule for kTokenFile). Failures raise EPasswordError naming the file and what
// to change.
std::unique_ptr<TRefreshTokenStore> FileTokenStore(std::string path);

// Keeps the token in this object's memory only: a window with no secret service signs in at each
// start.
std::unique_ptr<TRefreshTokenStore> MemoryTokenStore();
