#include "app/window/messagedialog.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>

#include "app/batch/messagetext.h"
#include "app/batch/recipients.h"
#include "app/window/windowtext.h"
#include "toolkit/msgbox.h"

namespace {
constexpr char kPlaceholders[] =
    "{name}, {n}, {count} and {date} are filled in for each file, as in the subject. Without a "
    "text the message holds a single space.";
constexpr int kTextLines = 8;
}  // namespace

TMessageDialog::TMessageDialog(QWidget* parent, const TMessageParts& parts) : QDialog(parent) {
  setObjectName("MessageDialog");
  setWindowTitle("Message");
  auto* form = new QFormLayout(this);
  CcE = new QLineEdit(Text(parts.cc), this);
  CcE->setObjectName("CcE");
  CcE->setPlaceholderText("addresses, separated by commas");
  form->addRow("CC:", CcE);
  BccE = new QLineEdit(Text(parts.bcc), this);
  BccE->setObjectName("BccE");
  BccE->setPlaceholderText("get the message without appearing in it");
  form->addRow("BCC:", BccE);
  BodyE = new QPlainTextEdit(Text(parts.body), this);
  BodyE->setObjectName("BodyE");
  BodyE->setPlaceholderText("Please find the scan attached.");
  BodyE->setMinimumHeight(BodyE->fontMetrics().lineSpacing() * kTextLines);
  form->addRow("Text:", BodyE);
  auto* note = new QLabel(kPlaceholders, this);
  note->setWordWrap(true);
  note->setTextFormat(Qt::PlainText);
  form->addRow(note);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &TMessageDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &TMessageDialog::reject);
  form->addRow(buttons);
}

TMessageParts TMessageDialog::Parts() const {
  return {Bytes(CcE->text()), Bytes(BccE->text()), Bytes(BodyE->toPlainText())};
}

void TMessageDialog::accept() {
  const TMessageParts parts = Parts();
  std::string problems;
  for (const auto& [caption, list] : {std::pair{"CC", &parts.cc}, {"BCC", &parts.bcc}})
    if (const std::string problem = AddressListProblem(*list, true); !problem.empty())
      problems += std::string(problems.empty() ? "" : "\n") + caption + ": " + problem;
  if (const std::string problem = MessageTextProblem(parts.body); !problem.empty())
    problems += std::string(problems.empty() ? "" : "\n") + "The text " + problem;
  if (!problems.empty()) {
    MessageBox(problems, Bytes(windowTitle()), TMsgIcon::Warning);
    return;
  }
  QDialog::accept();
}
