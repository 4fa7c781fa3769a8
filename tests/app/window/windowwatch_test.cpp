// "Watch folder…" in a real window against aiosmtpd: the files there and those that come go
// once each, the list shows them as they come and go, no box waits for anyone between
// batches, and "Cancel sending" ends the watch; a server away at its start ends it with a box.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTreeView>

#include <algorithm>
#include <filesystem>
#include <functional>

#include "app/window/filelistview.h"
#include "app/window/mainform_fixture.h"

namespace {

class WindowWatchTest : public MainFormTest {
 protected:
  // The window's events until done says yes (at most ms); done's last answer.
  bool Until(const std::function<bool()>& done, int ms = 20000) {
    const QDeadlineTimer deadline(ms);
    while (!done() && !deadline.hasExpired()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    return done();
  }
  void Watch(const std::string& folder) {
    std::filesystem::create_directories(folder);
    Form().OpenDialog1().SetFolderChooser(
        [folder](QWidget*, const QString&) { return QString::fromStdString(folder); });
    Click("WatchB");
  }
  // "name: state" of each row of the list, with why for a skipped one.
  std::vector<std::string> Rows() {
    std::vector<std::string> rows;
    for (const TBatchFile& file : Control<TFileListView>("FileList")->Model().Files())
      rows.push_back(std::filesystem::path(file.path).filename().string() + ": " + FileStateName(file.state) +
                     (file.state == TFileState::Skipped ? " (" + file.detail + ")" : ""));
    return rows;
  }
};

TEST_F(WindowWatchTest, SendsWhatComesUntilCancelled) {
  WriteFile(Ini(), "[Param]\r\nSettleSeconds=0\r\n");
  SmtpCapture& server = StartServer();
  const std::string folder = Path("in");
  std::filesystem::create_directories(folder);
  WriteFile(folder + "/old.txt", "there before\r\n");
  Watch(folder);
  EXPECT_FALSE(Control("SendB")->isEnabled());
  EXPECT_FALSE(Control("WatchB")->isEnabled());
  EXPECT_TRUE(Until([&] { return server.Count() == 1; })) << Text("StateL").toStdString();
  WriteFile(folder + "/new.txt", "came later\r\n");
  EXPECT_TRUE(Until([&] { return server.Count() == 2 && Rows().size() == 2 && Rows()[1] == "new.txt: sent"; }));
  WriteFile(folder + "/old.txt", "there before\r\n");  // the same bytes again
  EXPECT_TRUE(Until([&] { return Rows().size() == 3; }));
  EXPECT_EQ(Rows(), (std::vector<std::string>{"old.txt: sent", "new.txt: sent",
                                              "old.txt: skipped (sent by this watch already)"}));
  EXPECT_EQ(Text("StateL").toStdString(), "Watching " + folder + ": 2 files sent so far");
  EXPECT_TRUE(boxes_.boxes.empty()) << boxes_.boxes[0].text;

  Click("CancSendB");
  EXPECT_EQ(Text("StateL").toStdString(), "Stopped watching " + folder + ": 2 files sent");
  EXPECT_TRUE(Control("SendB")->isEnabled());
  EXPECT_TRUE(Control("WatchB")->isEnabled());
  WriteFile(folder + "/late.txt", "after the watch\r\n");
  EXPECT_FALSE(Until([&] { return server.Count() == 3; }, 1000));
  EXPECT_TRUE(boxes_.boxes.empty());

  // Watched again with the server away: the one box comes, and the watch is over.
  const int port = server.Port();
  server_.reset();
  Watch(folder);
  EXPECT_TRUE(Until([&] { return !boxes_.boxes.empty(); }));
  ASSERT_EQ(boxes_.boxes.size(), 1u);
  EXPECT_NE(boxes_.boxes[0].text.find("127.0.0.1:" + std::to_string(port)), std::string::npos) << boxes_.boxes[0].text;
  EXPECT_EQ(boxes_.boxes[0].icon, TMsgIcon::Error);
  EXPECT_TRUE(Control("WatchB")->isEnabled());
  const std::vector<std::string> rows = Rows();  // the two sent before are skipped
  EXPECT_NE(std::find(rows.begin(), rows.end(), "late.txt: failed"), rows.end()) << rows.size();
}

}  // namespace
