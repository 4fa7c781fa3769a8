// The SMTP client's session against scripted servers: logins and the security modes, the
// farewell after delivery, and a session that could not be opened.
#include "net/smtpconnection.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "net/pxsmtp.h"
#include "support/checks.h"
#include "support/scripted_server.h"
#include "support/smtp_transcript.h"
#include "support/tls_peer.h"

namespace {

// Logins and the security modes over plain connections: each refusal ends the session without
// another word, and no secret reaches the line log.
TEST_F(SmtpTest, LoginAndSecurityAsTranscripts) {
  const std::string offers = "S: 220 ready\nC: EHLO {host}\nS: 250-hello\n";
  const std::string plain = "C: AUTH PLAIN AHVzZXIAc2VjcmV0\n";
  const std::string xoauth2 = "C: AUTH XOAUTH2 dXNlcj11c2VyAWF1dGg9QmVhcmVyIHNlY3JldAEB\n";
  const std::string renewed = "C: AUTH XOAUTH2 dXNlcj11c2VyAWF1dGg9QmVhcmVyIHNlY3JldC0yAQE=\n";
  const std::string sent = kEnvelope + kData + kQueued;
  const auto account = [](TpxSecurity security, TAuthMethod method = TAuthMethod::Auto) {
    return [security, method](Session& s) {
      s.smtp.SetSecurity(security);
      s.smtp.SetUserName("user");
      s.smtp.SetAuthMethod(method);
      TSecret password;
      password.Text() = "secret";
      s.smtp.SetPassword(std::move(password));
      s.smtp.SetTokenSource([](bool renew) { return TSecret(renew ? "secret-2" : "secret"); });
    };
  };
  const auto security = [](TpxSecurity mode) { return [mode](Session& s) { s.smtp.SetSecurity(mode); }; };
  const struct {
    const char* name;
    std::string transcript;
    std::string raised;  // a part of the error text; "" when the send succeeds
    std::function<void(Session&)> setup;
    std::string logged = {};  // a line of the line log
  } cases[] = {
      {"PLAIN with its initial response, to a server on this machine in the clear",
       offers + "S: 250 AUTH LOGIN PLAIN\n" + plain + "S: 235 2.7.0 ok\n" + sent, "", account(TpxSecurity::None)},
      {"LOGIN answers its two prompts",
       offers +
           "S: 250 AUTH LOGIN\nC: AUTH LOGIN\nS: 334 VXNlcm5hbWU6\nC: dXNlcg==\nS: 334 UGFzc3dvcmQ6\n"
           "C: c2VjcmV0\nS: 235 ok\n" +
           sent,
       "", account(TpxSecurity::None)},
      {"XOAUTH2 sends the token of its source", offers + "S: 250 AUTH XOAUTH2\n" + xoauth2 + "S: 235 ok\n" + sent, "",
       account(TpxSecurity::None, TAuthMethod::XOAuth2)},
      {"a token refused after its error challenge is renewed once, in the same session",
       offers + "S: 250 AUTH XOAUTH2\n" + xoauth2 +
           "S: 334 eyJzdGF0dXMiOiJpbnZhbGlkX3Rva2VuIiwic2NoZW1lcyI6ImJlYXJlciIsInNjb3BlIjoibWFpbCJ9\nC: \nS: 535 5.7.8 "
           "bad\n" +
           renewed + "S: 235 ok\n" + sent,
       "", account(TpxSecurity::None, TAuthMethod::OAuth2),
       "AUTH XOAUTH2 token refused: status=invalid_token schemes=bearer scope=mail"},
      {"a renewed token refused too ends the session",
       offers + "S: 250 AUTH XOAUTH2\n" + xoauth2 + "S: 535 5.7.8 bad\n" + renewed + "S: 535 5.7.8 still bad\n",
       std::string(kRenewedTokenRefused) + ": 535 5.7.8 still bad", account(TpxSecurity::None, TAuthMethod::XOAuth2)},
      {"a refused login ends the session at once", offers + "S: 250 AUTH PLAIN\n" + plain + "S: 535 5.7.8 bad\n",
       "refused the login: 535 5.7.8 bad", account(TpxSecurity::None)},
      {"no mechanism in common: nothing secret is sent", offers + "S: 250 AUTH CRAM-MD5\n" + kQuit,
       "No login mechanism in common", account(TpxSecurity::None)},
      {"EHLO refused with a user: no HELO", "S: 220 ready\nC: EHLO {host}\nS: 502 no\n", "refused EHLO",
       account(TpxSecurity::None)},
      {"STARTTLS required and not offered", offers + "S: 250 AUTH PLAIN\n", "does not offer STARTTLS",
       security(TpxSecurity::StartTLS)},
      {"a user in Auto needs STARTTLS", offers + "S: 250 AUTH PLAIN\n", "does not offer STARTTLS",
       account(TpxSecurity::Auto)},
      {"STARTTLS required and refused", offers + "S: 250 STARTTLS\nC: STARTTLS\nS: 454 4.7.0 not now\n",
       "refused STARTTLS: 454 4.7.0 not now", security(TpxSecurity::StartTLS)},
      {"Auto without a user goes on in the clear when STARTTLS is refused",
       offers + "S: 250 STARTTLS\nC: STARTTLS\nS: 454 4.7.0 not now\n" + sent, "", nullptr},
      {"None never asks for STARTTLS", offers + "S: 250 STARTTLS\n" + sent, "", security(TpxSecurity::None)},
  };
  QTemporaryDir logs;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Session session(*this, {c.transcript});
    session.smtp.SetLogFileName(logs.filePath("smtp.log").toStdString());
    if (c.setup) c.setup(session);
    const std::string raised = Raised([&] { session.smtp.Send(); });
    if (c.raised.empty()) {
      EXPECT_EQ(raised, "");
    } else {
      EXPECT_NE(raised.find(c.raised), std::string::npos) << raised;
    }
    EXPECT_TRUE(session.server.WaitFinished());
    EXPECT_EQ(session.server.Failures(), "");
    EXPECT_FALSE(session.smtp.Connected());
    const std::vector<std::string>& log = session.smtp.LineLog().Lines();
    if (!c.logged.empty()) {
      EXPECT_NE(std::find(log.begin(), log.end(), c.logged), log.end()) << c.logged;
    }
    for (const std::string& line : log) {
      EXPECT_EQ(line.find("secret"), std::string::npos) << line;
      EXPECT_EQ(line.find("AHVzZXIAc2VjcmV0"), std::string::npos) << line;
      EXPECT_EQ(line.find("c2VjcmV0"), std::string::npos) << line;
    }
  }
}

// RFC 5321 4.1.1.4: after the 250 to the text the message is the server's. Whatever goes wrong
// with the farewell is logged, not raised and not reported through OnError.
TEST_F(SmtpTest, FailuresAfterAcceptanceAreOnlyLogged) {
  const std::string kLogged = "Ending the connection after delivery failed: ";
  const std::string accepted = kGreeting + kEnvelope + kData + "S: 250 queued\n";
  const std::string quit = accepted + "C: QUIT\n";
  const struct {
    const char* name;
    std::string transcript;
    std::string logged;  // the text after kLogged, {server} for the server; "" when it depends on timing
    int timeOut = 10;
  } cases[] = {
      {"421 to QUIT", quit + "S: 421 closing\n", "{server} refused the session: 421 closing"},
      {"452 to QUIT", quit + "S: 452 full\n", "{server} refused the session: 452 full"},
      {"550 to QUIT", quit + "S: 550 no\n", "{server} refused the session: 550 no"},
      {"a garbled line to QUIT, escaped", quit + "S: \\x1B[2J\\xFF\n", "{server} refused the session: \\x1B[2J\\xFF"},
      {"the server closes after QUIT", quit + "close\n", "No reply from {server}: it closed the connection"},
      {"the server resets after QUIT", quit + "reset\n",
       "Lost the connection to {server}: Connection reset by the server"},
      // The pause lets the 250 leave before the reset, which would discard it.
      {"the server resets right after the 250", accepted + "pause 50\nreset\n", ""},
      {"the server closes right after the 250", accepted + "close\n", ""},
      {"an overlong line to QUIT", quit + "P: " + std::string(TnkSocket::kMaxLineLength + 10, 'x') + "\n",
       "{server} sent a line longer than 65536 bytes"},
      {"a silent server after QUIT", quit, "Lost the connection to {server}: Operation timed out", 1},
  };
  QTemporaryDir logs;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Session session(*this, {c.transcript});
    session.smtp.SetTimeOut(c.timeOut);
    session.smtp.SetLogFileName(logs.filePath("smtp.log").toStdString());
    EXPECT_EQ(Raised([&] { session.smtp.Send(); }), "");
    EXPECT_EQ(session.mailSent, 1);
    EXPECT_EQ(session.events, std::vector<std::string>{});
    EXPECT_FALSE(session.smtp.Connected());
    EXPECT_TRUE(session.server.WaitFinished());
    EXPECT_EQ(session.server.Failures(), "");
    const std::string last = session.smtp.LineLog().Lines().back();
    EXPECT_EQ(last.substr(0, kLogged.size()), kLogged);
    if (!c.logged.empty()) {
      EXPECT_EQ(last.substr(kLogged.size()), WithServer(c.logged, session.server.Address()));
    }
  }
}

// A greeting refused at the owner's Connect must not leave a socket that the next Send would
// take for a greeted connection.
TEST_F(SmtpTest, RefusedConnectLeavesNoConnectionBehind) {
  Session session(*this, {"S: 421 try later\n" + kQuit, kDelivery});
  EXPECT_EQ(Raised([&] { session.smtp.Connect(); }),
            "EServerError: " + session.server.Address() + " refused the session: 421 try later");
  EXPECT_FALSE(session.smtp.Connected());
  EXPECT_EQ(Raised([&] { session.smtp.Send(); }), "");
  EXPECT_EQ(session.server.Connections(), 2);
  EXPECT_TRUE(session.server.WaitFinished(1));
  EXPECT_EQ(session.server.Failures(), "");
}

TEST_F(SmtpTest, EmptyServerIsAUsageErrorBeforeAnything) {
  Session session(*this, {""});
  session.smtp.SetServer("");
  int opens = 0;
  session.smtp.OnOpen = [&](TComponent*) { ++opens; };
  EXPECT_EQ(Raised([&] { session.smtp.Send(); }), "ESocketError: Server property is required");
  EXPECT_EQ(session.events, std::vector<std::string>{"error: Server property is required"});
  EXPECT_EQ(opens, 0);
}

// RFC 3207 4.2: after STARTTLS the server does not greet again; the client speaks first.
TEST(SmtpSession, StarttlsIsFollowedByEhloAtOnce) {
  TlsPeer peer("good", {"--starttls"});
  TpxSMTP smtp;
  smtp.SetWinsockLoaded(true);
  smtp.SetTimeOut(3);  // a client waiting for a second greeting would wait this long
  smtp.SetServer(peer.Address());
  smtp.SetSecurity(TpxSecurity::StartTLS);
  smtp.SetCAFile(TestCerts::Get().Pem("ca"));
  EXPECT_EQ(Raised([&] { smtp.Connect(); }), "");
  EXPECT_TRUE(smtp.Encrypted());
  EXPECT_EQ(smtp.LastReply(), "250 tls");
  smtp.Disconnect();
  EXPECT_FALSE(smtp.Connected());
}

}  // namespace
