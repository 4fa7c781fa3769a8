#include "net/nktls.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>

#include "net/nksocket.h"
#include "support/checks.h"
#include "support/files.h"
#include "support/tls_peer.h"

namespace {

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

std::string Bare(std::string pin) {
  std::erase(pin, ':');
  return pin;
}

TEST(TlsContext, RefusesBadSettingsBeforeConnecting) {
  const TestCerts& certs = TestCerts::Get();
  const std::string notCerts = certs.Key("good");  // a key, not a certificate
  const std::string pin = certs.Fingerprint("good");
  struct Case {
    const char* name;
    TnkTlsOptions options;
    std::string error;  // "" when accepted
  } cases[] = {
      {"no settings", {}, ""},
      {"pin with colons", {TnkTlsPolicy::Checked, "", pin}, ""},
      {"pin in lower case without colons", {TnkTlsPolicy::Checked, "", Lower(Bare(pin))}, ""},
      {"pin one digit short",
       {TnkTlsPolicy::Checked, "", Bare(pin).substr(1)},
       "ETlsError: The fingerprint \"" + Bare(pin).substr(1) +
           "\" is not a SHA-256 fingerprint (64 hex digits, colons allowed)"},
      {"pin with a letter that is no hex digit",
       {TnkTlsPolicy::Checked, "", "G" + Bare(pin).substr(1)},
       "ETlsError: The fingerprint \"G" + Bare(pin).substr(1) +
           "\" is not a SHA-256 fingerprint (64 hex digits, colons allowed)"},
      {"CA file", {TnkTlsPolicy::Checked, certs.Pem("ca"), ""}, ""},
      {"missing CA file",
       {TnkTlsPolicy::Checked, "/nonexistent/ca.pem", ""},
       "ETlsError: The CA file /nonexistent/ca.pem cannot be read: No such file or directory"},
      {"CA file without a certificate",
       {TnkTlsPolicy::Checked, notCerts, ""},
       "ETlsError: The CA file " + notCerts + " cannot be read: no certificate or crl found"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Raised([&] { TnkTlsContext context(c.options); }), c.error);
  }
}

// Every check against a real TLS server: the chain, expiry, the name or address as typed, the
// pin, and the opportunistic policy that notes a failure and goes on.
TEST(TlsContext, ChecksTheServerCertificate) {
  const TestCerts& certs = TestCerts::Get();
  const std::string ca = certs.Pem("ca");
  const auto checked = TnkTlsPolicy::Checked;
  const auto opportunistic = TnkTlsPolicy::Opportunistic;
  struct Case {
    const char* name;
    const char* cert;
    const char* host;
    TnkTlsOptions options;
    std::string refusal;  // the reason in the error; "" when the session goes on
    bool verified;
    std::string note;
  } cases[] = {
      {"CA-signed, for the address", "good", "127.0.0.1", {checked, ca, ""}, "", true, ""},
      {"CA-signed, for the name", "good", "localhost", {checked, ca, ""}, "", true, ""},
      {"test CA not in the system store", "good", "localhost", {}, "issuer not trusted", false, ""},
      {"expired", "expired", "localhost", {checked, ca, ""}, "certificate has expired", false, ""},
      {"other name",
       "wrongname",
       "localhost",
       {checked, ca, ""},
       "host name mismatch: the certificate is for mail.example.com",
       false,
       ""},
      {"address not among its entries",
       "wrongname",
       "127.0.0.1",
       {checked, ca, ""},
       "host name mismatch: the certificate is for mail.example.com",
       false,
       ""},
      {"self-signed", "selfsigned", "localhost", {checked, ca, ""}, "issuer not trusted", false, ""},
      {"pin replaces the issuer check",
       "selfsigned",
       "localhost",
       {checked, "", certs.Fingerprint("selfsigned")},
       "",
       true,
       ""},
      {"pin replaces the expiry check",
       "expired",
       "127.0.0.1",
       {checked, "", Lower(Bare(certs.Fingerprint("expired")))},
       "",
       true,
       ""},
      {"pin that does not match refuses a valid chain",
       "good",
       "localhost",
       {checked, ca, certs.Fingerprint("selfsigned")},
       "certificate does not match the pinned fingerprint " + certs.Fingerprint("selfsigned"),
       false,
       ""},
      {"opportunistic goes on with a note",
       "selfsigned",
       "localhost",
       {opportunistic, "", ""},
       "",
       false,
       "certificate not verified (issuer not trusted), SHA-256 fingerprint " + certs.Fingerprint("selfsigned") +
           "; the session goes on encrypted"},
      {"opportunistic with a good chain has no note", "good", "localhost", {opportunistic, ca, ""}, "", true, ""},
  };
  std::map<std::string, std::unique_ptr<TlsPeer>> peers;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto& peer = peers[c.cert];
    if (!peer) peer = std::make_unique<TlsPeer>(c.cert);
    TnkSocket client;
    client.SetWinsockLoaded(true);
    client.SetTimeOut(10);
    client.SetServer(peer->Address(c.host));
    client.Open();
    client.ConnectSocket();
    TnkTlsContext context(c.options);
    const std::string fingerprint = certs.Fingerprint(c.cert);
    if (!c.refusal.empty()) {
      // Where a certificate was pinned, another one is never offered for pinning: it may be an attack.
      const std::string hint =
          "; to trust this one certificate, pin it with the setting Fingerprint or the option --fingerprint ";
      EXPECT_EQ(Raised([&] { client.StartTls(context); }),
                "ETlsError: TLS with " + peer->Address(c.host) + " failed: the certificate was refused: " + c.refusal +
                    ". Its SHA-256 fingerprint is " + fingerprint +
                    (c.options.fingerprint.empty() ? hint + fingerprint : ""));
      EXPECT_FALSE(client.Connected()) << "nothing more may be said on a refused connection";
      continue;
    }
    ASSERT_EQ(Raised([&] { client.StartTls(context); }), "");
    EXPECT_TRUE(client.Encrypted());
    EXPECT_EQ(client.TlsOutcome().verified, c.verified);
    EXPECT_EQ(client.TlsOutcome().note, c.note);
    EXPECT_EQ(client.TlsOutcome().fingerprint, fingerprint);
    EXPECT_EQ(client.ReadReply(), 220);
    client.WriteLine("ECHO through TLS");
    EXPECT_EQ(client.ReadReply(), 250);
    EXPECT_EQ(client.LastReply(), "250 through TLS");
  }
}

}  // namespace
