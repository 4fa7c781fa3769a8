#include "app/cli/send/signincommand.h"

#include <QProcess>

#include <cstdio>
#include <cstdlib>

#include "app/batch/credentials.h"
#include "app/batch/filetrust.h"
#include "app/batch/settings.h"
#include "app/batch/tokenstore.h"
#include "app/cli/send/commandline.h"
#include "toolkit/strutils.h"

namespace {

TPasswordKeeper& Keeper() {
  static TSecretServiceKeeper keeper;
  return keeper;
}

void Notice(const std::string& text) { std::fprintf(stderr, "mailcart-send: %s\n", text.c_str()); }

std::unique_ptr<TRefreshTokenStore> StoreFor(const TSignInPlace& place, const std::string& user,
                                             const TOptions& options) {
  if (options.tokenFile) return FileTokenStore(*options.tokenFile);
  return SecretServiceTokenStore(Keeper(), RefreshTokenKeyOf(place, user));
}

// The client secret --sign-in kept, where the place's client has one; none without a secret
// service (a public client needs none).
void AddStoredClientSecret(TSignInPlace& place) {
  if (place.client.id.empty()) return;
  try {
    if (std::optional<TSecret> secret = Keeper().Read(ClientSecretKeyOf(place))) place.client.secret = std::move(*secret);
  } catch (const ENoSecretService&) {
  }
}

std::string Where(const TSignInPlace& place) { return DisplayText(SignInPlaceName(place)); }

// A client id the issuer registered now belongs to the settings, with the issuer it holds for;
// a file another user could change is not written.
void KeepRegisteredClient(const std::string& clientId, const TAccount& account, const std::string& settingsFile) {
  const std::string untrusted = FileTrustProblem(settingsFile);
  if (untrusted.empty()) {
    TSettings settings = ReadSettings(settingsFile);
    settings.account.oauthClientId = clientId;
    if (!account.oauthIssuer.empty()) settings.account.oauthIssuer = account.oauthIssuer;
    WriteSettings(settingsFile, settings);
    Notice("registered as the client " + DisplayText(clientId) + ", kept as OAuthClientId in " +
           QuotedName(settingsFile));
  } else {
    Notice("registered as the client " + DisplayText(clientId) + "; " + untrusted +
           ": it was not written there, give --oauth-client-id " + DisplayText(clientId) + " from now on");
  }
}

// The store is asked first, so that a missing secret service or an untrusted token file is told
// before anything is registered or the user signs in.
void CheckStore(TRefreshTokenStore& store) {
  try {
    store.Read();
  } catch (const ENoSecretService& error) {
    throw ENoSecretService(error.Message() + ": give --token-file FILE to keep the sign-in there");
  }
}

}  // namespace

std::shared_ptr<TOAuthSession> BatchSignIn(const TBatchRequest& request, const TOptions& options) {
  const TAccount& account = request.account;
  try {
    TSignInPlace place = SignInPlace(request.server, account);
    AddStoredClientSecret(place);
    if (place.client.id.empty())
      throw ESignInSetup(Where(place) + " has no client id to sign in as: run mailcart-send --sign-in, or give "
                                        "--oauth-client-id");
    std::unique_ptr<TRefreshTokenStore> store = StoreFor(place, account.user, options);
    const std::string where = Where(place);
    auto session = std::make_shared<TOAuthSession>(std::move(place), std::move(store));
    if (!session->SignedIn())
      throw ESignInNeeded("the user " + DisplayText(account.user) + " is not signed in at " + where +
                          (options.tokenFile ? " with the token file " + QuotedName(*options.tokenFile) : "") +
                          ": run mailcart-send --sign-in (with the same options) first");
    return session;
  } catch (const ENoSecretService& error) {
    throw TUsageError(error.Message() + ": give --token-file FILE (and sign in with it)");
  } catch (const ESignInSetup& error) {
    throw TUsageError(error.Message());
  } catch (const ESignInNeeded& error) {
    throw TUsageError(error.Message());
  } catch (const EOAuthError& error) {
    throw TUsageError(error.Message());
  }
}

int SignInCommand(const TBatchRequest& request, const TOptions& options, const std::string& settingsFile) {
  const TAccount& account = request.account;
  if (account.user.empty()) throw TUsageError("--sign-in needs the user to sign in as: --user NAME");
  try {
    TSignInPlace place = SignInPlace(request.server, account);
    if (options.oauthClientSecret) place.client.secret = TSecret(*options.oauthClientSecret);
    CheckStore(*StoreFor(place, account.user, options));
    const std::optional<std::string> registered = CompleteSignInPlace(place);
    if (!options.oauthClientSecret) AddStoredClientSecret(place);
    std::unique_ptr<TRefreshTokenStore> store = StoreFor(place, account.user, options);
    if (registered) KeepRegisteredClient(*registered, account, settingsFile);
    const std::string where = Where(place);
    TOAuthSession session(std::move(place), std::move(store));
    const TSignInPrompts prompts{
        [&](const std::string& url) {
          Notice("to sign in at " + where + " as " + DisplayText(account.user) + ", open this address in a browser:");
          std::fprintf(stderr, "%s\n", url.c_str());
          if (OpenBrowser(url)) Notice("a browser was opened; waiting for the sign-in there (Ctrl-C ends)");
        },
        [&](const std::string& uri, const std::string& code, const std::string& complete) {
          Notice("to sign in at " + where + " as " + DisplayText(account.user) + ", open " + DisplayText(uri) +
                 " on any device and enter the code " + DisplayText(code));
          if (!complete.empty()) Notice("or open " + DisplayText(complete) + ", which holds the code");
        }};
    const std::string user = session.SignIn(*options.signIn, prompts, {});
    if (options.oauthClientSecret) Keeper().Write(ClientSecretKeyOf(session.Place()), *options.oauthClientSecret);
    Notice("signed in at " + where + (user.empty() ? "" : " as " + DisplayText(user)) + "; the sign-in is kept " +
           (options.tokenFile ? "in " + QuotedName(*options.tokenFile) : std::string("in the secret service")));
    if (!user.empty() && LowerCase(user) != LowerCase(account.user))
      Notice("warning: the provider signed in " + DisplayText(user) + ", not the user " + DisplayText(account.user) +
             ": the server may refuse the login");
    return 0;
  } catch (const std::exception& error) {
    PrintError(error);
    return 1;
  }
}

bool OpenBrowser(const std::string& url) {
  if (std::getenv("DISPLAY") == nullptr && std::getenv("WAYLAND_DISPLAY") == nullptr) return false;
  const char* variable = std::getenv("BROWSER");
  std::string command = variable != nullptr ? variable : "";
  command = command.substr(0, command.find(':'));
  // The address goes to the shell as an argument, never as part of the command's text.
  if (command.empty()) command = "xdg-open";
  if (const size_t at = command.find("%s"); at != std::string::npos)
    command.replace(at, 2, "\"$1\"");
  else
    command += " \"$1\"";
  return QProcess::startDetached("/bin/sh", {"-c", QString::fromStdString(command), "sh", QString::fromStdString(url)});
}
