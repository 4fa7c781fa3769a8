#include "app/batch/oauthsession.h"

#include <algorithm>
#include <ctime>

#include "app/batch/oauthproviders.h"
#include "app/signin/browsersignin.h"
#include "app/signin/devicesignin.h"
#include "app/signin/httpsclient.h"
#include "app/signin/oauthmetadata.h"
#include "app/signin/tokenendpoint.h"
#include "toolkit/hostport.h"
#include "toolkit/strutils.h"

namespace {
// What an issuer the table does not know is asked for: who signed in, and a refresh token.
constexpr char kIssuerScope[] = "openid email offline_access";
// The name the program registers under.
constexpr char kClientName[] = "Mailcart";
constexpr char kRegisterHelp[] =
    "; the README's section \"Registering a client with Microsoft and Google\" tells how to get one";
// A token is renewed this long before it expires, but never before half its life.
constexpr int64_t kRenewAheadSeconds = 60;

int64_t Now() { return static_cast<int64_t>(std::time(nullptr)); }
}  // namespace

TSignInPlace SignInPlace(const std::string& server, const TAccount& account) {
  TSignInPlace place;
  place.trust.caFile = account.caFile;
  place.client.id = account.oauthClientId;
  const std::string host = ParseHostPort(server).host;
  if (!account.oauthIssuer.empty()) {
    RequireSecureUrl(account.oauthIssuer, "issuer (OAuthIssuer)");
    // A pin names the SMTP server's certificate: it holds for an issuer on that same host only.
    if (LowerCase(HostOf(account.oauthIssuer)) == LowerCase(host)) place.trust.fingerprint = account.fingerprint;
    place.issuer = account.oauthIssuer;
    place.client.scope = kIssuerScope;
    return place;
  }
  const std::optional<TOAuthProvider> provider = FindOAuthProvider(host);
  if (!provider)
    throw ESignInSetup("Mailcart does not know where the accounts of " + DisplayText(host) +
                       " sign in: give the provider's issuer URL (Issuer in Account…, OAuthIssuer, --oauth-issuer)");
  place.provider = provider->name;
  place.issuer = provider->token;
  place.endpoints = {provider->token, provider->authorization, provider->token, provider->deviceAuthorization, {}, {}};
  place.client.scope = provider->scope;
  if (place.client.id.empty()) place.client.id = provider->clientId;
  place.discovered = true;
  return place;
}

std::optional<std::string> CompleteSignInPlace(TSignInPlace& place) {
  if (!place.discovered) {
    place.endpoints = DiscoverEndpoints(place.issuer, place.trust);
    place.discovered = true;
  }
  if (!place.client.id.empty()) return std::nullopt;
  const std::string where = SignInPlaceName(place);
  if (place.endpoints.registration.empty())
    throw ESignInSetup("This build of Mailcart has no client id for " + where +
                       ", and it takes no registration: give the client id you registered (Client id in Account…, "
                       "OAuthClientId, --oauth-client-id)" + kRegisterHelp);
  place.client.id = RegisterNativeClient(place.endpoints, place.trust, kClientName);
  return place.client.id;
}

std::string RefreshTokenKeyOf(const TSignInPlace& place, const std::string& user) {
  return RefreshTokenKey(place.issuer, place.client.id, user);
}

std::string ClientSecretKeyOf(const TSignInPlace& place) {
  return "oauth2-client:<" + place.issuer + "> <" + place.client.id + ">";
}

std::string SignInPlaceName(const TSignInPlace& place) { return place.provider.empty() ? HostOf(place.issuer) : place.provider; }

std::string SignInNeededText(const std::string& where, const std::string& why) {
  return DisplayText(where) + " " + why + ": sign in again (Sign in… in Account…, or mailcart-send --sign-in)";
}

TOAuthSession::TOAuthSession(TSignInPlace place, std::unique_ptr<TRefreshTokenStore> store, TClock clock)
    : place_(std::move(place)), store_(std::move(store)), clock_(clock ? std::move(clock) : TClock(Now)) {}

bool TOAuthSession::SignedIn() { return !tokens_.refresh.Empty() || !tokens_.access.Empty() || store_->Read(); }

std::string TOAuthSession::SignIn(TSignInFlow flow, const TSignInPrompts& prompts, const TCancelled& cancelled) {
  CompleteSignInPlace(place_);
  TOAuthTokens tokens;
  if (flow == TSignInFlow::Device) {
    if (place_.endpoints.deviceAuthorization.empty())
      throw ESignInSetup(SignInPlaceName(place_) +
                         " offers no sign-in with a code for mail: sign in with the browser");
    tokens = DeviceSignIn(place_.endpoints, place_.client, place_.trust, prompts.showCode, cancelled);
  } else {
    tokens = BrowserSignIn(place_.endpoints, place_.client, place_.trust, prompts.openBrowser, cancelled);
  }
  if (tokens.refresh.Empty())
    throw EOAuthError("The sign-in at " + HostOf(place_.endpoints.token) +
                          " gave no refresh token: Mailcart would have to ask again at every batch",
                      "");
  std::string user = tokens.user;
  Keep(std::move(tokens));
  return user;
}

void TOAuthSession::SignOut() {
  tokens_ = {};
  refreshAt_ = 0;
  store_->Remove();
}

TSecret TOAuthSession::AccessToken(bool renew) {
  const bool fresh = !tokens_.access.Empty() && (refreshAt_ == 0 || clock_() < refreshAt_);
  if (!renew && fresh) return TSecret(std::string(tokens_.access.View()));
  if (tokens_.refresh.Empty()) {
    std::optional<TSecret> kept = store_->Read();
    if (!kept) throw ESignInNeeded(SignInNeededText(SignInPlaceName(place_), "is not signed in"));
    tokens_.refresh = std::move(*kept);
  }
  CompleteSignInPlace(place_);
  try {
    Keep(RefreshTokens(place_.endpoints, place_.client, place_.trust, tokens_.refresh));
  } catch (const EOAuthError& error) {
    if (error.Code() != "invalid_grant") throw;
    tokens_ = {};
    throw ESignInNeeded(SignInNeededText(SignInPlaceName(place_), "no longer honours the sign-in (" + error.Message() + ")"));
  }
  return TSecret(std::string(tokens_.access.View()));
}

void TOAuthSession::Keep(TOAuthTokens tokens) {
  // Once the server has issued a new refresh token the old one may be dead: it is kept first.
  if (tokens.refresh.View() != tokens_.refresh.View()) store_->Write(tokens.refresh);
  const int64_t now = clock_();
  refreshAt_ = 0;
  if (tokens.expiresAt > now)
    refreshAt_ = tokens.expiresAt - std::min(kRenewAheadSeconds, (tokens.expiresAt - now) / 2);
  tokens_ = std::move(tokens);
}

TTokenSource TokenSourceOf(std::shared_ptr<TOAuthSession> session) {
  return [session = std::move(session)](bool renew) { return session->AccessToken(renew); };
}
