#include "app/window/accountdialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>

#include "app/batch/credentials.h"
#include "app/window/windowtext.h"
#include "toolkit/msgbox.h"

namespace {
constexpr char kNoSecretService[] =
    "No secret service runs in this session: the password is asked for when a batch starts and "
    "kept for that batch only.";
constexpr char kRemembered[] = "remembered";
constexpr int kFieldChars = 44;

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
                               TPasswordKeeper& keeper)
    : QDialog(parent), server_(std::move(server)), defaultPort_(defaultPort), keeper_(keeper) {
  setObjectName("AccountDialog");
  setWindowTitle("Account");
  CreateControls();
  LoadAccount(account);
  LookUpRememberedPassword();
}

void TAccountDialog::CreateControls() {
  auto* form = new QFormLayout(this);
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
  for (TAuthMethod m : {TAuthMethod::Auto, TAuthMethod::Plain, TAuthMethod::Login, TAuthMethod::XOAuth2})
    AuthCB->addItem(AuthMethodName(m));
  form->addRow("Authentication:", AuthCB);
  TokenCommandE = Make<QLineEdit>(this, "TokenCommandE");
  TokenCommandE->setPlaceholderText("prints an OAuth 2 access token");
  form->addRow("Token command:", TokenCommandE);
  CAFileE = Make<QLineEdit>(this, "CAFileE");
  CAFileE->setPlaceholderText("PEM certificates trusted besides the system's");
  form->addRow("CA file:", CAFileE);
  FingerprintE = Make<QLineEdit>(this, "FingerprintE");
  FingerprintE->setPlaceholderText("SHA-256 of the server's certificate");
  form->addRow("Pinned fingerprint:", FingerprintE);
  // Wide enough for a command line or a fingerprint's first half without scrolling.
  for (QLineEdit* edit : findChildren<QLineEdit*>())
    edit->setMinimumWidth(fontMetrics().averageCharWidth() * kFieldChars);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  form->addRow(buttons);
  connect(buttons, &QDialogButtonBox::accepted, this, &TAccountDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &TAccountDialog::reject);
  connect(AuthCB, &QComboBox::currentIndexChanged, this, [this] { EnableFields(); });
  connect(RememberCB, &QCheckBox::toggled, this, [this] { EnableFields(); });
}

// The token replaces the password for XOAUTH2; a password is typed here only to be remembered
// (otherwise the batch asks for it), so the field follows the box.
void TAccountDialog::EnableFields() {
  const bool oauth = static_cast<TAuthMethod>(AuthCB->currentIndex()) == TAuthMethod::XOAuth2;
  TokenCommandE->setEnabled(oauth);
  RememberCB->setEnabled(serviceRuns_ && !oauth);
  PasswordE->setEnabled(serviceRuns_ && !oauth && RememberCB->isChecked());
}

void TAccountDialog::LoadAccount(const TAccount& account) {
  FromNameE->setText(Text(account.fromName));
  SecurityCB->setCurrentIndex(static_cast<int>(account.security));
  UserE->setText(Text(account.user));
  AuthCB->setCurrentIndex(static_cast<int>(account.authMethod));
  TokenCommandE->setText(Text(account.tokenCommand));
  CAFileE->setText(Text(account.caFile));
  FingerprintE->setText(Text(account.fingerprint));
}

void TAccountDialog::LookUpRememberedPassword() {
  loadedKey_ = Key();
  try {
    // Only whether there is one: the password itself never goes into a field.
    const bool remembered = !UserE->text().isEmpty() && keeper_.Read(loadedKey_).has_value();
    RememberCB->setChecked(remembered);
    if (remembered) PasswordE->setPlaceholderText(kRemembered);
  } catch (const ENoSecretService&) {
    ShowNoSecretService();
  } catch (const ECredentialsError& error) {
    SecretServiceL->setText(Text(error.Message()));
    SecretServiceL->show();
  }
  EnableFields();
}

void TAccountDialog::ShowNoSecretService() {
  serviceRuns_ = false;
  SecretServiceL->setText(kNoSecretService);
  SecretServiceL->show();
  EnableFields();
}

TAccount TAccountDialog::Account() const {
  TAccount a;
  a.fromName = Bytes(FromNameE->text());
  a.security = static_cast<TpxSecurity>(SecurityCB->currentIndex());
  a.user = Bytes(UserE->text());
  a.authMethod = static_cast<TAuthMethod>(AuthCB->currentIndex());
  a.tokenCommand = Bytes(TokenCommandE->text());
  a.caFile = Bytes(CAFileE->text());
  a.fingerprint = Bytes(FingerprintE->text());
  return a;
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
  if (!serviceRuns_) return true;
  const std::string key = Key();
  const bool remember = RememberCB->isChecked() && !UserE->text().isEmpty();
  try {
    if (!remember) {
      keeper_.Remove(loadedKey_);
      if (key != loadedKey_) keeper_.Remove(key);
    } else if (!PasswordE->text().isEmpty()) {
      keeper_.Write(key, SecretFromText(PasswordE->text()).View());
    }
  } catch (const ENoSecretService& error) {
    // Found only now, as the dialog opened without a user: nothing is stored to be removed,
    // but a password to be remembered cannot be, and the user is told.
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
