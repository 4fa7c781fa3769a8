// The window's built-in OAuth 2 sign-ins: one session per refresh token's entry and trust, kept
// as long as the window, so that a sign-in kept in memory (no secret service runs) serves every
// batch and test of this run. The sign-in itself runs in the user's browser while a modal box
// waits for it, with Cancel.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "app/batch/account.h"
#include "app/batch/credentials.h"
#include "net/smtpconnection.h"

class QWidget;
class TOAuthSession;
struct TSignInPlace;

// Whether the question before a batch is asked only of an account that is not signed in, or
// again after the server stopped honouring its sign-in.
enum class TSignInOffer { UnlessSignedIn, Again };

class TWindowSignIn {
 public:
  // Opens url in a browser; false when none could be opened (the address is then shown to be
  // opened by hand).
  using TBrowserOpener = std::function<bool(const std::string& url)>;

  // keeper holds the refresh tokens while a secret service runs; openBrowser: the desktop's
  // browser unless a test plays one.
  explicit TWindowSignIn(TPasswordKeeper& keeper, TBrowserOpener openBrowser = {});
  ~TWindowSignIn();
  // From now on the refresh tokens are read from keeper; the sessions of the one before go.
  void SetKeeper(TPasswordKeeper& keeper);

  // An account with a bearer-token mechanism and no token command.
  static bool Needed(const TAccount& account);
  // The access tokens of account on server; empty when it needs no sign-in. What keeps the
  // session from being had (no issuer for the server, a failing secret service) is raised at the
  // login, where the batch reports it.
  TTokenSource For(const std::string& server, const TAccount& account);
  // Whom account is signed in as on server (the one the server named in this run, else the
  // account's user); nothing when it is not signed in. Raises what keeps it from being known.
  std::optional<std::string> SignedInAs(const std::string& server, const TAccount& account);
  // Signs account in on server in the browser. A client id the issuer registered for the program
  // goes to registered before the browser opens, so that it is kept even when the sign-in then
  // fails. Returns whom the server signed in; nothing when the user cancelled. Raises
  // ESignInSetup, EOAuthError and ECredentialsError.
  std::optional<std::string> SignIn(QWidget* parent, const std::string& server, const TAccount& account,
                                    const std::function<void(const std::string& clientId)>& registered);
  // Forgets the tokens and removes the kept refresh token.
  void SignOut(const std::string& server, const TAccount& account);

  // Before a batch: for an account that needs the sign-in and is not signed in (or, Again, whose
  // sign-in the server no longer honours), asks whether to sign in now, and Yes does. True when
  // the account may log in now. A client id registered goes into account; failures are shown.
  bool Offer(QWidget* parent, const std::string& server, TAccount& account, TSignInOffer when);

 private:
  // The session of account on server, made on first use: its refresh token in the secret
  // service, else (none runs) in memory. Sessions of one entry differ by the trust they talk
  // with, so that a CA file or a pin changed is used from then on.
  std::shared_ptr<TOAuthSession> Session(TSignInPlace place, const std::string& user);
  static std::string SessionKey(const TSignInPlace& place, const std::string& user);

  TPasswordKeeper* keeper_;
  const TBrowserOpener openBrowser_;
  std::map<std::string, std::shared_ptr<TOAuthSession>> sessions_;
  std::map<std::string, std::string> signedInAs_;  // of this run's sign-ins, by SessionKey
};
