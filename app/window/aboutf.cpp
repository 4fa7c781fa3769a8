#include "app/window/aboutf.h"

#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>

#include "app/icon/programicon.h"
#include "app/window/designscale.h"
#include "app/window/windowtext.h"
#include "toolkit/version.h"

namespace {
constexpr char kCredit[] = "Written and maintained by the Mailcart developers.";

QLabel* AddLabel(QWidget* parent, const char* name, const QString& text, const QRect& at) {
  auto* label = new QLabel(text, parent);
  label->setObjectName(name);
  label->setTextFormat(Qt::PlainText);
  label->setGeometry(at);
  return label;
}
}  // namespace

TAboutBox::TAboutBox(QWidget* parent, const std::string& programPath) : QDialog(parent) {
  setObjectName("AboutBox");
  setWindowTitle("About");
  const TDesignScale s(font());
  const TVersionInfo version(programPath);

  auto* panel = new QFrame(this);
  panel->setObjectName("Panel1");
  panel->setFrameStyle(QFrame::Panel | QFrame::Raised);
  panel->setGeometry(s.Rect(8, 8, 281, 161));

  auto* icon = new QLabel(panel);
  icon->setObjectName("ProgramIcon");
  icon->setGeometry(s.Rect(8, 8, 65, 57));
  icon->setPixmap(QPixmap::fromImage(ProgramImage(s(64)).scaled(icon->size())));

  const QString date = Text(FormatShortDate(version.FileDate()));
  AddLabel(panel, "ProductName", Text(version.ProductName()), s.Rect(88, 16, 185, 16));
  AddLabel(panel, "Version", Text(version.FileVersion()) + " (" + date + ")", s.Rect(88, 40, 185, 16));
  QLabel* credit = AddLabel(panel, "CreditLine", kCredit, s.Rect(8, 80, 265, 64));
  credit->setWordWrap(true);

  auto* ok = new QPushButton("OK", this);
  ok->setObjectName("OKButton");
  ok->setDefault(true);
  ok->setGeometry(s.Rect(111, 178, 75, 25));
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);

  setFixedSize(s(298), s(213));
  if (const QScreen* screen = QGuiApplication::primaryScreen())
    move(screen->availableGeometry().center() - rect().center());
}
