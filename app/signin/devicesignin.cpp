#include "app/signin/devicesignin.h"

#include <QDeadlineTimer>
#include <QEventLoop>

#include <algorithm>

#include "app/signin/eventwait.h"
#include "app/signin/httpsclient.h"
#include "app/signin/tokenendpoint.h"
#include "toolkit/strutils.h"

namespace {

constexpr char kDeviceGrant[] = "urn:ietf:params:oauth:grant-type:device_code";
constexpr int kDefaultIntervalS = 5;  // RFC 8628 3.2
constexpr int kSlowDownS = 5;         // RFC 8628 3.5
constexpr int kMaxIntervalS = 300;
constexpr int kMaxExpiresS = 3600;

// The device authorization response (RFC 8628 3.2).
struct TDeviceGrant {
  TSecret deviceCode;
  std::string userCode, uri, complete;
  int expiresInS = 0;
  int intervalS = kDefaultIntervalS;
};

int Seconds(const QJsonValue& value, int fallback) {
  const double s = value.isString() ? value.toString().toDouble() : value.toDouble(fallback);
  return s >= 1 ? static_cast<int>(std::min<double>(s, kMaxExpiresS)) : fallback;
}

TDeviceGrant RequestDeviceGrant(const THttpsClient& http, const TOAuthEndpoints& e, const TOAuthClient& c) {
  const std::string what = "device authorization request";
  const QJsonObject reply = c.scope.empty() ? PostClientForm(http, e.deviceAuthorization, c, {}, what)
                                            : PostClientForm(http, e.deviceAuthorization, c, {{"scope", c.scope}}, what);
  TDeviceGrant grant;
  grant.deviceCode = TSecret(reply.value("device_code").toString().toStdString());
  grant.userCode = reply.value("user_code").toString().toStdString();
  // "verification_url" is what some servers sent before the RFC settled the name.
  const QJsonValue uri = reply.contains("verification_uri") ? reply.value("verification_uri") : reply.value("verification_url");
  grant.uri = uri.toString().toStdString();
  grant.complete = reply.value("verification_uri_complete").toString().toStdString();
  grant.expiresInS = Seconds(reply.value("expires_in"), 0);
  grant.intervalS = std::min(Seconds(reply.value("interval"), kDefaultIntervalS), kMaxIntervalS);
  const std::string host = HostOf(e.deviceAuthorization);
  if (grant.deviceCode.Empty() || grant.userCode.empty() || grant.uri.empty() || grant.expiresInS == 0)
    throw EOAuthError(host + " answered the device authorization request without a code, a page or an expiry", "");
  if (HasControlCharacter(grant.userCode) || grant.userCode.size() > 64)
    throw EOAuthError(host + " answered the device authorization request with an unreadable user code", "");
  // The user is sent to these pages: the rule of the endpoints holds for them too.
  RequireSecureUrl(grant.uri, "verification page");
  if (!grant.complete.empty()) RequireSecureUrl(grant.complete, "verification page");
  return grant;
}

// Waits ms while the event loop runs; false when cancelled meanwhile.
bool Pause(int ms, const TCancelled& cancelled) {
  QEventLoop loop;
  return WaitInLoop(loop, [] { return false; }, ms, cancelled) != TWaitEnd::Cancelled;
}

}  // namespace

TOAuthTokens DeviceSignIn(const TOAuthEndpoints& e, const TOAuthClient& c, const TTlsTrust& trust,
                          const std::function<void(const std::string& uri, const std::string& code,
                                                   const std::string& complete)>& tell,
                          const TCancelled& cancelled) {
  if (e.deviceAuthorization.empty())
    throw EOAuthError("The authorization server " + DisplayText(e.issuer) + " offers no sign-in with a code", "");
  const THttpsClient http(trust, cancelled);
  TDeviceGrant grant = RequestDeviceGrant(http, e, c);
  const QDeadlineTimer expiry(grant.expiresInS * 1000LL);
  tell(grant.uri, grant.userCode, grant.complete);
  const std::string host = HostOf(e.deviceAuthorization);
  for (;;) {
    if (!Pause(grant.intervalS * 1000, cancelled)) throw EOAuthError("The sign-in at " + host + " was cancelled", "");
    if (expiry.hasExpired())
      throw EOAuthError("The code " + grant.userCode + " expired before the sign-in at " + host + " was completed", "");
    try {
      return RequestTokens(http, e, c, {{"grant_type", kDeviceGrant}, {"device_code", grant.deviceCode.View()}});
    } catch (const EOAuthError& error) {
      if (error.Code() == "slow_down")
        grant.intervalS = std::min(grant.intervalS + kSlowDownS, kMaxIntervalS);
      else if (error.Code() != "authorization_pending")
        throw;
    }
  }
}
