#include "app/signin/oauthmetadata.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QUrl>

#include "app/signin/httpsclient.h"
#include "app/signin/tokenendpoint.h"
#include "toolkit/strutils.h"

namespace {

const std::string kDiscovery = "metadata request";

std::string Endpoint(const QJsonObject& document, const char* name) {
  const std::string url = document.value(name).toString().toStdString();
  if (!url.empty()) RequireSecureUrl(url, name);
  return url;
}

}  // namespace

std::string MetadataUrl(const std::string& issuer, const std::string& wellKnown) {
  RequireSecureUrl(issuer, "issuer");
  QUrl url(QString::fromStdString(issuer));
  if (url.hasQuery() || url.hasFragment())
    throw EOAuthError("The issuer " + DisplayText(issuer) + " is refused: it may have no query or fragment", "");
  QString path = url.path();
  while (path.endsWith('/')) path.chop(1);
  url.setPath("/.well-known/" + QString::fromStdString(wellKnown) + path);
  return url.toString().toStdString();
}

TOAuthEndpoints DiscoverEndpoints(const std::string& issuer, const TTlsTrust& trust, int timeoutMs) {
  const THttpsClient http(trust, {}, timeoutMs);
  std::string url = MetadataUrl(issuer, "oauth-authorization-server");
  THttpReply reply = http.Get(url, kDiscovery);
  if (reply.status != 200) {
    // OpenID Connect Discovery 1.0 4: the issuer's own path, then the well-known name.
    std::string base = issuer;
    while (EndsStr("/", base)) base.pop_back();
    url = base + "/.well-known/openid-configuration";
    reply = http.Get(url, kDiscovery);
  }
  if (reply.status != 200)
    throw EOAuthError(HostOf(url) + " has no authorization server metadata for " + DisplayText(issuer) +
                          " (HTTP status " + std::to_string(reply.status) + ")",
                      "");
  const QJsonObject document = JsonObjectOf(reply, url, kDiscovery);
  // RFC 8414 3.3: a document for another issuer may be an attacker's.
  const std::string named = document.value("issuer").toString().toStdString();
  if (named != issuer)
    throw EOAuthError(HostOf(url) + " describes the issuer \"" + DisplayText(named) + "\", not " + DisplayText(issuer),
                      "");
  TOAuthEndpoints e{issuer,
                    Endpoint(document, "authorization_endpoint"),
                    Endpoint(document, "token_endpoint"),
                    Endpoint(document, "device_authorization_endpoint"),
                    Endpoint(document, "registration_endpoint"),
                    Endpoint(document, "introspection_endpoint")};
  if (e.token.empty()) throw EOAuthError(HostOf(url) + " names no token endpoint for " + DisplayText(issuer), "");
  return e;
}

std::string RegisterNativeClient(const TOAuthEndpoints& e, const TTlsTrust& trust, const std::string& clientName) {
  const std::string what = "client registration";
  if (e.registration.empty())
    throw EOAuthError("The authorization server " + DisplayText(e.issuer) + " registers no clients", "");
  const QJsonObject metadata{
      {"client_name", QString::fromStdString(clientName)},
      {"application_type", "native"},
      {"token_endpoint_auth_method", "none"},
      {"grant_types", QJsonArray{"authorization_code", "refresh_token", "urn:ietf:params:oauth:grant-type:device_code"}},
      {"response_types", QJsonArray{"code"}},
      // RFC 8252 7.3: the port is left out; the listener's is taken at the time of the request.
      {"redirect_uris", QJsonArray{"http://127.0.0.1/"}},
  };
  const QByteArray body = QJsonDocument(metadata).toJson(QJsonDocument::Compact);
  const THttpReply reply = THttpsClient(trust).Post(e.registration, what, "application/json", body.toStdString());
  if (reply.status != 201 && reply.status != 200) RaiseServerError(reply, e.registration, what);
  const std::string id = JsonObjectOf(reply, e.registration, what).value("client_id").toString().toStdString();
  if (id.empty()) throw EOAuthError(HostOf(e.registration) + " registered the client without a client_id", "");
  return id;
}
