// The main window: the fields of a batch (server, sender, recipient, subject, pause, two
// options), the buttons that run and stop it, and three labels that show its state; below them
// the list of the chosen files with each one's state. What was typed is kept in the settings
// file between runs.
#pragma once

#include <QWidget>

#include <memory>
#include <optional>
#include <string>

#include "app/batch/batchquestions.h"
#include "app/batch/batchrunner.h"
#include "app/batch/settings.h"
#include "app/window/accountdialog.h"
#include "app/window/mainlayout.h"
#include "app/window/opendialog.h"
#include "app/window/resumetimer.h"
#include "app/window/windowsignin.h"
#include "app/window/windowwatch.h"
#include "toolkit/msgbox.h"
#include "toolkit/version.h"

struct TMailComponents;

class TForm1 : public QWidget,
               protected TMainControls,
               private TBatchView,
               private TBatchQuestions,
               private TBatchHost {
 public:
  // programPath names the settings file and the version record; the running program's own
  // path unless a test gives another.
  explicit TForm1(const std::string& programPath = ExecutablePath());
  ~TForm1() override;

  TOpenDialog& OpenDialog1() { return openDialog1_; }
  // Adds these files to the list (dropped, chosen, or named on the command line), a folder's
  // files in their place: every regular file below it in path order, hidden ones and links left
  // out. More than 1,000 of those are added only after a question (No adds nothing). What is no
  // file, and what of a folder cannot be read, is refused with a message that names it. Nothing
  // is sent before Send.
  void AddFiles(const std::vector<std::string>& paths);
  // The secret service unless a test gives a double.
  void SetPasswordKeeper(std::unique_ptr<TPasswordKeeper> keeper) {
    keeper_ = std::move(keeper);
    signIn_->SetKeeper(*keeper_);
  }
  // Seconds before each retry of a send that may pass (the last one repeats); the batch's own
  // unless set.
  void SetRetryDelays(std::vector<double> seconds) { retryDelays_ = std::move(seconds); }
  // The clock of the batches' pauses and count-downs; the real one unless a test gives another.
  void SetBatchClock(TBatchClock& clock) { runner_->SetClock(clock); }
  // When the newest batch of the journals may be resumed (cancelled, cut short, ended by an error
  // after files went) and has files no server took since, asks whether to resume it, saying how
  // it ended: Yes sends them to where the batch sent the rest, without touching the fields; No
  // marks it declined, so the question does not come back. One stopped at a provider's daily
  // limit is asked about once the limit is expected to reset (the state line says when).
  void OfferResume();

 protected:
  // Closing while a batch runs acts like "Exit": the batch stops after the send in progress
  // and closes the window then. A close is never refused otherwise.
  void closeEvent(QCloseEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  void ConnectHandlers();
  void FormCreate();
  void FormClose();
  void SelFilesBClick();
  // The folder chosen is added like a dropped one.
  void AddFolderClick();
  // A folder chosen is watched with the form's settings: every file that comes into it (and
  // those there already, not sent before) goes as a batch runs, until "Cancel sending".
  void WatchBClick();
  void WatchEnded(std::optional<TBatchEnd> end, const std::string& error);
  void CancSendBClick();
  // No batch runs and no folder is watched.
  bool Idle() const { return !runner_->SendingActive() && watch_ == nullptr; }
  void SendBClick();
  // The form's problems in one box, before anything of a batch happens; a sender typed with its
  // name is split on Yes. True when the batch may start.
  bool FormReady();
  void RetryBClick();
  void RunBatch();
  void EnableListButtons();
  void ExitBClick();
  void AboutBClick();
  void AccountBClick();
  void MessageBClick();
  // Of the running batch's server while one runs (the password is asked for it).
  std::string AccountKeyOfServer();
  std::string MailServer() const;
  void OfferResendUncertain();
  // Yes sends them again, No leaves them out, Cancel sends nothing.
  TSentBeforeChoice SentBefore(const std::vector<TSentBefore>& files) override;
  // Yes sends the others, No sends nothing.
  TTooLargeChoice TooLarge(const std::vector<TTooLarge>& files, uint64_t limit) override {
    return AskQuestion(TooLargeQuestion(files, limit), false) == TMsgAnswer::Yes ? TTooLargeChoice::SendOthers
                                                                                 : TTooLargeChoice::Cancel;
  }

  // What the next batch sends: the fields as they are now, or the batch to resume.
  TBatchRequest Request();
  // TBatchView, TBatchQuestions, TBatchHost
  TSecret Password() override;
  TSecret PasswordFor(const std::string& key);
  void SetLabel(TBatchLabel label, const std::string& text) override;
  void ShowInformation(const std::string& text) override;
  void StatusChanged(const TBatchStatus& status, int index) override;
  void ShowError(const std::exception& error) override;
  void ProcessMessages() override;
  void CloseApplication() override;

  const std::string programPath_;
  const TVersionInfo version_;  // read once: valid for the life of the window
  std::string iniFileName_;
  std::unique_ptr<TMailComponents> components_;
  TOpenDialog openDialog1_;
  std::unique_ptr<TBatchRunner> runner_;
  std::unique_ptr<TPasswordKeeper> keeper_ = std::make_unique<TSecretServiceKeeper>();
  // The built-in sign-ins of this window, whose tokens the batches and the connection test use.
  std::unique_ptr<TWindowSignIn> signIn_ = std::make_unique<TWindowSignIn>(*keeper_);
  bool signInRefused_ = false;  // the running batch ended with ESignInNeeded
  TAccount account_;
  // A password typed in the Account dialog and not remembered, and its entry's key: for this
  // run of the window only, never written anywhere.
  std::string typedKey_;
  TSecret typedPassword_;
  // The settings as read: the keys the window has no field for go back to the file as they were.
  TSettings stored_;
  bool newConnectionPerMessage_ = false;  // from the settings file only
  int retries_ = TSettings{}.retries;     // from the settings file only
  bool keepGoing_ = false;                // from the settings file only
  std::vector<double> retryDelays_;
  bool chosenDuringBatch_ = false;
  std::optional<TJournal> resumeJournal_;  // for the next batch only
  TResumeTimer resumeTimer_{[this] { return !Idle(); }, [this] { OfferResume(); }};
  uint64_t lastBatch_ = 0;                 // the number of the batch before the running one
  TWindowWatch* watch_ = nullptr;          // the folder watched, a child of the window
  // Of the watch: the password its batches log in with, asked once; the error of a server that
  // could not be reached, in the state line while the watch waits for the server, in a box
  // when it ends the watch.
  TSecret watchPassword_;
  std::string watchError_;
};
