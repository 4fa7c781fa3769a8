// The "Account…" dialog: how the connection is protected, the login, and the certificate the
// user trusts. The password goes to the secret service only when "Remember password" is
// ticked; it is never part of the account the window writes to its settings file.
#pragma once

#include <QDialog>

#include <optional>
#include <string>
#include <string_view>

#include "app/batch/credentials.h"
#include "app/batch/settings.h"
#include "toolkit/secret.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;

// The bytes of text (UTF-8), with the copy made on the way wiped.
TSecret SecretFromText(const QString& text);

class TAccountDialog : public QDialog {
 public:
  // server and defaultPort name the secret service entry together with the user name.
  TAccountDialog(QWidget* parent, const TAccount& account, std::string server, int defaultPort,
                 TPasswordKeeper& keeper);

  // The values shown; after OK, those the user accepted.
  TAccount Account() const;
  // False when the dialog found no secret service: the batch then asks for the password.
  bool SecretServiceRuns() const { return serviceRuns_; }

  void accept() override;

 private:
  void CreateControls();
  void EnableFields();
  void LoadAccount(const TAccount& account);
  void LookUpRememberedPassword();
  void ShowNoSecretService();
  // Stores, keeps or removes the entry as "Remember password" says; false when it failed.
  bool SavePassword();
  std::string Key() const;

  const std::string server_;
  const int defaultPort_;
  TPasswordKeeper& keeper_;
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
};
