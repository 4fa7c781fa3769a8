#include "app/batch/passwordsource.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdlib>
#include <string>

#include "app/batch/account.h"
#include "net/pxsmtp.h"
#include "support/checks.h"
#include "support/files.h"

namespace {

// Commands print the secret from this variable, so no command text holds it and an error that
// names the command cannot show it by accident.
constexpr char kSecret[] = "Tr0ub4dor-source-4711";
constexpr char kSecretVariable[] = "MAILCART_TEST_SECRET";

class PasswordSource : public ::testing::Test {
 protected:
  void SetUp() override {
    ::setenv(kSecretVariable, kSecret, 1);
    ::unsetenv(kPasswordVariable);
  }
  void TearDown() override { ::unsetenv(kPasswordVariable); }

  std::string Path(const char* name) const { return dir_.filePath(name).toStdString(); }
  std::string PrivateFile(const char* name, const std::string& text, mode_t mode = 0600) const {
    WriteFile(Path(name), text);
    ::chmod(Path(name).c_str(), mode);
    return Path(name);
  }

  QTemporaryDir dir_;
};

// What a source gave, or the error it raised; the error must never hold the secret.
std::string Outcome(const std::function<TSecret()>& source) {
  std::string got;
  const std::string raised = Raised([&] { got = source().View(); });
  EXPECT_EQ(raised.find(kSecret), std::string::npos) << "the secret is in the error text";
  return raised.empty() ? got : raised;
}

TEST_F(PasswordSource, CommandGivesItsFirstLineOrAnErrorNamingIt) {
  const std::string secretLine = std::string("printf '%s\\n' \"$") + kSecretVariable + "\"";
  const struct {
    const char* name;
    std::string command;
    std::string expected;  // the password, or the error after "EPasswordError: The password command (…) "<command>" "
  } cases[] = {
      {"first line only", secretLine + "; echo second", kSecret},
      {"CR LF line end", "printf 'pw\\r\\n'", "pw"},
      {"no line end", "printf pw", "pw"},
      {"a failure after printing", secretLine + "; exit 3", "failed with exit status 3"},
      {"nothing printed", "true", "printed no password"},
      {"an empty first line", "echo; " + secretLine, "printed no password"},
      {"ended by a signal", secretLine + "; kill -9 $$", "was ended by a signal"},
      {"stdin is empty, not the terminal", "read -r line; echo \"got:$line\"", "got:"},
      {"runs too long, children too", secretLine + "; sleep 30 & sleep 30", "ran longer than 1 s and was stopped"},
  };
  for (const auto& c : cases) {
    QElapsedTimer clock;
    clock.start();
    const std::string got = Outcome([&] { return RunSecretCommand(c.command, kPasswordCommand, 700); });
    const bool failed = got.rfind("EPasswordError: ", 0) == 0;
    EXPECT_EQ(got, failed
                       ? "EPasswordError: The password command (--password-command) \"" + c.command + "\" " + c.expected
                       : c.expected)
        << c.name;
    EXPECT_LT(clock.elapsed(), 5000) << c.name;
  }
}

// The account's token command runs at each login, as its source; its failure names its setting.
TEST_F(PasswordSource, TokenCommandFailureNamesItsSetting) {
  TpxSMTP smtp;
  TAccount account;
  account.tokenCommand = "exit 1";
  ApplyAccount(smtp, account);
  EXPECT_EQ(Raised([&] { smtp.TokenSource()(false); }),
            "EPasswordError: The token command (TokenCommand) \"exit 1\" failed with exit status 1");
}

TEST_F(PasswordSource, EventLoopRunsWhileTheCommandDoes) {
  bool ticked = false;
  QTimer::singleShot(20, [&] { ticked = true; });
  EXPECT_EQ(RunSecretCommand("sleep 0.3; echo pw", kPasswordCommand).View(), "pw");
  EXPECT_TRUE(ticked);
}

TEST_F(PasswordSource, FileMustBePrivate) {
  const struct {
    const char* name;
    std::string text;
    mode_t mode;
    std::string expected;  // the password, or the error after "EPasswordError: The password file "<path>" "
  } cases[] = {
      {"private, first line", std::string(kSecret) + "\nnext\n", 0600, kSecret},
      {"owner read-only", "pw\r\n", 0400, "pw"},
      {"readable by all", std::string(kSecret) + "\n", 0644,
       "can be read by other users (mode 0644); make it private with chmod 600"},
      {"readable by the group", std::string(kSecret) + "\n", 0640,
       "can be read by other users (mode 0640); make it private with chmod 600"},
      {"empty", "", 0600, "holds no password on its first line"},
  };
  for (const auto& c : cases) {
    const std::string path = PrivateFile(c.name, c.text, c.mode);
    const std::string got = Outcome([&] { return ReadSecretFile(path); });
    const bool failed = got.rfind("EPasswordError: ", 0) == 0;
    EXPECT_EQ(got, failed ? "EPasswordError: The password file \"" + path + "\" " + c.expected : c.expected) << c.name;
  }
  EXPECT_EQ(Outcome([&] { return ReadSecretFile(Path("missing")); }),
            "EPasswordError: The password file \"" + Path("missing") + "\" cannot be read: No such file or directory");
}

TEST_F(PasswordSource, VariableIsTakenOutOfTheEnvironmentAndNoChildSeesIt) {
  const std::string probe = "echo \"${MAILCART_PASSWORD:-unset}\"";
  ::setenv(kPasswordVariable, kSecret, 1);
  EXPECT_EQ(RunSecretCommand(probe, kPasswordCommand).View(), "unset") << "a child started while it is set";
  const auto password = ObtainPassword({}, TakePasswordVariable());
  ASSERT_TRUE(password);
  EXPECT_TRUE(password->View() == kSecret);
  EXPECT_EQ(std::getenv(kPasswordVariable), nullptr);

  ::setenv(kPasswordVariable, "", 1);
  EXPECT_EQ(Raised([] { ObtainPassword({}, TakePasswordVariable()); }), "EPasswordError: MAILCART_PASSWORD is empty");
  EXPECT_FALSE(ObtainPassword({}, TakePasswordVariable())) << "no source: the caller asks the secret service";
}

TEST_F(PasswordSource, ExactlyOneSource) {
  const std::string file = PrivateFile("pw", "from-file\n");
  const std::string usage =
      "EPasswordUsage: give the password in one way only: --password-command, --password-file or MAILCART_PASSWORD";
  const struct {
    const char* name;
    TPasswordOptions options;
    bool variable;
    std::string expected;
  } cases[] = {
      {"command", {"echo from-command", ""}, false, "from-command"},
      {"file", {"", file}, false, "from-file"},
      {"command and file", {"echo from-command", file}, false, usage},
      {"command and variable", {"echo from-command", ""}, true, usage},
      {"file and variable", {"", file}, true, usage},
  };
  for (const auto& c : cases) {
    if (c.variable) ::setenv(kPasswordVariable, kSecret, 1);
    EXPECT_EQ(Outcome([&] { return std::move(*ObtainPassword(c.options, TakePasswordVariable())); }), c.expected)
        << c.name;
    EXPECT_EQ(std::getenv(kPasswordVariable), nullptr) << c.name << ": the variable stays removed";
  }
}

}  // namespace
