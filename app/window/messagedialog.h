// The "Message…" dialog: what the batch's messages say and who else gets them: the text above
// the attachment, and the CC and BCC lists (BCC recipients get the message without appearing in
// it). The window keeps them in its settings file (CC, BCC, Body).
#pragma once

#include <QDialog>

#include <string>

class QLineEdit;
class QPlainTextEdit;

struct TMessageParts {
  std::string cc, bcc;
  std::string body;  // lines end with "\n"; empty: the message has a single space
};

class TMessageDialog : public QDialog {
 public:
  TMessageDialog(QWidget* parent, const TMessageParts& parts);

  // The values shown; after OK, those the user accepted.
  TMessageParts Parts() const;

  // Keeps the dialog open, with the problem shown, while a list holds an address that does not
  // pass the address check or the text is too long.
  void accept() override;

 private:
  QLineEdit* CcE = nullptr;
  QLineEdit* BccE = nullptr;
  QPlainTextEdit* BodyE = nullptr;
};
