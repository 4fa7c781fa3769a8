// Moving a sent file out of the watched folder: the names it takes, and the copy to another
// file system.
#include "app/batch/sentfilemove.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QDir>
#include <QTemporaryDir>

#include "support/files.h"

namespace {

TEST(SentFileMove, TakesTheFirstFreeNameAndOnlyTheFileSent) {
  QTemporaryDir shm("/dev/shm/sentfilemove_test-XXXXXX");
  const struct {
    const char* name;
    const char* file;
    QStringList there;     // in the folder before
    const char* folder;    // below the temporary one
    bool changed, across;  // written again after it was sent; from /dev/shm
    const char* placed;    // "": it stays
  } rows[] = {
      {"a free name", "scan.pdf", {}, "sent", false, false, "scan.pdf"},
      {"a taken name", "scan.pdf", {"scan.pdf"}, "sent", false, false, "scan (1).pdf"},
      {"two taken", "scan.pdf", {"scan.pdf", "scan (1).pdf"}, "sent", false, false, "scan (2).pdf"},
      {"no extension", "README", {"README"}, "sent", false, false, "README (1)"},
      {"two dots", "a.tar.gz", {"a.tar.gz"}, "sent", false, false, "a.tar (1).gz"},
      {"the folder made with its parents", "scan.pdf", {}, "x/y/sent", false, false, "scan.pdf"},
      {"changed since it was sent", "scan.pdf", {}, "sent", true, false, ""},
      // Rows from here on need /dev/shm on a file system of its own.
      {"to another file system", "scan.pdf", {"scan.pdf"}, "sent", false, true, "scan (1).pdf"},
      {"to another file system, changed", "scan.pdf", {}, "sent", true, true, ""},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    QTemporaryDir dir;
    struct stat st, other;
    const std::string from = (row.across ? shm : dir).path().toStdString();
    if (row.across && (!shm.isValid() || ::stat(dir.path().toUtf8(), &st) != 0 ||
                       ::stat(shm.path().toUtf8(), &other) != 0 || st.st_dev == other.st_dev))
      GTEST_SKIP() << "/dev/shm is on the file system of the temporary folder";
    const std::string path = from + "/" + row.file, folder = dir.path().toStdString() + "/" + row.folder;
    const std::string bytes(300000, 'x');  // more than a block
    WriteFile(path, bytes);
    ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
    ASSERT_EQ(::lstat(path.c_str(), &st), 0);
    if (row.changed) WriteFile(path, "other bytes");
    if (!row.there.empty()) QDir().mkpath(QString::fromStdString(folder));
    for (const QString& name : row.there) WriteFile(folder + "/" + name.toStdString(), "was there");
    const TSentFileMove moved = MoveSentFile(path, StampOf(st), folder);
    EXPECT_EQ(moved.destination, *row.placed ? folder + "/" + row.placed : "");
    EXPECT_EQ(moved.problem.empty(), *row.placed != '\0') << moved.problem;
    EXPECT_EQ(::lstat(path.c_str(), &other) != 0, *row.placed != '\0');
    for (const QString& name : row.there) EXPECT_EQ(ReadFile(folder + "/" + name.toStdString()), "was there");
    // The bytes sent, with their mode and time; no temporary copy left behind.
    QStringList names = row.there;
    if (*row.placed) {
      EXPECT_EQ(ReadFile(moved.destination), bytes);
      ASSERT_EQ(::lstat(moved.destination.c_str(), &other), 0);
      EXPECT_EQ(other.st_mode & 0777, 0640u);
      EXPECT_EQ(StampOf(other).modified, StampOf(st).modified);
      names.append(row.placed);
    }
    names.sort();
    EXPECT_EQ(QDir(QString::fromStdString(folder)).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              names);
  }
}

TEST(SentFileMove, NeverIntoWhatTheWatchLooksAt) {
  QTemporaryDir dir;
  const std::string top = dir.path().toStdString();
  ASSERT_EQ(::symlink(".", (top + "/link").c_str()), 0);
  const struct {
    const char* folder;    // below the temporary folder, which is watched
    bool flat, recursive;  // refused by a watch of it alone, by one of the folders inside too
  } rows[] = {
      {"", true, true},        {"link/", true, true},         {"sent/x", false, true},       {"link/new", false, true},
      {".sent", false, false}, {"sent/.old/x", false, false}, {"../elsewhere", false, false}};
  for (const auto& row : rows) {
    const std::string folder = top + "/" + row.folder;
    EXPECT_EQ(!MoveFolderProblem(folder, top, false).empty(), row.flat) << row.folder;
    EXPECT_EQ(!MoveFolderProblem(folder, top + "/", true).empty(), row.recursive) << row.folder;
  }
}

}  // namespace
