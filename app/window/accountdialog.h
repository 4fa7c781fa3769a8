// The "Account…" dialog: how the connection is protected, the login, and the certificate the
// user trusts, with a test of the connection. The password goes to the secret service only when
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
class QLabel;
class QLineEdit;
class QPushButton;

// The bytes of text (UTF-8), with the copy made on the way wiped.
TSecret SecretFromText(const QString& text);

class TAccountDialog : public QDialog {
 public:
  // Connects to server with the account as shown and the password typed (empty when none was),
  // and says what happened; nothing is sent.
  using TConnectionTest =
      std::function<TConnectionTestResult(const std::string& server, const TAccount&, const TSecret& typed)>;

  // server and defaultPort name the secret service entry together with the user name; without
  // a test, "Test connection" is not offered.
  TAccountDialog(QWidget* parent, const TAccount& account, std::string server, int defaultPort, TPasswordKeeper& keeper,
                 TConnectionTest test = {});

  // The values shown; after OK, those the user accepted.
  TAccount Account() const;
  // False when the dialog found no secret service: a password typed is kept for this run, or
  // the batch asks for it.
  bool SecretServiceRuns() const { return serviceRuns_; }
  // After OK: the password typed and not remembered, to be used until the program ends and
  // never stored; empty when there is none.
  TSecret TakeTypedPassword() { return std::move(typedPassword_); }

  void accept() override;

 private:
  void CreateControls();
  void EnableFields();
  void LoadAccount(const TAccount& account);
  void LookUpRememberedPassword();
  void ShowNoSecretService();
  void ShowNote(const QString& text);
  void BrowseCAFile();
  void TestConnectionClick();
  // Stores, keeps or removes the entry as "Remember password" says; false when it failed.
  bool SavePassword();
  std::string Key() const;

  const std::string server_;
  const int defaultPort_;
  TPasswordKeeper& keeper_;
  const TConnectionTest test_;
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
  QLineEdit* CAFileE = nullptr;
  QLineEdit* FingerprintE = nullptr;
  QPushButton* TestB = nullptr;
};
