// The known mail services: which addresses and mail exchangers are theirs, and the server each gives.
#include "app/batch/mailproviders.h"

#include <gtest/gtest.h>

namespace {

std::string NameOf(const std::optional<TMailProvider>& provider) { return provider ? provider->name : ""; }

TEST(MailProviders, DomainsAndMailExchangersFindTheirServiceAndNothingElse) {
  const std::pair<const char*, const char*> domains[] = {
      {"gmail.com", "Gmail"},     {"GoogleMail.COM.", "Gmail"},
      {"notgmail.com", ""},       {"gmail.com.evil.test", ""},
      {"mail.gmail.com", ""},     {"hotmail.co.uk", "Outlook.com"},
      {"live.de", "Outlook.com"}, {"hotmailx.com", ""},
      {"hotmail.evil.test", ""},  {"hotmail.", ""},
      {"me.com", "iCloud Mail"},  {"", ""},
  };
  for (const auto& [domain, provider] : domains) EXPECT_EQ(NameOf(FindProviderByDomain(domain)), provider) << domain;
  const std::pair<const char*, const char*> mxHosts[] = {
      {"aspmx.l.google.com.", "Gmail"},
      {"alt1.aspmx.l.GOOGLE.com", "Gmail"},
      {"google.com", ""},
      {"example-com.mail.protection.outlook.com", "Microsoft 365"},
      {"evilmail.protection.outlook.com", ""},
  };
  for (const auto& [host, provider] : mxHosts) EXPECT_EQ(NameOf(FindProviderByMx(host)), provider) << host;
}

std::string Summary(const TFoundServer& s) {
  return s.host + ":" + std::to_string(s.port) + " " + SecurityName(s.security) + " " + AuthMethodName(s.authMethod) +
         " " + s.user + " | " + s.note;
}

TEST(MailProviders, TheServerCarriesTheLoginTheSignInAndWhatTheUserShouldKnow) {
  EXPECT_EQ(Summary(FoundServerOf(*FindProviderByDomain("gmail.com"), "ann@gmail.com", "table")),
            "smtp.gmail.com:465 TLS OAuth2 ann@gmail.com | It publishes these limits: 100 recipients a message.");
  EXPECT_EQ(
      Summary(FoundServerOf(*FindProviderByDomain("icloud.com"), "bob@icloud.com", "table")),
      "smtp.mail.me.com:587 STARTTLS Auto bob@icloud.com | iCloud Mail takes an app password, not the account's own.");
  EXPECT_EQ(FindProviderByDomain("outlook.com")->oauth->name, "Microsoft");
}

}  // namespace
