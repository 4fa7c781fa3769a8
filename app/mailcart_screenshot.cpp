// mailcart-screenshot FILE.png [ACCOUNT.png]: the main window as a user sees it on first start
// with a few values typed in, and its account dialog, for the README. Run it under a real X server so the desktop's fonts and
// style are used:
//   xvfb-run -a -s "-screen 0 1024x768x24" build/app/mailcart-screenshot docs/mailcart.png
#include <QApplication>
#include <QLineEdit>

#include <cstdio>

#include "app/accountdialog.h"
#include "app/mainf.h"
#include "toolkit/pump.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (argc != 2 && argc != 3) {
    std::fprintf(stderr, "usage: mailcart-screenshot FILE.png [ACCOUNT.png]\n");
    return 2;
  }
  // Named after this tool, the settings file is none of a user's; the window is never closed,
  // so it is not written either.
  TForm1 form;
  const std::pair<const char*, const char*> values[] = {{"MailServerE", "127.0.0.1:2525"},
                                                        {"EMailFromE", "me@example.com"},
                                                        {"AddrE", "archive@example.com"},
                                                        {"SubjE", "Scanned invoices"}};
  for (const auto& [name, text] : values) form.findChild<QLineEdit*>(name)->setText(text);
  form.show();
  SleepProcessing(500);
  if (!form.grab().save(QString::fromLocal8Bit(argv[1]), "PNG")) {
    std::fprintf(stderr, "mailcart-screenshot: cannot write %s\n", argv[1]);
    return 1;
  }
  if (argc == 3) {
    TSecretServiceKeeper keeper;
    const TAccount account{TpxSecurity::StartTLS, "ann", TAuthMethod::Auto, "", "", ""};
    TAccountDialog dialog(&form, account, "smtp.example.com:587", 25, keeper);
    dialog.show();
    SleepProcessing(500);
    if (!dialog.grab().save(QString::fromLocal8Bit(argv[2]), "PNG")) {
      std::fprintf(stderr, "mailcart-screenshot: cannot write %s\n", argv[2]);
      return 1;
    }
  }
  return 0;
}
