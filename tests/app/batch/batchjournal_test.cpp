#include "app/batch/batchjournal.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCryptographicHash>
#include <QDateTime>
#include <QTemporaryDir>

#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "support/checks.h"
#include "support/files.h"
#include "support/samples.h"

namespace {

// No UTF-8 (0xff) beside a backslash that looks like an escape; a backslash in UTF-8; UTF-8.
const std::string kRawPath = "/data/r\xff\\x41sum\xc3\xa9.pdf";
const std::string kBackslashPath = "/data/not\\xFF escaped.txt";
const std::string kUtf8Path = "/data/caf\xc3\xa9 menu.txt";

TJournalHead Head() {
  return {"smtp.example.org", "me@example.org", "you@example.net", "Files", {kRawPath, kBackslashPath, kUtf8Path}, ""};
}

TJournalRecord Record(const std::string& path, TJournalOutcome outcome, const std::string& reply = "250 Ok") {
  return {path, 1234, std::string(64, 'a'), "2026-12-08T15:10:02+01:00", outcome, reply};
}

auto Fields(const TJournalRecord& r) { return std::tie(r.path, r.size, r.sha256, r.time, r.outcome, r.reply); }

class BatchJournal : public ::testing::Test {
 protected:
  std::string Folder() const { return dir_.filePath("state/mailcart").toStdString(); }
  std::string Path(const char* name) const { return dir_.filePath(name).toStdString(); }
  QTemporaryDir dir_;
};

TEST_F(BatchJournal, WhatIsWrittenReadsBackByteForByte) {
  const std::vector<TJournalRecord> records = {Record(kRawPath, TJournalOutcome::Sent, "250 2.0.0 Ok: queued as 4QxY1"),
                                               Record(kBackslashPath, TJournalOutcome::Failed, "550 bad \xff reply"),
                                               Record(kUtf8Path, TJournalOutcome::Skipped),
                                               Record(kUtf8Path, TJournalOutcome::Uncertain),
                                               Record(kUtf8Path, TJournalOutcome::Changed),
                                               Record(kUtf8Path, TJournalOutcome::Written)};
  std::string fileName;
  {
    TJournalWriter writer(Folder(), Head());
    fileName = writer.FileName();
    for (const TJournalRecord& record : records) writer.Record(record, &record == &records[0]);
    writer.End(TJournalEnd::Failed, "550 5.1.1 Recipient rejected");
  }
  const TJournal journal = ReadJournal(fileName);
  const TJournalHead head = Head();
  EXPECT_EQ(std::tie(journal.head.files, journal.head.server, journal.head.to),
            std::tie(head.files, head.server, head.to));
  EXPECT_TRUE(QDateTime::fromString(QString::fromStdString(journal.head.started), Qt::ISODate).isValid());
  std::vector<TJournalRecord> expected = records;
  expected[1].reply = "550 bad \\xFF reply";  // a reply is kept readable, not exact
  ASSERT_EQ(journal.records.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(Fields(journal.records[i]), Fields(expected[i])) << i;
  EXPECT_EQ(journal.end, TJournalEnd::Failed);
  EXPECT_EQ(EndingText(journal), "ended by an error: 550 5.1.1 Recipient rejected");
  EXPECT_EQ(journal.LastRecordOf(kUtf8Path)->outcome, TJournalOutcome::Written);
  // The name that is no UTF-8 still reads as a name.
  const std::string text = ReadFile(fileName);
  EXPECT_EQ(text.rfind(R"({"type":"batch","files":[{"path":"/data/r\\xFF\\x41sumé.pdf")", 0), 0u) << text;
}

TEST_F(BatchJournal, IsPrivateAndNeverReplacesAFile) {
  const std::string first = TJournalWriter(Folder(), Head()).FileName();
  // The names this second and the next two would get are taken already.
  std::vector<std::string> taken;
  const QDateTime now = QDateTime::currentDateTime();
  for (int i = 0; i < 3; ++i) {
    const std::string name = Folder() + "/" + now.addSecs(i).toString("yyyyMMdd-HHmmss").toStdString() + "-" +
                             std::to_string(::getpid()) + ".jsonl";
    if (name != first) WriteFile(taken.emplace_back(name), "mine");
  }
  const std::string second = TJournalWriter(Folder(), Head()).FileName();
  for (const std::string& name : taken) EXPECT_EQ(ReadFile(name), "mine") << name;
  EXPECT_NE(first, second);
  struct stat st;
  for (const std::string& name : {first, second})
    EXPECT_TRUE(::stat(name.c_str(), &st) == 0 && (st.st_mode & 0777) == 0600) << name;
  EXPECT_TRUE(::stat(Folder().c_str(), &st) == 0 && (st.st_mode & 0777) == 0700);
}

TEST_F(BatchJournal, FolderThatCannotBeWrittenRefusesTheBatch) {
  WriteFile(Path("afile"), "");
  ASSERT_EQ(::mkdir(Path("locked").c_str(), 0500), 0);
  const struct {
    std::string folder;
    const char* reason;
  } cases[] = {{Path("afile") + "/journal", "Not a directory"}, {Path("locked"), "Permission denied"}};
  for (const auto& c : cases) {
    if (::geteuid() == 0 && c.folder == Path("locked")) continue;  // no mode refuses root
    EXPECT_EQ(Raised([&] { TJournalWriter(c.folder, Head()); }),
              "EJournalError: The journal folder \"" + c.folder + "\" cannot be written: " + c.reason);
  }
}

TEST_F(BatchJournal, TornLinesAreSkippedAndResumingGoesOnAfterThem) {
  using Step = std::function<void(const std::string&)>;
  const Step torn = [](const std::string& name) { WriteFile(name, ReadFile(name) + R"({"type":"file","path":"/da)"); };
  const Step resume = [](const std::string& name) {
    TJournalWriter(name).Record(Record("/data/late.txt", TJournalOutcome::Sent), true);
  };
  const Step finish = [](const std::string& name) { TJournalWriter(name).End(TJournalEnd::Finished); };
  using E = TJournalEnd;
  const struct {
    const char* name;
    std::vector<Step> after;
    size_t records;
    TJournalEnd end;
  } cases[] = {
      {"cut short", {}, 1, E::None},
      {"finished", {finish}, 1, E::Finished},
      {"torn last line", {torn}, 1, E::None},
      {"torn, then resumed", {torn, resume}, 2, E::None},
      {"torn, resumed, finished", {torn, resume, finish}, 2, E::Finished},
      {"finished, then resumed and cut short", {finish, resume}, 2, E::None},
  };
  for (const auto& c : cases) {
    const std::string name = TJournalWriter(Folder(), Head()).FileName();
    TJournalWriter(name).Record(Record(kRawPath, TJournalOutcome::Sent), false);
    for (const Step& step : c.after) step(name);
    const TJournal journal = ReadJournal(name);
    ASSERT_EQ(journal.records.size(), c.records) << c.name;
    EXPECT_EQ(journal.records.back().path, c.records > 1 ? "/data/late.txt" : kRawPath) << c.name;
    EXPECT_EQ(journal.end, c.end) << c.name;
    ::unlink(name.c_str());
  }
}

// A journal decides where files go: one in a folder another user could write is not read, nor
// one that is no regular file (a journal others may write: the end-to-end table of mailcart-send).
TEST(BatchJournalTrust, OnlyTrustedJournalsAreRead) {
  const struct {
    const char* name;
    std::function<void(const std::string& folder, const std::string& journal)> spoil;
    const char* problem;
  } cases[] = {
      {"the folder writable by others", [](auto& f, auto&) { ::chmod(f.c_str(), 01777); },
       "can be changed by other users (mode 1777): the journals in it are not read"},
      {"a FIFO in its place",
       [](auto&, auto& j) {
         ::unlink(j.c_str());
         ::mkfifo(j.c_str(), 0600);
       },
       "cannot be read: not a regular file"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    QTemporaryDir dir;
    const std::string folder = dir.filePath("mailcart").toStdString();
    const std::string name = TJournalWriter(folder, Head()).FileName();
    c.spoil(folder, name);
    const std::string raised = Raised([&] { ReadJournal(name); });
    EXPECT_NE(raised.find(c.problem), std::string::npos) << raised;
    EXPECT_TRUE(ReadJournals(folder).empty());
  }
  // Nor is a batch started with its journal where it could not be read back.
  QTemporaryDir dir;
  ::chmod(dir.path().toLocal8Bit().constData(), 0777);
  EXPECT_NE(Raised([&] { TJournalWriter(dir.path().toStdString(), Head()); }).find("make it yours alone"),
            std::string::npos);
}

TEST(BatchJournalSearch, FindsTheSameFileSentToTheSameRecipientThroughTheSameServer) {
  const TFileDigest digest{1234, std::string(64, 'a')};
  TJournal older;
  older.fileName = "older";
  older.head = Head();
  older.records = {Record(kRawPath, TJournalOutcome::Sent)};
  older.end = TJournalEnd::Finished;
  TJournal newer = older;
  newer.fileName = "newer";
  newer.records = {Record(kRawPath, TJournalOutcome::Failed), Record(kRawPath, TJournalOutcome::Sent)};
  newer.end = TJournalEnd::None;
  TJournal elsewhere = older;
  elsewhere.head.server = "smtp.example.com";
  const std::vector<TJournal> journals = {older, newer, elsewhere};
  const struct {
    const char* name;
    std::string server, to, path;
    TFileDigest digest;
    std::vector<std::string> found;  // journals, newest first
  } cases[] = {
      {"names in another case", "SMTP.Example.ORG", "You@Example.NET", kRawPath, digest, {"newer", "older"}},
      {"another server", "smtp.example.com", "you@example.net", kRawPath, digest, {"older"}},
      {"another recipient", "smtp.example.org", "them@example.net", kRawPath, digest, {}},
      {"another file", "smtp.example.org", "you@example.net", kUtf8Path, digest, {}},
      {"size changed", "smtp.example.org", "you@example.net", kRawPath, {1235, digest.sha256}, {}},
      {"content changed", "smtp.example.org", "you@example.net", kRawPath, {1234, std::string(64, 'b')}, {}},
  };
  for (const auto& c : cases) {
    std::vector<std::string> found;
    for (const TSentBefore& sent : FindSentBefore(journals, c.server, EnvelopeKey({c.to}), c.path, c.digest))
      found.push_back(sent.journal);
    EXPECT_EQ(found, c.found) << c.name;
  }
}

TEST_F(BatchJournal, DigestReadsTheWholeFileInBlocks) {
  const std::string large = RandomBytes(3 * 65536 + 17);
  WriteFile(Path("abc"), "abc");
  WriteFile(Path("large"), large);
  ASSERT_EQ(::mkfifo(Path("fifo").c_str(), 0600), 0);
  const struct {
    const char* name;
    std::string outcome;  // size and digest, or the error
  } cases[] = {
      {"abc", "3 ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"large",
       std::to_string(large.size()) + " " +
           Hex(QCryptographicHash::hash(QByteArray::fromStdString(large), QCryptographicHash::Sha256).toStdString())},
      {"missing", "EInOutError: The file \"" + Path("missing") + "\" cannot be read: No such file or directory"},
      {"fifo", "EInOutError: The file \"" + Path("fifo") + "\" cannot be read: not a regular file"},
  };
  for (const auto& c : cases) {
    std::string outcome;
    const std::string raised = Raised([&] {
      const TFileDigest digest = DigestFile(Path(c.name));
      outcome = std::to_string(digest.size) + " " + digest.sha256;
    });
    EXPECT_EQ(raised.empty() ? outcome : raised, c.outcome) << c.name;
  }
}

TEST(BatchJournalFolder, StateHomeWhenAbsoluteElseTheHomeFolder) {
  const std::string home = std::getenv("HOME");
  for (const char* state : {"/var/lib/someone", "relative", ""}) {
    ::setenv("XDG_STATE_HOME", state, 1);
    EXPECT_EQ(DefaultJournalFolder(), (state[0] == '/' ? state : home + "/.local/state") + "/mailcart") << state;
  }
  ::unsetenv("XDG_STATE_HOME");
  EXPECT_EQ(DefaultJournalFolder(), home + "/.local/state/mailcart");
}

}  // namespace
