// mailcart-send's built-in sign-in end to end: a real authorization server (oidc-provider), a
// real SMTP server that checks every bearer token by introspection at it, the user's browser
// played by a script, the refresh token in a token file or in a real secret service.
#include <gtest/gtest.h>

#include <QDeadlineTimer>
#include <QProcess>
#include <QTemporaryDir>

#include <string>
#include <vector>

#include "app/batch/credentials.h"
#include "app/batch/tokenstore.h"
#include "support/files.h"
#include "support/mailcart_send_run.h"
#include "support/oauth_server.h"
#include "support/secret_service_session.h"
#include "support/smtp_capture.h"
#include "support/tls_peer.h"
#include "support/user_agent.h"

namespace {

constexpr char kUser[] = "alice@example.test";

struct SignInCase {
  const char* name;
  const char* flow;  // "browser" or "device"
  int accessTtlS = 3600;
  bool noOAuthBearer = false;     // the server offers XOAUTH2 only
  bool refuseFirstToken = false;  // the server refuses the first token with the JSON challenge
  bool revoke = false;            // the grant dies between the sign-in and the batch
  std::vector<std::string> batchOptions = {};
  int batchExit = 0;
  int sent = 3;
  const char* mechanism = "OAUTHBEARER";
  const char* saying = "";  // in the batch's standard error
};

class SignIn {
 public:
  SignIn(const SignInCase& c, const OAuthServer& oauth, bool secretService = false)
      : oauth_(oauth), secretService_(secretService) {
    SmtpCapture::Options options;
    options.cert = "good";
    options.introspect = oauth.Issuer();
    options.noOAuthBearer = c.noOAuthBearer;
    options.refuseFirstToken = c.refuseFirstToken;
    smtp_ = std::make_unique<SmtpCapture>(options);
    WriteFile(Path("none.ini"), "");
  }

  std::string Path(const std::string& name) const { return dir_.filePath(QString::fromStdString(name)).toStdString(); }
  std::string TokenFile() const { return Path("refresh"); }
  SmtpCapture& Smtp() { return *smtp_; }

  std::vector<std::string> Account() const {
    std::vector<std::string> args{"--settings", Path("none.ini"), "--server", "127.0.0.1:" + std::to_string(smtp_->Port()),
                                  "--security", "starttls", "--ca-file", TestCerts::Get().Pem("ca"), "--user", kUser, "--auth",
                                  "oauth2", "--oauth-issuer", oauth_.Issuer(), "--oauth-client-id", OAuthServer::kClientId};
    if (!secretService_) args.insert(args.end(), {"--token-file", TokenFile()});
    return args;
  }

  Variables Environment() const {
    Variables more{{"DISPLAY", ":99"},
                   {"BROWSER", QString::fromStdString("env > '" + Path("browser env") + "'; " + UserAgentCommand() + " %s alice")}};
    if (secretService_) more.push_back({"DBUS_SESSION_BUS_ADDRESS", qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS")});
    return more;
  }

  // The device flow's user opens the address mailcart-send prints, holding the code.
  SendRun Run(const std::string& flow) {
    std::vector<std::string> args = Account();
    args.push_back("--sign-in=" + flow);
    QProcess process;
    StartWithoutDisplay(process, args, flow == "device" ? Variables{} : Environment());
    if (flow == "device") {
      process.setReadChannel(QProcess::StandardError);
      UserAgent user;
      std::string errors;
      const QDeadlineTimer deadline(30000);
      while (errors.find("which holds the code") == std::string::npos && !deadline.hasExpired() &&
             process.waitForReadyRead(1000))
        errors += process.readAllStandardError().toStdString();
      const size_t at = errors.find("or open ");
      if (at == std::string::npos) ADD_FAILURE() << "no address printed: " << errors;
      else user.Open(errors.substr(at + 8, errors.find(',', at) - at - 8), "alice");
      SendRun run = Finish(process);
      std::string out;
      EXPECT_TRUE(user.Finish(out)) << out;
      run.errors = errors + run.errors;
      return run;
    }
    return Finish(process);
  }

  SendRun Batch(const std::vector<std::string>& options) {
    std::vector<std::string> args = Account();
    args.insert(args.end(), {"--from", "me@example.test", "--to", "you@example.test", "--no-journal"});
    args.insert(args.end(), options.begin(), options.end());
    for (const char* name : {"one.txt", "two.txt", "three.txt"}) {
      WriteFile(Path(name), std::string("text of ") + name + "\r\n");
      args.push_back(Path(name));
    }
    return RunSend(args, secretService_ ? Environment() : Variables{});
  }

 private:
  static std::string UserAgentCommand() {
    return std::string("/usr/bin/python3 '") + MAILCART_E2E_DIR + "/oauth/user_agent.py'";
  }

  QTemporaryDir dir_;
  const OAuthServer& oauth_;
  bool secretService_;
  std::unique_ptr<SmtpCapture> smtp_;
};

void CheckNotShown(const std::string& secret, const std::vector<std::string>& places) {
  ASSERT_GT(secret.size(), 10u);
  for (const std::string& text : places) EXPECT_EQ(text.find(secret), std::string::npos) << "the refresh token shows";
}

TEST(MailcartSendSignInTest, SignInThenBatches) {
  const SignInCase cases[] = {
      {"the browser flow, then OAUTHBEARER", "browser"},
      {"XOAUTH2 where the server offers no OAUTHBEARER", "browser", 3600, true, false, false, {}, 0, 3, "XOAUTH2"},
      {"the device flow", "device"},
      {"an access token that expires mid-batch is refreshed", "browser", 2, false, false, false,
       {"--new-connection-per-message", "--pause", "3"}},
      {"a token refused with the JSON challenge is renewed once", "browser", 3600, false, true},
      {"a dead grant sends nothing and says to sign in", "browser", 3600, false, false, true, {}, 1, 0, "",
       "mailcart-send --sign-in"},
  };
  for (const SignInCase& c : cases) {
    SCOPED_TRACE(c.name);
    const OAuthServer oauth(OAuthServer::Options{.accessTtlS = c.accessTtlS});
    SignIn t(c, oauth);
    const SendRun signIn = t.Run(c.flow);
    ASSERT_EQ(signIn.exitCode, 0) << signIn.errors;
    EXPECT_NE(signIn.errors.find("signed in at 127.0.0.1 as alice@example.test"), std::string::npos) << signIn.errors;
    const std::string refresh = ReadFile(t.TokenFile()).substr(0, ReadFile(t.TokenFile()).find('\n'));
    if (c.revoke) oauth.Revoke(refresh);
    const SendRun batch = t.Batch(c.batchOptions);
    EXPECT_EQ(batch.exitCode, c.batchExit) << batch.errors;
    EXPECT_EQ(t.Smtp().Count(), c.sent) << batch.errors;
    for (const SmtpCapture::Envelope& e : t.Smtp().Envelopes()) {
      EXPECT_EQ(e.user, kUser);
      EXPECT_EQ(e.mechanism, c.mechanism);
    }
    EXPECT_NE(batch.errors.find(c.saying), std::string::npos) << batch.errors;
    std::string out;
    for (const std::string& line : batch.lines) out += line + "\n";
    CheckNotShown(refresh, {signIn.errors, batch.errors, out, t.Smtp().Transcript(), ReadFile(t.Path("none.ini")),
                            ReadFile(t.Path("browser env"))});
  }
}

// A second batch needs no sign-in, and a second sign-in's browser gets nothing of the first;
// the refresh token lives in a real secret service, in a private D-Bus session.
TEST(MailcartSendSignInTest, TheSecretServiceKeepsTheSignIn) {
  if (RerunInSecretService("MailcartSendSignInTest.TheSecretServiceKeepsTheSignIn")) return;
  const OAuthServer oauth(OAuthServer::Options{});
  SignIn t(SignInCase{"", "browser"}, oauth, true);
  ASSERT_EQ(t.Run("browser").exitCode, 0);
  const SendRun again = t.Run("browser");
  EXPECT_NE(again.errors.find("kept in the secret service"), std::string::npos) << again.errors;
  const SendRun first = t.Batch({});
  const SendRun second = t.Batch({});
  EXPECT_EQ(first.exitCode, 0) << first.errors;
  EXPECT_EQ(second.exitCode, 0) << "the rotated refresh token was kept: " << second.errors;
  EXPECT_EQ(t.Smtp().Count(), 6);
  EXPECT_FALSE(QFile::exists(QString::fromStdString(t.TokenFile())));
  const std::string browserEnv = ReadFile(t.Path("browser env"));
  EXPECT_NE(browserEnv.find("DISPLAY=:99"), std::string::npos);
  const auto refresh = TCredentialStore(30000).Read(RefreshTokenKey(oauth.Issuer(), OAuthServer::kClientId, kUser));
  ASSERT_TRUE(refresh);
  CheckNotShown(std::string(refresh->View()),
                {browserEnv, again.errors, first.errors, second.errors, t.Smtp().Transcript()});
}

}  // namespace
