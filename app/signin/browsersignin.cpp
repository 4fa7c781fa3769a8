#include "app/signin/browsersignin.h"

#include <QUrl>

#include "app/signin/httpsclient.h"
#include "app/signin/loopbackredirect.h"
#include "app/signin/pkce.h"
#include "app/signin/tokenendpoint.h"

namespace {
constexpr int kStateBytes = 16;

void AppendParameter(QByteArray& query, const char* name, const std::string& value) {
  if (!query.isEmpty()) query += '&';
  query += name;
  query += '=';
  query += QUrl::toPercentEncoding(QString::fromStdString(value));
}
}  // namespace

std::string AuthorizationUrl(const TOAuthEndpoints& e, const TOAuthClient& c, const std::string& redirectUri,
                             const std::string& state, const std::string& challenge) {
  RequireSecureUrl(e.authorization, "authorization endpoint");
  QUrl url(QString::fromStdString(e.authorization));
  QByteArray query = url.query(QUrl::FullyEncoded).toLatin1();
  AppendParameter(query, "response_type", "code");
  AppendParameter(query, "client_id", c.id);
  AppendParameter(query, "redirect_uri", redirectUri);
  if (!c.scope.empty()) AppendParameter(query, "scope", c.scope);
  AppendParameter(query, "state", state);
  AppendParameter(query, "code_challenge", challenge);
  AppendParameter(query, "code_challenge_method", "S256");
  url.setQuery(QString::fromLatin1(query), QUrl::StrictMode);
  return url.toString(QUrl::FullyEncoded).toStdString();
}

TOAuthTokens BrowserSignIn(const TOAuthEndpoints& e, const TOAuthClient& c, const TTlsTrust& trust,
                           const std::function<void(const std::string& url)>& openBrowser, const TCancelled& cancelled,
                           int timeoutMs) {
  // The trust and both endpoints are checked before the user is sent anywhere.
  const THttpsClient http(trust, cancelled);
  RequireSecureUrl(e.token, "token endpoint");
  TLoopbackRedirect listener;
  const TPkce pkce = NewPkce();
  const std::string state = RandomUrlText(kStateBytes);
  const std::string redirectUri = listener.RedirectUri();
  openBrowser(AuthorizationUrl(e, c, redirectUri, state, pkce.challenge));
  const TSecret code = listener.WaitForCode(state, e.issuer, HostOf(e.authorization), timeoutMs, cancelled);
  return RequestTokens(http, e, c,
                       {{"grant_type", "authorization_code"},
                        {"code", code.View()},
                        {"redirect_uri", redirectUri},
                        {"code_verifier", pkce.verifier.View()}});
}
