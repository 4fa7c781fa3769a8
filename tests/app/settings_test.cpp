// The settings file: where it lives, what malformed values read as, and what a write leaves.
#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "app/settings.h"
#include "toolkit/exceptions.h"
#include "support/files.h"

namespace {

// Sets an environment variable for the life of the object.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old, hadOld_ = true;
    if (value) setenv(name, value, 1);
    else unsetenv(name);
  }
  ~ScopedEnv() {
    if (hadOld_) setenv(name_, old_.c_str(), 1);
    else unsetenv(name_);
  }

 private:
  const char* name_;
  std::string old_;
  bool hadOld_ = false;
};

class SettingsTest : public ::testing::Test {
 protected:
  std::string Path(const std::string& name) const { return dir_.filePath(QString::fromStdString(name)).toStdString(); }
  QTemporaryDir dir_;
};

TEST_F(SettingsTest, FileNameBesideTheProgramOrInTheUsersConfiguration) {
  const ScopedEnv home("HOME", Path("home").c_str());
  const std::string installed = Path("not-there/bin/mailcart");  // a folder we cannot write to
  const struct {
    const char* name;
    std::string program;
    const char* xdg;
    std::string file;
  } cases[] = {
      {"beside a program without extension", Path("mailcart"), nullptr, Path("mailcart.ini")},
      {"the extension is replaced", Path("mailcart.exe"), nullptr, Path("mailcart.ini")},
      {"installed, XDG_CONFIG_HOME set", installed, "/etc/xdg-test", "/etc/xdg-test/mailcart/mailcart.ini"},
      {"installed, XDG_CONFIG_HOME unset", installed, nullptr, Path("home") + "/.config/mailcart/mailcart.ini"},
      {"installed, XDG_CONFIG_HOME relative", installed, "relative", Path("home") + "/.config/mailcart/mailcart.ini"},
  };
  for (const auto& c : cases) {
    const ScopedEnv xdg("XDG_CONFIG_HOME", c.xdg);
    EXPECT_EQ(SettingsFileName(c.program), c.file) << c.name;
  }
}

TEST_F(SettingsTest, MissingAndMalformedValuesReadAsDefaults) {
  const TSettings none = ReadSettings(Path("missing.ini"));
  EXPECT_EQ(none.addr + none.subj + none.mailSrv + none.addrFrom, "");
  EXPECT_FALSE(none.delFiles);
  EXPECT_FALSE(none.sortFiles);
  EXPECT_EQ(none.pauseSec, 0);

  const struct {
    const char* name;
    const char* lines;
    int pause;
    bool del, sort;
  } cases[] = {
      {"hexadecimal pause", "PauseSec=0x1E", 30, false, false},
      {"a pause that is no number", "PauseSec=abc", 0, false, false},
      {"any non-zero number is checked", "DelFiles=2\r\nSortFiles=-1", 0, true, true},
      {"a box that is no number is unchecked", "DelFiles=yes\r\nSortFiles=0", 0, false, false},
      {"keys in any case", "pausesec=12\r\nDELFILES=1", 12, true, false},
  };
  for (const auto& c : cases) {
    WriteFile(Path("s.ini"), std::string("[Param]\r\n") + c.lines + "\r\n");
    const TSettings s = ReadSettings(Path("s.ini"));
    EXPECT_EQ(s.pauseSec, c.pause) << c.name;
    EXPECT_EQ(s.delFiles, c.del) << c.name;
    EXPECT_EQ(s.sortFiles, c.sort) << c.name;
  }
}

TEST_F(SettingsTest, WriteCreatesFolderAndFileAndReadsBack) {
  const std::string file = Path("config/mailcart/mailcart.ini");
  TSettings s{"to@example.com", "Subject = with equals", "smtp.example.com:2525", "from@example.com", true, false, -4};
  WriteSettings(file, s);
  EXPECT_EQ(ReadFile(file),
            "[Param]\r\nAddr=to@example.com\r\nSubj=Subject = with equals\r\nAddrFrom=from@example.com\r\n"
            "MailSrv=smtp.example.com:2525\r\nDelFiles=1\r\nSortFiles=0\r\nPauseSec=-4\r\n");
  const TSettings back = ReadSettings(file);
  EXPECT_EQ(back.addr, s.addr);
  EXPECT_EQ(back.subj, s.subj);
  EXPECT_EQ(back.mailSrv, s.mailSrv);
  EXPECT_EQ(back.addrFrom, s.addrFrom);
  EXPECT_EQ(back.delFiles, s.delFiles);
  EXPECT_EQ(back.sortFiles, s.sortFiles);
  EXPECT_EQ(back.pauseSec, s.pauseSec);
}

TEST_F(SettingsTest, AFailedWriteNamesTheFile) {
  WriteFile(Path("plain"), "a file where a folder should be");
  const std::string file = Path("plain/mailcart/mailcart.ini");
  try {
    WriteSettings(file, TSettings{});
    FAIL() << "the write succeeded";
  } catch (const Exception& error) {
    EXPECT_NE(std::string(error.what()).find(file), std::string::npos) << error.what();
  }
}

}  // namespace
