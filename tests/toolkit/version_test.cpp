#include "toolkit/version.h"

#include <QFile>
#include <QTemporaryDir>

#include <filesystem>

#include <gtest/gtest.h>

TEST(Version, RecordOfAnExistingFile) {
  QTemporaryDir dir;
  const QString path = dir.filePath("mailcart");
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  const QDateTime stamp(QDate(2021, 3, 4), QTime(5, 6, 7));
  ASSERT_TRUE(file.setFileTime(stamp, QFileDevice::FileModificationTime));
  file.close();

  const TVersionInfo version(path.toStdString());
  EXPECT_EQ(version.ProductName(), "Mailcart");
  EXPECT_EQ(version.FileVersion(), "1.1.0");
  EXPECT_EQ(version.FileDate(), stamp);
  EXPECT_EQ(FormatShortDate(version.FileDate(), QLocale(QLocale::English, QLocale::UnitedStates)), "3/4/21");
  EXPECT_EQ(FormatShortDate(version.FileDate(), QLocale(QLocale::German, QLocale::Germany)), "04.03.21");
}

TEST(Version, MissingFileHasTheZeroDate) {
  const TVersionInfo version("/nonexistent/mailcart");
  EXPECT_EQ(version.ProductName(), "Mailcart");
  EXPECT_EQ(version.FileDate(), ZeroDate());
  EXPECT_EQ(FormatShortDate(ZeroDate(), QLocale(QLocale::English, QLocale::UnitedStates)), "12/30/99");
  EXPECT_FALSE(FormatShortDate(ZeroDate()).empty());
}

TEST(Version, ExecutablePathIsThisProgram) {
  const std::string path = ExecutablePath();
  EXPECT_EQ(std::filesystem::path(path).filename(), "version_test");
  EXPECT_TRUE(std::filesystem::path(path).is_absolute());
  EXPECT_TRUE(std::filesystem::exists(path));
}
