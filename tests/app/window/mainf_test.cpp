// The main window under Qt's offscreen platform: its controls, the settings it reads and
// writes, its buttons with and without a batch, and batches against a real SMTP server
// (aiosmtpd) seen through what the labels paint.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QInputDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>

#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "app/batch/credentials.h"
#include "app/window/aboutf.h"
#include "app/window/gradientcaption.h"
#include "app/window/mainf.h"
#include "app/window/mainform_fixture.h"
#include "app/window/numericedit.h"
#include "support/fast_clock.h"
#include "support/files.h"
#include "support/recording_msgbox.h"
#include "support/smtp_capture.h"
#include "toolkit/msgbox.h"
#include "toolkit/pump.h"
#include "toolkit/version.h"

namespace {

// Types text into a widget as a keyboard would.
void Type(QWidget* widget, const QString& text) {
  for (const QChar ch : text) {
    QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(ch));
    QCoreApplication::sendEvent(widget, &press);
  }
}

// Records each text a value label paints, once per change: a text that is set but never
// painted before the next one is missing from the record.
class PaintRecorder : public QObject {
 public:
  explicit PaintRecorder(QWidget* form) {
    for (const char* name : {"SFileShowL", "StateL", "RemaindL"})
      form->findChild<QLabel*>(name)->installEventFilter(this);
  }
  std::vector<std::string> painted;
  std::function<void(const std::string&)> onPaint;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    const auto* label = static_cast<QLabel*>(watched);
    if (event->type() != QEvent::Paint || label->text().isEmpty()) return false;
    const std::string entry = label->objectName().toStdString() + ": " + label->text().toStdString();
    std::string& last = last_[label->objectName().toStdString()];
    if (entry != last) {
      last = entry;
      painted.push_back(entry);
      if (onPaint) onPaint(entry);
    }
    return false;
  }

 private:
  std::map<std::string, std::string> last_;
};

// Runs act on the modal dialog once it is open; bounded, so a dialog that never opens fails
// the test instead of hanging it.
void WhenModal(std::function<void(QWidget*)> act) {
  auto* timer = new QTimer;
  auto tries = std::make_shared<int>(500);
  QObject::connect(timer, &QTimer::timeout, [timer, tries, act] {
    QWidget* modal = QApplication::activeModalWidget();
    if (modal == nullptr && --*tries > 0) return;
    timer->deleteLater();
    timer->stop();
    if (modal != nullptr) act(modal);
  });
  timer->start(10);
}

class NoSecretService : public TPasswordKeeper {
 public:
  std::optional<TSecret> Read(const std::string&) override { throw ENoSecretService("none"); }
  void Write(const std::string&, std::string_view) override { throw ENoSecretService("none"); }
  void Remove(const std::string&) override { throw ENoSecretService("none"); }
};

TEST_F(MainFormTest, FirstRunShowsEveryControlEmptyInItsPlace) {
  const struct {
    const char* name;
    const char* kind;
    const char* caption;
  } controls[] = {
      {"Label8", "QLabel", "MailServer:"},
      {"MailServerE", "QLineEdit", ""},
      {"AccountB", "QPushButton", "Account\xe2\x80\xa6"},
      {"Label9", "QLabel", "E-Mail From:"},
      {"EMailFromE", "QLineEdit", ""},
      {"Label1", "QLabel", "E-Mail To:"},
      {"AddrE", "QLineEdit", ""},
      {"Label2", "QLabel", "Subj:"},
      {"SubjE", "QLineEdit", ""},
      {"Label5", "QLabel", "Pause between"},
      {"Label7", "QLabel", "sending messages:"},
      {"TimeWaitE", "QLineEdit", "0"},
      {"DelSFCB", "QCheckBox", "Delete Sended Files?"},
      {"SortFilesCB", "QCheckBox", "Sort Files?"},
      {"SelFilesB", "QPushButton", "SelectFiles"},
      {"SendB", "QPushButton", "Send"},
      {"CancSendB", "QPushButton", "Cancel sending"},
      {"AboutB", "QPushButton", "About"},
      {"ExitB", "QPushButton", "Exit"},
      {"Label3", "QLabel", "Sended:"},
      {"SFileShowL", "QLabel", ""},
      {"Label4", "QLabel", "State:"},
      {"StateL", "QLabel", ""},
      {"Label6", "QLabel", "Remaind:"},
      {"RemaindL", "QLabel", ""},
  };
  std::vector<QWidget*> widgets;
  for (const auto& c : controls) {
    QWidget* w = Control(c.name);
    ASSERT_NE(w, nullptr);
    EXPECT_TRUE(w->inherits(c.kind)) << c.name;
    const QString text = w->property("text").toString();
    EXPECT_EQ(text.toStdString(), c.caption) << c.name;
    // No caption is clipped, and no control covers another.
    if (!text.isEmpty() && !w->inherits("QLineEdit")) {
      EXPECT_GE(w->width(), w->sizeHint().width()) << c.name;
    }
    for (QWidget* other : widgets)
      EXPECT_FALSE(w->geometry().intersects(other->geometry()))
          << c.name << " overlaps " << other->objectName().toStdString();
    widgets.push_back(w);
  }
  EXPECT_FALSE(Control<QCheckBox>("DelSFCB")->isChecked());
  EXPECT_FALSE(Control<QCheckBox>("SortFilesCB")->isChecked());
  QWidget* form = Control("FormArea");
  EXPECT_EQ(form->minimumHeight(), form->maximumHeight()) << "the form keeps its height; the list below takes the rest";

  std::vector<std::string> tabOrder;
  QWidget* w = Control("MailServerE");
  for (int i = 0; i < 14; ++i, w = w->nextInFocusChain()) {
    while (w->focusPolicy() == Qt::NoFocus) w = w->nextInFocusChain();
    tabOrder.push_back(w->objectName().toStdString());
  }
  EXPECT_EQ(tabOrder,
            (std::vector<std::string>{"MailServerE", "AccountB", "EMailFromE", "AddrE", "SubjE", "MessageB", "TimeWaitE", "DelSFCB",
                                      "SelFilesB", "SendB", "CancSendB", "SortFilesCB", "AboutB", "ExitB"}));

  // The program file is not there: its date is the zero date.
  const std::string caption = std::string("Mailcart ") + MAILCART_VERSION + " (" + FormatShortDate(ZeroDate()) + ")";
  EXPECT_EQ(Form().windowTitle().toStdString(), caption);
  EXPECT_EQ(Control<TGradientCaption>("GradientCaption1")->Caption().toStdString(), caption);
}

TEST_F(MainFormTest, StoredSettingsFillTheFields) {
  WriteFile(Ini(),
            "[Param]\r\nAddr=you@example.com\r\nSubj=Gr\xc3\xbc\xc3\x9f\x65\r\nMailSrv=smtp.example.com\r\n"
            "AddrFrom=me@example.com\r\nDelFiles=2\r\nSortFiles=1\r\nPauseSec=0x1E\r\n");
  EXPECT_EQ(Control<QLineEdit>("AddrE")->text(), "you@example.com");
  EXPECT_EQ(Control<QLineEdit>("SubjE")->text(), QString::fromUtf8("Grüße"));
  EXPECT_EQ(Control<QLineEdit>("MailServerE")->text(), "smtp.example.com");
  EXPECT_EQ(Control<QLineEdit>("EMailFromE")->text(), "me@example.com");
  EXPECT_TRUE(Control<QCheckBox>("DelSFCB")->isChecked());
  EXPECT_TRUE(Control<QCheckBox>("SortFilesCB")->isChecked());
  EXPECT_EQ(Control<QLineEdit>("TimeWaitE")->text(), "30");
}

TEST_F(MainFormTest, ExitWithoutABatchClosesAndSavesWhatWasTyped) {
  auto* pause = Control<TNumericEdit>("TimeWaitE");
  pause->selectAll();
  Type(pause, "7.8");
  QFocusEvent focusOut(QEvent::FocusOut);
  QCoreApplication::sendEvent(pause, &focusOut);
  EXPECT_EQ(pause->text(), "8") << "shown as ##0";
  Control<QLineEdit>("SubjE")->setText(QString::fromUtf8("Grüße"));
  Control<QCheckBox>("SortFilesCB")->setChecked(true);
  Click("ExitB");
  EXPECT_FALSE(Form().isVisible());
  EXPECT_EQ(ReadFile(Ini()),
            "[Param]\r\nAddr=\r\nSubj=Gr\xc3\xbc\xc3\x9f\x65\r\nAddrFrom=\r\nMailSrv=\r\nDelFiles=0\r\nSortFiles=1\r\n"
            "PauseSec=7\r\n");
  EXPECT_TRUE(boxes_.boxes.empty());
}

// The account goes back to the settings file as it came; values another user could have
// planted (the account, the token command) are reported at start, and are gone once the window
// has written the file.
TEST_F(MainFormTest, TheAccountIsKeptAndAPlantedCommandIsReported) {
  const std::string account = "Security=STARTTLS\r\nUser=ann\r\nAuthMethod=LOGIN\r\n";
  const struct {
    const char* name;
    mode_t mode;
    size_t boxes;
    bool kept;
  } cases[] = {{"a private file", 0600, 0, true}, {"a file the group may change", 0620, 1, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    form_.reset();
    boxes_.boxes.clear();
    WriteFile(Ini(), "[Param]\r\n" + account + "TokenCommand=oauth-token\r\n");
    ASSERT_EQ(::chmod(Ini().c_str(), c.mode), 0);
    Form();
    ASSERT_EQ(boxes_.boxes.size(), c.boxes);
    if (c.boxes) {
      EXPECT_NE(boxes_.boxes[0].text.find("TokenCommand"), std::string::npos) << boxes_.boxes[0].text;
    }
    Click("ExitB");
    const std::string written = ReadFile(Ini());
    EXPECT_EQ(written.find(account) != std::string::npos, c.kept) << written;
    EXPECT_EQ(written.find("TokenCommand=oauth-token") != std::string::npos, c.kept) << written;
  }
}

// The account comes from its dialog; without a secret service the batch asks for the password,
// and one not given ends the batch before it connects.
TEST_F(MainFormTest, AccountDialogAndThePasswordAskedForABatch) {
  Form().SetPasswordKeeper(std::make_unique<NoSecretService>());
  WhenModal([](QWidget* dialog) {
    dialog->findChild<QLineEdit*>("UserE")->setText("ann");
    dialog->findChild<QComboBox*>("SecurityCB")->setCurrentText("TLS");
    static_cast<QDialog*>(dialog)->accept();
  });
  Click("AccountB");
  const SmtpCapture& server = StartServer();
  ChooseFiles(1);
  std::string asked;
  WhenModal([&asked](QWidget* dialog) {
    auto* input = qobject_cast<QInputDialog*>(dialog);
    ASSERT_NE(input, nullptr);
    asked = input->labelText().toStdString();
    input->reject();
  });
  Click("SendB");
  const std::string key = "ann@127.0.0.1:" + std::to_string(server.Port());
  EXPECT_EQ(asked, "Password for " + key + ":");
  ASSERT_EQ(boxes_.boxes.size(), 1u);
  EXPECT_NE(boxes_.boxes[0].text.find("No password given for " + key), std::string::npos) << boxes_.boxes[0].text;
  EXPECT_EQ(server.Count(), 0);
  Click("ExitB");
  EXPECT_NE(ReadFile(Ini()).find("Security=TLS\r\nUser=ann\r\n"), std::string::npos) << ReadFile(Ini());
}

// An account of the built-in sign-in that is not signed in is asked to before a batch; No
// sends nothing.
TEST_F(MainFormTest, ABatchOfAnAccountNotSignedInAsksFirst) {
  WriteFile(Ini(), "[Param]\r\nUser=ann\r\nAuthMethod=OAUTHBEARER\r\nOAuthIssuer=http://127.0.0.1:9\r\n");
  ASSERT_EQ(::chmod(Ini().c_str(), 0600), 0);
  Form().SetPasswordKeeper(std::make_unique<NoSecretService>());
  const SmtpCapture& server = StartServer();
  ChooseFiles(1);
  boxes_.answer = TMsgAnswer::No;
  Click("SendB");
  ASSERT_EQ(boxes_.boxes.size(), 1u);
  EXPECT_EQ(boxes_.boxes[0].text, "You are not signed in to 127.0.0.1 as ann. Sign in now?");
  EXPECT_EQ(server.Count(), 0);
}

// The program can always be closed: the error names the file, the window goes all the same.
TEST_F(MainFormTest, ClosesWhenTheSettingsCannotBeWritten) {
  std::filesystem::remove(Ini());
  QDir().mkpath(QString::fromStdString(Ini()));  // a folder where the file should be
  Form().close();
  EXPECT_FALSE(Form().isVisible());
  // The window said so at its start too: a folder is no settings file.
  ASSERT_EQ(boxes_.boxes.size(), 2u);
  for (const auto& box : boxes_.boxes) {
    EXPECT_NE(box.text.find(Ini()), std::string::npos) << box.text;
    EXPECT_EQ(box.title, "Mailcart");
    EXPECT_EQ(box.icon, TMsgIcon::Error);
  }
}

TEST_F(MainFormTest, CancelWithoutABatchChangesNothing) {
  StartServer();
  Click("CancSendB");
  EXPECT_TRUE(Form().isVisible());
  EXPECT_TRUE(boxes_.boxes.empty());
  for (const char* label : {"SFileShowL", "StateL", "RemaindL"}) EXPECT_EQ(Text(label), "") << label;
  ChooseFiles(2);
  Click("SendB");
  EXPECT_EQ(server_->Count(), 2) << "the next batch is not cancelled";
}

// Send checks the form before a batch: an empty sender is named and nothing connects; a sender
// typed with its name is split on Yes, and the batch goes with the name as the sender's name.
TEST_F(MainFormTest, TheFormIsCheckedBeforeABatch) {
  const struct {
    const char* name;
    const char* from;
    const char* box;  // the start of the first box
    int sent;
    const char* fromAfter;
  } cases[] = {
      {"an empty sender", "", "The address of sender is required", 0, ""},
      {"a sender with its name", "Anna <me@example.com>", "E-Mail From: Anna <me@example.com> holds a name", 1,
       "me@example.com"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    boxes_.boxes.clear();
    StartServer();
    ChooseFiles(1);
    Control<QLineEdit>("EMailFromE")->setText(c.from);
    Click("SendB");
    ASSERT_FALSE(boxes_.boxes.empty());
    EXPECT_EQ(boxes_.boxes[0].text.rfind(c.box, 0), 0u) << boxes_.boxes[0].text;
    EXPECT_EQ(server_->Count(), c.sent);
    EXPECT_EQ(Control<QLineEdit>("EMailFromE")->text(), c.fromAfter);
  }
  EXPECT_NE(server_->Messages()[0].find("Anna <me@example.com>"), std::string::npos) << server_->Messages()[0];
  Click("ExitB");
  EXPECT_NE(ReadFile(Ini()).find("FromName=Anna\r\n"), std::string::npos) << "saved with the account";
}

// Send with no files chosen starts no batch: nothing connects, and nothing claims success.
TEST_F(MainFormTest, ACancelledDialogLeavesNoFilesChosen) {
  StartServer();
  QTcpServer listener;
  ASSERT_TRUE(listener.listen(QHostAddress::LocalHost));
  int connections = 0;
  QObject::connect(&listener, &QTcpServer::newConnection, [&] {
    while (QTcpSocket* socket = listener.nextPendingConnection()) {
      ++connections;
      socket->abort();  // so that a client that did connect fails at once instead of waiting
    }
  });
  Control<QLineEdit>("MailServerE")->setText(QString("127.0.0.1:%1").arg(listener.serverPort()));
  ChooseFiles(2);
  EXPECT_EQ(Form().OpenDialog1().Files().size(), 2u);
  Form().OpenDialog1().SetChooser([](QWidget*, const QString&) { return QStringList(); });
  Click("SelFilesB");
  EXPECT_TRUE(Form().OpenDialog1().Files().empty());
  Click("SendB");
  ProcessMessagesNow();
  EXPECT_EQ(connections, 0);
  ASSERT_EQ(boxes_.boxes.size(), 1u);
  EXPECT_EQ(boxes_.boxes[0].text, "No files selected.");
  EXPECT_EQ(boxes_.boxes[0].icon, TMsgIcon::Information);
  EXPECT_TRUE(Form().isVisible());
  EXPECT_TRUE(Control("SendB")->isEnabled());
}

TEST_F(MainFormTest, ABatchPaintsEveryTextAsItIsSet) {
  StartServer();
  const std::vector<std::string> files = ChooseFiles(3);
  SetPause(1);
  PaintRecorder recorder(&Form());
  bool sendEnabledDuringBatch = true;
  recorder.onPaint = [&](const std::string&) { sendEnabledDuringBatch &= Control("SendB")->isEnabled(); };
  Click("SendB");

  std::vector<std::string> expected;
  for (const std::string& f : files) {
    const std::vector<std::string> perFile{"StateL: In progress",
                                           "StateL: Sended",
                                           "SFileShowL: " + f,
                                           "StateL: File:" + f + " sended. WaitPause",
                                           "RemaindL: 1",
                                           "RemaindL: 0 sec.",
                                           "StateL: Sended and end WaitPause"};
    expected.insert(expected.end(), perFile.begin(), perFile.end());
  }
  EXPECT_EQ(recorder.painted, expected);
  EXPECT_FALSE(sendEnabledDuringBatch);
  EXPECT_TRUE(Control("SendB")->isEnabled());
  ASSERT_EQ(boxes_.boxes.size(), 1u);
  EXPECT_EQ(boxes_.boxes[0].text, "All Sended");
  EXPECT_EQ(boxes_.boxes[0].icon, TMsgIcon::Information);
  EXPECT_EQ(server_->Count(), 3);
}

// The Message dialog's copies and text go with the batch and into the settings file; a bad
// address keeps the dialog open.
TEST_F(MainFormTest, TheMessageDialogGivesCopiesAndAText) {
  SmtpCapture& server = StartServer();
  Control<QLineEdit>("AddrE")->setText("you@example.com, Ann <ann@example.com>");
  std::vector<std::string> refusals;
  WhenModal([&](QWidget* dialog) {
    dialog->findChild<QLineEdit*>("BccE")->setText("no address");
    static_cast<QDialog*>(dialog)->accept();
    refusals.push_back(boxes_.boxes.empty() ? "" : boxes_.boxes.back().text);
    dialog->findChild<QLineEdit*>("BccE")->setText("dave@example.com");
    dialog->findChild<QPlainTextEdit*>("BodyE")->setPlainText("Here is {name}.\nBye");
    static_cast<QDialog*>(dialog)->accept();
  });
  Click("MessageB");
  ASSERT_EQ(refusals.size(), 1u);
  EXPECT_NE(refusals[0].find("BCC: \"no address\" is not a mail address"), std::string::npos) << refusals[0];
  ChooseFiles(1);
  Click("SendB");
  ASSERT_EQ(server.Count(), 1);
  EXPECT_EQ(server.Envelopes()[0].rcptTos,
            (std::vector<std::string>{"you@example.com", "ann@example.com", "dave@example.com"}));
  EXPECT_NE(server.Messages()[0].find("\r\n\r\nHere is file1.txt.\r\nBye\r\n"), std::string::npos) << server.Messages()[0];
  Click("ExitB");
  EXPECT_NE(ReadFile(Ini()).find("\r\nBCC=dave@example.com\r\nBody=Here is {name}.\\nBye\r\n"), std::string::npos)
      << ReadFile(Ini());
}

// "Exit" and a close of the window both stop a batch after the message in progress; once the
// batch has ended, however it ended, and its box is closed, the window closes and the settings
// are saved.
TEST_F(MainFormTest, ExitOrCloseDuringABatch) {
  const auto exitB = [](TForm1& form) { form.findChild<QPushButton*>("ExitB")->click(); };
  const struct {
    const char* name;
    std::function<void(TForm1&)> act;
    double pause;
    const char* at;          // painted text at which the user acts
    bool secondFileMissing;  // the batch then ends with an error
    TMsgIcon icon;
  } cases[] = {
      {"Exit", exitB, 2, "RemaindL: 2", false, TMsgIcon::Information},
      {"the window is closed", [](TForm1& form) { form.close(); }, 2, "RemaindL: 2", false, TMsgIcon::Information},
      {"Exit before a send that fails", exitB, 0, "RemaindL: 0", true, TMsgIcon::Error},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    form_.reset();
    boxes_.boxes.clear();
    WriteFile(Ini(), "");
    StartServer();
    Control<QCheckBox>("DelSFCB")->setChecked(true);
    const std::vector<std::string> files = ChooseFiles(3);
    SetPause(c.pause);
    PaintRecorder recorder(&Form());
    bool acted = false;
    recorder.onPaint = [&](const std::string& painted) {
      if (acted || painted != c.at) return;
      acted = true;
      // Gone once the batch has checked its files: its send fails.
      if (c.secondFileMissing) std::filesystem::remove(files[1]);
      c.act(Form());
    };
    bool openWhileBoxShown = false;
    boxes_.onShow = [&](const RecordingMessageBoxes::Box&) { openWhileBoxShown = Form().isVisible(); };
    Click("SendB");
    EXPECT_TRUE(acted);
    ASSERT_EQ(boxes_.boxes.size(), 1u);
    EXPECT_EQ(boxes_.boxes[0].icon, c.icon);
    if (!c.secondFileMissing) {
      EXPECT_EQ(boxes_.boxes[0].text, "Sending Aborted!");
    } else {
      EXPECT_NE(boxes_.boxes[0].text.find(files[1]), std::string::npos) << boxes_.boxes[0].text;
    }
    EXPECT_TRUE(openWhileBoxShown) << "the window closes after the box";
    EXPECT_FALSE(Form().isVisible());
    EXPECT_EQ(server_->Count(), 1);
    EXPECT_FALSE(std::filesystem::exists(files[0]));
    EXPECT_TRUE(std::filesystem::exists(files[2]));
    EXPECT_NE(ReadFile(Ini()).find("DelFiles=1"), std::string::npos) << "settings saved";
    boxes_.onShow = nullptr;
  }
}

TEST_F(MainFormTest, AnErrorEndsTheBatchWithTheErrorBox) {
  // A refused server would be tried again for minutes: this is about the error that ends a batch.
  WriteFile(Ini(), "[Param]\r\nRetries=0\r\n");
  StartServer();
  QTcpServer closed;
  ASSERT_TRUE(closed.listen(QHostAddress::LocalHost));
  const QString closedServer = QString("127.0.0.1:%1").arg(closed.serverPort());
  closed.close();
  const struct {
    const char* name;
    bool refusedServer;
    int sent;
    int barSteps;  // what was really sent: a failed file's bytes count for nothing
  } cases[] = {{"a file removed after it was chosen", false, 0, 0}, {"a refused server", true, 0, 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    boxes_.boxes.clear();
    const int before = server_->Count();
    Control<QCheckBox>("DelSFCB")->setChecked(true);
    const std::vector<std::string> files = ChooseFiles(3);
    // Found before anything connects.
    if (!c.refusedServer) std::filesystem::remove(files[1]);
    if (c.refusedServer) Control<QLineEdit>("MailServerE")->setText(closedServer);
    Click("SendB");
    EXPECT_EQ(server_->Count() - before, c.sent);
    EXPECT_EQ(std::filesystem::exists(files[0]), c.sent == 0);
    EXPECT_TRUE(std::filesystem::exists(files[2]));
    ASSERT_EQ(boxes_.boxes.size(), 1u);
    EXPECT_EQ(boxes_.boxes[0].title, "Mailcart");
    EXPECT_EQ(boxes_.boxes[0].icon, TMsgIcon::Error);
    if (!c.refusedServer) {
      EXPECT_NE(boxes_.boxes[0].text.find(files[1]), std::string::npos) << boxes_.boxes[0].text;
    }
    EXPECT_TRUE(Form().isVisible());
    EXPECT_TRUE(Control("SendB")->isEnabled()) << "a new batch can be started";
    EXPECT_EQ(Control<QProgressBar>("BatchProgressPB")->value(), c.barSteps);
  }
}

TEST_F(MainFormTest, AboutBoxShowsNameAndVersion) {
  std::map<std::string, QString> seen;
  bool found = false;
  QTimer::singleShot(0, &Form(), [&] {
    QWidget* box = QApplication::activeModalWidget();
    if (box == nullptr) return;
    found = dynamic_cast<TAboutBox*>(box) != nullptr;
    seen["title"] = box->windowTitle();
    for (const char* name : {"ProductName", "Version", "CreditLine"})
      seen[name] = box->findChild<QLabel*>(name)->text();
    auto* icon = box->findChild<QLabel*>("ProgramIcon");
    seen["icon"] = icon && !icon->pixmap().isNull() ? "drawn" : "";
    box->findChild<QPushButton*>("OKButton")->click();
  });
  // Should the box not appear as the modal widget, a second timer closes whatever is open.
  QTimer::singleShot(5000, &Form(), [] {
    if (QWidget* box = QApplication::activeModalWidget()) box->close();
  });
  Click("AboutB");
  EXPECT_TRUE(found);
  EXPECT_EQ(seen["title"], "About");
  EXPECT_EQ(seen["ProductName"], "Mailcart");
  EXPECT_EQ(seen["Version"].toStdString(), std::string(MAILCART_VERSION) + " (" + FormatShortDate(ZeroDate()) + ")");
  EXPECT_FALSE(seen["CreditLine"].isEmpty());
  EXPECT_EQ(seen["icon"], "drawn");
}

}  // namespace
