#include "app/window/windowsignin.h"

#include <QDesktopServices>
#include <QLabel>
#include <QProgressDialog>
#include <QUrl>

#include <exception>

#include "app/batch/oauthsession.h"
#include "app/batch/tokenstore.h"
#include "app/window/windowtext.h"
#include "toolkit/msgbox.h"
#include "toolkit/strutils.h"

namespace {
constexpr char kWaiting[] = "Waiting for the browser\u2026";
constexpr char kNoBrowser[] = "No browser could be opened. Open this address in one to sign in:\n";

bool OpenDesktopBrowser(const std::string& url) { return QDesktopServices::openUrl(QUrl(Text(url))); }

std::string SignInQuestion(const std::string& where, const std::string& user) {
  return "You are not signed in to " + DisplayText(where) + " as " + DisplayText(user) + ". Sign in now?";
}
}  // namespace

TWindowSignIn::TWindowSignIn(TPasswordKeeper& keeper, TBrowserOpener openBrowser)
    : keeper_(&keeper), openBrowser_(openBrowser ? std::move(openBrowser) : TBrowserOpener(OpenDesktopBrowser)) {}

TWindowSignIn::~TWindowSignIn() = default;

void TWindowSignIn::SetKeeper(TPasswordKeeper& keeper) {
  keeper_ = &keeper;
  sessions_.clear();
  signedInAs_.clear();
}

bool TWindowSignIn::Needed(const TAccount& account) {
  // Without a user there is no login, so no token is ever asked for.
  return !account.user.empty() && UsesBearerToken(account.authMethod) && account.tokenCommand.empty();
}

TTokenSource TWindowSignIn::For(const std::string& server, const TAccount& account) {
  if (!Needed(account)) return {};
  try {
    return TokenSourceOf(Session(SignInPlace(server, account), account.user));
  } catch (const std::exception&) {
    return [error = std::current_exception()](bool) -> TSecret { std::rethrow_exception(error); };
  }
}

std::optional<std::string> TWindowSignIn::SignedInAs(const std::string& server, const TAccount& account) {
  TSignInPlace place = SignInPlace(server, account);
  const std::string key = SessionKey(place, account.user);
  if (!Session(std::move(place), account.user)->SignedIn()) return std::nullopt;
  const auto named = signedInAs_.find(key);
  return named != signedInAs_.end() ? named->second : account.user;
}

std::optional<std::string> TWindowSignIn::SignIn(QWidget* parent, const std::string& server, const TAccount& account,
                                                 const std::function<void(const std::string&)>& registered) {
  TSignInPlace place = SignInPlace(server, account);
  if (const std::optional<std::string> clientId = CompleteSignInPlace(place); clientId && registered)
    registered(*clientId);
  const std::string key = SessionKey(place, account.user);
  const std::shared_ptr<TOAuthSession> session = Session(std::move(place), account.user);
  QProgressDialog box(parent);
  box.setWindowTitle("Sign in");
  auto* label = new QLabel(&box);
  label->setTextFormat(Qt::PlainText);
  label->setWordWrap(true);
  label->setTextInteractionFlags(Qt::TextSelectableByMouse);
  box.setLabel(label);
  box.setLabelText(kWaiting);
  box.setRange(0, 0);
  box.setMinimumDuration(0);
  box.setWindowModality(Qt::ApplicationModal);
  box.show();
  TSignInPrompts prompts;
  prompts.openBrowser = [this, &box](const std::string& url) {
    if (!openBrowser_(url)) box.setLabelText(Text(kNoBrowser + url));
  };
  try {
    const std::string named = session->SignIn(TSignInFlow::Browser, prompts, [&box] { return box.wasCanceled(); });
    return signedInAs_[key] = named.empty() ? account.user : named;
  } catch (const EOAuthError&) {
    if (box.wasCanceled()) return std::nullopt;
    throw;
  }
}

void TWindowSignIn::SignOut(const std::string& server, const TAccount& account) {
  TSignInPlace place = SignInPlace(server, account);
  signedInAs_.erase(SessionKey(place, account.user));
  Session(std::move(place), account.user)->SignOut();
}

bool TWindowSignIn::Offer(QWidget* parent, const std::string& server, TAccount& account, TSignInOffer when) {
  if (!Needed(account)) return true;
  try {
    if (when == TSignInOffer::UnlessSignedIn && SignedInAs(server, account)) return true;
    const std::string where = SignInPlaceName(SignInPlace(server, account));
    if (AskQuestion(SignInQuestion(where, account.user), false) != TMsgAnswer::Yes) return false;
    return SignIn(parent, server, account, [&account](const std::string& id) { account.oauthClientId = id; })
        .has_value();
  } catch (const std::exception& error) {
    ShowException(error);
    return false;
  }
}

std::string TWindowSignIn::SessionKey(const TSignInPlace& place, const std::string& user) {
  return RefreshTokenKeyOf(place, user) + "\n" + place.trust.caFile + "\n" + place.trust.fingerprint;
}

std::shared_ptr<TOAuthSession> TWindowSignIn::Session(TSignInPlace place, const std::string& user) {
  std::shared_ptr<TOAuthSession>& session = sessions_[SessionKey(place, user)];
  if (session) return session;
  const std::string entry = RefreshTokenKeyOf(place, user);
  std::unique_ptr<TRefreshTokenStore> store;
  try {
    keeper_->Read(entry);  // whether a secret service runs
    store = SecretServiceTokenStore(*keeper_, entry);
  } catch (const ENoSecretService&) {
    store = MemoryTokenStore();
  }
  return session = std::make_shared<TOAuthSession>(std::move(place), std::move(store));
}
