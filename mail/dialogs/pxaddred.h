// The dialog that edits one mail address: a display name and a mailbox; and the editor service
// that opens it for TpxMailAddress::Edit.
#pragma once

#include <QDialog>

#include "mail/pxmsgcls.h"

class QLineEdit;

class TMailAddressDlg : public QDialog {
 public:
  explicit TMailAddressDlg(QWidget* parent = nullptr);

  // Copies address into the dialog's own and shows it in the edit boxes.
  void LoadAddress(const TpxMailAddress& address);
  // The address as last loaded, or as stored by OK.
  const TpxMailAddress& Address() const { return address_; }

 private:
  void StoreAndAccept();

  TpxMailAddress address_;
  QLineEdit* nameEdit_;
  QLineEdit* addressEdit_;
};

// Opens the address dialog modally for TpxMailAddress::Edit; installed with
// SetAddressEditService by the window program.
class TAddressDialogService : public TAddressEditService {
 public:
  bool Edit(TpxMailAddress& address) override;
};
