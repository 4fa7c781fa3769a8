#include "toolkit/foldertree.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <QTemporaryDir>

#include <filesystem>

#include "support/files.h"

namespace {

TEST(FolderTree, ListsTheRegularFilesInPathOrder) {
  QTemporaryDir dir;
  const std::string root = dir.path().toStdString() + "/";
  std::string deep = "deep";
  for (int depth = 1; depth <= kMaxFolderDepth; ++depth) deep += "/d";  // the deepest folder entered
  for (const std::string& file :
       std::vector<std::string>{"tree/b.txt", "tree/a-b", "tree/a/x", "tree/a/y/z", "tree/\xc3\xa9.txt", "tree/.hidden",
                                "tree/.git/config", "shut/open/f", "shut/locked/f", deep + "/f", deep + "/d/f"}) {
    std::filesystem::create_directories(std::filesystem::path(root + file).parent_path());
    WriteFile(root + file, "x");
  }
  std::filesystem::create_symlink(root + "tree/b.txt", root + "tree/link-to-file");
  std::filesystem::create_directory_symlink(root + "tree/a", root + "tree/link-to-folder");
  ASSERT_EQ(::mkfifo((root + "tree/fifo").c_str(), 0600), 0);
  ::chmod((root + "shut/locked").c_str(), 0);
  // '-' sorts before '/', so "a-b" comes before the files in a/; "é" after every ASCII name.
  const std::vector<std::string> tree = {"tree/a-b", "tree/a/x", "tree/a/y/z", "tree/b.txt", "tree/\xc3\xa9.txt"};
  const std::string denied = "\"" + root + "shut/locked\" cannot be read: Permission denied";
  const std::string tooDeep = "\"" + root + deep + "/d\" lies more than 64 folders deep: its files were left out";
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
      {"an unreadable subfolder is named, the rest listed", "shut", SIZE_MAX, {"shut/open/f"}, {denied}, false},
      {"a folder too deep is named", "deep", SIZE_MAX, {deep + "/f"}, {tooDeep}, false},
  };
  for (const auto& c : cases) {
    if (c.folder == "shut" && ::geteuid() == 0) continue;  // permission bits do not stop root
    const TFolderFiles listed = ListFolderFiles(root + c.folder, c.maxFiles);
    std::vector<std::string> files;
    for (const std::string& file : c.files) files.push_back(root + file);
    EXPECT_EQ(listed.files, files) << c.name;
    EXPECT_EQ(listed.problems, c.problems) << c.name;
    EXPECT_EQ(listed.more, c.more) << c.name;
  }
  ::chmod((root + "shut/locked").c_str(), 0700);  // so the folder can be removed
}

}  // namespace
