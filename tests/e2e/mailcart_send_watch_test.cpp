// mailcart-send --watch end to end: files that come into a folder, however they are written,
// go once each, also across a restart of the watch and a server that was away for a while.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>

#include <QDeadlineTimer>
#include <QJsonDocument>
#include <QJsonObject>

#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <thread>

#include "support/files.h"
#include "support/mailcart_send_run.h"
#include "support/smtp_capture.h"
#include "support/tls_peer.h"

namespace {

constexpr int kWaitMs = 30000;
constexpr auto kBelowSettle = std::chrono::milliseconds(100);  // the watches settle 0.3 s

// A watch running in the background, its output gathered as it comes.
class WatchRun {
 public:
  WatchRun(const std::vector<std::string>& args, const Variables& env) {
    StartWithoutDisplay(process_, args, env);
    Until([this] { return errors_.contains("watching "); });
  }
  ~WatchRun() { Stop(); }

  // Waits (bounded) until done says yes or the watch has ended; done's last answer.
  bool Until(const std::function<bool()>& done) {
    const QDeadlineTimer deadline(kWaitMs);
    while (!done() && process_.state() != QProcess::NotRunning && !deadline.hasExpired()) Read(50);
    Read(0);
    return done();
  }
  // SIGTERM, as systemd stops it (or, without, its own end): its exit status, -1 when killed.
  int Stop(bool signal = true) {
    if (signal && process_.state() != QProcess::NotRunning) ::kill(process_.processId(), SIGTERM);
    if (!process_.waitForFinished(kWaitMs)) process_.kill(), process_.waitForFinished();
    Read(0);
    return process_.exitStatus() == QProcess::NormalExit ? process_.exitCode() : -1;
  }
  std::string Output() const { return output_.toStdString(); }
  std::string Errors() const { return errors_.toStdString(); }

 private:
  void Read(int ms) {
    process_.waitForReadyRead(ms);
    output_ += process_.readAllStandardOutput();
    errors_ += process_.readAllStandardError();
  }
  QProcess process_;
  QByteArray output_, errors_;
};

class MailcartSendWatchTest : public MailcartSendFixture {
 protected:
  std::string Folder(const std::string& name) {
    std::filesystem::create_directories(Path(name));
    return Path(name);
  }
  std::vector<std::string> WatchArgs(const std::string& folder, std::vector<std::string> more = {}) const {
    std::vector<std::string> args = Args({"--watch", folder, "--settle", "0.3"});
    args.insert(args.end(), more.begin(), more.end());
    return args;
  }
  const Variables state_{{"XDG_STATE_HOME", QString::fromStdString(Path("state"))}};
};

}  // namespace

// However a file comes (in pieces, under a temporary name, among many), it goes once, whole.
TEST_F(MailcartSendWatchTest, EachFileGoesOnceWhenComplete) {
  struct Case {
    const char* name;
    std::function<void(const std::string& folder)> write;
    int messages;
    const char* holds;  // a message holds this; nullptr: no check
  } const cases[] = {
      {"written in pieces with pauses shorter than the settle time",
       [](const std::string& folder) {
         // Closed after each piece, as a copy over a slow link may: only the settle time waits.
         for (const char* piece : {"one-", "two-", "three"}) {
           std::ofstream(folder + "/scan.txt", std::ios::binary | std::ios::app) << piece;
           std::this_thread::sleep_for(kBelowSettle);
         }
       },
       1, "one-two-three"},
      {"written as .part, then renamed",
       [](const std::string& folder) {
         WriteFile(folder + "/scan.pdf.part", "renamed");
         std::this_thread::sleep_for(kBelowSettle * 6);
         std::filesystem::rename(folder + "/scan.pdf.part", folder + "/scan.pdf");
       },
       1, nullptr},
      {"twenty dropped at once",
       [](const std::string& folder) {
         for (int i = 0; i < 20; ++i) WriteFile(folder + "/f" + std::to_string(i) + ".txt", std::to_string(i));
       },
       20, nullptr},
  };
  int folders = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const int before = server_.Count();
    const std::string folder = Folder("in" + std::to_string(++folders));
    WatchRun watch(WatchArgs(folder), state_);
    c.write(folder);
    EXPECT_TRUE(watch.Until([&] { return server_.Count() >= before + c.messages; })) << watch.Errors();
    std::this_thread::sleep_for(kBelowSettle * 6);  // nothing more comes
    EXPECT_EQ(watch.Stop(), 0) << watch.Errors();
    const std::vector<std::string> messages = server_.Messages();
    ASSERT_EQ(messages.size(), static_cast<size_t>(before + c.messages)) << watch.Output();
    if (c.holds) {
      EXPECT_NE(messages.back().find(c.holds), std::string::npos) << messages.back();
    }
    EXPECT_NE(watch.Output().find("[" + std::to_string(c.messages) + "] "), std::string::npos) << watch.Output();
  }
}

// A watch stopped and started again sends none of the files it sent; a new one goes, and its
// outcome is one JSON line. The files sent are moved out of the folder.
TEST_F(MailcartSendWatchTest, ARestartedWatchSendsNothingTwice) {
  const std::string folder = Folder("in");
  {
    WatchRun watch(WatchArgs(folder, {"--move-to", Path("sent")}), state_);
    for (const char* name : {"a.txt", "b.txt", "c.txt"}) WriteFile(folder + "/" + name, name);
    EXPECT_TRUE(watch.Until([&] { return server_.Count() == 3; })) << watch.Errors();
    EXPECT_TRUE(watch.Until([&] { return std::filesystem::exists(Path("sent/c.txt")); }));
    for (const char* name : {"a.txt", "b.txt", "c.txt"}) EXPECT_EQ(ReadFile(Path("sent/") + name), name);
    WriteFile(folder + "/a.txt", "a.txt");  // written again, the same bytes
    EXPECT_TRUE(
        watch.Until([&] { return watch.Errors().find("a.txt: skipped: sent by this watch") != std::string::npos; }));
    EXPECT_EQ(watch.Stop(), 0);
  }
  WatchRun again(WatchArgs(folder, {"--report=json"}), state_);
  EXPECT_TRUE(again.Until([&] { return again.Errors().find("a.txt: skipped: ") != std::string::npos; }))
      << again.Errors();
  WriteFile(folder + "/d.txt", "d");
  EXPECT_TRUE(again.Until([&] { return !again.Output().empty(); }));
  EXPECT_EQ(again.Stop(), 0);
  EXPECT_EQ(server_.Count(), 4);
  const QJsonObject line = QJsonDocument::fromJson(QByteArray::fromStdString(again.Output())).object();
  EXPECT_EQ(line["outcome"].toString(), "sent") << again.Output();
  EXPECT_EQ(line["path"].toString().toStdString(), folder + "/d.txt");
}

// A server that goes away gets the files that came meanwhile once it is back, each once, each
// batch logged in with the password taken at the start; one away at the start ends the watch.
TEST_F(MailcartSendWatchTest, FilesWaitForAServerThatWentAway) {
  constexpr char kUser[] = "ann@example.org", kPassword[] = "Correct-Horse-7";
  SmtpCapture::Options options;
  options.cert = "good";
  options.auth = std::string(kUser) + ":" + kPassword;
  std::optional<SmtpCapture> server(std::in_place, options);
  const int port = server->Port();
  WriteFile(Path("password"), std::string(kPassword) + "\n");
  ASSERT_EQ(::chmod(Path("password").c_str(), 0600), 0);
  const std::vector<std::string> args =
      WatchArgs(Folder("in"), {"--server", "localhost:" + std::to_string(port), "--security", "starttls", "--user",
                               kUser, "--ca-file", TestCerts::Get().Pem("ca"), "--password-file", Path("password")});
  WriteFile(Path("in/first.txt"), "first");
  {
    WatchRun watch(args, state_);
    EXPECT_TRUE(watch.Until([&] { return server->Count() == 1; })) << watch.Errors();
    server.reset();
    WriteFile(Path("in/second.txt"), "second");
    WriteFile(Path("in/third.txt"), "third");
    EXPECT_TRUE(watch.Until([&] {
      return watch.Errors().find("cannot be reached: 2 files wait") != std::string::npos;
    })) << watch.Errors();
    options.port = port;
    server.emplace(options);
    EXPECT_TRUE(watch.Until([&] { return server->Count() == 2; })) << watch.Errors();
    EXPECT_EQ(watch.Stop(), 0);
    ASSERT_EQ(server->Count(), 2);
    for (const SmtpCapture::Envelope& envelope : server->Envelopes()) EXPECT_EQ(envelope.user, kUser);
  }
  server.reset();
  WriteFile(Path("in/fourth.txt"), "fourth");
  WatchRun atStart(args, state_);
  EXPECT_EQ(atStart.Stop(false), 1) << atStart.Errors();
  // Nor does a watch start that would send the files it moved again.
  const SendRun moved = RunSend(WatchArgs(Path("in"), {"--move-to", Path("in")}), state_);
  EXPECT_EQ(moved.exitCode, 2);
  EXPECT_NE(moved.errors.find("--move-to: "), std::string::npos) << moved.errors;
}
