#include "app/mainf.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>

#include <algorithm>

#include "app/aboutf.h"
#include "app/credentials.h"
#include "app/passwordsource.h"
#include "app/designscale.h"
#include "app/gradientcaption.h"
#include "app/mailcomponents.h"
#include "app/numericedit.h"
#include "app/programicon.h"
#include "app/settings.h"
#include "toolkit/msgbox.h"
#include "toolkit/pump.h"

namespace {
constexpr char kNoFilesSelected[] = "No files selected.";

std::string Bytes(const QString& text) { return text.toLocal8Bit().toStdString(); }
QString Text(const std::string& bytes) { return QString::fromLocal8Bit(bytes); }

template <typename T>
T* Make(QWidget* parent, const char* name, const QString& caption = {}) {
  auto* widget = new T(parent);
  widget->setObjectName(name);
  if constexpr (std::is_same_v<T, QLabel>) widget->setTextFormat(Qt::PlainText);
  if constexpr (requires { widget->setText(caption); }) widget->setText(caption);
  return widget;
}

// The account belongs to the server: its button stands on the row of the server's caption,
// at the right end of the server's field, in the space the design leaves above that field.
void PlaceAccountButton(QPushButton* button, const QLineEdit* field, int top) {
  const QSize hint = button->sizeHint();
  const int height = std::min(hint.height(), field->y() - top - 2);
  button->setGeometry(field->geometry().right() + 1 - hint.width(), field->y() - 1 - height, hint.width(), height);
}

// Lays controls out at their design places, moving each down below the one placed before it
// in its column when the font has made that one taller.
class TColumn {
 public:
  TColumn(const TDesignScale& scale, int offset) : s_(scale), offset_(offset), bottom_(offset) {}
  // width 0: the control's own width.
  void Place(QWidget* widget, int left, int top, int width = 0, int height = 0) {
    const QSize hint = widget->sizeHint();
    const QRect r(s_(left), std::max(offset_ + s_(top), bottom_), std::max(s_(width), hint.width()),
                  std::max(s_(height), hint.height()));
    widget->setGeometry(r);
    bottom_ = r.bottom() + 1;
  }
  int Bottom() const { return bottom_; }

 private:
  const TDesignScale& s_;
  const int offset_;
  int bottom_;
};
}  // namespace

TForm1::TForm1(const std::string& programPath)
    : programPath_(programPath),
      version_(programPath),
      components_(std::make_unique<TMailComponents>()),
      runner_(std::make_unique<TBatchRunner>(components_->pxSMTP1, components_->pxMessage1,
                                             static_cast<TBatchFrontEnd&>(*this),
                                             ProgramTitle(version_))) {
  setObjectName("Form1");
  setWindowIcon(ProgramIcon());
  CreateControls();
  PlaceControls();
  SetTabOrder();
  ConnectHandlers();
  FormCreate();
}

TForm1::~TForm1() = default;

void TForm1::CreateControls() {
  GradientCaption1 = Make<TGradientCaption>(this, "GradientCaption1");
  Label8 = Make<QLabel>(this, "Label8", "MailServer:");
  MailServerE = Make<QLineEdit>(this, "MailServerE");
  AccountB = Make<QPushButton>(this, "AccountB", "Account\u2026");  Label9 = Make<QLabel>(this, "Label9", "E-Mail From:");
  EMailFromE = Make<QLineEdit>(this, "EMailFromE");
  Label1 = Make<QLabel>(this, "Label1", "E-Mail To:");
  AddrE = Make<QLineEdit>(this, "AddrE");
  Label2 = Make<QLabel>(this, "Label2", "Subj:");
  SubjE = Make<QLineEdit>(this, "SubjE");
  Label5 = Make<QLabel>(this, "Label5", "Pause between");
  Label7 = Make<QLabel>(this, "Label7", "sending messages:");
  TimeWaitE = Make<TNumericEdit>(this, "TimeWaitE");
  DelSFCB = Make<QCheckBox>(this, "DelSFCB", "Delete Sended Files?");
  SortFilesCB = Make<QCheckBox>(this, "SortFilesCB", "Sort Files?");
  SelFilesB = Make<QPushButton>(this, "SelFilesB", "SelectFiles");
  SendB = Make<QPushButton>(this, "SendB", "Send");
  CancSendB = Make<QPushButton>(this, "CancSendB", "Cancel sending");
  AboutB = Make<QPushButton>(this, "AboutB", "About");
  ExitB = Make<QPushButton>(this, "ExitB", "Exit");
  Label3 = Make<QLabel>(this, "Label3", "Sended:");
  SFileShowL = Make<QLabel>(this, "SFileShowL");
  Label4 = Make<QLabel>(this, "Label4", "State:");
  StateL = Make<QLabel>(this, "StateL");
  Label6 = Make<QLabel>(this, "Label6", "Remaind:");
  RemaindL = Make<QLabel>(this, "RemaindL");
}

void TForm1::PlaceControls() {
  const TDesignScale s(font());
  // The caption strip stands where the title bar stood; the design places are below it.
  GradientCaption1->setGeometry(0, 0, 0, GradientCaption1->sizeHint().height());
  const int top = GradientCaption1->height();
  TColumn left(s, top), right(s, top);
  left.Place(Label8, 16, 8);
  left.Place(MailServerE, 48, 24, 265, 21);
  PlaceAccountButton(AccountB, MailServerE, top);
  left.Place(Label9, 16, 48);
  left.Place(EMailFromE, 48, 64, 265, 21);
  left.Place(Label1, 16, 88);
  left.Place(AddrE, 48, 104, 265, 21);
  left.Place(Label2, 16, 128);
  left.Place(SubjE, 48, 144, 265, 21);
  right.Place(Label5, 336, 8);
  right.Place(Label7, 336, 20);
  right.Place(TimeWaitE, 336, 34, 81, 18);
  right.Place(DelSFCB, 336, 53, 137, 17);
  right.Place(SortFilesCB, 336, 67, 97, 17);
  int buttonTop = 86;
  for (QPushButton* button : {SelFilesB, SendB, CancSendB, AboutB, ExitB}) {
    right.Place(button, 392, buttonTop, 89, 25);
    buttonTop += 24;
  }
  // The three state lines: caption, then its value after it up to the button column.
  int designTop = 168;
  for (auto [caption, value] : {std::pair{Label3, SFileShowL}, {Label4, StateL}, {Label6, RemaindL}}) {
    left.Place(caption, 16, designTop);
    const int x = std::max(s(69), caption->geometry().right() + 1 + s(4));
    value->setGeometry(x, caption->y(), SelFilesB->x() - s(8) - x, caption->height());
    designTop += 16;
  }
  const int width = std::max(s(490), ExitB->geometry().right() + 1 + s(9));
  const int height = std::max({s(217) + top, left.Bottom() + s(4), right.Bottom() + s(10)});
  GradientCaption1->setGeometry(0, 0, width, top);
  setFixedSize(width, height);
  if (const QScreen* screen = QGuiApplication::primaryScreen())
    move(screen->availableGeometry().center() - rect().center());
}

void TForm1::SetTabOrder() {
  QWidget* order[] = {MailServerE, AccountB, EMailFromE, AddrE,  SubjE,       TimeWaitE, DelSFCB,
                      SelFilesB,   SendB,      CancSendB, SortFilesCB, AboutB,    ExitB};
  for (size_t i = 0; i + 1 < std::size(order); ++i) setTabOrder(order[i], order[i + 1]);
  for (QLabel* label : findChildren<QLabel*>()) label->setFocusPolicy(Qt::NoFocus);
}

void TForm1::ConnectHandlers() {
  connect(SelFilesB, &QPushButton::clicked, this, [this] { openDialog1_.Execute(this); });
  connect(SendB, &QPushButton::clicked, this, [this] { SendBClick(); });
  connect(CancSendB, &QPushButton::clicked, this, [this] { runner_->RequestCancel(); });
  connect(ExitB, &QPushButton::clicked, this, [this] { ExitBClick(); });
  connect(AboutB, &QPushButton::clicked, this, [this] { AboutBClick(); });
  connect(AccountB, &QPushButton::clicked, this, [this] { AccountBClick(); });
}

void TForm1::FormCreate() {
  iniFileName_ = SettingsFileName(programPath_);
  const TSettings settings = ReadSettings(iniFileName_);
  AddrE->setText(Text(settings.addr));
  SubjE->setText(Text(settings.subj));
  MailServerE->setText(Text(settings.mailSrv));
  EMailFromE->setText(Text(settings.addrFrom));
  DelSFCB->setChecked(settings.delFiles);
  SortFilesCB->setChecked(settings.sortFiles);
  TimeWaitE->SetValue(settings.pauseSec);
  account_ = settings.account;
  newConnectionPerMessage_ = settings.newConnectionPerMessage;
  retries_ = settings.retries;
  keepGoing_ = settings.keepGoing;
  for (const std::string& warning : settings.warnings) MessageBox(warning, ApplicationTitle(), TMsgIcon::Warning);
  setWindowTitle(Text(ProgramTitle(version_)));
  GradientCaption1->SetCaption(windowTitle());
}

// The program can always be closed: a settings file that cannot be written is reported, and
// the window closes all the same.
void TForm1::FormClose() {
  TSettings settings;
  settings.addr = Bytes(AddrE->text());
  settings.subj = Bytes(SubjE->text());
  settings.addrFrom = Bytes(EMailFromE->text());
  settings.mailSrv = Bytes(MailServerE->text());
  settings.delFiles = DelSFCB->isChecked();
  settings.sortFiles = SortFilesCB->isChecked();
  settings.pauseSec = PauseFromValue(TimeWaitE->Value());
  settings.account = account_;
  settings.newConnectionPerMessage = newConnectionPerMessage_;
  settings.retries = retries_;
  settings.keepGoing = keepGoing_;
  try {
    WriteSettings(iniFileName_, settings);
  } catch (const std::exception& error) {
    ShowException(error);
  }
}

void TForm1::closeEvent(QCloseEvent* event) {
  if (!runner_->RequestExit()) {
    event->ignore();
    return;
  }
  FormClose();
  event->accept();
}

void TForm1::SendBClick() {
  // A batch without files would connect for nothing and then report them all sent.
  if (openDialog1_.Files().empty()) {
    ::ShowInformation(kNoFilesSelected);
    return;
  }
  SendB->setEnabled(false);
  runner_->Run();
  SendB->setEnabled(true);
}

void TForm1::ExitBClick() {
  if (runner_->RequestExit()) close();
}

void TForm1::AboutBClick() {
  TAboutBox box(nullptr, programPath_);
  box.exec();
}

void TForm1::AccountBClick() {
  TAccountDialog dialog(this, account_, MailServer(), components_->pxSMTP1.DefaultPort(), *keeper_);
  if (dialog.exec() == QDialog::Accepted) account_ = dialog.Account();
}

std::string TForm1::AccountKeyOfServer() {
  return AccountKey(account_.user, MailServer(), components_->pxSMTP1.DefaultPort());
}

TAccount TForm1::Account() { return account_; }

// The remembered password, or the one the user types now; the batch wipes it when it ends.
TSecret TForm1::Password() {
  const std::string key = AccountKeyOfServer();
  try {
    if (std::optional<TSecret> remembered = keeper_->Read(key)) return std::move(*remembered);
  } catch (const ENoSecretService&) {
    // Asked for below, for this batch only.
  }
  bool ok = false;
  const QString text = QInputDialog::getText(this, windowTitle(), Text("Password for " + key + ":"),
                                             QLineEdit::Password, {}, &ok);
  if (!ok || text.isEmpty()) throw EPasswordError("No password given for " + key);
  return SecretFromText(text);
}

std::string TForm1::MailServer() { return Bytes(MailServerE->text()); }
std::string TForm1::MailFrom() { return Bytes(EMailFromE->text()); }
std::string TForm1::MailTo() { return Bytes(AddrE->text()); }
std::string TForm1::Subject() { return Bytes(SubjE->text()); }
double TForm1::PauseSeconds() { return TimeWaitE->Value(); }
bool TForm1::DeleteSentFiles() { return DelSFCB->isChecked(); }
bool TForm1::SortFiles() { return SortFilesCB->isChecked(); }
std::vector<std::string> TForm1::ChosenFiles() { return openDialog1_.Files(); }

void TForm1::SetLabel(TBatchLabel which, const std::string& text) {
  QLabel* label = which == TBatchLabel::SFileShowL ? SFileShowL : which == TBatchLabel::StateL ? StateL : RemaindL;
  const QString value = Text(text);
  // Progress comes after every block of a send: an unchanged text costs no paint.
  if (label->text() == value) return;
  label->setText(value);
  label->repaint();
}

void TForm1::ShowInformation(const std::string& text) { ::ShowInformation(text); }
void TForm1::ShowError(const std::exception& error) { ShowException(error); }
void TForm1::ProcessMessages() { ProcessMessagesNow(); }
void TForm1::CloseApplication() { close(); }
