// A domain's autoconfig document: what it offers, where it is asked, and asking it over HTTPS.
#include "app/batch/autoconfig.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "app/signin/httpsclient.h"
#include "support/files.h"
#include "support/python_referee.h"
#include "support/python_server.h"
#include "support/tls_peer.h"

namespace {

// "host:port TLS|STARTTLS Auto|OAuth2 user" for each server, "; " between them.
std::string Summary(const std::vector<TFoundServer>& servers) {
  std::string text;
  for (const TFoundServer& s : servers)
    text += (text.empty() ? "" : "; ") + s.host + ":" + std::to_string(s.port) + " " + SecurityName(s.security) + " " +
            AuthMethodName(s.authMethod) + " " + s.user;
  return text;
}

const std::string kPassword = "<authentication>password-cleartext</authentication>";

std::string Smtp(const std::string& host, const std::string& port, const std::string& socket,
                 const std::string& auth = kPassword, const std::string& user = "%EMAILADDRESS%") {
  return "<outgoingServer type=\"smtp\"><hostname>" + host + "</hostname><port>" + port + "</port><socketType>" +
         socket + "</socketType>" + auth + "<username>" + user + "</username></outgoingServer>";
}

std::string Document(const std::string& servers) {
  return "<?xml version=\"1.0\"?><clientConfig version=\"1.1\"><emailProvider id=\"example.com\">"
         "<incomingServer type=\"imap\"><hostname>imap.example.com</hostname></incomingServer>" +
         servers + "</emailProvider></clientConfig>";
}

TEST(Autoconfig, EachDocumentGivesItsSecureServersInOrder) {
  const struct {
    std::string xml;
    const char* servers;
    const char* why;  // part of the reason when there are none
  } cases[] = {
      {Document(Smtp("SMTP.%EMAILDOMAIN%", "587", "STARTTLS", "<authentication>password-encrypted</authentication>",
                     "%EMAILLOCALPART%+%EMAILDOMAIN%")),
       "smtp.example.com:587 STARTTLS Auto ann+example.com", ""},
      {Document(Smtp("smtp.example.com", "465", "SSL", "<authentication>OAuth2</authentication>" + kPassword)),
       "smtp.example.com:465 TLS OAuth2 ann@Example.com", ""},
      {Document(Smtp("b.example.com", "587", "STARTTLS") + Smtp("plain.example.com", "25", "plain") +
                Smtp("a.example.com", "465", "SSL")),
       "b.example.com:587 STARTTLS Auto ann@Example.com; a.example.com:465 TLS Auto ann@Example.com", ""},
      {Document(Smtp("smtp.example.com", "25", "plain")), "", "smtp.example.com:25: plain text"},
      {Document(Smtp("smtp.example.com", "465", "SSL", "<authentication>none</authentication>")), "", "no password"},
      {Document(Smtp("smtp.example.com/x", "465", "SSL")), "", "not a host and port"},
      {Document(Smtp("smtp.example.com", "465", "SSL")).substr(0, 300), "", "not XML"},
      {"<html><body>Not here</body></html>", "", "no clientConfig"},
  };
  for (const auto& c : cases) {
    std::string why;
    const auto servers = ReadAutoconfig(QByteArray::fromStdString(c.xml), "ann@Example.com", "src", why);
    EXPECT_EQ(Summary(servers), c.servers) << c.xml;
    EXPECT_NE(why.find(c.why), std::string::npos) << why;
    EXPECT_EQ(why.empty(), !servers.empty()) << c.xml;
  }
}

TEST(Autoconfig, OnlyAnAddressWithAHostNameIsAsked) {
  const std::pair<const char*, const char*> cases[] = {
      {"A.Lee+x@Example.COM",
       "https://autoconfig.example.com/mail/config-v1.1.xml?emailaddress=A.Lee%2Bx%40Example.COM"},
      {"\"a@b\"@example.org",
       "https://autoconfig.example.org/mail/config-v1.1.xml?emailaddress=%22a%40b%22%40example.org"},
      {"ann@example.com/evil?x=", ""},
      {"ann@exa mple.com", ""},
      {"ann@example..com", ""},
      {"example.com", ""},
  };
  for (const auto& [address, first] : cases)
    EXPECT_EQ(AutoconfigUrls(address).empty() ? "" : AutoconfigUrls(address).front(), first) << address;
  EXPECT_EQ(AutoconfigUrls("a@example.com").back(), "https://example.com/.well-known/autoconfig/mail/config-v1.1.xml");
}

TEST(Autoconfig, TheFirstPlaceWithServersWinsAndEveryOtherSaysWhy) {
  QTemporaryDir root;
  const std::string dir = root.path().toStdString();
  WriteFile(dir + "/good.xml", Document(Smtp("smtp.example.com", "465", "SSL")));
  WriteFile(dir + "/plain.xml", Document(Smtp("smtp.example.com", "25", "plain")));
  WriteFile(dir + "/big.xml", Document(std::string(kMaxReplyBytes, ' ')));
  const TestCerts& certs = TestCerts::Get();
  const PythonServer server(E2eScript("autoconfig_server.py"),
                            {"--cert", certs.Pem("good"), "--key", certs.Key("good"), "--root", dir},
                            dir + "/server.log");
  const std::string base = "localhost:" + std::to_string(server.Port()) + "/", https = "https://" + base;
  const std::string good = "smtp.example.com:465 TLS Auto ann@example.com";
  // The pin is the SMTP server's: it has no say here.
  const TTlsTrust trusted{certs.Pem("ca"), certs.Fingerprint("selfsigned")};
  const struct {
    std::vector<std::string> urls;
    TTlsTrust trust;
    std::string servers;
    std::string note;  // a part of the one note; "" for none
  } cases[] = {
      {{https + "missing.xml", https + "good.xml"}, trusted, good, "HTTP status 404"},
      {{https + "good.xml", https + "missing.xml"}, trusted, good, ""},
      {{"http://" + base + "good.xml"}, trusted, "", "refused: only https://"},
      {{https + "plain.xml"}, trusted, "", "gives nothing: it offers no SMTP server"},
      {{https + "big.xml"}, trusted, "", "more than 1 MiB"},
      {{https + "good.xml"}, {}, "", "autoconfig request to localhost failed"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> notes;
    EXPECT_EQ(Summary(FetchAutoconfigFrom(c.urls, "ann@example.com", c.trust, notes)), c.servers) << c.urls[0];
    ASSERT_EQ(notes.size(), c.note.empty() ? 0u : 1u) << c.urls[0];
    if (!notes.empty()) {
      EXPECT_NE(notes[0].find(c.note), std::string::npos) << notes[0];
    }
  }
}

}  // namespace
