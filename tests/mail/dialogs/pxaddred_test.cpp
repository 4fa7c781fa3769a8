#include "mail/dialogs/pxaddred.h"

#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include <functional>

#include <gtest/gtest.h>

namespace {

template <class W>
W* Child(QWidget& parent, const char* name) {
  W* widget = parent.findChild<W*>(QString::fromLatin1(name));
  EXPECT_NE(widget, nullptr) << name;
  return widget;
}

std::string Text(const QLineEdit* edit) { return edit->text().toStdString(); }

// Runs act on the address dialog once Edit has shown it modally.
void WhenDialogShows(std::function<void(TMailAddressDlg&)> act) {
  QTimer::singleShot(0, [act] {
    QWidget* modal = QApplication::activeModalWidget();
    if (auto* dialog = dynamic_cast<TMailAddressDlg*>(modal)) return act(*dialog);
    ADD_FAILURE() << "no address dialog is shown";
    if (modal != nullptr) modal->close();  // so that the test ends
  });
}

}  // namespace

TEST(TMailAddressDlg, CaptionsFieldsAndTabOrder) {
  TMailAddressDlg dialog;
  EXPECT_EQ(dialog.windowTitle(), "Address");
  auto* frame = Child<QGroupBox>(dialog, "Frame");
  auto* nameEdit = Child<QLineEdit>(dialog, "NameEdit");
  auto* addressEdit = Child<QLineEdit>(dialog, "AddressEdit");
  auto* ok = Child<QPushButton>(dialog, "OKBtn");
  auto* cancel = Child<QPushButton>(dialog, "CancelBtn");
  ASSERT_TRUE(frame && nameEdit && addressEdit && ok && cancel);
  EXPECT_EQ(nameEdit->parentWidget(), frame);
  EXPECT_EQ(addressEdit->parentWidget(), frame);
  EXPECT_EQ(Child<QLabel>(dialog, "NameLabel")->text(), "Name");
  EXPECT_EQ(Child<QLabel>(dialog, "NameLabel")->buddy(), nameEdit);
  EXPECT_EQ(Child<QLabel>(dialog, "AddressLabel")->text(), "Address");
  EXPECT_EQ(Child<QLabel>(dialog, "AddressLabel")->buddy(), addressEdit);
  EXPECT_EQ(ok->text(), "OK");
  EXPECT_TRUE(ok->isDefault());
  EXPECT_EQ(cancel->text(), "Cancel");

  // The order Tab visits the widgets that take focus by Tab.
  std::vector<QWidget*> order;
  QWidget* w = nameEdit;
  for (int i = 0; i < 20 && order.size() < 4; ++i, w = w->nextInFocusChain())
    if (w->focusPolicy() & Qt::TabFocus) order.push_back(w);
  EXPECT_EQ(order, (std::vector<QWidget*>{nameEdit, addressEdit, ok, cancel}));
}

TEST(TMailAddressDlg, OkStoresEditTextsCancelKeepsLoaded) {
  TpxMailAddress loaded;
  loaded.SetName("Jane");
  loaded.SetAddress("jane@example.com");
  for (const bool pressOk : {true, false}) {
    TMailAddressDlg dialog;
    dialog.LoadAddress(loaded);
    auto* nameEdit = Child<QLineEdit>(dialog, "NameEdit");
    auto* addressEdit = Child<QLineEdit>(dialog, "AddressEdit");
    EXPECT_EQ(Text(nameEdit), "Jane");
    EXPECT_EQ(Text(addressEdit), "jane@example.com");
    nameEdit->setText(QString::fromUtf8("J\xC3\xBCrgen"));
    addressEdit->setText(QString(300, QLatin1Char('a')));
    Child<QPushButton>(dialog, pressOk ? "OKBtn" : "CancelBtn")->click();
    EXPECT_EQ(dialog.result(), pressOk ? QDialog::Accepted : QDialog::Rejected);
    if (pressOk) {
      EXPECT_EQ(dialog.Address().Name(), "J\xC3\xBCrgen");
      EXPECT_EQ(dialog.Address().Address(), std::string(255, 'a'));
    } else {
      EXPECT_EQ(dialog.Address().Name(), "Jane");
      EXPECT_EQ(dialog.Address().Address(), "jane@example.com");
    }
  }
}

TEST(TpxMailAddressEdit, CopiesBackOnlyOnOk) {
  TAddressDialogService dialogs;
  TAddressEditService* const previous = SetAddressEditService(&dialogs);
  TpxMailAddress address;
  address.SetName("Old");
  address.SetAddress("old@example.com");

  WhenDialogShows([](TMailAddressDlg& dialog) {
    EXPECT_EQ(Text(Child<QLineEdit>(dialog, "AddressEdit")), "old@example.com");
    Child<QLineEdit>(dialog, "AddressEdit")->setText("rejected@example.com");
    dialog.reject();
  });
  EXPECT_FALSE(address.Edit());
  EXPECT_EQ(address.Address(), "old@example.com");

  WhenDialogShows([](TMailAddressDlg& dialog) {
    Child<QLineEdit>(dialog, "NameEdit")->setText("New");
    Child<QLineEdit>(dialog, "AddressEdit")->setText("new@example.com");
    Child<QPushButton>(dialog, "OKBtn")->click();
  });
  EXPECT_TRUE(address.Edit());
  EXPECT_EQ(address.Name(), "New");
  EXPECT_EQ(address.Address(), "new@example.com");
  SetAddressEditService(previous);
}
