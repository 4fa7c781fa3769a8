#include "oauth_server.h"

#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QSslConfiguration>
#include <QTimer>

#include <stdexcept>

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

void OAuthServer::Revoke(const std::string& token) const {
  constexpr int kTimeoutMs = 10000;
  QNetworkRequest request(QUrl(QString::fromStdString(Issuer() + "/token/revocation")));
  request.setHeader(QNetworkRequest::ContentTypeHeader, "application/x-www-form-urlencoded");
  if (https_) {
    QSslConfiguration ssl = QSslConfiguration::defaultConfiguration();
    ssl.setCaCertificates(QSslCertificate::fromPath(QString::fromStdString(TestCerts::Get().Pem("ca"))));
    request.setSslConfiguration(ssl);
  }
  const QByteArray form = "token=" + QUrl::toPercentEncoding(QString::fromStdString(token)) + "&client_id=" + kClientId;
  QNetworkAccessManager manager;
  manager.setProxy(QNetworkProxy::NoProxy);
  QNetworkReply* reply = manager.post(request, form);
  QEventLoop loop;
  QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
  QTimer::singleShot(kTimeoutMs, &loop, &QEventLoop::quit);
  loop.exec();
  const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
  const std::string answer = reply->isFinished() ? reply->readAll().toStdString() : "no answer within 10 s";
  delete reply;
  // The answer names the error, never the token.
  if (status != 200) throw std::runtime_error("the revocation at " + Issuer() + " failed: " + answer);
}
