#include "app/signin/httpsclient.h"

#include <QCryptographicHash>
#include <QEventLoop>
#include <QFile>
#include <QHostAddress>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSslCertificate>
#include <QUrl>

#include <unistd.h>

#include <memory>

#include "app/signin/eventwait.h"
#include "toolkit/fingerprint.h"
#include "toolkit/regularfile.h"
#include "toolkit/strutils.h"

namespace {

// A CA file's certificates; read through the one rule for files the program opens.
QList<QSslCertificate> ReadCaFile(const std::string& path) {
  std::string why;
  struct stat st;
  const int fd = OpenRegularFile(path, why, st);
  QList<QSslCertificate> certs;
  if (fd >= 0) {
    QFile file;
    if (st.st_size <= kMaxReplyBytes && file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle))
      certs = QSslCertificate::fromData(file.readAll(), QSsl::Pem);
    else
      ::close(fd);
    if (certs.isEmpty()) why = "no PEM certificate in it";
  }
  if (certs.isEmpty()) throw EOAuthError("The CA file " + path + " cannot be read: " + why, "");
  return certs;
}

std::string PeerFingerprint(const QNetworkReply& reply) {
  const QByteArray digest = reply.sslConfiguration().peerCertificate().digest(QCryptographicHash::Sha256);
  return digest.toHex(':').toUpper().toStdString();
}

std::string Seconds(int ms) { return std::to_string((ms + 999) / 1000) + " s"; }

}  // namespace

bool IsLoopbackHost(std::string_view host) {
  if (host.size() > 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
  if (SameText(host, "localhost")) return true;
  QHostAddress address;
  return address.setAddress(QString::fromUtf8(host.data(), static_cast<qsizetype>(host.size()))) &&
         address.isLoopback();
}

void RequireSecureUrl(const std::string& url, const std::string& what) {
  const QUrl parsed(QString::fromStdString(url), QUrl::StrictMode);
  const std::string scheme = parsed.scheme().toLower().toStdString();
  const bool ok = parsed.isValid() && !parsed.host().isEmpty() &&
                  (scheme == "https" || (scheme == "http" && IsLoopbackHost(parsed.host().toStdString())));
  if (!ok) throw EOAuthError("The " + what + " address " + DisplayText(url) + " is refused: it must be an https:// URL", "");
}

std::string HostOf(const std::string& url) { return QUrl(QString::fromStdString(url)).host().toStdString(); }

THttpsClient::THttpsClient(const TTlsTrust& trust, TCancelled cancelled, int timeoutMs)
    : ssl_(QSslConfiguration::defaultConfiguration()), cancelled_(std::move(cancelled)), timeoutMs_(timeoutMs) {
  if (!NormaliseFingerprint(trust.fingerprint, pin_))
    throw EOAuthError("The fingerprint \"" + DisplayText(trust.fingerprint) +
                          "\" is not a SHA-256 fingerprint (64 hex digits, colons allowed)",
                      "");
  ssl_.setProtocol(QSsl::TlsV1_2OrLater);
  if (!trust.caFile.empty()) ssl_.addCaCertificates(ReadCaFile(trust.caFile));
}

THttpReply THttpsClient::Get(const std::string& url, const std::string& what) const {
  return Send(url, what, false, nullptr, {}, {});
}

THttpReply THttpsClient::Post(const std::string& url, const std::string& what, const char* contentType,
                              std::string_view body, std::string_view authorization) const {
  return Send(url, what, true, contentType, body, authorization);
}

THttpReply THttpsClient::Send(const std::string& url, const std::string& what, bool post, const char* contentType,
                              std::string_view body, std::string_view authorization) const {
  RequireSecureUrl(url, what);
  const std::string host = HostOf(url);
  QNetworkRequest request(QUrl(QString::fromStdString(url)));
  // A token request that is redirected would carry its secrets elsewhere.
  request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
  request.setRawHeader("Accept", "application/json");
  if (contentType != nullptr) request.setRawHeader("Content-Type", contentType);
  if (!authorization.empty())
    request.setRawHeader("Authorization", QByteArray::fromRawData(authorization.data(), authorization.size()));
  request.setSslConfiguration(ssl_);

  QNetworkAccessManager manager;
  QNetworkReply* reply = post ? manager.post(request, QByteArray::fromRawData(body.data(), body.size()))
                              : manager.get(request);
  QByteArray received;
  bool tooLarge = false;
  bool pinRefused = false;
  QObject::connect(reply, &QNetworkReply::readyRead, reply, [&] {
    if (received.size() + reply->bytesAvailable() > kMaxReplyBytes) {
      tooLarge = true;
      reply->abort();
      return;
    }
    received += reply->readAll();
  });
  // A pin stands in for the chain's check: that one certificate and no other.
  QObject::connect(reply, &QNetworkReply::sslErrors, reply, [&] {
    if (!pin_.empty() && PeerFingerprint(*reply) == pin_) reply->ignoreSslErrors();
  });
  QObject::connect(reply, &QNetworkReply::encrypted, reply, [&] {
    if (pin_.empty() || PeerFingerprint(*reply) == pin_) return;
    pinRefused = true;
    reply->abort();
  });
  QEventLoop loop;
  QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
  const TWaitEnd end = WaitInLoop(loop, [reply] { return reply->isFinished(); }, timeoutMs_, cancelled_);
  const std::string failed = "The " + what + " to " + host;
  if (end != TWaitEnd::Done) {
    reply->abort();
    throw EOAuthError(failed + (end == TWaitEnd::Cancelled ? " was cancelled" : " had no answer within " + Seconds(timeoutMs_)), "");
  }
  if (tooLarge) throw EOAuthError(failed + " was answered with more than 1 MiB", "");
  if (pinRefused)
    throw EOAuthError(failed + " was refused: its certificate " + PeerFingerprint(*reply) +
                          " does not match the pinned fingerprint " + pin_,
                      "");
  const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
  if (!status.isValid()) throw EOAuthError(failed + " failed: " + reply->errorString().toStdString(), "");
  received += reply->readAll();
  return THttpReply(status.toInt(), std::move(received));
}

QJsonObject JsonObjectOf(const THttpReply& reply, const std::string& url, const std::string& what) {
  const QJsonDocument document = QJsonDocument::fromJson(reply.body);
  if (!document.isObject())
    throw EOAuthError(HostOf(url) + " answered the " + what + " with HTTP status " + std::to_string(reply.status) +
                          " and no JSON object",
                      "");
  return document.object();
}
