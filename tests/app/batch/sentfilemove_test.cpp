// Moving a sent file out of the watched folder: the names it takes, and the copy to another
// file system.
#include "app/batch/sentfilemove.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QTemporaryDir>

#include <string>
#include <vector>

#include "support/files.h"

namespace {

TFileStamp Stamp(const std::string& path) {
  struct stat st;
  EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
  return StampOf(st);
}

bool Exists(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;
}

TEST(SentFileMove, TakesTheFirstFreeNameAndOnlyTheFileSent) {
  const struct {
    const char* name;
    const char* file;
    std::vector<std::string> there;  // in the folder before
    const char* folder;              // below the temporary one
    bool changed;                    // written again after it was sent
    const char* placed;              // "": it stays
  } rows[] = {
      {"a free name", "scan.pdf", {}, "sent", false, "scan.pdf"},
      {"a taken name", "scan.pdf", {"scan.pdf"}, "sent", false, "scan (1).pdf"},
      {"two taken", "scan.pdf", {"scan.pdf", "scan (1).pdf"}, "sent", false, "scan (2).pdf"},
      {"no extension", "README", {"README"}, "sent", false, "README (1)"},
      {"two dots", "a.tar.gz", {"a.tar.gz"}, "sent", false, "a.tar (1).gz"},
      {"the folder made with its parents", "scan.pdf", {}, "x/y/sent", false, "scan.pdf"},
      {"changed since it was sent", "scan.pdf", {}, "sent", true, ""},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    QTemporaryDir dir;
    const std::string top = dir.path().toStdString();
    const std::string path = top + "/" + row.file;
    const std::string folder = top + "/" + row.folder;
    WriteFile(path, "sent bytes");
    const TFileStamp sent = Stamp(path);
    if (row.changed) WriteFile(path, "other bytes");
    if (!row.there.empty()) {
      ASSERT_EQ(::mkdir(folder.c_str(), 0700), 0);
    }
    for (const std::string& name : row.there) WriteFile(folder + "/" + name, "was there");
    const TSentFileMove moved = MoveSentFile(path, sent, folder);
    EXPECT_EQ(moved.destination, *row.placed ? folder + "/" + row.placed : "");
    EXPECT_EQ(moved.problem.empty(), *row.placed != '\0') << moved.problem;
    EXPECT_EQ(Exists(path), !*row.placed);
    if (*row.placed) {
      EXPECT_EQ(ReadFile(moved.destination), "sent bytes");
    }
    for (const std::string& name : row.there) EXPECT_EQ(ReadFile(folder + "/" + name), "was there");
  }
}

TEST(SentFileMove, ToAnotherFileSystemCopiedThenTheOriginalRemoved) {
  QTemporaryDir dir;
  QTemporaryDir shm("/dev/shm/sentfilemove_test-XXXXXX");
  struct stat a, b;
  if (!shm.isValid() || ::stat(dir.path().toUtf8().constData(), &a) != 0 ||
      ::stat(shm.path().toUtf8().constData(), &b) != 0 || a.st_dev == b.st_dev)
    GTEST_SKIP() << "no second file system here";
  const std::string folder = dir.path().toStdString() + "/sent";
  const struct {
    const char* name;
    bool changed;
    const char* placed;
  } rows[] = {{"unchanged", false, "scan.pdf"}, {"taken name", false, "scan (1).pdf"}, {"changed", true, ""}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const std::string path = shm.path().toStdString() + "/scan.pdf";
    WriteFile(path, std::string(300000, 'x'));  // more than a block
    ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
    const TFileStamp sent = Stamp(path);
    if (row.changed) WriteFile(path, "other");
    const TSentFileMove moved = MoveSentFile(path, sent, folder);
    EXPECT_EQ(moved.destination, *row.placed ? folder + "/" + row.placed : "") << moved.problem;
    EXPECT_EQ(Exists(path), !*row.placed);
    if (*row.placed) {
      EXPECT_EQ(ReadFile(moved.destination), std::string(300000, 'x'));
      const TFileStamp copy = Stamp(moved.destination);
      EXPECT_EQ(copy.modified, sent.modified);
      struct stat st;
      ASSERT_EQ(::stat(moved.destination.c_str(), &st), 0);
      EXPECT_EQ(st.st_mode & 0777, 0640u);
    }
    ::unlink(path.c_str());
  }
  // No temporary copy is left behind, not even of the file that changed.
  EXPECT_EQ(QDir(QString::fromStdString(folder)).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
            QStringList({"scan (1).pdf", "scan.pdf"}));
}

}  // namespace
