// Passwords kept in the desktop's secret service (the Secret Service over D-Bus, through
// QtKeychain), one entry per account. Nothing is ever written to a plain file instead: where no
// secret service runs, the caller is told so and asks the user for the password for the batch.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "toolkit/exceptions.h"
#include "toolkit/secret.h"

// The secret service failed or refused; the text says why, never what was stored.
MAILCART_EXCEPTION(ECredentialsError, Exception);
// No secret service runs in this session (no D-Bus session bus, or no service on it).
MAILCART_EXCEPTION(ENoSecretService, ECredentialsError);

// The entry of an account: "user@host:port".
std::string CredentialKey(const std::string& user, const std::string& host, int port);
// The entry of the account of user on server ("host" or "host:port", read as the socket client
// reads it; the port is defaultPort when none is given), as the window saves it and
// mailcart-send reads it.
std::string AccountKey(const std::string& user, const std::string& server, int defaultPort);

// Each call starts one job of the secret service and waits for it in the event loop (the
// window keeps running; a keyring that asks the user to unlock it gets the time it needs, up to
// the bound). A job that has not finished by then raises ECredentialsError.
class TCredentialStore {
 public:
  static constexpr int kDefaultTimeoutMs = 120000;
  explicit TCredentialStore(int timeoutMs = kDefaultTimeoutMs) : timeoutMs_(timeoutMs) {}

  // The stored password, or nothing when there is no entry under key.
  std::optional<TSecret> Read(const std::string& key) const;
  // Stores password under key, replacing what was there.
  void Write(const std::string& key, std::string_view password) const;
  // Removes the entry; no entry is not an error.
  void Remove(const std::string& key) const;

 private:
  int timeoutMs_;
};

// Where remembered passwords are kept: the secret service, or a double in tests.
class TPasswordKeeper {
 public:
  virtual ~TPasswordKeeper() = default;
  // Raise ENoSecretService when there is none, ECredentialsError when it fails.
  virtual std::optional<TSecret> Read(const std::string& key) = 0;
  virtual void Write(const std::string& key, std::string_view password) = 0;
  virtual void Remove(const std::string& key) = 0;
};

// The desktop's secret service, for a window: a keyring that waits on its user gets half a
// minute.
class TSecretServiceKeeper : public TPasswordKeeper {
 public:
  std::optional<TSecret> Read(const std::string& key) override;
  void Write(const std::string& key, std::string_view password) override;
  void Remove(const std::string& key) override;
};
