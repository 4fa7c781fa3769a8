// The built-in OAuth 2 sign-in of an account: where it signs in (the providers' table, else the
// account's issuer), as which client, and the access tokens a batch logs in with, refreshed from
// the refresh token kept in a token store. Access tokens live in this object's memory only.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "app/batch/account.h"
#include "app/batch/tokenstore.h"
#include "app/signin/oauthtypes.h"
#include "net/smtpconnection.h"

// The account cannot sign in as it is set up (no issuer for its server, no client id to be had):
// the text says what to give.
MAILCART_EXCEPTION(ESignInSetup, Exception);
// The account is not signed in, or its sign-in is no longer honoured (the server answered
// invalid_grant): the text says how to sign in.
MAILCART_EXCEPTION(ESignInNeeded, Exception);

enum class TSignInFlow { Browser, Device };

// Where an account signs in, and as which client.
struct TSignInPlace {
  std::string provider;  // the table's name ("Microsoft"), or "" for an OAuthIssuer
  // The OAuthIssuer, else the provider's token endpoint: with the client id and the user, it
  // names the refresh token's entry.
  std::string issuer;
  TOAuthEndpoints endpoints;  // a provider's from the table; an issuer's once Discover has run
  TOAuthClient client;        // the id is the account's, else the provider's built-in one, else ""
  TTlsTrust trust;            // the account's CAFile; its Fingerprint for an issuer on the SMTP host
  bool discovered = false;    // endpoints are known (always, for a provider)
};

// The place of account for server (its host looked up in the providers' table), or of its
// OAuthIssuer, which wins when given. Raises ESignInSetup when there is neither. Nothing
// connects.
TSignInPlace SignInPlace(const std::string& server, const TAccount& account);

// Reads an issuer's metadata once (RFC 8414, else OpenID Connect discovery). Then, with no client
// id, registers the program as a native client where the issuer allows it (RFC 7591) and returns
// the new id, which the caller keeps as OAuthClientId; nothing where none was needed. Raises
// ESignInSetup naming what to give when there is no client id to be had, EOAuthError when a
// server fails.
std::optional<std::string> CompleteSignInPlace(TSignInPlace& place);

// The refresh token's entry for user at place (RefreshTokenKey).
std::string RefreshTokenKeyOf(const TSignInPlace& place, const std::string& user);
// The entry of a client secret given with --oauth-client-secret ("oauth2-client:<issuer> <id>").
std::string ClientSecretKeyOf(const TSignInPlace& place);

// What a sign-in shows the user: the browser flow's address (the front end opens a browser or
// prints it), the device flow's page and code.
struct TSignInPrompts {
  std::function<void(const std::string& url)> openBrowser;
  std::function<void(const std::string& uri, const std::string& code, const std::string& complete)> showCode;
};

// One account's tokens for one run of the program.
class TOAuthSession {
 public:
  using TClock = std::function<int64_t()>;  // epoch seconds
  TOAuthSession(TSignInPlace place, std::unique_ptr<TRefreshTokenStore> store, TClock clock = {});

  const TSignInPlace& Place() const { return place_; }
  // Whether tokens are held from a sign-in of this run or a refresh token is kept in the store
  // (whose failures it raises).
  bool SignedIn();
  // Runs flow; the refresh token is stored before this returns. Returns whom the server signed
  // in (the ID token's address or name; "" when it names nobody). EOAuthError when the flow
  // fails or is cancelled; the device flow where the place has no device endpoint raises
  // ESignInSetup.
  std::string SignIn(TSignInFlow flow, const TSignInPrompts& prompts, const TCancelled& cancelled);
  // Forgets the tokens and removes the kept refresh token.
  void SignOut();

  // An access token for a login: the one held while it is not about to expire and renew is
  // false (renew: the server refused it), else a refreshed one; a rotated refresh token is
  // stored before the new access token is returned. No refresh token, or invalid_grant, raises
  // ESignInNeeded; other failures EOAuthError.
  TSecret AccessToken(bool renew);

 private:
  void Keep(TOAuthTokens tokens);

  TSignInPlace place_;
  std::unique_ptr<TRefreshTokenStore> store_;
  TClock clock_;
  TOAuthTokens tokens_;        // access empty: none held
  int64_t refreshAt_ = 0;      // when the held access token is renewed before use; 0: never
};

// The SMTP client's token source over session, which it keeps alive.
TTokenSource TokenSourceOf(std::shared_ptr<TOAuthSession> session);

// Where place signs in, for texts: the provider's name, else the issuer's host.
std::string SignInPlaceName(const TSignInPlace& place);
// The text of ESignInNeeded: where, what is wrong, and both front ends' ways to sign in.
std::string SignInNeededText(const std::string& where, const std::string& why);
