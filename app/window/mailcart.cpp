// Mailcart's entry point: the application, its title, the main window, the message loop.
// mailcart FILE...: the files become the chosen ones (a desktop entry's %F); Send sends them.
// --help and --version print and end before the application starts: they need no display.
#include <QApplication>
#include <QMessageBox>
#include <QTimer>

#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "app/icon/programicon.h"
#include "app/window/mainf.h"
#include "app/window/windowtext.h"
#include "mail/dialogs/pxaddred.h"
#include "toolkit/heappolicy.h"
#include "toolkit/msgbox.h"
#include "toolkit/version.h"

namespace {
constexpr char kUsage[] =
    "usage: mailcart [FILE]...\n"
    "Opens the Mailcart window, with FILEs as the chosen files when given; Send mails each of\n"
    "them as the only attachment of a message of its own.\n"
    "\n"
    "  --help     print this text and exit\n"
    "  --version  print the version and exit\n"
    "\n"
    "For a batch from a shell or a script, see mailcart-send --help.\n";

// --help or --version as the only argument: printed, and the exit status; otherwise nothing.
std::optional<int> AnswerInfoOption(int argc, char** argv) {
  if (argc != 2) return std::nullopt;
  if (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (std::strcmp(argv[1], "--version") == 0) {
    std::printf("mailcart %s\n", TVersionInfo(ExecutablePath()).FileVersion().c_str());
    return 0;
  }
  return std::nullopt;
}

// The program's information and error boxes, as real message boxes.
class TQtMessageBoxes : public TMessageBoxService {
 public:
  void Show(const std::string& text, const std::string& title, TMsgIcon icon) override {
    QMessageBox box(IconOf(icon), Text(title), Text(text), QMessageBox::Ok);
    box.setTextFormat(Qt::PlainText);
    box.exec();
  }
  TMsgAnswer Ask(const std::string& text, const std::string& title, bool withCancel) override {
    QMessageBox::StandardButtons buttons = QMessageBox::Yes | QMessageBox::No;
    if (withCancel) buttons |= QMessageBox::Cancel;
    QMessageBox box(QMessageBox::Question, Text(title), Text(text), buttons);
    box.setTextFormat(Qt::PlainText);
    switch (box.exec()) {
      case QMessageBox::Yes: return TMsgAnswer::Yes;
      case QMessageBox::No: return TMsgAnswer::No;
      default: return withCancel ? TMsgAnswer::Cancel : TMsgAnswer::No;
    }
  }

 private:
  static QMessageBox::Icon IconOf(TMsgIcon icon) {
    switch (icon) {
      case TMsgIcon::Information: return QMessageBox::Information;
      case TMsgIcon::Warning: return QMessageBox::Warning;
      case TMsgIcon::Error: return QMessageBox::Critical;
    }
    return QMessageBox::NoIcon;
  }
};
}  // namespace

int main(int argc, char** argv) {
  if (const std::optional<int> status = AnswerInfoOption(argc, argv)) return *status;
  KeepMessageBuffers();
  QApplication app(argc, argv);
  SetApplicationTitle("Mailcart");
  QApplication::setApplicationName("Mailcart");
  QApplication::setWindowIcon(ProgramIcon());
  TQtMessageBoxes boxes;
  SetMessageBoxService(&boxes);
  TAddressDialogService addressDialogs;
  SetAddressEditService(&addressDialogs);
  int result = 0;
  {
    TForm1 form;
    std::vector<std::string> files;
    for (const QString& argument : QApplication::arguments().mid(1)) files.push_back(Bytes(argument));
    form.show();
    if (!files.empty()) form.AddFiles(files);
    // Once the window is on the screen, so the question has it behind it.
    else
      QTimer::singleShot(0, &form, [&form] { form.OfferResume(); });
    result = QApplication::exec();
  }
  SetAddressEditService(nullptr);
  SetMessageBoxService(nullptr);
  return result;
}
