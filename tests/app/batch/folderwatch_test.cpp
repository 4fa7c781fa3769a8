// The watch of a folder over real inotify events in a temporary folder, with a clock the test
// moves: when files come out complete, how often, and when the watch ends.
#include "app/batch/folderwatch.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QTemporaryDir>

#include <cstdio>

#include "support/files.h"

namespace {

using namespace std::chrono_literals;

enum TOp { Write, WriteTwenty, Remove, MakeFolderWithFile, Hold, Release, RemoveTop, MoveTop, Nothing };
struct TStep {
  TOp op;
  std::string name;
  int ms;           // how far the clock then moves
  std::string out;  // the names out by then; "!" and the error when the watch ended
};

std::string Twenty(const std::string& before = "") {
  std::string names = before;
  for (int i = 10; i < 30; ++i) names += (names.empty() ? "new-" : ",new-") + std::to_string(i);
  return names;
}

// A child that holds path open for writing until its pipe, release[1], is closed.
pid_t HoldOpen(const std::string& path, int release[2]) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND);  // the child's before the fork returns
  if (::pipe(release) != 0 || fd < 0) return -1;
  const pid_t pid = ::fork();
  if (pid == 0) {
    char byte;
    ::close(release[1]);
    ::alarm(60);  // never outlives a test gone wrong
    ::_exit(static_cast<int>(::read(release[0], &byte, 1)));
  }
  ::close(fd);
  ::close(release[0]);
  return pid;
}

// Does what step says in folder.
void Act(const TStep& step, const std::string& folder, pid_t& holder, int release[2]) {
  const std::string path = folder + "/" + step.name;
  switch (step.op) {
    case Write: WriteFile(path, ReadFile(path) + "piece"); break;
    case WriteTwenty:
      for (int i = 10; i < 30; ++i) WriteFile(folder + "/new-" + std::to_string(i), "x");
      break;
    case Remove: ASSERT_EQ(::unlink(path.c_str()), 0); break;
    case MakeFolderWithFile:  // the file made before the watch can see the folder
      ASSERT_EQ(::mkdir(path.c_str(), 0700), 0);
      WriteFile(path + "/f", "x");
      break;
    case Hold: ASSERT_GT(holder = HoldOpen(path, release), 0); break;
    case Release:  // its close of the file follows its end
      ::close(release[1]);
      ASSERT_EQ(::waitpid(holder, nullptr, 0), holder);
      break;
    case RemoveTop: ASSERT_EQ(::rmdir((folder + "/sub").c_str()) | ::rmdir(folder.c_str()), 0); break;
    case MoveTop: ASSERT_EQ(std::rename(folder.c_str(), (folder + "-moved").c_str()), 0); break;
    case Nothing: break;
  }
}

TEST(FolderWatch, EachFileOnceAfterItsLastChange) {
  const auto error = [](const char* what) {
    return "!The watched folder \"DIR\" " + std::string(what) + ": the watch has ended";
  };
  enum { kFilesThere = 1, kNewOnly = 2, kFlat = 4 };  // kFilesThere: "old" and "sub/old"
  const struct {
    const char* name;
    int start;
    std::vector<TStep> steps;
  } rows[] = {
      // A file written in pieces and a .part renamed: the command's end-to-end test.
      {"rewritten after it was taken: again", 0, {{Write, "c", 1000, "c"}, {Write, "c", 1000, "c"}}},
      {"removed while settling: never", 0, {{Write, "d", 500, ""}, {Remove, "d", 5000, ""}}},
      {"temporary and hidden names: never", 0, {{Write, "e.tmp", 0, ""}, {Write, ".e", 5000, ""}}},
      {"in the order of becoming candidates",
       0,
       {{Write, "z", 500, ""}, {Write, "y", 500, "z"}, {Write, "z", 500, "y"}, {Nothing, "", 500, "z"}}},
      {"a folder filled before its watch: its file found", 0, {{MakeFolderWithFile, "new", 1000, "new/f"}}},
      {"files there and twenty dropped at once",
       kFilesThere,
       {{WriteTwenty, "", 1000, Twenty("old,sub/old")}, {Nothing, "", 5000, ""}}},
      {"new only, without the folders inside",
       kFilesThere | kNewOnly | kFlat,
       {{MakeFolderWithFile, "new", 0, ""}, {WriteTwenty, "", 1000, Twenty()}, {Nothing, "", 5000, ""}}},
      {"held open for writing by another process: not until closed",
       0,
       {{Write, "h", 0, ""},
        {Hold, "h", 1000, ""},
        {Nothing, "", 5000, ""},
        {Release, "", 999, ""},
        {Nothing, "", 1, "h"}}},
      {"the folder removed", 0, {{RemoveTop, "", 0, error("was removed")}, {Nothing, "", 0, error("was removed")}}},
      {"the folder moved", 0, {{MoveTop, "", 0, error("was moved or renamed")}}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    QTemporaryDir dir;
    const std::string folder = dir.filePath("in").toStdString();
    ASSERT_EQ(::mkdir(folder.c_str(), 0700), 0);
    ASSERT_EQ(::mkdir((folder + "/sub").c_str(), 0700), 0);
    if (row.start & kFilesThere)
      for (const char* name : {"old", "sub/old"}) WriteFile(folder + "/" + name, "x");
    auto now = TWatchOptions::Clock::now();
    TFolderWatch watch({folder, !(row.start & kFlat), (row.start & kNewOnly) != 0, 1000ms, {}, [&now] { return now; }});
    pid_t holder = -1;
    int release[2];
    // As a driver would: the events read at once, the clock moved on, then its deadline.
    const auto process = [&] {
      std::string names;
      try {
        for (const TWatchedFile& file : watch.Process())
          names += (names.empty() ? "" : ",") + file.path.substr(folder.size() + 1);
      } catch (const EWatchError& e) {
        names = "!" + e.Message();
        names.replace(names.find(folder), folder.size(), "DIR");
      }
      return names;
    };
    for (const TStep& step : row.steps) {
      ASSERT_NO_FATAL_FAILURE(Act(step, folder, holder, release));
      std::string out = process();
      now += std::chrono::milliseconds(step.ms);
      const std::string later = process();
      if (out.empty() || out[0] != '!') out += out.empty() || later.empty() ? later : "," + later;
      EXPECT_EQ(out, step.out) << "after " << step.op << " " << step.name << " and " << step.ms << " ms";
    }
  }
}

}  // namespace
