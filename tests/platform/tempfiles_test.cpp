// Temporary-files directory and unique temporary file names.
#include "platform/tempfiles.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <filesystem>
#include <set>

#include "toolkit/exceptions.h"

namespace {

namespace fs = std::filesystem;

TEST(TempFilesTest, TempPathFollowsTmpdirWithATrailingSlash) {
  QTemporaryDir dir;
  const QByteArray saved = qgetenv("TMPDIR");
  qputenv("TMPDIR", dir.path().toLocal8Bit());
  const std::string path = GetTempPath();
  qputenv("TMPDIR", saved);
  EXPECT_EQ(path, dir.path().toStdString() + "/");
  EXPECT_EQ(GetTempPath().back(), '/');
}

TEST(TempFilesTest, CreatesUniqueEmptyFilesWithThePrefix) {
  QTemporaryDir dir;
  const std::string base = dir.path().toStdString();
  struct Case {
    const char* name;
    std::string dir;
  } cases[] = {
      {"directory with a trailing slash", base + "/"},
      {"directory without a trailing slash", base},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::set<std::string> names;
    for (int i = 0; i < 50; ++i) {
      const fs::path file = GetTempFileName(c.dir, "px");
      EXPECT_EQ(file.parent_path(), fs::path(base));
      EXPECT_EQ(file.filename().string().rfind("px", 0), 0u) << file;
      EXPECT_TRUE(fs::is_regular_file(file)) << file;
      EXPECT_EQ(fs::file_size(file), 0u) << file;
      names.insert(file.string());
    }
    EXPECT_EQ(names.size(), 50u) << "every name is new";
  }
}

TEST(TempFilesTest, FailureNamesTheDirectory) {
  QTemporaryDir dir;
  const std::string missing = dir.path().toStdString() + "/no-such-folder";
  try {
    GetTempFileName(missing, "px");
    FAIL() << "a file was created in a missing folder";
  } catch (const EFCreateError& e) {
    EXPECT_NE(std::string(e.what()).find(missing), std::string::npos) << e.what();
  }
}

}  // namespace
