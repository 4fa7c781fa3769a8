// The big mail services the program knows, built into the program as a data file
// (oauthproviders.json): where their users submit mail, how they sign in, and, for those that sign
// in with OAuth 2, the authorization server, scope and mechanism. A server not in it needs an
// OAuthIssuer in the settings to sign in that way.
//
// The file holds {"providers": [...]}, one object per company: "name"; where it signs in with
// OAuth 2, "endpoints" (the URLs "authorization", "token" and, where the service offers the
// device flow for this scope, "deviceAuthorization") and "smtp" ("hosts", "scope", and
// "mechanism" where only one works); and "mail", its mail services, each with "name", "domains"
// (exact, or "name.*" for any top level), "mx" (host names, or "*.suffix" for any host under it),
// "submission" ("host", "port", "security": "tls" or "starttls"), "signIn" ("oauth2",
// "app-password" with "appPasswordPage" where it is known, or "password"), "user" ("address" or
// "localpart") and the published "limits" ("perMinute", "perDay", "recipientsPerMessage",
// "maxMessageBytes"). Keys the reader does not know are left alone ("seen" names where the facts
// were read), so that other protocols can join a provider.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "net/pxsecurity.h"

struct TOAuthProvider {
  std::string name;                                       // "Microsoft", "Google"
  std::vector<std::string> smtpHosts;                     // matched without regard to case
  std::string authorization, token, deviceAuthorization;  // endpoint URLs; deviceAuthorization empty: no device flow
  std::string scope;
  std::string mechanism;  // "XOAUTH2" when only it works, else "" (either)
  // The program's own registration with the service, given when it is built
  // (MAILCART_OAUTH_CLIENT_ID_<NAME>); empty: the user gives one (OAuthClientId).
  std::string clientId;
};

// What a service publishes about sending; 0: not published.
struct TSendingLimits {
  int perMinute = 0, perDay = 0;
  int recipientsPerMessage = 0;
  uint64_t maxMessageBytes = 0;
};

struct TMailProvider {
  std::string name;                              // "Gmail", "Outlook.com", "Microsoft 365"
  std::vector<std::string> domains, mxPatterns;  // lower case
  std::string smtpHost;
  uint16_t port = 0;
  TpxSecurity security = TpxSecurity::TLS;  // TLS or StartTLS
  std::string signIn;                       // "oauth2", "app-password", "password"
  std::string appPasswordPage;              // where an app password is made, for "app-password"
  std::string userForm;                     // "address", "localpart"
  TSendingLimits limits;
  std::optional<TOAuthProvider> oauth;  // the company's sign-in, for "oauth2"
};

// The provider whose smtpHosts holds host (any case); nullopt for any other server.
std::optional<TOAuthProvider> FindOAuthProvider(std::string_view smtpHost);
// Every mail service of the table, in its order.
const std::vector<TMailProvider>& MailProviders();
