// The built-in table of sign-in providers: which SMTP host signs in where.
#include "app/batch/oauthproviders.h"

#include <gtest/gtest.h>

namespace {

// The provider's name, the one mechanism it takes, whether it has the device flow; "" for none.
std::string Summary(const std::optional<TOAuthProvider>& p) {
  if (!p) return "";
  return p->name + (p->mechanism.empty() ? "" : " " + p->mechanism) +
         (p->deviceAuthorization.empty() ? "" : " device") + (p->scope.empty() ? " without a scope" : "");
}

TEST(OAuthProviders, EachHostFindsItsProviderInAnyCase) {
  const struct {
    const char* host;
    const char* provider;
  } cases[] = {
      {"smtp.office365.com", "Microsoft XOAUTH2 device"},
      {"SMTP-Mail.Outlook.COM", "Microsoft XOAUTH2 device"},
      {"Smtp.Gmail.com", "Google"},
      {"smtp.GOOGLEMAIL.com", "Google"},
      {"mail.example.com", ""},
      {"smtp.gmail.com.example.net", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(Summary(FindOAuthProvider(c.host)), c.provider) << c.host;
}

}  // namespace
