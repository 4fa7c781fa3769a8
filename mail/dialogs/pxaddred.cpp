#include "mail/dialogs/pxaddred.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

const char* const kName = "Name";
const char* const kAddress = "Address";  // the caption, and the label of the mailbox
const char* const kOK = "OK";
const char* const kCancel = "Cancel";

template <class W>
W* Named(W* widget, const char* objectName) {
  widget->setObjectName(QString::fromLatin1(objectName));
  return widget;
}

}  // namespace

TMailAddressDlg::TMailAddressDlg(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("MailAddressDlg"));
  setWindowTitle(QString::fromLatin1(kAddress));

  auto* frame = Named(new QGroupBox(this), "Frame");
  nameEdit_ = Named(new QLineEdit(frame), "NameEdit");
  addressEdit_ = Named(new QLineEdit(frame), "AddressEdit");
  auto* nameLabel = Named(new QLabel(QString::fromLatin1(kName), frame), "NameLabel");
  auto* addressLabel = Named(new QLabel(QString::fromLatin1(kAddress), frame), "AddressLabel");
  nameLabel->setBuddy(nameEdit_);
  addressLabel->setBuddy(addressEdit_);
  auto* fields = new QGridLayout(frame);
  fields->addWidget(nameLabel, 0, 0);
  fields->addWidget(nameEdit_, 0, 1);
  fields->addWidget(addressLabel, 1, 0);
  fields->addWidget(addressEdit_, 1, 1);

  auto* okButton = Named(new QPushButton(QString::fromLatin1(kOK), this), "OKBtn");
  auto* cancelButton = Named(new QPushButton(QString::fromLatin1(kCancel), this), "CancelBtn");
  okButton->setDefault(true);
  connect(okButton, &QPushButton::clicked, this, [this] { StoreAndAccept(); });
  connect(cancelButton, &QPushButton::clicked, this, &QDialog::reject);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(okButton);
  buttons->addWidget(cancelButton);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(frame);
  layout->addLayout(buttons);

  setTabOrder(nameEdit_, addressEdit_);
  setTabOrder(addressEdit_, okButton);
  setTabOrder(okButton, cancelButton);
  nameEdit_->setFocus();
}

void TMailAddressDlg::LoadAddress(const TpxMailAddress& address) {
  address_.Assign(address);
  nameEdit_->setText(QString::fromLocal8Bit(address_.Name()));
  addressEdit_->setText(QString::fromLocal8Bit(address_.Address()));
}

void TMailAddressDlg::StoreAndAccept() {
  // Bytes in the locale's encoding, as everywhere in the library; ShortString cuts to 255.
  address_.SetName(nameEdit_->text().toLocal8Bit().toStdString());
  address_.SetAddress(addressEdit_->text().toLocal8Bit().toStdString());
  accept();
}

bool TAddressDialogService::Edit(TpxMailAddress& address) {
  TMailAddressDlg dialog;
  dialog.LoadAddress(address);
  if (dialog.exec() != QDialog::Accepted) return false;
  address.Assign(dialog.Address());
  return true;
}
