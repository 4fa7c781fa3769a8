#include "app/window/mainf.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QFileInfo>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QTreeView>

#include <algorithm>
#include <ctime>

#include "app/batch/batchplan.h"
#include "app/batch/batchquestions.h"
#include "app/batch/connectiontest.h"
#include "app/batch/credentials.h"
#include "app/batch/failureadvice.h"
#include "app/batch/mailcomponents.h"
#include "app/batch/oauthsession.h"
#include "app/batch/passwordsource.h"
#include "app/batch/quotawindow.h"
#include "app/batch/recipients.h"
#include "app/batch/settings.h"
#include "app/batch/watchsession.h"
#include "app/icon/programicon.h"
#include "app/window/aboutf.h"
#include "app/window/elidedlabel.h"
#include "app/window/filelistview.h"
#include "app/window/formcheck.h"
#include "app/window/gradientcaption.h"
#include "app/window/messagedialog.h"
#include "app/window/numericedit.h"
#include "app/window/windowtext.h"
#include "net/smtpfailure.h"
#include "toolkit/foldertree.h"
#include "toolkit/msgbox.h"
#include "toolkit/pump.h"
#include "toolkit/regularfile.h"
#include "toolkit/strutils.h"

namespace {
constexpr char kNoFilesSelected[] = "No files selected.";
constexpr char kNotAdded[] = "Only files can be sent; these were not added:";
constexpr char kResumeOfferedAfter[] = "Stopped at the provider's limit: resume offered after ";
// More files than this from folders are added only when the user says so.
constexpr size_t kFolderFilesAsked = 1000;

// Why a dropped or named path is not taken; empty for a file that can be sent. Opening a FIFO
// would wait for a writer, a device would never end.
std::string WhyNotAFile(const std::string& path) {
  std::string why;
  struct stat st;
  const int fd = OpenRegularFile(path, why, st);
  if (fd >= 0) ::close(fd);
  return why;
}

std::string AbsolutePath(const std::string& path) { return Bytes(QFileInfo(Text(path)).absoluteFilePath()); }

// The files dropped or named, a folder standing for the files inside it (ExpandFolders); what
// cannot be sent goes to the problems.
TFolderFiles FilesOf(const std::vector<std::string>& paths, size_t maxFromFolders) {
  TFolderFiles expanded = ExpandFolders(paths, maxFromFolders);
  TFolderFiles taken{{}, std::move(expanded.problems), expanded.more};
  for (const std::string& path : expanded.files) {
    if (const std::string why = WhyNotAFile(path); !why.empty())
      taken.problems.push_back(ShownFileName(path) + ": " + why);
    else
      taken.files.push_back(AbsolutePath(path));
  }
  return taken;
}

}  // namespace

TForm1::TForm1(const std::string& programPath)
    : programPath_(programPath),
      version_(programPath),
      components_(std::make_unique<TMailComponents>()),
      runner_(std::make_unique<TBatchRunner>(components_->pxSMTP1, components_->pxMessage1,
                                             TBatchFrontEnd{*this, *this, *this}, ProgramTitle(version_))) {
  setObjectName("Form1");
  setWindowIcon(ProgramIcon());
  CreateControls(this);
  PlaceControls(this);
  connect(FileList->AddFolderAction(), &QAction::triggered, this, [this] { AddFolderClick(); });
  ConnectHandlers();
  FormCreate();
}

TForm1::~TForm1() = default;

void TForm1::ConnectHandlers() {
  connect(SelFilesB, &QPushButton::clicked, this, [this] { SelFilesBClick(); });
  connect(SendB, &QPushButton::clicked, this, [this] { SendBClick(); });
  connect(RemoveB, &QPushButton::clicked, this, [this] { FileList->RemoveSelected(); });
  connect(ClearB, &QPushButton::clicked, this, [this] { FileList->Clear(); });
  connect(RetryB, &QPushButton::clicked, this, [this] { RetryBClick(); });
  const QAbstractItemModel* files = FileList->View()->model();
  connect(files, &QAbstractItemModel::modelReset, this, [this] { EnableListButtons(); });
  connect(files, &QAbstractItemModel::rowsRemoved, this, [this] { EnableListButtons(); });
  connect(CancSendB, &QPushButton::clicked, this, [this] { CancSendBClick(); });
  connect(WatchB, &QPushButton::clicked, this, [this] { WatchBClick(); });
  connect(ExitB, &QPushButton::clicked, this, [this] { ExitBClick(); });
  connect(AboutB, &QPushButton::clicked, this, [this] { AboutBClick(); });
  connect(AccountB, &QPushButton::clicked, this, [this] { AccountBClick(); });
  connect(MessageB, &QPushButton::clicked, this, [this] { MessageBClick(); });
}

void TForm1::FormCreate() {
  iniFileName_ = SettingsFileName(programPath_);
  TSettings settings;
  try {
    settings = ReadSettings(iniFileName_);
  } catch (const std::exception& error) {
    ShowException(error);  // the window starts with the defaults
  }
  stored_ = settings;
  stored_.warnings.clear();
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
  openDialog1_.SetFolder(settings.lastFolder);
  EnableListButtons();
  for (const std::string& warning : settings.warnings) MessageBox(warning, ApplicationTitle(), TMsgIcon::Warning);
  setWindowTitle(Text(ProgramTitle(version_)));
  GradientCaption1->SetCaption(windowTitle());
}

// The program can always be closed: a settings file that cannot be written is reported, and
// the window closes all the same.
void TForm1::FormClose() {
  TSettings settings = stored_;
  settings.addr = Bytes(AddrE->text());
  settings.subj = Bytes(SubjE->text());
  settings.addrFrom = Bytes(EMailFromE->text());
  settings.mailSrv = Bytes(MailServerE->text());
  settings.delFiles = DelSFCB->isChecked();
  settings.sortFiles = SortFilesCB->isChecked();
  settings.pauseSec = PauseFromValue(TimeWaitE->Value());
  settings.account = account_;
  // The user goes with this server only: mailcart-send, given another, logs in as nobody.
  settings.userServer = account_.user.empty() ? std::string() : Bytes(MailServerE->text());
  settings.newConnectionPerMessage = newConnectionPerMessage_;
  settings.retries = retries_;
  settings.keepGoing = keepGoing_;
  settings.lastFolder = openDialog1_.Folder();
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
  if (watch_ != nullptr) watch_->Stop();
  FormClose();
  event->accept();
}

void TForm1::dragEnterEvent(QDragEnterEvent* event) {
  // The list of a running batch is the batch's own.
  if (Idle() && event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void TForm1::dropEvent(QDropEvent* event) {
  if (!Idle() || !event->mimeData()->hasUrls()) return;
  std::vector<std::string> paths;
  for (const QUrl& url : event->mimeData()->urls())
    paths.push_back(url.isLocalFile() ? Bytes(url.toLocalFile()) : Bytes(url.toDisplayString()));
  AddFiles(paths);
  event->acceptProposedAction();
}

void TForm1::AddFiles(const std::vector<std::string>& paths) {
  TFolderFiles chosen = FilesOf(paths, kFolderFilesAsked);
  if (chosen.more) {
    const std::string question =
        "More than " + std::to_string(kFolderFilesAsked) + " files would be added from folders. Add them all?";
    if (AskQuestion(question, false) != TMsgAnswer::Yes) return;
    chosen = FilesOf(paths, SIZE_MAX);
  }
  FileList->AddFiles(chosen.files);
  std::string refused;
  for (const std::string& problem : chosen.problems) refused += "\n" + problem;
  if (!refused.empty()) MessageBox(kNotAdded + refused, ApplicationTitle(), TMsgIcon::Warning);
}

void TForm1::AddFolderClick() {
  // The list of a running batch is the batch's own, as for a drop.
  if (!Idle() || !openDialog1_.ExecuteFolder(this)) return;
  AddFiles({openDialog1_.ChosenFolder()});
}

void TForm1::WatchBClick() {
  if (!Idle() || !FormReady() || !openDialog1_.ExecuteFolder(this)) return;
  resumeJournal_.reset();
  if (!signIn_->Offer(this, MailServer(), account_, TSignInOffer::UnlessSignedIn)) return;
  TWatchChoice choice;
  choice.folder.folder = WatchedFolderPath(openDialog1_.ChosenFolder());
  choice.folder.settle = SettleTime(stored_.settleSeconds);
  lastBatch_ = runner_->Status().Number();
  watchError_.clear();
  try {
    watch_ =
        new TWindowWatch(this, std::move(choice), Request(), *runner_, *FileList,
                         {[this](const std::string& text) { SetLabel(TBatchLabel::StateL, text); },
                          [this](std::optional<TBatchEnd> end, const std::string& error) { WatchEnded(end, error); }});
  } catch (const std::exception& error) {
    ShowException(error);
    return;
  }
  for (QPushButton* button : {SendB, RemoveB, ClearB, RetryB, WatchB}) button->setEnabled(false);
}

void TForm1::WatchEnded(std::optional<TBatchEnd> end, const std::string& error) {
  watch_->deleteLater();
  watch_ = nullptr;
  watchPassword_ = {};
  SendB->setEnabled(true);
  WatchB->setEnabled(true);
  EnableListButtons();
  // A server that could not be reached told of in the state line only, until it ended the watch.
  const std::string unreached = std::exchange(watchError_, {});
  const std::string shown = !error.empty() ? error : end == TBatchEnd::Failed ? unreached : std::string();
  if (!shown.empty()) MessageBox(shown, ApplicationTitle(), TMsgIcon::Error);
}

void TForm1::CancSendBClick() {
  runner_->RequestCancel();
  if (watch_ != nullptr) watch_->Stop();
}

void TForm1::SelFilesBClick() {
  openDialog1_.Execute(this);
  // The list of a running batch is the batch's own: a new choice shows once the batch has ended.
  if (runner_->SendingActive())
    chosenDuringBatch_ = true;
  else
    FileList->SetFiles(openDialog1_.Files());
}

void TForm1::SendBClick() {
  // A batch without files would connect for nothing and then report them all sent.
  if (FileList->Empty()) {
    ::ShowInformation(kNoFilesSelected);
    return;
  }
  if (FormReady()) RunBatch();
}

bool TForm1::FormReady() {
  const TFormCheck check = CheckForm({MailServer(), Bytes(EMailFromE->text()), Bytes(AddrE->text())});
  if (check.problems.empty()) return true;
  if (!check.namedSender) {
    MessageBox(FormCheckText(check), ApplicationTitle(), TMsgIcon::Warning);
    return false;
  }
  if (AskQuestion(FormCheckText(check), false) != TMsgAnswer::Yes) return false;
  // The name goes where the Account dialog keeps it, and is saved with the account.
  EMailFromE->setText(Text(check.namedSender->address));
  account_.fromName = check.namedSender->name;
  return check.problems.size() == 1;
}

// The failed files of the last batch become the chosen ones, and go again.
void TForm1::RetryBClick() {
  std::vector<std::string> failed;
  for (const TBatchFile& file : runner_->Status().Files())
    if (file.state == TFileState::Failed) failed.push_back(file.path);
  if (failed.empty() || !FormReady()) return;
  FileList->SetFiles(failed);
  RunBatch();
}

void TForm1::OfferResume() {
  if (!Idle()) return;
  const std::vector<TJournal> journals = ReadJournals(DefaultJournalFolder());
  std::string why;
  const std::optional<TJournal> journal = NewestResumable(journals, why);
  if (!journal) return;
  const size_t unsent = UnsentFiles(*journal, journals).size();
  if (unsent == 0) return;
  if (int64_t resets = 0; !resumeTimer_.DueNow(*journal, resets)) {
    SetLabel(TBatchLabel::StateL, kResumeOfferedAfter + ResetTimeText(resets, std::time(nullptr)));
    return;
  }
  if (AskQuestion(ResumeQuestion(*journal, unsent), false) != TMsgAnswer::Yes) {
    try {
      TJournalWriter(journal->fileName).End(TJournalEnd::Declined);
    } catch (const std::exception& error) {
      ShowException(error);
    }
    return;
  }
  // The rest goes where the batch sent the rest, whatever the fields say; they stay as typed.
  resumeJournal_ = *journal;
  RunBatch();
}

TBatchQuestions::TSentBeforeChoice TForm1::SentBefore(const std::vector<TSentBefore>& files) {
  switch (AskQuestion(SentBeforeQuestion(files, RecipientsText({runner_->Request().to, runner_->Request().cc, runner_->Request().bcc})), true)) {
    case TMsgAnswer::Yes: return TSentBeforeChoice::SendAgain;
    case TMsgAnswer::No: return TSentBeforeChoice::Skip;
    case TMsgAnswer::Cancel: break;
  }
  return TSentBeforeChoice::Cancel;
}

void TForm1::RunBatch() {
  // The one SMTP client never serves two batches, and the list of a running one is its own.
  if (!Idle()) return;
  const std::string server = resumeJournal_ ? resumeJournal_->head.server : MailServer();
  if (!signIn_->Offer(this, server, account_, TSignInOffer::UnlessSignedIn)) {
    resumeJournal_.reset();  // the next Send sends the fields
    return;
  }
  // Nothing of the last batch stays on show while this one asks its questions and connects.
  FileList->SetFiles(FileList->Paths());
  SetLabel(TBatchLabel::SFileShowL, "");
  SetLabel(TBatchLabel::RemaindL, "");
  for (QPushButton* button : {SendB, RemoveB, ClearB, RetryB}) button->setEnabled(false);
  lastBatch_ = runner_->Status().Number();
  const TBatchEnd end = runner_->Run(Request());
  resumeJournal_.reset();
  // A batch that ended before its files (a question answered Cancel, no password) leaves the
  // chosen files as they were.
  const bool started = runner_->Status().Number() != lastBatch_;
  if (started) FileList->ShowEnd(runner_->Status());
  if (chosenDuringBatch_) FileList->SetFiles(openDialog1_.Files());
  chosenDuringBatch_ = false;
  SendB->setEnabled(true);
  EnableListButtons();
  // The server no longer honours the sign-in: the user need not look for where to renew it.
  if (std::exchange(signInRefused_, false)) signIn_->Offer(this, server, account_, TSignInOffer::Again);
  if (started) OfferResendUncertain();
  if (end == TBatchEnd::QuotaReached) OfferResume();
}

// A message the server may hold goes again only when the user says so.
void TForm1::OfferResendUncertain() {
  std::vector<std::string> uncertain;
  for (const TBatchFile& file : runner_->Status().Files())
    if (file.state == TFileState::Uncertain) uncertain.push_back(file.path);
  if (uncertain.empty() || AskQuestion(UncertainQuestion(uncertain.size()), false) != TMsgAnswer::Yes) return;
  FileList->SetFiles(uncertain);
  RunBatch();
}

void TForm1::EnableListButtons() {
  const bool idle = Idle();
  RemoveB->setEnabled(idle && !FileList->Empty());
  ClearB->setEnabled(idle && !FileList->Empty());
  const auto& last = runner_->Status();
  RetryB->setEnabled(idle && last.Count(TFileState::Failed) > 0);
}

void TForm1::ExitBClick() {
  if (runner_->RequestExit()) close();
}

void TForm1::AboutBClick() {
  TAboutBox box(nullptr, programPath_);
  box.exec();
}

void TForm1::AccountBClick() {
  const int port = components_->pxSMTP1.DefaultPort();
  // The test logs in as a batch would: with the password typed, else the one a batch would use.
  const auto test = [this, port](const std::string& server, const TAccount& account, const TSecret& typed) {
    const bool needed = typed.Empty() && LogsInWithPassword(account);
    const TSecret password = needed ? PasswordFor(AccountKey(account.user, server, port)) : TSecret();
    return TestConnection(server, account, needed ? password : typed, *this, signIn_->For(server, account));
  };
  TAccountDialog dialog(this, account_, MailServer(), port, *keeper_, test, signIn_.get());
  dialog.OfferFindSettings(Bytes(EMailFromE->text()));
  if (dialog.exec() != QDialog::Accepted) return;
  MailServerE->setText(Text(dialog.Server()));
  account_ = dialog.Account();
  if (TSecret typed = dialog.TakeTypedPassword(); !typed.Empty()) {
    typedKey_ = AccountKey(account_.user, MailServer(), port);
    typedPassword_ = std::move(typed);
  }
}

void TForm1::MessageBClick() {
  TMessageDialog dialog(this, {stored_.cc, stored_.bcc, stored_.body});
  if (dialog.exec() != QDialog::Accepted) return;
  const TMessageParts parts = dialog.Parts();
  stored_.cc = parts.cc;
  stored_.bcc = parts.bcc;
  stored_.body = parts.body;
}

std::string TForm1::AccountKeyOfServer() {
  return AccountKey(account_.user, runner_->Request().server, components_->pxSMTP1.DefaultPort());
}

TSecret TForm1::Password() {
  if (watch_ == nullptr) return PasswordFor(AccountKeyOfServer());
  // A watch asks once for all its batches.
  if (watchPassword_.Empty()) watchPassword_ = PasswordFor(AccountKeyOfServer());
  return TSecret(std::string(watchPassword_.View()));
}

// The password typed in the Account dialog for this run, the remembered one, or the one the
// user types now; the batch wipes its copy when it ends.
TSecret TForm1::PasswordFor(const std::string& key) {
  if (!typedPassword_.Empty() && key == typedKey_) return TSecret(std::string(typedPassword_.View()));
  try {
    if (std::optional<TSecret> remembered = keeper_->Read(key)) return std::move(*remembered);
  } catch (const ENoSecretService&) {
    // Asked for below, for this batch only.
  }
  bool ok = false;
  const QString text =
      QInputDialog::getText(this, windowTitle(), Text("Password for " + key + ":"), QLineEdit::Password, {}, &ok);
  if (!ok || text.isEmpty()) throw EPasswordError("No password given for " + key);
  return SecretFromText(text);
}

std::string TForm1::MailServer() const { return Bytes(MailServerE->text()); }

TBatchRequest TForm1::Request() {
  TBatchRequest r;
  r.server = MailServer();
  r.from = Bytes(EMailFromE->text());
  r.to = Bytes(AddrE->text());
  r.subject = Bytes(SubjE->text());
  r.pauseSeconds = TimeWaitE->Value();
  r.deleteSentFiles = DelSFCB->isChecked();
  r.sortFiles = SortFilesCB->isChecked();
  ApplySettingsLimits(r, stored_);
  r.retries = retries_;
  if (!retryDelays_.empty()) r.retryDelays = retryDelays_;
  r.keepGoing = keepGoing_;
  r.journalFolder = DefaultJournalFolder();
  r.journalDays = stored_.journalDays;
  r.cc = stored_.cc;
  r.bcc = stored_.bcc;
  r.body = stored_.body;
  r.account = account_;
  r.files = FileList->Paths();
  if (resumeJournal_) {
    r.resumeJournal = resumeJournal_->fileName;
    r.server = resumeJournal_->head.server;
    r.from = resumeJournal_->head.from;
    r.to = resumeJournal_->head.to;
    r.cc = resumeJournal_->head.cc;
    r.bcc = resumeJournal_->head.bcc;
    r.body = resumeJournal_->head.body;
    r.subject = resumeJournal_->head.subject;
  }
  r.signIn = signIn_->For(r.server, r.account);
  return r;
}

void TForm1::SetLabel(TBatchLabel which, const std::string& text) {
  TElidedLabel* label = which == TBatchLabel::SFileShowL ? SFileShowL
                        : which == TBatchLabel::StateL   ? StateL
                                                         : RemaindL;
  const QString value = Text(text);
  // Progress comes after every block of a send: an unchanged text costs no paint.
  if (label->text() == value) return;
  label->SetFullText(value);
  label->repaint();
}

// A watch's batch ends without a box: nobody need be there to close it.
void TForm1::ShowInformation(const std::string& text) {
  if (watch_ != nullptr)
    SetLabel(TBatchLabel::StateL, text);
  else
    ::ShowInformation(text);
}
void TForm1::StatusChanged(const TBatchStatus& status, int index) {
  if (watch_ != nullptr && watch_->InBatch())
    watch_->BatchChanged(status, index);
  else if (status.Number() != lastBatch_)
    FileList->ShowStatus(status, index);
}
void TForm1::ShowError(const std::exception& error) {
  signInRefused_ = dynamic_cast<const ESignInNeeded*>(&error) != nullptr;
  const std::string text = StandardErrorText(AdvisedText(error));
  // A server gone away is waited for, the files in the list: its box comes if it ends the watch.
  if (watch_ != nullptr && ClassifyFailure(error).unreachable) {
    watchError_ = text;
    SetLabel(TBatchLabel::StateL, text);
    return;
  }
  watchError_.clear();
  MessageBox(text, ApplicationTitle(), TMsgIcon::Error);
}
void TForm1::ProcessMessages() { ProcessMessagesNow(); }
void TForm1::CloseApplication() { close(); }
