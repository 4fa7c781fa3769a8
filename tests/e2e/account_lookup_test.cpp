// The account look-up end to end, inside a private network of its own: a real DNS server
// (dnsmasq) answers for the test domains and the providers' hosts, real HTTPS servers serve the
// autoconfig documents, and submission servers greet the probes on their usual ports.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <QTemporaryDir>

#include <string>
#include <vector>

#include "app/batch/accountlookup.h"
#include "support/dns_server.h"
#include "support/files.h"
#include "support/mailcart_send_run.h"
#include "support/private_network.h"
#include "support/python_server.h"
#include "support/tls_peer.h"
#include "toolkit/hostport.h"
#include "toolkit/pump.h"

namespace {

constexpr char kAutoconfig[] = R"(<?xml version="1.0"?>
<clientConfig version="1.1"><emailProvider id="auto.test"><domain>auto.test</domain>
<outgoingServer type="smtp"><hostname>plain.auto.test</hostname><port>25</port><socketType>plain</socketType>
<authentication>password-cleartext</authentication><username>%EMAILADDRESS%</username></outgoingServer>
<outgoingServer type="smtp"><hostname>mail.auto.test</hostname><port>587</port><socketType>STARTTLS</socketType>
<authentication>password-cleartext</authentication><username>%EMAILLOCALPART%</username></outgoingServer>
</emailProvider></clientConfig>)";

class EventHost : public TBatchHost {
 public:
  void ProcessMessages() override { ProcessMessagesNow(); }
  void CloseApplication() override {}
};

TEST(AccountLookup, TheFirstSourceThatWorksWins) {
  MAILCART_RUN_IN_PRIVATE_NETWORK();
  const DnsServer dns({"host-record=smtp.gmail.com,127.0.0.2", "host-record=autoconfig.auto.test,127.0.0.3",
                       "host-record=plain.auto.test,127.0.0.3", "host-record=mail.auto.test,127.0.0.4",
                       "host-record=relay.elsewhere.test,127.0.0.5", "host-record=smtp.srv.test,127.0.0.6",
                       "host-record=smtp.office365.com,127.0.0.7", "host-record=mail.guess.test,127.0.0.8",
                       "srv-host=_submissions._tcp.srv.test,relay.elsewhere.test,465,0,1",
                       "srv-host=_submission._tcp.srv.test,smtp.srv.test,587,0,1",
                       "mx-host=corp.test,corp-test.mail.protection.outlook.com,10"});
  QTemporaryDir dir;
  const std::string documents = dir.filePath("documents").toStdString();
  std::filesystem::create_directories(documents + "/autoconfig.auto.test/mail");
  WriteFile(documents + "/autoconfig.auto.test/mail/config-v1.1.xml", kAutoconfig);
  const std::string log = dir.filePath("peers.log").toStdString();
  const PythonServer peers(std::string(MAILCART_E2E_DIR) + "/lookup_peers.py",
                           {"--cert", TestCerts::Get().Pem("lookup"), "--key", TestCerts::Get().Key("lookup"), "--log", log,
                            "--smtp", "127.0.0.2:465:tls:XOAUTH2,OAUTHBEARER:35882577",
                            "--smtp", "127.0.0.2:587:starttls:XOAUTH2,OAUTHBEARER:35882577",
                            "--https", "127.0.0.3:" + documents, "--http", "127.0.0.3",
                            "--smtp", "127.0.0.3:25:starttls:PLAIN:0",
                            "--smtp", "127.0.0.4:587:starttls:PLAIN,LOGIN:10000000",
                            "--smtp", "127.0.0.5:465:tls:PLAIN:0", "--smtp", "127.0.0.6:587:starttls:PLAIN,LOGIN:0",
                            "--smtp", "127.0.0.7:587:starttls:XOAUTH2:0", "--smtp", "127.0.0.8:587:starttls:PLAIN:0"},
                           dir.filePath("peers.err").toStdString());
  const std::string ca = TestCerts::Get().Pem("ca");
  const struct {
    const char* address;
    bool confirm;       // the user accepts a server outside the domain
    const char* found;  // "" for none
    const char* source;
    TAuthMethod login;
    const char* user;
  } rows[] = {
      {"ann@gmail.com", false, "smtp.gmail.com", "the providers' table (Gmail)", TAuthMethod::OAuth2, "ann@gmail.com"},
      {"ann@auto.test", false, "mail.auto.test:587", "autoconfig", TAuthMethod::Auto, "ann"},
      {"ann@srv.test", false, "smtp.srv.test:587", "SRV _submission._tcp.srv.test", TAuthMethod::Auto, "ann@srv.test"},
      {"ann@srv.test", true, "relay.elsewhere.test:465", "SRV _submissions._tcp.srv.test", TAuthMethod::Auto,
       "ann@srv.test"},
      {"ann@corp.test", true, "smtp.office365.com:587", "MX corp-test.mail.protection.outlook.com (Microsoft",
       TAuthMethod::OAuth2, "ann@corp.test"},
      {"ann@guess.test", false, "mail.guess.test:587", "a guess", TAuthMethod::Auto, "ann@guess.test"},
      {"ann@none.test", false, "", "", TAuthMethod::Auto, ""},
  };
  EventHost host;
  for (const auto& row : rows) {
    SCOPED_TRACE(row.address);
    int asked = 0;
    const TLookupHooks hooks{[&](const TFoundServer&) { return ++asked, row.confirm; }, {}};
    const TLookupResult result = FindSettings(row.address, ca, host, hooks);
    std::string steps;
    for (const std::string& step : result.steps) steps += step + "\n";
    ASSERT_EQ(result.server.has_value(), *row.found != '\0') << steps;
    if (!result.server) continue;
    const TFoundServer& s = *result.server;
    EXPECT_EQ(HostPortText(s.host, s.port).rfind(row.found, 0), 0u) << HostPortText(s.host, s.port) << "\n" << steps;
    EXPECT_NE(s.source.find(row.source), std::string::npos) << s.source;
    EXPECT_EQ(s.authMethod, row.login);
    EXPECT_EQ(s.user, row.user);
    EXPECT_TRUE(result.probe.ok);
    EXPECT_NE(result.probe.text.find("certificate valid"), std::string::npos) << result.probe.text;
  }
  EXPECT_EQ(ReadFile(log).find("http "), std::string::npos) << "plain HTTP was asked:\n" << ReadFile(log);
  EXPECT_EQ(ReadFile(log).find("127.0.0.3:25"), std::string::npos) << "a plain-text server was probed";

  // mailcart-send prints the keys, says where they came from, and --save writes those alone.
  const std::string settings = dir.filePath("mailcart.ini").toStdString();
  WriteFile(settings, "[Param]\nSubj=kept\n");
  ::chmod(settings.c_str(), 0600);
  const SendRun run = RunSend({"--find-settings", "ann@auto.test", "--save", "--settings", settings, "--ca-file", ca});
  ASSERT_EQ(run.exitCode, 0) << run.errors;
  ASSERT_GE(run.lines.size(), 2u);
  EXPECT_EQ(run.lines[0], "[Param]");
  EXPECT_EQ(run.lines[1], "MailSrv=mail.auto.test:587");
  EXPECT_NE(run.errors.find("found in autoconfig"), std::string::npos) << run.errors;
  const std::string saved = ReadFile(settings);
  EXPECT_NE(saved.find("MailSrv=mail.auto.test:587"), std::string::npos) << saved;
  EXPECT_NE(saved.find("Subj=kept"), std::string::npos) << saved;
  EXPECT_EQ(saved.find("PauseSec"), std::string::npos) << "only the keys found are written";
  EXPECT_EQ(RunSend({"--find-settings", "ann@none.test", "--ca-file", ca}).exitCode, 1);
}

}  // namespace
