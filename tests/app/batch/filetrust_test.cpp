#include "app/batch/filetrust.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QTemporaryDir>

#include "support/files.h"

namespace {

TEST(FileTrust, OnlyAFileNoOtherUserCanChangeIsTrusted) {
  QTemporaryDir dir;
  const struct {
    const char* name;
    mode_t mode;
    std::string problem;  // after the quoted file name; empty: trusted
  } cases[] = {
      {"private", 0600, ""},
      {"readable by all, writable by the owner", 0644, ""},
      {"writable by the group", 0660, " can be changed by other users (mode 0660)"},
      {"writable by everyone", 0602, " can be changed by other users (mode 0602)"},
  };
  for (const auto& c : cases) {
    const std::string path = dir.filePath(c.name).toStdString();
    WriteFile(path, "[Param]\r\nTokenCommand=x\r\n");
    ASSERT_EQ(::chmod(path.c_str(), c.mode), 0);
    EXPECT_EQ(FileTrustProblem(path), c.problem.empty() ? "" : "\"" + path + "\"" + c.problem) << c.name;
  }
  EXPECT_EQ(FileTrustProblem(dir.filePath("missing").toStdString()), "");
}

TEST(FileTrust, AFileOfAnotherUserIsNotTrustedThroughALinkEither) {
  if (::geteuid() != 0) GTEST_SKIP() << "only the superuser can give a file away";
  QTemporaryDir dir;
  const std::string path = dir.filePath("theirs.ini").toStdString(), link = dir.filePath("link.ini").toStdString();
  WriteFile(path, "");
  ASSERT_EQ(::chmod(path.c_str(), 0600), 0);
  ASSERT_EQ(::chown(path.c_str(), 4242, 4242), 0);
  ASSERT_EQ(::symlink(path.c_str(), link.c_str()), 0);
  EXPECT_EQ(FileTrustProblem(path), "\"" + path + "\" belongs to another user");
  EXPECT_EQ(FileTrustProblem(link), "\"" + link + "\" belongs to another user");
}

}  // namespace
