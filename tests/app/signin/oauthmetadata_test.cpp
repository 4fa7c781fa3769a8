// Discovery and registration against a real authorization server, and the addresses refused
// before anything is sent.
#include "app/signin/oauthmetadata.h"

#include <gtest/gtest.h>

#include "support/oauth_server.h"
#include "support/tls_peer.h"

namespace {

TEST(OAuthMetadata, WellKnownAddressKeepsTheIssuersPath) {
  const struct {
    const char* issuer;
    const char* url;
  } rows[] = {
      {"https://login.example.com", "https://login.example.com/.well-known/oauth-authorization-server"},
      {"https://login.example.com/", "https://login.example.com/.well-known/oauth-authorization-server"},
      {"https://example.com/tenant/v2/", "https://example.com/.well-known/oauth-authorization-server/tenant/v2"},
      {"http://[::1]:8080/x", "http://[::1]:8080/.well-known/oauth-authorization-server/x"},
  };
  for (const auto& row : rows) EXPECT_EQ(MetadataUrl(row.issuer, "oauth-authorization-server"), row.url) << row.issuer;
}

TEST(OAuthMetadata, DiscoversTheServerOrSaysWhyNot) {
  const OAuthServer server(OAuthServer::Options{});
  const std::string issuer = server.Issuer();
  const TOAuthEndpoints e = DiscoverEndpoints(issuer, {});
  EXPECT_EQ(e.issuer, issuer);
  EXPECT_EQ(e.authorization, issuer + "/auth");
  EXPECT_EQ(e.token, issuer + "/token");
  EXPECT_EQ(e.deviceAuthorization, issuer + "/device/auth");
  EXPECT_EQ(e.registration, issuer + "/reg");
  EXPECT_EQ(e.introspection, issuer + "/token/introspection");

  const std::string id = RegisterNativeClient(e, {}, "Mailcart test");
  EXPECT_FALSE(id.empty());
  EXPECT_NE(id, OAuthServer::kClientId);

  const struct {
    const char* name;
    std::string issuer;
    const char* text;
  } refused[] = {
      // The document there names the issuer without the slash.
      {"another issuer's document", issuer + "/", "describes the issuer \"" },
      {"plain HTTP off the loopback", "http://login.example.com", "it must be an https:// URL"},
      {"a query in the issuer", issuer + "?tenant=a", "no query or fragment"},
      {"nothing listening", "http://127.0.0.1:1", "The metadata request to 127.0.0.1 failed"},
  };
  for (const auto& row : refused) {
    try {
      DiscoverEndpoints(row.issuer, {}, 5000);
      ADD_FAILURE() << row.name << ": taken";
    } catch (const EOAuthError& error) {
      EXPECT_NE(std::string(error.what()).find(row.text), std::string::npos) << row.name << ": " << error.what();
      EXPECT_EQ(error.Code(), "") << row.name;
    }
  }
}

// The certificate is checked as for SMTP: the system's CAs and a CA file, or one pinned
// certificate whatever signed it.
TEST(OAuthMetadata, HttpsTrustsTheCaFileOrThePinnedCertificateOnly) {
  const TestCerts& certs = TestCerts::Get();
  const OAuthServer good(OAuthServer::Options{.cert = "good"});
  const OAuthServer self(OAuthServer::Options{.cert = "selfsigned"});
  const struct {
    const char* name;
    const OAuthServer& server;
    TTlsTrust trust;
    const char* error;  // nullptr: discovered
  } rows[] = {
      {"signed by the CA of the CA file", good, {certs.Pem("ca"), ""}, nullptr},
      {"signed by a CA nobody trusts", good, {}, "failed"},
      {"self-signed and pinned", self, {"", certs.Fingerprint("selfsigned")}, nullptr},
      {"self-signed, another pinned", self, {"", certs.Fingerprint("good")}, "failed"},
      {"a good chain but another pin", good, {certs.Pem("ca"), certs.Fingerprint("selfsigned")}, "does not match"},
      {"a pin that is none", good, {"", "AB:CD"}, "is not a SHA-256 fingerprint"},
      {"a CA file that is none", good, {"/nonexistent/ca.pem", ""}, "cannot be read"},
  };
  for (const auto& row : rows) {
    try {
      EXPECT_EQ(DiscoverEndpoints(row.server.Issuer(), row.trust, 10000).issuer, row.server.Issuer()) << row.name;
      EXPECT_EQ(row.error, nullptr) << row.name << ": taken";
    } catch (const EOAuthError& error) {
      ASSERT_NE(row.error, nullptr) << row.name << ": " << error.what();
      EXPECT_NE(std::string(error.what()).find(row.error), std::string::npos) << row.name << ": " << error.what();
    }
  }
}

}  // namespace
