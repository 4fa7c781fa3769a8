// The settings file: where it lives, what malformed values read as, and what a write leaves.
#include <gtest/gtest.h>

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QTemporaryDir>

#include <string>
#include <tuple>

#include "app/batch/settings.h"
#include "support/files.h"
#include "toolkit/exceptions.h"

namespace {

// Sets (nullptr: removes) an environment variable for the life of the object.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value)
      : name_(name), old_(qgetenv(name)), had_(qEnvironmentVariableIsSet(name)) {
    value ? qputenv(name, value) : qunsetenv(name);
  }
  ~ScopedEnv() { had_ ? qputenv(name_, old_) : qunsetenv(name_); }

 private:
  const char* name_;
  const QByteArray old_;
  const bool had_;
};

auto Fields(const TSettings& s) {
  return std::make_tuple(s.addr, s.subj, s.mailSrv, s.addrFrom, s.delFiles, s.sortFiles, s.pauseSec,
                         s.newConnectionPerMessage, s.retries, s.keepGoing, s.maxPerMinute, s.maxPerHour, s.maxPerDay,
                         s.maxPerSession, s.settleSeconds);
}

class SettingsTest : public ::testing::Test {
 protected:
  std::string Path(const std::string& name) const { return dir_.filePath(QString::fromStdString(name)).toStdString(); }
  QTemporaryDir dir_;
};

// Beside the program only where a file is already there: an installed program whose folder
// is writable (run as root) keeps its settings in the user's configuration.
TEST_F(SettingsTest, FileNameBesideTheProgramOrInTheUsersConfiguration) {
  const ScopedEnv home("HOME", Path("home").c_str());
  const std::string installed = Path("not-there/bin/mailcart");  // a folder we cannot write to
  const std::string xdgHome = Path("home") + "/.config/mailcart/mailcart.ini";
  ASSERT_TRUE(QDir().mkpath(QString::fromStdString(Path("portable"))));
  WriteFile(Path("portable/mailcart.ini"), "");
  const struct {
    const char* name;
    std::string program;
    const char* xdg;
    std::string file;
  } cases[] = {
      {"a portable copy without extension", Path("portable/mailcart"), nullptr, Path("portable/mailcart.ini")},
      {"a portable copy, the extension is replaced", Path("portable/mailcart.exe"), nullptr,
       Path("portable/mailcart.ini")},
      {"a writable folder without the file", Path("mailcart"), nullptr, xdgHome},
      {"a writable folder, XDG_CONFIG_HOME set", Path("mailcart"), "/etc/xdg-test",
       "/etc/xdg-test/mailcart/mailcart.ini"},
      {"installed, XDG_CONFIG_HOME set", installed, "/etc/xdg-test", "/etc/xdg-test/mailcart/mailcart.ini"},
      {"installed, XDG_CONFIG_HOME unset", installed, nullptr, xdgHome},
      {"installed, XDG_CONFIG_HOME relative", installed, "relative", xdgHome},
  };
  for (const auto& c : cases) {
    const ScopedEnv xdg("XDG_CONFIG_HOME", c.xdg);
    EXPECT_EQ(SettingsFileName(c.program), c.file) << c.name;
  }
}

// The suite never touches the real settings: every test process has a home of its own.
TEST_F(SettingsTest, TestsRunWithAHomeOfTheirOwn) {
  const passwd* user = ::getpwuid(::getuid());
  ASSERT_NE(user, nullptr);
  const std::string realHome = user->pw_dir;
  for (const char* name : {"HOME", "XDG_CONFIG_HOME"}) {
    const std::string value = qEnvironmentVariable(name).toStdString();
    EXPECT_FALSE(value.empty()) << name;
    const bool underRealHome = value == realHome || value.rfind(realHome + "/", 0) == 0;
    EXPECT_FALSE(underRealHome) << name << "=" << value;
  }
}

TEST_F(SettingsTest, MissingAndMalformedValuesReadAsDefaults) {
  const struct {
    const char* name;
    const char* lines;  // nullptr: no file
    int pause;
    bool del, sort;
    bool perMessage = false;
  } cases[] = {
      {"no file", nullptr, 0, false, false},
      {"hexadecimal pause", "PauseSec=0x1E", 30, false, false},
      {"a pause that is no number", "PauseSec=abc", 0, false, false},
      {"any non-zero number is checked", "DelFiles=2\r\nSortFiles=-1", 0, true, true},
      {"a box that is no number is unchecked", "DelFiles=yes\r\nSortFiles=0", 0, false, false},
      {"keys in any case", "pausesec=12\r\nDELFILES=1", 12, true, false},
      {"a session per message", "NewConnectionPerMessage=1", 0, false, false, true},
  };
  for (const auto& c : cases) {
    const std::string file = Path(std::string(c.name) + ".ini");
    if (c.lines) WriteFile(file, std::string("[Param]\r\n") + c.lines + "\r\n");
    EXPECT_EQ(Fields(ReadSettings(file)),
              Fields(TSettings{"", "", "", "", c.del, c.sort, c.pause, {}, c.perMessage, {}, 3, false, "", 90, ""}))
        << c.name;
  }
}

TEST_F(SettingsTest, WriteCreatesFolderAndFileAndReadsBack) {
  const std::string file = Path("config/mailcart/mailcart.ini");
  const TSettings s{"to@example.com",
                    "Subject = with equals",
                    "smtp.example.com:2525",
                    "from@example.com",
                    true,
                    false,
                    -4,
                    {},
                    false,
                    {},
                    3,
                    false,
                    "",
                    90,
                    ""};
  WriteSettings(file, s);
  EXPECT_EQ(ReadFile(file),
            "[Param]\r\nAddr=to@example.com\r\nSubj=Subject = with equals\r\nAddrFrom=from@example.com\r\n"
            "MailSrv=smtp.example.com:2525\r\nDelFiles=1\r\nSortFiles=0\r\nPauseSec=-4\r\n");
  EXPECT_EQ(Fields(ReadSettings(file)), Fields(s));
  // Written only by a file that asked for it: the window has no control for it.
  TSettings perMessage = s;
  perMessage.newConnectionPerMessage = true;
  perMessage.retries = 0;  // no retry at all is a choice of its own
  perMessage.keepGoing = true;
  perMessage.maxPerMinute = 0;  // switches the provider's cap off: kept apart from a missing key
  perMessage.maxPerHour = 100;
  perMessage.maxPerSession = 5;
  perMessage.settleSeconds = 2;
  WriteSettings(file, perMessage);
  EXPECT_NE(ReadFile(file).find("\r\nSettleSeconds=2\r\n"), std::string::npos) << ReadFile(file);
  EXPECT_NE(ReadFile(file).find("\r\nNewConnectionPerMessage=1\r\n"), std::string::npos) << ReadFile(file);
  EXPECT_NE(ReadFile(file).find("\r\nMaxPerMinute=0\r\nMaxPerHour=100\r\nMaxPerSession=5\r\n"), std::string::npos);
  EXPECT_EQ(Fields(ReadSettings(file)), Fields(perMessage));
}

auto AccountFields(const TAccount& a) {
  return std::make_tuple(a.security, a.user, a.authMethod, a.tokenCommand, a.caFile, a.fingerprint, a.fromName,
                         a.oauthIssuer, a.oauthClientId);
}

TEST_F(SettingsTest, AccountKeysReadBackAndDefaultsStayOut) {
  const std::string file = Path("account.ini");
  TSettings s;
  s.account = {TpxSecurity::StartTLS, "ann",   TAuthMethod::XOAuth2, "oauth-token --user ann",
               "/etc/ca.pem",         "ab:cd", "Scanner Büro",       "https://login.example",
               "mailcart-1"};
  s.userServer = "mail.example:587";
  WriteSettings(file, s);
  EXPECT_NE(ReadFile(file).find("Security=STARTTLS\r\nUser=ann\r\nUserServer=mail.example:587\r\nAuthMethod=XOAUTH2\r\n"
                                "TokenCommand=oauth-token --user ann\r\nCAFile=/etc/ca.pem\r\nFingerprint=ab:cd\r\n"
                                "OAuthIssuer=https://login.example\r\nOAuthClientId=mailcart-1\r\n"),
            std::string::npos)
      << ReadFile(file);
  const TSettings read = ReadSettings(file);
  EXPECT_EQ(AccountFields(read.account), AccountFields(s.account));
  EXPECT_EQ(read.userServer, s.userServer);
  EXPECT_TRUE(read.warnings.empty());
  struct stat st {};
  ASSERT_EQ(::stat(file.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0600u);
  // Back to the defaults: every key goes empty, none is left with its old value.
  WriteSettings(file, TSettings{});
  EXPECT_EQ(AccountFields(ReadSettings(file).account), AccountFields(TAccount{}));
  WriteSettings(Path("fresh.ini"), TSettings{});
  EXPECT_EQ(ReadFile(Path("fresh.ini")).find("Security"), std::string::npos) << "defaults are left out";
}

// A value that decides where mail goes, what runs, whom we trust or what is deleted is taken only
// from a file that no other user could have written; the rest of the file still counts.
TEST_F(SettingsTest, GuardedKeysOnlyFromAPrivateFile) {
  const std::string keys =
      "[Param]\r\nSubj=scans\r\nMailSrv=evil.example\r\nAddr=thief@evil.example\r\nAddrFrom=me@example.com\r\n"
      "DelFiles=1\r\nUser=ann\r\nUserServer=evil.example\r\nSecurity=none\r\nTokenCommand=evil\r\nCAFile=/tmp/"
      "evil.pem\r\nFingerprint=00\r\nJournalDays=1\r\nCC=spy@evil.example\r\nBCC=spy@evil.example\r\n"
      "Body=Pay to evil\r\nOAuthIssuer=https://evil.example\r\nOAuthClientId=evil\r\n";
  const struct {
    const char* name;
    mode_t mode;
    std::string lines;
    bool trusted;
    const char* warning;  // "" for none
  } cases[] = {
      {"private", 0600, keys, true, ""},
      {"readable by all", 0644, keys, true, ""},
      {"writable by the group", 0660, keys, false, "can be changed by other users (mode 0660)"},
      {"writable by all", 0606, keys, false,
       "its MailSrv, Addr, AddrFrom, Security, User, UserServer, DelFiles, TokenCommand, CAFile, Fingerprint, JournalDays, CC, "
       "BCC, Body, OAuthIssuer, OAuthClientId are ignored"},
      {"writable by all but without such keys", 0666, "[Param]\r\nSubj=scans\r\n", true, ""},
      {"a security mode and a method not known", 0600,
       "[Param]\r\nSubj=scans\r\nSecurity=ssl\r\nAuthMethod=CRAM-MD5\r\n", true, "Security=ssl in"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string file = Path(std::string(c.name) + ".ini");
    WriteFile(file, c.lines);
    ASSERT_EQ(::chmod(file.c_str(), c.mode), 0);
    const TSettings s = ReadSettings(file);
    const bool all = c.trusted && c.lines == keys;
    EXPECT_EQ(s.subj, "scans");
    EXPECT_EQ(s.mailSrv, all ? "evil.example" : "");
    EXPECT_EQ(s.addr, all ? "thief@evil.example" : "");
    EXPECT_EQ(s.addrFrom, all ? "me@example.com" : "");
    EXPECT_EQ(s.delFiles, all);
    EXPECT_EQ(s.account.user, all ? "ann" : "");
    EXPECT_EQ(s.userServer, all ? "evil.example" : "");
    EXPECT_EQ(s.account.security, all ? TpxSecurity::None : TpxSecurity::Auto);
    EXPECT_EQ(s.account.tokenCommand, all ? "evil" : "");
    EXPECT_EQ(s.account.oauthIssuer + s.account.oauthClientId, all ? "https://evil.exampleevil" : "");
    EXPECT_EQ(s.account.caFile.empty(), !all);
    EXPECT_EQ(s.account.fingerprint.empty(), !all);
    EXPECT_EQ(s.journalDays, all ? 1 : 90);
    EXPECT_EQ(s.cc + s.bcc + s.body, all ? "spy@evil.examplespy@evil.examplePay to evil" : "");
    const std::string warnings = s.warnings.empty() ? "" : s.warnings.front();
    EXPECT_NE(warnings.find(c.warning), std::string::npos) << warnings;
    EXPECT_EQ(warnings.empty(), *c.warning == '\0') << warnings;
    if (!c.trusted) {
      EXPECT_NE(warnings.find(file), std::string::npos) << "names the file";
    }
  }
}

// The message text keeps its lines on the key's one line; a backslash a user typed in the file
// stays as typed unless it stands before "n" or another backslash.
TEST_F(SettingsTest, TheMessageTextKeepsItsLinesOnOneLine) {
  const struct {
    const char* text;
    const char* line;
    const char* readBack;
  } cases[] = {
      {"Hello,\n\nthe scans.\n", "Body=Hello,\\n\\nthe scans.\\n", "Hello,\n\nthe scans.\n"},
      {"C:\\new\r\nline", "Body=C:\\\\new\\nline", "C:\\new\nline"},
  };
  for (const auto& c : cases) {
    TSettings s;
    s.body = c.text;
    WriteSettings(Path("body.ini"), s);
    EXPECT_NE(ReadFile(Path("body.ini")).find(std::string(c.line) + "\r\n"), std::string::npos) << ReadFile(Path("body.ini"));
    EXPECT_EQ(ReadSettings(Path("body.ini")).body, c.readBack);
  }
  WriteFile(Path("typed.ini"), "[Param]\r\nBody=C:\\temp\\\r\n");
  EXPECT_EQ(ReadSettings(Path("typed.ini")).body, "C:\\temp\\");
}

// The saved user goes with the server it was saved for only; a file from before UserServer lets it
// go with any.
TEST(UserForTest, TheUserGoesWithItsServer) {
  const struct {
    const char* name;
    const char* userServer;
    const char* server;
    const char* user;
  } cases[] = {
      {"saved before the key was kept", "", "any.example:587", "ann"},
      {"the same server", "mail.example:587", "mail.example:587", "ann"},
      {"the default port left out", "mail.example", "mail.example:25", "ann"},
      {"host names in another case", "Mail.Example:587", "mail.example:587", "ann"},
      {"another port", "mail.example:587", "mail.example:465", ""},
      {"another host", "mail.example:587", "other.example:587", ""},
      {"no server", "mail.example:587", "", ""},
  };
  for (const auto& c : cases) {
    TSettings settings;
    settings.account.user = "ann";
    settings.userServer = c.userServer;
    EXPECT_EQ(UserFor(settings, c.server, 25), c.user) << c.name;
  }
}

// Writing makes the file private; a command read from it while it was not must not become
// trusted by that.
TEST_F(SettingsTest, AWriteDropsIgnoredCommandKeys) {
  const std::string file = Path("shared.ini");
  WriteFile(file, "[Param]\r\nTokenCommand=evil\r\nCAFile=/tmp/evil.pem\r\nJournalDays=0\r\nOAuthIssuer=https://evil.example\r\n");
  ASSERT_EQ(::chmod(file.c_str(), 0666), 0);
  WriteSettings(file, ReadSettings(file));
  const TSettings s = ReadSettings(file);
  EXPECT_TRUE(s.warnings.empty());
  EXPECT_EQ(s.account.tokenCommand, "");
  EXPECT_EQ(s.account.caFile, "");
  EXPECT_EQ(s.account.oauthIssuer, "");
  EXPECT_EQ(s.journalDays, 90);
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
