// The built-in table of sign-in providers: which SMTP host signs in where.
#include "app/batch/oauthproviders.h"

#include <gtest/gtest.h>

namespace {

TEST(OAuthProviders, EachHostFindsItsProviderInAnyCase) {
  const struct {
    const char* host;
    const char* provider;  // "": none
    bool deviceFlow;
    const char* mechanism;
  } cases[] = {
      {"smtp.office365.com", "Microsoft", true, "XOAUTH2"},
      {"SMTP-Mail.Outlook.COM", "Microsoft", true, "XOAUTH2"},
      {"Smtp.Gmail.com", "Google", false, ""},
      {"smtp.GOOGLEMAIL.com", "Google", false, ""},
      {"mail.example.com", "", false, ""},
      {"gmail.com", "", false, ""},
      {"smtp.gmail.com.example.net", "", false, ""},
      {"", "", false, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.host);
    const auto found = FindOAuthProvider(c.host);
    ASSERT_EQ(found.has_value(), *c.provider != '\0');
    if (!found) continue;
    EXPECT_EQ(found->name, c.provider);
    EXPECT_EQ(!found->deviceAuthorization.empty(), c.deviceFlow);
    EXPECT_EQ(found->mechanism, c.mechanism);
    EXPECT_FALSE(found->scope.empty());
  }
}

}  // namespace
