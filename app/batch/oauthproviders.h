// The authorization servers the program knows for the big mail services: which SMTP hosts sign
// in where, with which scope and mechanism. The facts are a data file built into the program
// (oauthproviders.json); a server not in it needs an OAuthIssuer in the settings.
//
// The file holds {"providers": [...]}, one object per service: "name", "endpoints" (the URLs
// "authorization", "token" and, where the service offers the device flow for this scope,
// "deviceAuthorization"), and "smtp" ("hosts", "scope", and "mechanism" where only one works).
// Keys the reader does not know are left alone, so that other protocols can join a provider.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

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

// The provider whose smtpHosts holds host (any case); nullopt for any other server.
std::optional<TOAuthProvider> FindOAuthProvider(std::string_view smtpHost);
