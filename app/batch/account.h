// The account a batch logs in with and how its connection is protected, and how it is given to
// the SMTP client.
#pragma once

#include <string>

#include "net/pxsasl.h"
#include "net/pxsecurity.h"
#include "net/smtpconnection.h"

class TpxSMTP;

// The login and the protection of the connection.
struct TAccount {
  TpxSecurity security = TpxSecurity::Auto;    // "Security"
  std::string user;                            // "User"
  TAuthMethod authMethod = TAuthMethod::Auto;  // "AuthMethod"
  // These three run a command or change whom the program trusts: like the server, the addresses
  // and the security, read only from a file no other user can change.
  std::string tokenCommand;  // "TokenCommand"
  std::string caFile;        // "CAFile"
  std::string fingerprint;   // "Fingerprint", as written (the client checks it)
  // "FromName": the sender's display name; empty: the program's name, version and date.
  std::string fromName;
  // Where to sign in, for a server the table of providers does not know, and the client id to
  // sign in as instead of the built-in one. They decide whom the refresh token goes to: read
  // only from a file no other user can change.
  std::string oauthIssuer = {};    // "OAuthIssuer", a URL
  std::string oauthClientId = {};  // "OAuthClientId"
};

// Gives the client the account's values; the token command, when there is one, becomes its
// token source and runs at every login, else signIn (the built-in sign-in's) does. A CA file that cannot be read, or a malformed
// fingerprint, raises an error naming it, before anything connects.
void ApplyAccount(TpxSMTP& smtp, const TAccount& account, TTokenSource signIn = {});
// The account has a user who logs in with a password (not a bearer token).
bool LogsInWithPassword(const TAccount& account);
