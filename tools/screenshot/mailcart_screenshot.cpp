// mailcart-screenshot FILE.png [ACCOUNT.png]: the main window in the middle of a batch (a few
// files sent, one being sent, one waiting for a retry), and its account dialog, for the README.
// Run it under a real X server so the desktop's fonts and style are used:
//   ninja -C build mailcart-screenshot
//   xvfb-run -a -s "-screen 0 1024x768x24" build/tools/mailcart-screenshot docs/mailcart.png
#include <QApplication>
#include <QLineEdit>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "app/window/accountdialog.h"
#include "app/window/elidedlabel.h"
#include "app/window/filelistview.h"
#include "app/window/mainf.h"
#include "toolkit/pump.h"

namespace {
// A batch of six scanned invoices, 12 seconds in.
TBatchStatus ABatch() {
  const struct {
    const char* name;
    uint64_t size;
    TFileState state;
    uint64_t done;
    const char* detail;
  } files[] = {
      {"invoice-0412.pdf", 1843200, TFileState::Sent, 1843200, "250 2.0.0 Ok: queued as 4RzT1k0Qx2"},
      {"invoice-0413.pdf", 2621440, TFileState::Sent, 2621440, "250 2.0.0 Ok: queued as 4RzT1m3Bv7"},
      {"invoice-0414.pdf", 3355443, TFileState::Sending, 1342177, ""},
      {"invoice-0415.pdf", 1048576, TFileState::Waiting, 0, ""},
      {"invoice-0416.pdf", 2202009, TFileState::Waiting, 0, ""},
      {"invoice-0417.pdf", 943718, TFileState::Waiting, 0, ""},
  };
  std::vector<TBatchFile> list;
  for (const auto& f : files)
    list.push_back({std::string("/home/ann/Scans/2026-12/") + f.name, f.size, f.state, f.done, f.detail, 0});
  TBatchStatus status;
  status.Start(std::move(list), TBatchStatus::Clock::now() - std::chrono::seconds(12));
  status.SetCurrent(2);
  return status;
}
}  // namespace

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
  const TBatchStatus batch = ABatch();
  form.findChild<TFileListView*>("FileList")->ShowStatus(batch, -1);
  form.findChild<TElidedLabel*>("SFileShowL")->SetFullText(QString::fromStdString(batch.Files()[1].path));
  form.findChild<TElidedLabel*>("StateL")->SetFullText("In progress");
  form.show();
  SleepProcessing(500);
  if (!form.grab().save(QString::fromLocal8Bit(argv[1]), "PNG")) {
    std::fprintf(stderr, "mailcart-screenshot: cannot write %s\n", argv[1]);
    return 1;
  }
  if (argc == 3) {
    TSecretServiceKeeper keeper;
    const TAccount account{TpxSecurity::StartTLS, "ann", TAuthMethod::Auto, "", "", "", ""};
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
