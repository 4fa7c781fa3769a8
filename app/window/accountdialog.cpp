#include "app/window/accountdialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <algorithm>

#include "app/batch/credentials.h"
#include "app/batch/oauthproviders.h"
#include "app/window/findsettingsbox.h"
#include "app/window/windowsignin.h"
#include "app/window/windowtext.h"
#include "toolkit/hostport.h"
#include "toolkit/msgbox.h"
#include "toolkit/strutils.h"

namespace {
constexpr char kNoSecretService[] =
    "No secret service runs in this session, so no password can be remembered. A password typed "
    "here is kept until Mailcart closes and never stored; without one, it is asked for when a "
    "batch starts.";
constexpr char kRemembered[] = "remembered";
constexpr char kNotSignedIn[] = "Not signed in";
constexpr int kFieldChars = 44;

// Whether the providers' table has the program's own client id for server; false for a server
// that is none (yet).
bool HasBuiltInClientId(const std::string& server) {
  try {
    const std::optional<TOAuthProvider> provider = FindOAuthProvider(ParseHostPort(server).host);
    return provider && !provider->clientId.empty();
  } catch (const EConvertError&) {
    return false;
  }
}

template <typename T>
T* Make(QWidget* parent, const char* name) {
  auto* widget = new T(parent);
  widget->setObjectName(name);
  return widget;
}
}  // namespace

TSecret SecretFromText(const QString& text) {
  QByteArray bytes = text.toUtf8();
  TSecret secret(std::string(bytes.constData(), static_cast<size_t>(bytes.size())));
  WipeBytes(bytes.data(), static_cast<size_t>(bytes.size()));
  return secret;
}

TAccountDialog::TAccountDialog(QWidget* parent, const TAccount& account, std::string server, int defaultPort,
                               TPasswordKeeper& keeper, TConnectionTest test, TWindowSignIn* signIn)
    : QDialog(parent),
      server_(std::move(server)),
      defaultPort_(defaultPort),
      keeper_(keeper),
      test_(std::move(test)),
      signIn_(signIn),
      given_(account) {
  setObjectName("AccountDialog");
  setWindowTitle("Account");
  CreateControls();
  LoadAccount(account);
  LookUpRememberedPassword();
  ShowSignInState();
}

void TAccountDialog::CreateControls() {
  auto* form = form_ = new QFormLayout(this);
  FromNameE = Make<QLineEdit>(this, "FromNameE");
  FromNameE->setPlaceholderText("the program's name, version and date");
  form->addRow("Sender's name:", FromNameE);
  SecurityCB = Make<QComboBox>(this, "SecurityCB");
  for (TpxSecurity s : {TpxSecurity::Auto, TpxSecurity::StartTLS, TpxSecurity::TLS, TpxSecurity::None})
    SecurityCB->addItem(SecurityName(s));
  form->addRow("Security:", SecurityCB);
  UserE = Make<QLineEdit>(this, "UserE");
  form->addRow("User:", UserE);
  PasswordE = Make<QLineEdit>(this, "PasswordE");
  PasswordE->setEchoMode(QLineEdit::Password);
  form->addRow("Password:", PasswordE);
  RememberCB = Make<QCheckBox>(this, "RememberCB");
  RememberCB->setText("Remember password");
  form->addRow("", RememberCB);
  SecretServiceL = Make<QLabel>(this, "SecretServiceL");
  SecretServiceL->setWordWrap(true);
  SecretServiceL->setTextFormat(Qt::PlainText);
  SecretServiceL->hide();
  form->addRow(SecretServiceL);
  AuthCB = Make<QComboBox>(this, "AuthCB");
  // In the order of TAuthMethod: the index is the method.
  for (TAuthMethod m : {TAuthMethod::Auto, TAuthMethod::Plain, TAuthMethod::Login, TAuthMethod::XOAuth2,
                        TAuthMethod::OAuth2, TAuthMethod::OAuthBearer})
    AuthCB->addItem(AuthMethodName(m));
  form->addRow("Authentication:", AuthCB);
  TokenCommandE = Make<QLineEdit>(this, "TokenCommandE");
  TokenCommandE->setPlaceholderText("prints an OAuth 2 access token");
  form->addRow("Token command:", TokenCommandE);
  CreateSignInControls(form);
  CAFileE = Make<QLineEdit>(this, "CAFileE");
  CAFileE->setPlaceholderText("PEM certificates trusted besides the system's");
  auto* caFile = new QHBoxLayout;
  caFile->addWidget(CAFileE, 1);
  auto* browse = Make<QPushButton>(this, "CAFileB");
  browse->setText("Browse\u2026");
  caFile->addWidget(browse);
  form->addRow("CA file:", caFile);
  FingerprintE = Make<QLineEdit>(this, "FingerprintE");
  FingerprintE->setPlaceholderText("SHA-256 of the server's certificate");
  form->addRow("Pinned fingerprint:", FingerprintE);
  // Wide enough for a command line or a fingerprint's first half without scrolling.
  for (QLineEdit* edit : findChildren<QLineEdit*>())
    edit->setMinimumWidth(fontMetrics().averageCharWidth() * kFieldChars);
  auto* buttons = buttons_ = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  if (test_) {
    TestB = buttons->addButton("Test connection", QDialogButtonBox::ActionRole);
    TestB->setObjectName("TestB");
    connect(TestB, &QPushButton::clicked, this, [this] { TestConnectionClick(); });
  }
  form->addRow(buttons);
  connect(buttons, &QDialogButtonBox::accepted, this, &TAccountDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &TAccountDialog::reject);
  connect(browse, &QPushButton::clicked, this, [this] { BrowseCAFile(); });
  connect(AuthCB, &QComboBox::currentIndexChanged, this, [this] { EnableFields(); });
  connect(TokenCommandE, &QLineEdit::textChanged, this, [this] { EnableFields(); });
  // Another user, issuer, client or trust is another sign-in.
  for (QLineEdit* edit : {UserE, TokenCommandE, IssuerE, ClientIdE, CAFileE, FingerprintE})
    connect(edit, &QLineEdit::editingFinished, this, [this] { ShowSignInState(); });
  connect(AuthCB, &QComboBox::currentIndexChanged, this, [this] { ShowSignInState(); });
}

void TAccountDialog::CreateSignInControls(QFormLayout* form) {
  IssuerE = Make<QLineEdit>(this, "IssuerE");
  IssuerE->setPlaceholderText("https://\u2026, for a server Mailcart does not know");
  form->addRow("Issuer:", IssuerE);
  ClientIdE = Make<QLineEdit>(this, "ClientIdE");
  const bool builtIn = HasBuiltInClientId(server_);
  // The issuer wins over the table's provider, and with it the provider's client id.
  const auto placeholder = [this, builtIn] {
    ClientIdE->setPlaceholderText(builtIn && IssuerE->text().trimmed().isEmpty()
                                      ? "built in"
                                      : "registered at sign-in where the issuer allows it");
  };
  placeholder();
  connect(IssuerE, &QLineEdit::textChanged, this, placeholder);
  form->addRow("Client id:", ClientIdE);
  auto* row = SignInRow = new QHBoxLayout;
  SignInL = Make<QLabel>(this, "SignInL");
  SignInL->setTextFormat(Qt::PlainText);
  row->addWidget(SignInL, 1);
  SignInB = Make<QPushButton>(this, "SignInB");
  SignInB->setText("Sign in\u2026");
  row->addWidget(SignInB);
  SignOutB = Make<QPushButton>(this, "SignOutB");
  SignOutB->setText("Sign out");
  row->addWidget(SignOutB);
  form->addRow("Sign-in:", row);
  connect(SignInB, &QPushButton::clicked, this, [this] { SignInClick(); });
  connect(SignOutB, &QPushButton::clicked, this, [this] { SignOutClick(); });
}

// The token replaces the password for the token mechanisms. A password can be typed whether or not it is to
// be remembered: one that is not serves this run of the window. The built-in sign-in serves a token mechanism
// whose token command is empty.
void TAccountDialog::EnableFields() {
  const bool oauth = UsesBearerToken(static_cast<TAuthMethod>(AuthCB->currentIndex()));
  TokenCommandE->setEnabled(oauth);
  RememberCB->setEnabled(serviceRuns_ && !oauth);
  PasswordE->setEnabled(!oauth);
  const bool builtIn = oauth && TokenCommandE->text().isEmpty();
  for (QLineEdit* edit : {IssuerE, ClientIdE}) {
    form_->setRowVisible(edit, builtIn);
    edit->setEnabled(builtIn);
  }
  form_->setRowVisible(SignInRow, builtIn && signIn_ != nullptr);
  SignInB->setEnabled(builtIn && signIn_ != nullptr);
}

void TAccountDialog::LoadAccount(const TAccount& account) {
  FromNameE->setText(Text(account.fromName));
  SecurityCB->setCurrentIndex(static_cast<int>(account.security));
  UserE->setText(Text(account.user));
  AuthCB->setCurrentIndex(static_cast<int>(account.authMethod));
  TokenCommandE->setText(Text(account.tokenCommand));
  IssuerE->setText(Text(account.oauthIssuer));
  ClientIdE->setText(Text(account.oauthClientId));
  CAFileE->setText(Text(account.caFile));
  FingerprintE->setText(Text(account.fingerprint));
}

void TAccountDialog::LookUpRememberedPassword() {
  loadedKey_ = Key();
  try {
    // Only whether there is one: the password itself never goes into a field. Asked without a
    // user too, so that a missing secret service is told as the dialog opens.
    const bool remembered = keeper_.Read(loadedKey_).has_value() && !UserE->text().isEmpty();
    RememberCB->setChecked(remembered);
    if (remembered) PasswordE->setPlaceholderText(kRemembered);
  } catch (const ENoSecretService&) {
    ShowNoSecretService();
  } catch (const ECredentialsError& error) {
    ShowNote(Text(error.Message()));
  }
  EnableFields();
}

void TAccountDialog::ShowNoSecretService() {
  serviceRuns_ = false;
  ShowNote(kNoSecretService);
  EnableFields();
}

// A note shown while the dialog is open makes it taller: a word-wrapped label's height is known
// only for a width, which the layout does not ask for by itself.
void TAccountDialog::ShowNote(const QString& text) {
  SecretServiceL->setText(text);
  SecretServiceL->show();
  if (isVisible()) {
    layout()->activate();
    resize(width(), std::max(height(), layout()->totalHeightForWidth(width())));
  }
}

void TAccountDialog::ShowSignInState() {
  if (!signIn_) return;
  const TAccount account = Account();
  std::optional<std::string> user;
  try {
    if (TWindowSignIn::Needed(account)) user = signIn_->SignedInAs(server_, account);
  } catch (const std::exception&) {
    // What keeps the account from signing in is told when Sign in… is clicked.
  }
  SignInL->setText(user ? Text("Signed in as " + DisplayText(*user)) : QString(kNotSignedIn));
  SignOutB->setEnabled(user.has_value());
}

void TAccountDialog::SignInClick() {
  if (UserE->text().isEmpty()) {
    MessageBox("Give the user name to sign in as first.", Bytes(windowTitle()), TMsgIcon::Warning);
    return;
  }
  try {
    // A client id registered now goes to the settings with OK.
    signIn_->SignIn(this, server_, Account(), [this](const std::string& id) { ClientIdE->setText(Text(id)); });
  } catch (const std::exception& error) {
    MessageBox(error.what(), Bytes(windowTitle()), TMsgIcon::Warning);
  }
  ShowSignInState();
}

void TAccountDialog::SignOutClick() {
  try {
    signIn_->SignOut(server_, Account());
  } catch (const std::exception& error) {
    MessageBox(error.what(), Bytes(windowTitle()), TMsgIcon::Warning);
  }
  ShowSignInState();
}

void TAccountDialog::BrowseCAFile() {
  const QString file =
      QFileDialog::getOpenFileName(this, "CA file", CAFileE->text(), "PEM certificates (*.pem *.crt);;All files (*)");
  if (!file.isEmpty()) CAFileE->setText(file);
}

void TAccountDialog::TestConnectionClick() {
  // The test waits for the server in the event loop: one at a time.
  TestB->setEnabled(false);
  TConnectionTestResult result;
  try {
    result = test_(server_, Account(), PasswordE->isEnabled() ? SecretFromText(PasswordE->text()) : TSecret());
  } catch (const std::exception& error) {
    result = {false, error.what()};
  }
  TestB->setEnabled(true);
  MessageBox(result.text, Bytes(windowTitle()), result.ok ? TMsgIcon::Information : TMsgIcon::Warning);
}

TAccount TAccountDialog::Account() const {
  TAccount a = given_;
  a.fromName = Bytes(FromNameE->text());
  a.security = static_cast<TpxSecurity>(SecurityCB->currentIndex());
  a.user = Bytes(UserE->text());
  a.authMethod = static_cast<TAuthMethod>(AuthCB->currentIndex());
  a.tokenCommand = Bytes(TokenCommandE->text());
  a.oauthIssuer = Bytes(IssuerE->text().trimmed());
  a.oauthClientId = Bytes(ClientIdE->text().trimmed());
  a.caFile = Bytes(CAFileE->text());
  a.fingerprint = Bytes(FingerprintE->text());
  return a;
}

void TAccountDialog::OfferFindSettings(std::string sender) {
  sender_ = std::move(sender);
  QPushButton* find = buttons_->addButton("Find settings", QDialogButtonBox::ActionRole);
  find->setObjectName("FindSettingsB");
  connect(find, &QPushButton::clicked, this, [this] { FindSettingsClick(); });
}

void TAccountDialog::FindSettingsClick() {
  const std::optional<TFoundServer> found = FindSettingsFor(this, sender_, Bytes(CAFileE->text()));
  if (!found) return;
  server_ = HostPortText(found->host, found->port);
  SecurityCB->setCurrentIndex(static_cast<int>(found->security));
  UserE->setText(Text(found->user));
  AuthCB->setCurrentIndex(static_cast<int>(found->authMethod));
  LookUpRememberedPassword();
  ShowSignInState();
}

std::string TAccountDialog::Key() const { return AccountKey(Bytes(UserE->text()), server_, defaultPort_); }

void TAccountDialog::accept() {
  std::string fingerprint;
  if (!NormaliseFingerprint(Bytes(FingerprintE->text()), fingerprint)) {
    MessageBox("The pinned fingerprint needs 64 hex digits (colons allowed).", Bytes(windowTitle()), TMsgIcon::Warning);
    return;
  }
  FingerprintE->setText(Text(fingerprint));
  if (!SavePassword()) return;
  QDialog::accept();
}

bool TAccountDialog::SavePassword() {
  const bool user = !UserE->text().isEmpty();
  const bool remember = serviceRuns_ && RememberCB->isChecked() && user;
  if (!remember && user && PasswordE->isEnabled() && !PasswordE->text().isEmpty())
    typedPassword_ = SecretFromText(PasswordE->text());
  if (!serviceRuns_) {
    PasswordE->clear();
    return true;
  }
  const std::string key = Key();
  try {
    if (!remember) {
      keeper_.Remove(loadedKey_);
      if (key != loadedKey_) keeper_.Remove(key);
    } else if (!PasswordE->text().isEmpty()) {
      keeper_.Write(key, SecretFromText(PasswordE->text()).View());
    }
  } catch (const ENoSecretService& error) {
    // Gone since the dialog opened: nothing is stored to be removed, but a password to be
    // remembered cannot be, and the user is told.
    ShowNoSecretService();
    if (remember) {
      ShowException(error);
      return false;
    }
  } catch (const ECredentialsError& error) {
    ShowException(error);
    return false;
  }
  PasswordE->clear();
  return true;
}
