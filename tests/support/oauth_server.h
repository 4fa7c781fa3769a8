// A real authorization server for the sign-in tests: runs tests/e2e/oauth/oauth_server.js
// (oidc-provider under node, installed by scripts/install-deps) on 127.0.0.1 at a free port for
// the life of the object, with a public native client, the device flow, refresh tokens,
// registration and its development login pages (any user name, any password). A second,
// confidential client "mailcart-smtp" lets SmtpCapture introspect the first one's access tokens.
#pragma once

#include <QTemporaryDir>

#include <memory>
#include <string>

class PythonServer;

class OAuthServer {
 public:
  static constexpr char kClientId[] = "mailcart-test";

  struct Options {
    int accessTtlS = 3600;
    int deviceIntervalS = 1;  // the device flow's polling interval; a poll sooner is refused
    bool slowDown = false;    // the first device poll is answered slow_down
    int maxSeconds = 600;     // the server stops by itself after this long
    std::string cert{};       // a TestCerts name ("good", "selfsigned"): HTTPS with it
  };

  // Starts the server and waits (at most 15 s) until it listens; raises std::runtime_error with
  // its error output when it does not.
  explicit OAuthServer(const Options& options);
  ~OAuthServer();
  OAuthServer(const OAuthServer&) = delete;
  OAuthServer& operator=(const OAuthServer&) = delete;

  // "http://127.0.0.1:PORT" ("https" with a certificate), the issuer its metadata names.
  std::string Issuer() const;
  std::string Log() const;
  // Revokes a token of kClientId (RFC 7009), waiting at most 10 s; a refresh token takes its
  // grant and that grant's access tokens along. Raises std::runtime_error when the server does
  // not answer 200 (over HTTPS, the server's certificate must be one the "ca" of TestCerts signed).
  void Revoke(const std::string& token) const;

 private:
  QTemporaryDir dir_;
  std::unique_ptr<PythonServer> server_;
  bool https_ = false;
};
