// The account dialog under Qt's offscreen platform, with a password keeper that records what
// it is asked to do in place of the secret service.
#include "app/window/accountdialog.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <map>
#include <tuple>

#include "app/batch/credentials.h"
#include "app/window/windowsignin.h"
#include "support/oauth_server.h"
#include "support/recording_msgbox.h"
#include "support/user_agent.h"

namespace {

constexpr char kServer[] = "mail.example.com:587";
constexpr char kKey[] = "ann@mail.example.com:587";
constexpr char kFingerprint[] =
    "AB:CD:EF:01:23:45:67:89:AB:CD:EF:01:23:45:67:89:AB:CD:EF:01:23:45:67:89:AB:CD:EF:01:23:45:67:89";

class FakeKeeper : public TPasswordKeeper {
 public:
  std::optional<TSecret> Read(const std::string& key) override {
    Check();
    const auto it = entries.find(key);
    return it == entries.end() ? std::nullopt : std::optional<TSecret>(TSecret(it->second));
  }
  void Write(const std::string& key, std::string_view password) override {
    Check();
    entries[key] = password;
  }
  void Remove(const std::string& key) override {
    Check();
    entries.erase(key);
  }
  void Check() const {
    if (!runs) throw ENoSecretService("No secret service runs in this session");
  }

  std::map<std::string, std::string> entries;
  bool runs = true;
};

auto Fields(const TAccount& a) {
  return std::make_tuple(a.security, a.user, a.authMethod, a.tokenCommand, a.caFile, a.fingerprint, a.fromName,
                         a.oauthIssuer, a.oauthClientId);
}

class AccountDialogTest : public ::testing::Test {
 protected:
  template <typename T>
  static T* Control(QWidget& dialog, const char* name) {
    T* control = dialog.findChild<T*>(name);
    EXPECT_NE(control, nullptr) << name;
    return control;
  }

  FakeKeeper keeper_;
  RecordingMessageBoxes boxes_;
};

TEST_F(AccountDialogTest, FieldsShowTheAccountAndGiveBackWhatWasChanged) {
  TAccount account{TpxSecurity::TLS, "ann", TAuthMethod::XOAuth2, "oauth-token", "/etc/ca.pem", "", "Scans"};
  account.oauthIssuer = "https://login.example.com";  // kept while the token command hides them
  account.oauthClientId = "client-7";
  TAccountDialog dialog(nullptr, account, kServer, 25, keeper_);
  EXPECT_EQ(Fields(dialog.Account()), Fields(account));
  EXPECT_EQ(Control<QComboBox>(dialog, "SecurityCB")->currentText(), "TLS");
  EXPECT_EQ(Control<QComboBox>(dialog, "AuthCB")->currentText(), "XOAUTH2");
  EXPECT_TRUE(Control<QLineEdit>(dialog, "TokenCommandE")->isEnabled());
  EXPECT_FALSE(Control<QLineEdit>(dialog, "PasswordE")->isEnabled()) << "the token takes the password's place";

  Control<QComboBox>(dialog, "SecurityCB")->setCurrentText("STARTTLS");
  Control<QComboBox>(dialog, "AuthCB")->setCurrentText("LOGIN");
  Control<QLineEdit>(dialog, "FingerprintE")->setText(QString(kFingerprint).toLower().remove(':'));
  EXPECT_FALSE(Control<QLineEdit>(dialog, "TokenCommandE")->isEnabled());
  dialog.accept();
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
  Control<QLineEdit>(dialog, "FromNameE")->setText("Scanner Büro");
  const TAccount expected{
      TpxSecurity::StartTLS, "ann",          TAuthMethod::Login,          "oauth-token", "/etc/ca.pem",
      kFingerprint,          "Scanner Büro", "https://login.example.com", "client-7"};
  EXPECT_EQ(Fields(dialog.Account()), Fields(expected)) << "the fingerprint is normalised";
  EXPECT_TRUE(keeper_.entries.empty());
}

TEST_F(AccountDialogTest, RememberPasswordStoresKeepsOrDeletesTheEntry) {
  const struct {
    const char* name;
    bool stored;           // an entry before the dialog opens
    bool shownRemembered;  // "Remember password" ticked when it opens
    bool tick;
    const char* typed;
    const char* after;   // the entry afterwards; nullptr: none
    const char* forRun;  // the password handed to the window for this run
  } cases[] = {
      {"a typed password is remembered", false, false, true, "s3cret", "s3cret", ""},
      {"a typed password replaces the stored one", true, true, true, "new", "new", ""},
      {"an empty field keeps the stored one", true, true, true, "", "old", ""},
      {"unticking deletes the entry", true, true, false, "", nullptr, ""},
      {"a password typed without ticking serves this run only", false, false, false, "s3cret", nullptr, "s3cret"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    keeper_.entries.clear();
    if (c.stored) keeper_.entries[kKey] = "old";
    TAccount account;
    account.user = "ann";
    TAccountDialog dialog(nullptr, account, kServer, 25, keeper_);
    auto* remember = Control<QCheckBox>(dialog, "RememberCB");
    EXPECT_EQ(remember->isChecked(), c.shownRemembered);
    EXPECT_EQ(Control<QLineEdit>(dialog, "PasswordE")->text(), "") << "a stored password is never shown";
    EXPECT_TRUE(Control<QLineEdit>(dialog, "PasswordE")->isEnabled()) << "typed whether remembered or not";
    remember->setChecked(c.tick);
    Control<QLineEdit>(dialog, "PasswordE")->setText(c.typed);
    dialog.accept();
    EXPECT_EQ(Control<QLineEdit>(dialog, "PasswordE")->text(), "") << "the field is cleared";
    EXPECT_EQ(dialog.TakeTypedPassword().View(), c.forRun);
    EXPECT_EQ(keeper_.entries.count(kKey), c.after ? 1u : 0u);
    if (c.after) {
      EXPECT_EQ(keeper_.entries[kKey], c.after);
    }
  }
}

// Told as the dialog opens, with a user or without, in a note shown whole; a password typed
// serves this run.
TEST_F(AccountDialogTest, WithoutASecretServiceTheDialogSaysSo) {
  keeper_.runs = false;
  for (const char* user : {"ann", ""}) {
    SCOPED_TRACE(user);
    TAccount account;
    account.user = user;
    TAccountDialog dialog(nullptr, account, "mail.example.com", 25, keeper_);
    dialog.show();
    EXPECT_FALSE(dialog.SecretServiceRuns());
    EXPECT_FALSE(Control<QCheckBox>(dialog, "RememberCB")->isEnabled());
    auto* note = Control<QLabel>(dialog, "SecretServiceL");
    EXPECT_TRUE(note->isVisible());
    EXPECT_NE(note->text().indexOf("asked for when a batch starts"), -1);
    EXPECT_GE(note->height(), note->heightForWidth(note->width())) << "the note is not cut off";
    Control<QLineEdit>(dialog, "UserE")->setText("ann");
    Control<QLineEdit>(dialog, "PasswordE")->setText("s3cret");
    dialog.accept();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(dialog.TakeTypedPassword().View(), "s3cret");
  }
}

// The secret service goes away while the dialog is open: the password cannot be remembered,
// and the user is told; a second OK keeps it for this run.
TEST_F(AccountDialogTest, ASecretServiceFoundMissingOnSaving) {
  TAccountDialog dialog(nullptr, TAccount{}, kServer, 25, keeper_);
  keeper_.runs = false;
  dialog.show();
  Control<QLineEdit>(dialog, "UserE")->setText("ann");
  Control<QCheckBox>(dialog, "RememberCB")->setChecked(true);
  Control<QLineEdit>(dialog, "PasswordE")->setText("s3cret");
  dialog.accept();
  EXPECT_TRUE(dialog.isVisible()) << "the password could not be remembered";
  ASSERT_EQ(boxes_.boxes.size(), 1u);
  EXPECT_FALSE(Control<QCheckBox>(dialog, "RememberCB")->isEnabled());
  auto* note = Control<QLabel>(dialog, "SecretServiceL");
  EXPECT_TRUE(note->isVisible());
  EXPECT_GE(note->height(), note->heightForWidth(note->width())) << "the dialog grew for the note";
  dialog.accept();
  EXPECT_FALSE(dialog.isVisible());
  EXPECT_EQ(dialog.TakeTypedPassword().View(), "s3cret");
}

// "Test connection" tries the server of the main form with the account and the password as
// typed, and shows what the test says.
TEST_F(AccountDialogTest, TestConnectionShowsWhatTheTestSays) {
  for (const bool ok : {true, false}) {
    SCOPED_TRACE(ok);
    boxes_.boxes.clear();
    const std::string said = ok ? "Connected.\nLogged in as ann." : "Login refused.";
    std::string tried;
    const auto test = [&](const std::string& server, const TAccount& account, const TSecret& typed) {
      tried = server + " " + account.user + " " + std::string(typed.View());
      return TConnectionTestResult{ok, said};
    };
    TAccountDialog dialog(nullptr, TAccount{}, kServer, 25, keeper_, test);
    Control<QLineEdit>(dialog, "UserE")->setText("ann");
    Control<QLineEdit>(dialog, "PasswordE")->setText("s3cret");
    Control<QPushButton>(dialog, "TestB")->click();
    EXPECT_EQ(tried, std::string(kServer) + " ann s3cret");
    ASSERT_EQ(boxes_.boxes.size(), 1u);
    EXPECT_EQ(boxes_.boxes[0].text, said);
    EXPECT_EQ(boxes_.boxes[0].icon, ok ? TMsgIcon::Information : TMsgIcon::Warning);
    EXPECT_TRUE(Control<QPushButton>(dialog, "TestB")->isEnabled());
  }
}

// The issuer, the client id and the sign-in serve an OAuth 2 account without a token command.
TEST_F(AccountDialogTest, TheSignInIsOfferedWhereItServes) {
  TWindowSignIn signIn(keeper_);
  const struct {
    const char* method;
    const char* tokenCommand;
    bool passwordOn, tokenCommandOn, signInOn;
  } rows[] = {
      {"LOGIN", "", true, false, false},
      {"OAUTHBEARER", "", false, true, true},
      {"XOAUTH2", "oauth-token", false, true, false},
  };
  TAccountDialog dialog(nullptr, TAccount{}, kServer, 25, keeper_, {}, &signIn);
  for (const auto& row : rows) {
    SCOPED_TRACE(std::string(row.method) + " " + row.tokenCommand);
    Control<QComboBox>(dialog, "AuthCB")->setCurrentText(row.method);
    Control<QLineEdit>(dialog, "TokenCommandE")->setText(row.tokenCommand);
    EXPECT_EQ(Control<QLineEdit>(dialog, "PasswordE")->isEnabled(), row.passwordOn);
    EXPECT_EQ(Control<QLineEdit>(dialog, "TokenCommandE")->isEnabled(), row.tokenCommandOn);
    for (const char* name : {"IssuerE", "ClientIdE", "SignInB", "SignInL"}) {
      auto* control = Control<QWidget>(dialog, name);
      EXPECT_EQ(control->isVisibleTo(&dialog) && control->isEnabled(), row.signInOn) << name;
    }
  }
}

// The browser is played against a real authorization server; no secret service runs, so the
// tokens are kept in memory, for the window's life.
TEST_F(AccountDialogTest, SignsInThroughTheBrowserAndOut) {
  OAuthServer server(OAuthServer::Options{});
  keeper_.runs = false;
  UserAgent browser;
  TWindowSignIn signIn(keeper_, [&browser](const std::string& url) {
    browser.Open(url, "alice");
    return true;
  });
  TAccount account;
  account.user = "alice@example.test";
  account.authMethod = TAuthMethod::OAuthBearer;
  account.oauthIssuer = server.Issuer();
  account.oauthClientId = OAuthServer::kClientId;
  TAccountDialog dialog(nullptr, account, kServer, 25, keeper_, {}, &signIn);
  auto* state = Control<QLabel>(dialog, "SignInL");
  EXPECT_EQ(state->text(), "Not signed in");
  Control<QPushButton>(dialog, "SignInB")->click();
  std::string out;
  EXPECT_TRUE(browser.Finish(out)) << out << server.Log();
  EXPECT_EQ(state->text(), "Signed in as alice@example.test");
  EXPECT_FALSE(signIn.For(kServer, dialog.Account())(false).Empty());
  Control<QPushButton>(dialog, "SignOutB")->click();
  EXPECT_EQ(state->text(), "Not signed in");
  for (const auto& box : boxes_.boxes) ADD_FAILURE() << box.text;
}

TEST_F(AccountDialogTest, AMalformedFingerprintKeepsTheDialogOpen) {
  TAccountDialog dialog(nullptr, TAccount{}, kServer, 25, keeper_);
  Control<QLineEdit>(dialog, "FingerprintE")->setText("AB:CD");
  dialog.show();
  dialog.accept();
  EXPECT_TRUE(dialog.isVisible());
  ASSERT_EQ(boxes_.boxes.size(), 1u);
  EXPECT_NE(boxes_.boxes[0].text.find("64 hex digits"), std::string::npos);
}

}  // namespace
