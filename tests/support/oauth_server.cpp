#include "oauth_server.h"

#include "files.h"
#include "python_server.h"
#include "tls_peer.h"

OAuthServer::OAuthServer(const Options& options) {
  std::vector<std::string> args{"--access-ttl",  std::to_string(options.accessTtlS),
                                "--device-interval", std::to_string(options.deviceIntervalS),
                                "--max-seconds", std::to_string(options.maxSeconds)};
  if (options.slowDown) args.push_back("--slow-down");
  if (!options.cert.empty()) {
    https_ = true;
    args.insert(args.end(), {"--cert", TestCerts::Get().Pem(options.cert), "--key", TestCerts::Get().Key(options.cert)});
  }
  server_ = std::make_unique<PythonServer>(std::string(MAILCART_E2E_DIR) + "/oauth/oauth_server.js", args,
                                           dir_.filePath("server.log").toStdString(), "node");
}

OAuthServer::~OAuthServer() = default;

std::string OAuthServer::Issuer() const { return (https_ ? "https" : "http") + std::string("://127.0.0.1:") + std::to_string(server_->Port()); }

std::string OAuthServer::Log() const { return ReadFile(dir_.filePath("server.log").toStdString()); }
