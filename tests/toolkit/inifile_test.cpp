#include "toolkit/inifile.h"

#include <QDir>
#include <QTemporaryDir>

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <climits>
#include <filesystem>
#include <optional>

#include "support/files.h"
#include "toolkit/exceptions.h"

namespace {

class IniFile : public ::testing::Test {
 protected:
  std::string Path(const char* name = "mailcart.ini") const { return dir_.filePath(name).toStdString(); }
  QTemporaryDir dir_;
};

TEST_F(IniFile, FirstRunGivesDefaults) {
  const TIniFile ini(Path());
  EXPECT_EQ(ini.ReadString("Param", "Addr", ""), "");
  EXPECT_EQ(ini.ReadString("Param", "Addr", "default"), "default");
  EXPECT_FALSE(ini.ReadBool("Param", "DelFiles", false));
  EXPECT_EQ(ini.ReadInteger("Param", "PauseSec", 0), 0);
  const TIniFile folder(dir_.path().toStdString());  // exists but cannot be read as a file
  EXPECT_EQ(folder.ReadInteger("Param", "PauseSec", 5), 5);
}

TEST_F(IniFile, ReadsIntegersAsHexadecimalOrDecimal) {
  const struct {
    const char* name;
    const char* value;
    int expected;  // -99 is the default
  } cases[] = {
      {"0x prefix is hexadecimal", "0x1E", 30},
      {"0X prefix and lower-case digits", "0X1e", 30},
      {"letters give the default", "abc", -99},
      {"decimal", "2", 2},
      {"negative", "-7", -7},
      {"blanks around", "  12  ", 12},
      {"0x alone is not hexadecimal", "0x", -99},
      {"hexadecimal is a 32-bit word", "0xFFFFFFFF", -1},
      {"hexadecimal over 32 bits", "0x100000000", -99},
      {"negative hexadecimal is not", "-0x10", -99},
      {"largest", "2147483647", INT_MAX},
      {"over 32 bits", "2147483648", -99},
      {"fraction", "1.5", -99},
      {"empty", "", -99},
  };
  const TIniFile ini(Path());
  for (const auto& c : cases) {
    WriteFile(Path(), std::string("[Param]\r\nPauseSec=") + c.value + "\r\n");
    EXPECT_EQ(ini.ReadInteger("Param", "PauseSec", -99), c.expected) << c.name;
  }
  WriteFile(Path(), "[Param]\r\nDelFiles=2\r\nSortFiles=0\r\nOther=abc\r\n");
  EXPECT_TRUE(ini.ReadBool("Param", "DelFiles", false)) << "any non-zero integer is true";
  EXPECT_FALSE(ini.ReadBool("Param", "SortFiles", true));
  EXPECT_TRUE(ini.ReadBool("Param", "Other", true)) << "not a number: the default";
}

TEST_F(IniFile, FindsSectionsAndKeysWithoutRegardToCase) {
  WriteFile(Path(),
            "Subj=outside any section\n[param]\n  ADDR = ann@example.com \n;Subj=commented out\nEmpty=\n"
            "[Other]\nsubj=other section\nLong=" +
                std::string(2000, 'x') + "\n");
  const TIniFile ini(Path());
  EXPECT_EQ(ini.ReadString("PARAM", "addr", ""), "ann@example.com");
  EXPECT_EQ(ini.ReadString("Param", "Subj", "none"), "none");
  EXPECT_EQ(ini.ReadString("Param", "Empty", "none"), "") << "a present empty value is not the default";
  EXPECT_EQ(ini.ReadString("other", "SUBJ", ""), "other section");
  EXPECT_EQ(ini.ReadString("Other", "Long", ""), std::string(1023, 'x'));
}

// One reading for many keys: what a later write changes is not seen, so the keys of one read
// never mix two versions of the file.
TEST_F(IniFile, ValuesKeepTheFileAsItWasRead) {
  WriteFile(Path(), "[Param]\r\nAddr=ann@example.com\r\nPauseSec=0x10\r\n");
  const TIniValues values(Path());
  TIniFile(Path()).WriteString("Param", "Addr", "bob@example.com");
  EXPECT_EQ(values.ReadString("param", "ADDR", ""), "ann@example.com");
  EXPECT_EQ(values.ReadInteger("Param", "PauseSec", 0), 16);
  EXPECT_EQ(TIniFile(Path()).ReadString("Param", "Addr", ""), "bob@example.com");
  EXPECT_EQ(TIniValues(Path("missing.ini")).ReadString("Param", "Addr", "none"), "none");
}

TEST_F(IniFile, WriteChangesOnlyItsLine) {
  const std::string head =
      "; Mailcart settings\r\n\r\n[Other]\r\nKeep = this \r\n\r\n[Param]\r\nAddr=old@example.com\r\n; note\r\n";
  WriteFile(Path(), head + "Subj = old subject\r\n\r\n[Last]\nlf=only\n");
  TIniFile ini(Path());
  ini.WriteString("PARAM", "subj", "new");
  ini.WriteInteger("Param", "PauseSec", -2);
  ini.WriteBool("Param", "DelFiles", true);
  ini.WriteString("Last", "Added", "x");
  EXPECT_EQ(ReadFile(Path()), head + "Subj = new\r\nPauseSec=-2\r\nDelFiles=1\r\n\r\n[Last]\nlf=only\nAdded=x\n");
  EXPECT_EQ(ini.ReadInteger("Param", "PauseSec", 0), -2);
}

TEST_F(IniFile, WriteCreatesFileSectionAndKey) {
  const struct {
    const char* name;
    std::optional<std::string> before;  // nothing: no file
    const char* value;
    const char* after;
  } cases[] = {
      {"no file", std::nullopt, "a@b", "[Param]\r\nAddr=a@b\r\n"},
      {"empty file", "", "a@b", "[Param]\r\nAddr=a@b\r\n"},
      {"no such section", "[Other]\r\nx=1\r\n", "a@b", "[Other]\r\nx=1\r\n[Param]\r\nAddr=a@b\r\n"},
      {"last line without line end", "[Param]\r\nSubj=s", "a@b", "[Param]\r\nSubj=s\r\nAddr=a@b\r\n"},
      {"section line alone", "[Param]", "a@b", "[Param]\r\nAddr=a@b\r\n"},
      {"key goes before the blank lines", "[Param]\nSubj=s\n\n[Z]\n", "a@b", "[Param]\nSubj=s\nAddr=a@b\n\n[Z]\n"},
      {"replaced in place, spelling kept", "[PARAM]\r\nADDR=old\r\nx=1\r\n", "a@b", "[PARAM]\r\nADDR=a@b\r\nx=1\r\n"},
      {"empty value", "[Param]\r\nAddr=old\r\n", "", "[Param]\r\nAddr=\r\n"},
      {"a line break cannot start a section", std::nullopt, "a@b\r\n[Evil]", "[Param]\r\nAddr=a@b  [Evil]\r\n"},
  };
  for (const auto& c : cases) {
    QTemporaryDir dir;  // a fresh folder: a temporary file left behind shows
    const std::string path = dir.filePath("mailcart.ini").toStdString();
    if (c.before) WriteFile(path, *c.before);
    TIniFile(path).WriteString("Param", "Addr", c.value);
    EXPECT_EQ(ReadFile(path), c.after) << c.name;
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files).size(), 1) << c.name << ": temporary file left";
  }
}

TEST_F(IniFile, WriteLeavesAPrivateFileAndKeepsSymbolicLink) {
  const std::string real = Path("real.ini"), link = Path("link.ini"), created = Path("new.ini");
  WriteFile(real, "[Param]\r\n");
  ASSERT_EQ(::chmod(real.c_str(), 0666), 0);
  ASSERT_EQ(::symlink(real.c_str(), link.c_str()), 0);
  TIniFile(link).WriteString("Param", "Subj", "s");
  TIniFile(created).WriteString("Param", "Subj", "s");
  EXPECT_TRUE(std::filesystem::is_symlink(link));
  EXPECT_EQ(ReadFile(real), "[Param]\r\nSubj=s\r\n");
  for (const std::string& path : {real, created}) {
    struct stat st;
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u) << path;
  }
}

TEST_F(IniFile, FailedWriteRaisesNamingTheFile) {
  std::vector<std::string> paths = {Path("no/such/folder/mailcart.ini"), dir_.path().toStdString()};
  // Permissions do not stop the superuser; the case runs for everyone else.
  const std::string locked = Path("locked");
  const bool lockable = ::geteuid() != 0 && QDir(dir_.path()).mkdir("locked");
  if (lockable) {
    WriteFile(locked + "/mailcart.ini", "[Param]\r\nAddr=kept\r\n");
    ASSERT_EQ(::chmod(locked.c_str(), 0555), 0);
    paths.push_back(locked + "/mailcart.ini");
  }
  for (const std::string& path : paths) {
    try {
      TIniFile(path).WriteString("Param", "Addr", "a@b");
      ADD_FAILURE() << path << ": no error";
    } catch (const Exception& e) {
      EXPECT_TRUE(dynamic_cast<const EFCreateError*>(&e) || dynamic_cast<const EInOutError*>(&e)) << e.what();
      EXPECT_NE(std::string(e.what()).find(path), std::string::npos) << e.what();
    }
  }
  if (lockable) {
    EXPECT_EQ(ReadFile(locked + "/mailcart.ini"), "[Param]\r\nAddr=kept\r\n");
    ::chmod(locked.c_str(), 0755);
  }
}

}  // namespace
