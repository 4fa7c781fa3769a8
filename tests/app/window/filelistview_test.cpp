// The window's file list under Qt's offscreen platform: the states it shows through batches
// against a real SMTP server (aiosmtpd), the batch's progress in bytes, files dropped onto the
// window, removal and clearing, the form that grows across with the window, and
// long paths in the labels.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <QAction>
#include <QApplication>
#include <QDropEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTextDocument>
#include <QTreeView>
#include <QUrl>

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "app/batch/batchjournal.h"
#include "app/window/filelistview.h"
#include "app/window/mainf.h"
#include "app/window/mainform_fixture.h"
#include "app/window/numericedit.h"
#include "support/files.h"
#include "support/recording_msgbox.h"
#include "support/smtp_capture.h"
#include "toolkit/pump.h"

namespace {

TBatchStatus StatusOf(std::vector<std::pair<uint64_t, TFileState>> files) {
  std::vector<TBatchFile> list;
  for (const auto& [size, state] : files) {
    TBatchFile file;
    file.size = size;
    file.state = state;
    list.push_back(file);
  }
  TBatchStatus status;
  status.Start(std::move(list));
  return status;
}

TEST(FileListProgress, TheBarReachesItsEndExactlyAndNeverOverflows) {
  constexpr int kAll = TFileListView::kProgressSteps;
  constexpr uint64_t kHuge = uint64_t{1} << 61;
  const struct {
    const char* name;
    TBatchStatus status;
    int steps;
  } cases[] = {
      {"nothing sent yet", StatusOf({{100, TFileState::Waiting}}), 0},
      {"a third of three files", StatusOf({{1, TFileState::Sent}, {1, TFileState::Waiting}, {1, TFileState::Waiting}}),
       kAll / 3},
      {"a failed file's bytes are not done",
       StatusOf({{7, TFileState::Sent}, {5, TFileState::Failed}, {3, TFileState::Skipped}}), kAll * 10 / 15},
      {"every file sent or skipped", StatusOf({{7, TFileState::Sent}, {3, TFileState::Skipped}}), kAll},
      {"files past what int and bytes times steps can hold",
       StatusOf({{kHuge, TFileState::Sent}, {kHuge, TFileState::Waiting}}), kAll / 2},
      {"huge files all sent", StatusOf({{kHuge, TFileState::Sent}, {kHuge, TFileState::Sent}}), kAll},
      {"empty files count by files", StatusOf({{0, TFileState::Sent}, {0, TFileState::Waiting}}), kAll / 2},
  };
  for (const auto& c : cases) EXPECT_EQ(ProgressSteps(c.status), c.steps) << c.name;
}

class FileListWindowTest : public MainFormTest {
 protected:
  // A row's count-down is seen as it is painted.
  FileListWindowTest() { fastClock_ = false; }
  TFileListView& List() { return *Control<TFileListView>("FileList"); }
  std::vector<std::string> MakeFiles(int count) {
    std::vector<std::string> files;
    for (int i = 1; i <= count; ++i) {
      files.push_back(Path("file" + std::to_string(i) + ".txt"));
      WriteFile(files.back(), std::string(1000 * i, 'x'));
    }
    return files;
  }
  void Choose(const std::vector<std::string>& files) {
    QStringList chosen;
    for (const std::string& file : files) chosen << QString::fromStdString(file);
    Form().OpenDialog1().SetChooser([chosen](QWidget*, const QString&) { return chosen; });
    Control<QPushButton>("SelFilesB")->click();
  }
  void SendTo(const SmtpCapture& server) {
    Control<QLineEdit>("MailServerE")->setText(QString("127.0.0.1:%1").arg(server.Port()));
    Control<QLineEdit>("EMailFromE")->setText("me@example.com");
    Control<QLineEdit>("AddrE")->setText("you@example.com");
  }
  std::string Cell(int row, int column) { return List().Model().index(row, column).data().toString().toStdString(); }
  std::string StatusLine() { return Control<QLabel>("StatusLineL")->text().toStdString(); }
  void Drop(const std::vector<std::string>& paths) {
    QMimeData data;
    QList<QUrl> urls;
    for (const std::string& path : paths) urls << QUrl::fromLocalFile(QString::fromStdString(path));
    data.setUrls(urls);
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&Form(), &enter);
    ASSERT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&Form(), &drop);
  }
};

// Every state a row shows, in order, as the list paints it. "sending" is left out: how long a
// small file is being sent, and so whether a repaint falls into it, is up to the machine.
class StateRecorder {
 public:
  explicit StateRecorder(TFileListView& list) : list_(list) {
    const QAbstractItemModel* model = list.View()->model();
    QObject::connect(model, &QAbstractItemModel::dataChanged, [this](const QModelIndex& from, const QModelIndex& to) {
      for (int row = from.row(); row <= to.row(); ++row) Take(row);
    });
    QObject::connect(model, &QAbstractItemModel::modelReset, [this, model] {
      for (int row = 0; row < model->rowCount(); ++row) Take(row);
    });
  }
  std::map<int, std::vector<std::string>> seen;
  std::function<void(int row, const std::string& state)> onState;

 private:
  void Take(int row) {
    std::string state = list_.Model().index(row, TFileListModel::StateColumn).data().toString().toStdString();
    state = state.substr(0, state.find(' '));
    if (state == "sending") return;
    std::vector<std::string>& states = seen[row];
    if (!states.empty() && states.back() == state) return;
    states.push_back(state);
    if (onState) onState(row, state);
  }
  TFileListView& list_;
};

// One transient failure that passes, one permanent failure with KeepGoing and a retry of it,
// and a cancel during the count-down before a retry.
TEST_F(FileListWindowTest, TheListFollowsTheStatesOfABatch) {
  const struct {
    const char* name;
    std::vector<std::string> mailReplies;
    bool keepGoing;
    double retryDelay;
    bool cancelWhileRetrying;
    std::vector<std::string> firstSeen;  // the states the first row shows
    std::vector<std::string> finalStates;
    std::string detailStart;  // of the first row at the end
    std::string summary;
    bool complete;  // the bar is full
  } cases[] = {
      {"a 451 then success",
       {"451 4.3.0 busy"},
       false,
       0.3,
       false,
       {"waiting", "retrying", "sent"},
       {"sent", "sent"},
       "250",
       "2 files sent, 0 failed, 0 skipped.",
       true},
      {"a permanent failure with KeepGoing",
       {"550 5.7.1 <me@example.com> is not yours"},
       true,
       0.3,
       false,
       {"waiting", "failed"},
       {"failed", "sent"},
       "",
       "1 file sent, 1 failed, 0 skipped.",
       false},
      {"a cancel during the count-down",
       {"451 4.3.0 busy"},
       false,
       30,
       true,
       {"waiting", "retrying", "waiting"},
       {"waiting", "waiting"},
       "",
       "Cancelled: 0 of 2 files sent.",
       false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    form_.reset();
    boxes_.boxes.clear();
    WriteFile(Path("mailcart.ini"), c.keepGoing ? "[Param]\r\nKeepGoing=1\r\n" : "");
    SmtpCapture::Options options;
    options.mailReplies = c.mailReplies;
    SmtpCapture server(options);
    SendTo(server);
    Form().SetRetryDelays({c.retryDelay});
    const std::vector<std::string> files = MakeFiles(2);
    Choose(files);
    EXPECT_FALSE(Control("RetryB")->isEnabled());
    StateRecorder recorder(List());
    recorder.onState = [&](int row, const std::string& state) {
      if (c.cancelWhileRetrying && row == 0 && state == "retrying") Control<QPushButton>("CancSendB")->click();
    };
    Control<QPushButton>("SendB")->click();

    EXPECT_EQ(recorder.seen[0], c.firstSeen);
    std::vector<std::string> finalStates;
    for (int row = 0; row < 2; ++row) {
      EXPECT_EQ(Cell(row, TFileListModel::FileColumn), files[row]);
      finalStates.push_back(Cell(row, TFileListModel::StateColumn));
    }
    EXPECT_EQ(finalStates, c.finalStates);
    const std::string detail = Cell(0, TFileListModel::DetailColumn);
    if (!c.detailStart.empty()) {
      EXPECT_EQ(detail.rfind(c.detailStart, 0), 0u) << detail;
    } else if (c.keepGoing) {
      EXPECT_NE(detail.find("550 5.7.1 <me@example.com> is not yours"), std::string::npos) << detail;
      // The whole text, also what reads as markup.
      QTextDocument tip;
      tip.setHtml(List().Model().index(0, TFileListModel::DetailColumn).data(Qt::ToolTipRole).toString());
      EXPECT_EQ(tip.toPlainText().toStdString(), detail);
    }
    EXPECT_EQ(StatusLine(), c.summary);
    auto* bar = Control<QProgressBar>("BatchProgressPB");
    EXPECT_EQ(bar->value() == bar->maximum(), c.complete) << bar->value();
    EXPECT_EQ(Control("RetryB")->isEnabled(), c.keepGoing);
    if (c.keepGoing) {
      // "Retry failed" sends the failed file alone, and the server takes it this time.
      Control<QPushButton>("RetryB")->click();
      EXPECT_EQ(List().Paths(), std::vector<std::string>{files[0]});
      EXPECT_EQ(Cell(0, TFileListModel::StateColumn), "sent");
      EXPECT_EQ(server.Count(), 2);
      EXPECT_FALSE(Control("RetryB")->isEnabled());
    }
  }
}

// Files chosen while a batch runs do not disturb its list; they are the list once it has ended.
TEST_F(FileListWindowTest, FilesChosenDuringABatchShowWhenItHasEnded) {
  SmtpCapture server;
  SendTo(server);
  const std::vector<std::string> files = MakeFiles(2);
  Choose({files[0]});
  Control<TNumericEdit>("TimeWaitE")->SetValue(1);
  StateRecorder recorder(List());
  recorder.onState = [&](int row, const std::string& state) {
    if (row == 0 && state == "sent") Choose({files[1]});
  };
  std::vector<std::string> listAtTheEnd;
  boxes_.onShow = [&](const RecordingMessageBoxes::Box&) { listAtTheEnd = List().Paths(); };
  Control<QPushButton>("SendB")->click();
  EXPECT_EQ(listAtTheEnd, std::vector<std::string>{files[0]});
  EXPECT_EQ(StatusLine(), "1 file, 2.0 KB") << "the files Send would take";
  EXPECT_EQ(server.Count(), 1);
  EXPECT_EQ(List().Paths(), std::vector<std::string>{files[1]});
  EXPECT_EQ(Cell(0, TFileListModel::StateColumn), "waiting");
}

// Dropped files are added to the chosen ones; what is no file is refused by name. Files can be
// removed and the list cleared, and Send with no files only says so.
TEST_F(FileListWindowTest, DroppedFilesRemovalAndClearing) {
  const std::vector<std::string> files = MakeFiles(3);
  const std::string folder = Path("folder"), fifo = Path("fifo");
  std::filesystem::create_directory(folder);
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  Choose({files[0]});
  Drop({files[1], folder, fifo, files[2]});
  EXPECT_EQ(List().Paths(), files);
  ASSERT_EQ(boxes_.boxes.size(), 1u);
  EXPECT_NE(boxes_.boxes[0].text.find(folder + ": no files in it"), std::string::npos) << boxes_.boxes[0].text;
  EXPECT_NE(boxes_.boxes[0].text.find(fifo + ": not a regular file"), std::string::npos) << boxes_.boxes[0].text;
  EXPECT_EQ(Cell(2, TFileListModel::SizeColumn), "2.9 KB");
  EXPECT_EQ(StatusLine(), "3 files, 5.9 KB");

  QTreeView* view = List().View();
  view->selectionModel()->select(List().Model().index(1, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
  view->setFocus();
  QKeyEvent del(QEvent::KeyPress, Qt::Key_Delete, Qt::NoModifier);
  QCoreApplication::sendEvent(view, &del);
  QKeyEvent delUp(QEvent::KeyRelease, Qt::Key_Delete, Qt::NoModifier);
  QCoreApplication::sendEvent(view, &delUp);
  EXPECT_EQ(List().Paths(), (std::vector<std::string>{files[0], files[2]}));
  EXPECT_EQ(StatusLine(), "2 files, 3.9 KB");
  view->selectAll();
  Control<QPushButton>("RemoveB")->click();
  EXPECT_TRUE(List().Empty());
  EXPECT_FALSE(Control("RemoveB")->isEnabled());

  Drop({files[0]});
  Control<QPushButton>("ClearB")->click();
  EXPECT_TRUE(List().Empty());
  boxes_.boxes.clear();
  Control<QPushButton>("SendB")->click();
  ASSERT_EQ(boxes_.boxes.size(), 1u);
  EXPECT_EQ(boxes_.boxes[0].text, "No files selected.");
}

// A dropped folder adds the files inside it in path order, hidden ones left out; one chosen from
// the list's menu goes the same way, and more than 1,000 files only after a question.
TEST_F(FileListWindowTest, AFolderAddsTheFilesInsideIt) {
  const std::string nested = Path("nested"), many = Path("many");
  std::filesystem::create_directories(nested + "/b");
  std::filesystem::create_directory(many);
  for (const char* name : {"b/2.txt", "b/1.txt", "a.txt", ".hidden"}) WriteFile(nested + "/" + name, "x");
  for (int i = 0; i <= 1000; ++i) WriteFile(many + "/" + std::to_string(i), "");
  Drop({nested});
  EXPECT_EQ(List().Paths(), (std::vector<std::string>{nested + "/a.txt", nested + "/b/1.txt", nested + "/b/2.txt"}));
  Form().OpenDialog1().SetFolderChooser([&](QWidget*, const QString&) { return QString::fromStdString(many); });
  for (const auto& [answer, listed] : {std::pair{TMsgAnswer::No, size_t{3}}, {TMsgAnswer::Yes, size_t{3 + 1001}}}) {
    boxes_.answer = answer;
    Form().findChild<QAction*>("AddFolderA")->trigger();
    ASSERT_FALSE(boxes_.boxes.empty());
    EXPECT_EQ(boxes_.boxes.back().text, "More than 1000 files would be added from folders. Add them all?");
    EXPECT_EQ(List().Paths().size(), listed);
  }
  EXPECT_EQ(boxes_.boxes.size(), 2u) << "one question each, nothing else";
}

// The dialog opens where files were chosen last, also in the next run.
TEST_F(FileListWindowTest, TheFileDialogOpensInTheFolderUsedLast) {
  const std::string sub = Path("sub");
  std::filesystem::create_directory(sub);
  WriteFile(sub + "/a.txt", "a");
  std::vector<QString> openedIn;
  const auto chooser = [&](QWidget*, const QString& folder) {
    openedIn.push_back(folder);
    return QStringList{QString::fromStdString(sub + "/a.txt")};
  };
  Form().OpenDialog1().SetChooser(chooser);
  Control<QPushButton>("SelFilesB")->click();
  Control<QPushButton>("ExitB")->click();
  form_.reset();
  Form().OpenDialog1().SetChooser(chooser);
  Control<QPushButton>("SelFilesB")->click();
  ASSERT_EQ(openedIn.size(), 2u);
  EXPECT_EQ(openedIn[0], "");
  EXPECT_EQ(openedIn[1].toStdString(), sub);
  EXPECT_NE(ReadFile(Path("mailcart.ini")).find("LastFolder=" + sub + "\r\n"), std::string::npos);
}

// The window grows below the form, and the form across: its fields and state lines widen, the
// column at the right follows the edge, the captions keep their places; at its least width
// everything is where it was first placed.
TEST_F(FileListWindowTest, TheFormGrowsAcrossWithTheWindow) {
  QWidget* form = Control("FormArea");
  EXPECT_EQ(form->minimumHeight(), form->maximumHeight()) << "the form keeps its height";
  std::map<std::string, QRect> places;
  for (QWidget* control : form->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
    places[control->objectName().toStdString()] = control->geometry();
  const QSize formSize = form->size();
  const QSize start = Form().size();
  const int fileColumn = List().View()->columnWidth(TFileListModel::FileColumn);
  const int grown = 300;
  Form().resize(start + QSize(grown, 250));
  ProcessMessagesNow();
  EXPECT_EQ(form->geometry(), QRect(0, 0, formSize.width() + grown, formSize.height()));
  const auto at = [&](const char* name) { return Control(name)->geometry(); };
  EXPECT_EQ(at("Label9"), places["Label9"]);
  EXPECT_EQ(at("EMailFromE"), places["EMailFromE"].adjusted(0, 0, grown, 0));
  EXPECT_EQ(at("StateL"), places["StateL"].adjusted(0, 0, grown, 0));
  EXPECT_EQ(at("SendB"), places["SendB"].translated(grown, 0));
  EXPECT_EQ(at("AccountB").right(), at("MailServerE").right()) << "the account's button ends with its field";
  EXPECT_GT(List().View()->columnWidth(TFileListModel::FileColumn), fileColumn);
  EXPECT_LE(List().geometry().bottom(), Form().height());
  for (const QSize size : {Form().minimumSize(), start}) {
    Form().resize(size);
    ProcessMessagesNow();
    EXPECT_EQ(form->geometry(), QRect(QPoint(0, 0), formSize));
    for (QWidget* control : form->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
      EXPECT_EQ(control->geometry(), places[control->objectName().toStdString()])
          << control->objectName().toStdString();
    EXPECT_GE(List().y(), form->height());
    EXPECT_GT(List().View()->height(), 0);
  }
  EXPECT_GE(Form().minimumWidth(), formSize.width());
}

// The journals' questions: files sent before to the same recipient are left out when the user
// says No; a batch that did not finish is offered at the start and resumed on Yes, and not
// offered again.
TEST_F(FileListWindowTest, TheJournalsQuestions) {
  // Journals of its own: other tests of this process leave theirs.
  qputenv("XDG_STATE_HOME", QByteArray::fromStdString(Path("state")));
  SmtpCapture server;
  SendTo(server);
  const std::vector<std::string> files = MakeFiles(3);
  Choose({files[0]});
  Control<QPushButton>("SendB")->click();
  ASSERT_EQ(server.Count(), 1);
  Choose({files[0]});
  boxes_.answer = TMsgAnswer::No;
  boxes_.boxes.clear();
  Control<QPushButton>("SendB")->click();
  EXPECT_EQ(server.Count(), 1);
  ASSERT_FALSE(boxes_.boxes.empty());
  EXPECT_EQ(boxes_.boxes[0].text.rfind("1 of these files was sent to you@example.com on ", 0), 0u)
      << boxes_.boxes[0].text;
  EXPECT_EQ(Cell(0, TFileListModel::StateColumn), "skipped");
  EXPECT_EQ(boxes_.boxes.back().text, "0 files sent, 0 failed, 1 skipped.") << "not \"All Sended\"";

  TJournalHead head{"127.0.0.1:" + std::to_string(server.Port()),
                    "me@example.com",
                    "you@example.com",
                    "Rest",
                    {files[1], files[2]},
                    {}};
  {
    TJournalWriter journal(DefaultJournalFolder(), head);
    TJournalRecord record;
    record.path = files[1];
    const TFileDigest digest = DigestFile(files[1]);
    record.size = digest.size;
    record.sha256 = digest.sha256;
    record.outcome = TJournalOutcome::Sent;
    journal.Record(record, false);
  }
  boxes_.answer = TMsgAnswer::Yes;
  boxes_.boxes.clear();
  Form().OfferResume();
  ASSERT_FALSE(boxes_.boxes.empty());
  EXPECT_EQ(boxes_.boxes[0].text.rfind("The batch of ", 0), 0u) << boxes_.boxes[0].text;
  EXPECT_NE(boxes_.boxes[0].text.find("(stopped by a crash): 1 of 2 files was not sent"), std::string::npos)
      << boxes_.boxes[0].text;
  ASSERT_EQ(server.Count(), 2);
  EXPECT_NE(server.Messages()[1].find("file3.txt"), std::string::npos);
  EXPECT_NE(server.Messages()[1].find("Subject:  Rest"), std::string::npos) << "the journal's values, not the form's";
  EXPECT_NE(Control<QLineEdit>("SubjE")->text(), "Rest") << "nothing of the journal reaches the form";
  boxes_.boxes.clear();
  Form().OfferResume();
  EXPECT_TRUE(boxes_.boxes.empty());
  // No says the batch is not to be resumed: the journal keeps that, and the offer does not come back.
  const std::string declined = TJournalWriter(DefaultJournalFolder(), head).FileName();
  boxes_.answer = TMsgAnswer::No;
  Form().OfferResume();
  ASSERT_EQ(boxes_.boxes.size(), 1u);
  EXPECT_EQ(ReadJournal(declined).end, TJournalEnd::Declined);
  Form().OfferResume();
  EXPECT_EQ(boxes_.boxes.size(), 1u);

  // Stopped at the provider's limit: the offer comes once the limit is expected to reset.
  boxes_.answer = TMsgAnswer::Yes;
  boxes_.boxes.clear();
  TJournalWriter(DefaultJournalFolder(), {head.server, head.from, head.to, "Rest", {files[2]}, {}})
      .End(TJournalEnd::Quota, "550 5.4.5 Daily user sending quota exceeded.", JournalTime(std::time(nullptr) + 2));
  Form().OfferResume();
  EXPECT_TRUE(boxes_.boxes.empty());
  EXPECT_TRUE(Control<QLabel>("StateL")->text().startsWith("Stopped at the provider's limit: resume offered after "));
  for (int i = 0; i < 100 && boxes_.boxes.empty(); ++i) SleepProcessing(50);
  ASSERT_FALSE(boxes_.boxes.empty());
  EXPECT_NE(boxes_.boxes[0].text.find("stopped at the provider's daily limit"), std::string::npos);
  EXPECT_EQ(server.Count(), 3);
  qunsetenv("XDG_STATE_HOME");
}

}  // namespace
