#include "toolkit/foldertree.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <QTemporaryDir>

#include <filesystem>

#include "support/files.h"

namespace {

namespace fs = std::filesystem;

TEST(FolderTree, ListsTheRegularFilesInPathOrder) {
  QTemporaryDir dir;
  const std::string root = dir.path().toStdString();
  for (const char* file : {"tree/b.txt", "tree/a-b", "tree/a/x", "tree/a/y/z", "tree/\xc3\xa9.txt", "tree/.hidden",
                           "tree/.git/config", "locked-tree/open/f"}) {
    fs::create_directories(fs::path(root + "/" + file).parent_path());
    WriteFile(root + "/" + file, "x");
  }
  fs::create_directories(root + "/tree/empty");
  fs::create_symlink(root + "/tree/b.txt", root + "/tree/link-to-file");
  fs::create_directory_symlink(root + "/tree/a", root + "/tree/link-to-folder");
  ASSERT_EQ(::mkfifo((root + "/tree/fifo").c_str(), 0600), 0);
  fs::create_directories(root + "/locked-tree/locked");
  ::chmod((root + "/locked-tree/locked").c_str(), 0);
  std::string deep = "deep";
  for (int depth = 1; depth <= kMaxFolderDepth + 1; ++depth) deep += "/d";
  fs::create_directories(root + "/" + deep);
  WriteFile(root + "/" + deep + "/f", "x");
  const std::string deepest = deep.substr(0, deep.size() - 2) + "/f";  // at kMaxFolderDepth
  WriteFile(root + "/" + deepest, "x");
  // '-' sorts before '/', so "a-b" comes before the files in a/; "é" after every ASCII name.
  const std::vector<std::string> tree = {"tree/a-b", "tree/a/x", "tree/a/y/z", "tree/b.txt", "tree/\xc3\xa9.txt"};

  const std::string quote = "\"" + root + "/";  // a problem names the full path in quotes
  const struct {
    const char* name;
    std::string folder;
    size_t maxFiles;
    std::vector<std::string> files;
    std::vector<std::string> problems;
    bool more;
  } cases[] = {
      {"nested folders sorted; hidden, links and FIFO left out", "tree", SIZE_MAX, tree, {}, false},
      {"the first of that order", "tree", 2, {tree[0], tree[1]}, {}, true},
      {"exactly maxFiles is all of them", "tree", tree.size(), tree, {}, false},
      {"an unreadable subfolder is named, the rest listed",
       "locked-tree",
       SIZE_MAX,
       {"locked-tree/open/f"},
       {quote + "locked-tree/locked\" cannot be read: Permission denied"},
       false},
      {"a folder too deep is named",
       "deep",
       SIZE_MAX,
       {deepest},
       {quote + deep + "\" lies more than 64 folders deep: its files were left out"},
       false},
      {"no such folder", "none", SIZE_MAX, {}, {quote + "none\" cannot be read: No such file or directory"}, false},
  };
  for (const auto& c : cases) {
    // Permission bits do not stop root from reading.
    if (c.folder == "locked-tree" && ::geteuid() == 0) continue;
    const TFolderFiles listed = ListFolderFiles(root + "/" + c.folder, c.maxFiles);
    std::vector<std::string> files;
    for (const std::string& file : c.files) files.push_back(root + "/" + file);
    EXPECT_EQ(listed.files, files) << c.name;
    EXPECT_EQ(listed.problems, c.problems) << c.name;
    EXPECT_EQ(listed.more, c.more) << c.name;
  }
  ::chmod((root + "/locked-tree/locked").c_str(), 0700);  // so the folder can be removed
}

}  // namespace
