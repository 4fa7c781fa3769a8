// The device flow against a real authorization server that asks the program to slow down once
// and refuses polls that come sooner than the interval, with the test playing the user who
// types the code on another device.
#include "app/signin/devicesignin.h"

#include <gtest/gtest.h>

#include "app/signin/oauthmetadata.h"
#include "support/oauth_server.h"
#include "support/user_agent.h"

namespace {

TEST(DeviceSignIn, PollsAtTheServersPaceUntilTheUserSignsIn) {
  const OAuthServer server(OAuthServer::Options{.deviceIntervalS = 1, .slowDown = true});
  const TOAuthEndpoints e = DiscoverEndpoints(server.Issuer(), {});
  UserAgent user;
  int told = 0;
  std::string shownCode;
  const auto tell = [&](const std::string& uri, const std::string& code, const std::string& complete) {
    ++told;
    shownCode = code;
    EXPECT_EQ(uri, server.Issuer() + "/device");
    EXPECT_NE(complete.find(code), std::string::npos);
    user.Open(complete, "bob");
  };
  const TOAuthTokens tokens = DeviceSignIn(e, {OAuthServer::kClientId, TSecret(), "openid email"}, {}, tell, {});
  std::string out;
  EXPECT_TRUE(user.Finish(out)) << out;
  EXPECT_EQ(told, 1);
  EXPECT_FALSE(tokens.access.Empty());
  EXPECT_FALSE(tokens.refresh.Empty());
  EXPECT_EQ(tokens.user, "bob@example.test");

  // A cancel during the wait ends the flow.
  int polls = 0;
  try {
    DeviceSignIn(e, {OAuthServer::kClientId, TSecret(), "openid"}, {}, [](auto&&...) {}, [&] { return ++polls > 3; });
    ADD_FAILURE() << "signed in without a user";
  } catch (const EOAuthError& error) {
    EXPECT_EQ(error.Code(), "");
    EXPECT_NE(std::string(error.what()).find("was cancelled"), std::string::npos) << error.what();
  }
}

}  // namespace
