// The "Account…" dialog: how the connection is protected, the login, and the certificate the
// user trusts, with a test of the connection and, for an OAuth 2 account without a token
// command, the built-in sign-in (where, as which client, signed in or not). The password goes to the secret service only when
// "Remember password" is ticked; one typed without it is handed to the window for this run
// only. It is never part of the account the window writes to its settings file.
#pragma once

#include <QDialog>

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "app/batch/credentials.h"
#include "app/batch/settings.h"
#include "app/batch/connectiontest.h"
#include "toolkit/secret.h"

class QCheckBox;
class QComboBox;
class QDialogButtonBox;
class QFormLayout;
class QHBoxLayout;
class QLabel;
class QLineEdit;
class QPushButton;
class TWindowSignIn;

// The bytes of text (UTF-8), with the copy made on the way wiped.
TSecret SecretFromText(const QString& text);

class TAccountDialog : public QDialog {
 public:
  // Connects to server with the account as shown and the password typed (empty when none was),
  // and says what happened; nothing is sent.
  using TConnectionTest =
      std::function<TConnectionTestResult(const std::string& server, const TAccount&, const TSecret& typed)>;

  // server and defaultPort name the secret service entry together with the user name; without
  // a test, "Test connection" is not offered; without signIn (the window's), neither are "Sign
  // in…" and "Sign out".
  TAccountDialog(QWidget* parent, const TAccount& account, std::string server, int defaultPort, TPasswordKeeper& keeper,
                 TConnectionTest test = {}, TWindowSignIn* signIn = nullptr);

  // The values shown, over the account given for what the dialog has no field for; after OK,
  // those the user accepted.
  TAccount Account() const;
  // False when the dialog found no secret service: a password typed is kept for this run, or
  // the batch asks for it.
  bool SecretServiceRuns() const { return serviceRuns_; }
  // After OK: the password typed and not remembered, to be used until the program ends and
  // never stored; empty when there is none.
  TSecret TakeTypedPassword() { return std::move(typedPassword_); }

  // Offers "Find settings", which looks up sender's server (FindSettingsFor) and fills the
  // security, the user and the authentication in; Server() then names it.
  void OfferFindSettings(std::string sender);
  // The server the dialog's values are for: the one given, or the one found.
  const std::string& Server() const { return server_; }

  void accept() override;

 private:
  void FindSettingsClick();
  void CreateControls();
  // The issuer, the client id and the sign-in's row.
  void CreateSignInControls(QFormLayout* form);
  void EnableFields();
  // "Signed in as …" or "Not signed in", and Sign out for a signed-in account.
  void ShowSignInState();
  void SignInClick();
  void SignOutClick();
  void LoadAccount(const TAccount& account);
  void LookUpRememberedPassword();
  void ShowNoSecretService();
  void ShowNote(const QString& text);
  void BrowseCAFile();
  void TestConnectionClick();
  // Stores, keeps or removes the entry as "Remember password" says; false when it failed.
  bool SavePassword();
  std::string Key() const;

  std::string server_;
  std::string sender_;  // whose settings "Find settings" looks up
  const int defaultPort_;
  TPasswordKeeper& keeper_;
  const TConnectionTest test_;
  TWindowSignIn* const signIn_;
  const TAccount given_;
  TSecret typedPassword_;
  std::string loadedKey_;  // the entry the dialog found ticked or unticked
  bool serviceRuns_ = true;

  QLineEdit* FromNameE = nullptr;
  QComboBox* SecurityCB = nullptr;
  QLineEdit* UserE = nullptr;
  QLineEdit* PasswordE = nullptr;
  QCheckBox* RememberCB = nullptr;
  QLabel* SecretServiceL = nullptr;
  QComboBox* AuthCB = nullptr;
  QLineEdit* TokenCommandE = nullptr;
  QLineEdit* IssuerE = nullptr;
  QLineEdit* ClientIdE = nullptr;
  QLabel* SignInL = nullptr;
  QPushButton* SignInB = nullptr;
  QPushButton* SignOutB = nullptr;
  QHBoxLayout* SignInRow = nullptr;
  QFormLayout* form_ = nullptr;
  QLineEdit* CAFileE = nullptr;
  QLineEdit* FingerprintE = nullptr;
  QPushButton* TestB = nullptr;
  QDialogButtonBox* buttons_ = nullptr;
};
