// The browser flow and refresh against a real authorization server (oidc-provider), with the
// test playing the user's browser: requests of its own at the loopback listener first, then the
// login and consent pages.
#include "app/signin/browsersignin.h"

#include <QDateTime>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTcpSocket>
#include <QUrlQuery>

#include <gtest/gtest.h>

#include "app/signin/oauthmetadata.h"
#include "app/signin/tokenendpoint.h"
#include "support/oauth_server.h"
#include "support/user_agent.h"

namespace {

OAuthServer& Server() {
  static OAuthServer server(OAuthServer::Options{.accessTtlS = 60});
  return server;
}

TOAuthClient Client() { return {OAuthServer::kClientId, TSecret(), "openid email"}; }

// What the browser does with the authorization URL: first the requests at the listener
// ("{state}" stands for the flow's own state), each with the status it must get, then, if asked,
// the sign-in at the server as alice.
class Browser {
 public:
  struct Probe {
    std::string target;
    int status;
  };

  Browser(std::vector<Probe> probes, bool signIn) : probes_(std::move(probes)), signIn_(signIn) {}

  void Open(const std::string& url) {
    opened_ = true;
    url_ = url;
    const QUrlQuery query{QUrl(QString::fromStdString(url))};
    redirect_ = query.queryItemValue("redirect_uri", QUrl::FullyDecoded);
    state_ = query.queryItemValue("state", QUrl::FullyDecoded);
    Next(0);
  }
  bool Opened() const { return opened_; }
  // Whether anything still listens at the redirect's port, for a second redirect.
  bool ListenerAnswers() const {
    QTcpSocket socket;
    socket.connectToHost("127.0.0.1", static_cast<quint16>(QUrl(redirect_).port()));
    return socket.waitForConnected(2000);
  }
  std::vector<int> Statuses() const { return statuses_; }
  UserAgent& Agent() { return agent_; }

 private:
  void Next(size_t i) {
    if (i == probes_.size()) {
      if (signIn_) agent_.Open(url_, "alice");
      return;
    }
    QString target = QString::fromStdString(probes_[i].target).replace("{state}", state_);
    QNetworkReply* reply = manager_.get(QNetworkRequest(QUrl(redirect_ + target)));
    QObject::connect(reply, &QNetworkReply::finished, reply, [this, reply, i] {
      statuses_.push_back(reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt());
      reply->deleteLater();
      Next(i + 1);
    });
  }

  std::vector<Probe> probes_;
  bool signIn_;
  bool opened_ = false;
  std::string url_;
  QString redirect_, state_;
  QNetworkAccessManager manager_;
  std::vector<int> statuses_;
  UserAgent agent_;
};

TEST(BrowserSignIn, EndsWithTokensOrTheReasonWhyNot) {
  const TOAuthEndpoints e = DiscoverEndpoints(Server().Issuer(), {});
  const struct {
    const char* name;
    std::vector<Browser::Probe> probes;
    bool signIn;
    int timeoutMs;
    const char* errorCode;  // nullptr: tokens
    const char* errorText;
  } rows[] = {
      {"the user signs in", {}, true, 60000, nullptr, ""},
      {"a favicon gets 404 and the flow goes on", {{"favicon.ico", 404}}, true, 60000, nullptr, ""},
      {"a foreign state gets 400 and the flow goes on",
       {{"?code=forged&state=forged", 400}, {"?error=access_denied&state=forged", 400}},
       true,
       60000,
       nullptr,
       ""},
      {"the server's error with our state ends the flow",
       {{"?error=access_denied&error_description=no%0Athanks&state={state}", 403}},
       false,
       60000,
       "access_denied",
       "refused the sign-in: access_denied, \"no\\x0Athanks\""},
      {"nobody answers in time", {}, false, 300, "", "within 1 s"},
      {"a cancel ends the wait", {}, false, 60000, "", "was cancelled"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    Browser browser(row.probes, row.signIn);
    const bool cancels = std::string(row.errorText) == "was cancelled";
    const auto cancelled = [&] { return cancels && browser.Opened(); };
    const auto open = [&](const std::string& url) { browser.Open(url); };
    const int64_t before = QDateTime::currentSecsSinceEpoch();
    std::string agentOut;
    try {
      const TOAuthTokens tokens = BrowserSignIn(e, Client(), {}, open, cancelled, row.timeoutMs);
      EXPECT_TRUE(browser.Agent().Finish(agentOut)) << agentOut << Server().Log();
      EXPECT_EQ(row.errorCode, nullptr) << "signed in";
      EXPECT_FALSE(tokens.access.Empty());
      EXPECT_FALSE(tokens.refresh.Empty());
      EXPECT_EQ(tokens.user, "alice@example.test");
      EXPECT_NEAR(tokens.expiresAt, before + 60, 5);
      EXPECT_NE(agentOut.find("200 http://127.0.0.1:"), std::string::npos) << agentOut;
      EXPECT_FALSE(browser.ListenerAnswers()) << "a second redirect is taken";
    } catch (const EOAuthError& error) {
      browser.Agent().Finish(agentOut);
      ASSERT_NE(row.errorCode, nullptr) << error.what() << "\n" << agentOut << Server().Log();
      EXPECT_EQ(error.Code(), row.errorCode);
      EXPECT_NE(std::string(error.what()).find(row.errorText), std::string::npos) << error.what();
    }
    std::vector<int> statuses;
    for (const auto& probe : row.probes) statuses.push_back(probe.status);
    EXPECT_EQ(browser.Statuses(), statuses);
  }
}

TEST(BrowserSignIn, RefreshRotatesAndTheOldTokenIsDead) {
  const TOAuthEndpoints e = DiscoverEndpoints(Server().Issuer(), {});
  Browser browser({}, true);
  const TOAuthTokens first = BrowserSignIn(e, Client(), {}, [&](const std::string& url) { browser.Open(url); }, {});
  std::string agentOut;
  ASSERT_TRUE(browser.Agent().Finish(agentOut)) << agentOut;

  const TOAuthTokens second = RefreshTokens(e, Client(), {}, first.refresh);
  EXPECT_NE(second.access.View(), first.access.View());
  // A public client's refresh token is rotated: the new one works, the spent one is dead.
  EXPECT_NE(second.refresh.View(), first.refresh.View());
  EXPECT_GT(second.expiresAt, 0);
  try {
    RefreshTokens(e, Client(), {}, first.refresh);
    ADD_FAILURE() << "a spent refresh token was taken";
  } catch (const EOAuthError& error) {
    EXPECT_EQ(error.Code(), "invalid_grant");
    EXPECT_EQ(std::string(error.what()).find(first.refresh.View()), std::string::npos);
  }
}

}  // namespace
