// The watch of a folder over real inotify events in a temporary folder, with a clock the test
// moves: when files come out complete, and how often.
#include "app/batch/folderwatch.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QTemporaryDir>

#include <cstdio>
#include <string>
#include <vector>

#include "support/files.h"

namespace {

using namespace std::chrono_literals;
using Clock = TWatchOptions::Clock;

class FolderWatch : public ::testing::Test {
 protected:
  TWatchOptions Options() {
    TWatchOptions options;
    options.folder = folder_;
    options.settle = 1000ms;
    options.now = [this] { return now_; };
    return options;
  }
  std::string Path(const std::string& name) const { return folder_ + "/" + name; }
  void Append(const std::string& name, const std::string& data = "piece ") {
    WriteFile(Path(name), ReadFile(Path(name)) + data);
  }
  // The names (below the folder) that come out now, as a driver reads the events at once, and
  // after the clock moved on by step.
  std::string After(TFolderWatch& watch, std::chrono::milliseconds step) {
    std::string names;
    for (int call = 0; call < 2; ++call) {
      for (const TWatchedFile& file : watch.Process())
        names += (names.empty() ? "" : ",") + file.path.substr(folder_.size() + 1);
      now_ += call == 0 ? step : 0ms;
    }
    return names;
  }

  QTemporaryDir dir_;
  std::string folder_ = dir_.filePath("in").toStdString();
  Clock::time_point now_ = Clock::now();

  void SetUp() override { ASSERT_EQ(::mkdir(folder_.c_str(), 0700), 0); }
};

TEST_F(FolderWatch, EachFileOnceAfterItsLastChange) {
  enum TOp { Write, Rename, Remove, MakeFolderWithFile, Nothing };
  struct TStep {
    TOp op;
    const char* name;
    int advanceMs;
    const char* out;  // the names out after it, comma-separated
    const char* to = "";
  };
  const struct {
    const char* name;
    std::vector<TStep> steps;
  } rows[] = {
      {"written in pieces with shorter pauses: once, after the last",
       {{Write, "a.pdf", 600, ""}, {Write, "a.pdf", 600, ""}, {Write, "a.pdf", 600, ""}, {Nothing, "", 399, ""},
        {Nothing, "", 1, "a.pdf"}, {Nothing, "", 5000, ""}}},
      {"a .part file renamed to its final name: once",
       {{Write, "b.pdf.part", 2000, ""}, {Rename, "b.pdf.part", 999, "", "b.pdf"}, {Nothing, "", 1, "b.pdf"},
        {Nothing, "", 5000, ""}}},
      {"rewritten after it was taken: again",
       {{Write, "c.pdf", 1000, "c.pdf"}, {Write, "c.pdf", 1000, "c.pdf"}, {Nothing, "", 5000, ""}}},
      {"removed while settling: never", {{Write, "d.pdf", 500, ""}, {Remove, "d.pdf", 5000, ""}}},
      {"temporary and hidden names: never", {{Write, "e.tmp", 0, ""}, {Write, ".e", 0, ""}, {Write, "e~", 5000, ""}}},
      {"in order of becoming candidates, each after its own settle time",
       {{Write, "z.pdf", 500, ""}, {Write, "y.pdf", 500, "z.pdf"}, {Write, "z.pdf", 500, "y.pdf"},
        {Nothing, "", 500, "z.pdf"}}},
      {"a folder made and filled before its watch: its file found",
       {{MakeFolderWithFile, "sub", 1000, "sub/f.pdf"}, {Nothing, "", 5000, ""}}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    QTemporaryDir fresh;
    folder_ = fresh.path().toStdString();
    TWatchOptions options = Options();
    options.recursive = true;
    TFolderWatch watch(options);
    for (const TStep& step : row.steps) {
      if (step.op == Write) Append(step.name);
      if (step.op == Rename) {
        ASSERT_EQ(std::rename(Path(step.name).c_str(), Path(step.to).c_str()), 0);
      }
      if (step.op == Remove) {
        ASSERT_EQ(::unlink(Path(step.name).c_str()), 0);
      }
      if (step.op == MakeFolderWithFile) {
        ASSERT_EQ(::mkdir(Path(step.name).c_str(), 0700), 0);
        Append(std::string(step.name) + "/f.pdf");  // before the watch sees the folder
      }
      EXPECT_EQ(After(watch, std::chrono::milliseconds(step.advanceMs)), step.out)
          << "after " << step.name << " and " << step.advanceMs << " ms";
    }
  }
}

TEST_F(FolderWatch, FilesThereAtTheStartAndTwentyDroppedAtOnce) {
  const struct {
    const char* name;
    bool newOnly, recursive;
    size_t out;  // the first ones come in the order of the folder, then the twenty
  } rows[] = {
      {"the files there too", false, false, 2 + 20},
      {"new only", true, false, 20},
      {"recursive, with the folder's", false, true, 3 + 20},
      {"recursive and new only", true, true, 20},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    QTemporaryDir top;
    const std::string folder = top.path().toStdString();
    ASSERT_EQ(::mkdir((folder + "/sub").c_str(), 0700), 0);
    for (const char* name : {"old-1", "old-2", "sub/old-3"}) WriteFile(folder + "/" + name, "x");
    TWatchOptions options = Options();
    options.folder = folder;
    options.newOnly = row.newOnly;
    options.recursive = row.recursive;
    TFolderWatch watch(options);
    EXPECT_TRUE(watch.TakeNotices().empty());
    EXPECT_EQ(watch.PollTimeout(), row.newOnly ? -1 : 1000);
    std::vector<std::string> dropped;
    for (int i = 0; i < 20; ++i) {
      dropped.push_back(folder + (row.recursive && i % 2 ? "/sub/" : "/") + "new-" + std::to_string(i));
      WriteFile(dropped.back(), std::string(i, 'x'));
    }
    std::vector<TWatchedFile> out = watch.Process();
    EXPECT_TRUE(out.empty());
    now_ += 1000ms;
    out = watch.Process();
    ASSERT_EQ(out.size(), row.out);
    for (size_t i = 0; i < dropped.size(); ++i) EXPECT_EQ(out[row.out - 20 + i].path, dropped[i]);
    EXPECT_EQ(out[0].path, folder + (row.newOnly ? "/new-0" : "/old-1"));
    now_ += 5000ms;
    EXPECT_TRUE(watch.Process().empty());
    EXPECT_EQ(watch.PollTimeout(), -1);
  }
}

TEST_F(FolderWatch, AFileHeldOpenForWritingIsNotCompleteUntilClosed) {
  Append("held.pdf");
  int ready[2], release[2];
  ASSERT_EQ(::pipe(ready), 0);
  ASSERT_EQ(::pipe(release), 0);
  TFolderWatch watch(Options());
  const std::string path = Path("held.pdf");
  const pid_t child = ::fork();
  if (child == 0) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND);
    char byte = 0;
    ::write(ready[1], &byte, 1);
    ::read(release[0], &byte, 1);
    ::close(fd);
    ::_exit(fd < 0);
  }
  char byte = 0;
  ASSERT_EQ(::read(ready[0], &byte, 1), 1);
  EXPECT_EQ(After(watch, 1000ms), "");
  EXPECT_EQ(After(watch, 5000ms), "");
  ASSERT_EQ(::write(release[1], &byte, 1), 1);
  int status = -1;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(After(watch, 999ms), "");  // its close started the settle time again
  EXPECT_EQ(After(watch, 1ms), "held.pdf");
  for (int fd : {ready[0], ready[1], release[0], release[1]}) ::close(fd);
}

TEST_F(FolderWatch, TheFolderRemovedOrMovedEndsTheWatch) {
  const struct {
    const char* name;
    bool remove;
    const char* says;
  } rows[] = {{"removed", true, "was removed"}, {"renamed", false, "was moved or renamed"}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    TFolderWatch watch(Options());
    if (row.remove)
      ASSERT_EQ(::rmdir(folder_.c_str()), 0);
    else
      ASSERT_EQ(std::rename(folder_.c_str(), (folder_ + "-moved").c_str()), 0);
    for (int call = 0; call < 2; ++call) {  // and stays ended
      try {
        watch.Process();
        ADD_FAILURE() << "no error";
      } catch (const EWatchError& error) {
        EXPECT_EQ(error.Message(), "The watched folder \"" + folder_ + "\" " + row.says + ": the watch has ended");
      }
    }
    if (row.remove) {
      ASSERT_EQ(::mkdir(folder_.c_str(), 0700), 0);
    } else {
      ASSERT_EQ(std::rename((folder_ + "-moved").c_str(), folder_.c_str()), 0);
    }
  }
}

}  // namespace
