// The SMTP client's security against a real server (aiosmtpd) with throw-away certificates:
// STARTTLS, implicit TLS, the logins, and every refusal. A refusal must leave the server without
// a MAIL FROM and without the password, and the secret must never reach the line log, in memory
// or in its file, nor the error text; the server's transcript tells what crossed in the clear.
#include <gtest/gtest.h>

#include <QByteArray>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <string>
#include <vector>

#include "app/batch/failureadvice.h"
#include "mail/pxmsg.h"
#include "net/pxsmtp.h"
#include "support/files.h"
#include "support/python_referee.h"
#include "support/samples.h"
#include "support/smtp_capture.h"
#include "support/tls_peer.h"

namespace {

constexpr char kUser[] = "ann@example.org";
constexpr char kPassword[] = "Correct-Horse-7";
constexpr char kToken[] = "ya29.bearer-token-for-ann";
constexpr char kStaleToken[] = "ya29.revoked-token-of-ann";

// How the client is set up; the file is sent to the server it is given.
struct Account {
  TpxSecurity security = TpxSecurity::Auto;
  std::string user{};
  std::string password = kPassword;
  TAuthMethod method = TAuthMethod::Auto;
  bool trustTestCa = true;  // CAFile: the test CA
  std::string pin{};        // a TestCerts name whose fingerprint is pinned
  bool staleToken = false;  // the source's first token is one the server refuses
};

SmtpCapture::Options Server(const std::string& cert, bool login = true) {
  SmtpCapture::Options options;
  options.cert = cert;
  if (login) options.auth = std::string(kUser) + ":" + kPassword;
  return options;
}

std::string Base64(const std::string& text) { return QByteArray::fromStdString(text).toBase64().toStdString(); }

// The password and the tokens as they may travel: as they are, and in every encoding a mechanism
// gives them. A token's Base64 inside a longer response depends on where it starts: at each of
// the three offsets, the characters that come from the token alone.
std::vector<std::string> SecretForms(const std::string& password) {
  std::vector<std::string> forms = {password, Base64(password),
                                    Base64(std::string("\0", 1) + kUser + std::string("\0", 1) + password)};
  for (const std::string token : {kToken, kStaleToken}) {
    forms.push_back(token);
    for (size_t offset = 0; offset < 3; ++offset) {
      const std::string encoded = Base64(std::string(offset, 'x') + token);
      const size_t skipped = offset == 0 ? 0 : 4;
      forms.push_back(encoded.substr(skipped, encoded.size() - skipped - 4));
    }
  }
  return forms;
}

void ExpectNoSecretIn(const std::string& where, const std::string& text, const Account& account) {
  for (const std::string& secret : SecretForms(account.password)) {
    if (secret.empty()) continue;  // XOAUTH2 without a password
    EXPECT_EQ(text.find(secret), std::string::npos) << where << " holds " << secret << ":\n" << text;
  }
}

// One message with one file, sent once; what came of it.
struct Outcome {
  bool sent = false;
  std::string error;
  std::string lineLog;  // in memory
  std::string logFile;  // as written
  int tokenCalls = 0;
};

class SecureSend {
 public:
  SecureSend() : file_(RandomBytes(70000, 12)) { WriteFile(Path("report.bin"), file_); }

  Outcome Run(const SmtpCapture& server, const Account& account) {
    TpxMessage message;
    message.Sender().SetAddress("from@example.org");
    message.Recipients().AddAddress("to@example.org", "");
    message.SetSubject("secure");
    message.Body().Add("see the file");
    message.Attachments().AddFile(Path("report.bin"));
    TpxSMTP smtp;
    smtp.SetWinsockLoaded(true);
    smtp.SetTimeOut(20);
    // A name, as users type it: the certificate's names are checked against it.
    smtp.SetServer("localhost:" + std::to_string(server.Port()));
    smtp.SetLogFileName(Path("smtp.log"));
    smtp.SetMailMessage(&message);
    smtp.SetSecurity(account.security);
    smtp.SetUserName(account.user);
    smtp.SetAuthMethod(account.method);
    if (account.trustTestCa) smtp.SetCAFile(TestCerts::Get().Pem("ca"));
    if (!account.pin.empty()) smtp.SetFingerprint(TestCerts::Get().Fingerprint(account.pin));
    smtp.SetPassword(TSecret(account.password));
    Outcome outcome;
    smtp.SetTokenSource([&outcome, stale = account.staleToken](bool renew) {
      ++outcome.tokenCalls;
      return TSecret(stale && !renew ? kStaleToken : kToken);
    });
    try {
      smtp.Send();
      outcome.sent = true;
    } catch (const std::exception& e) {
      outcome.error = e.what();
    }
    outcome.lineLog = smtp.LineLog().Text();
    outcome.logFile = ReadFile(Path("smtp.log"));
    return outcome;
  }
  const std::string& File() const { return file_; }

 private:
  std::string Path(const char* name) const { return dir_.filePath(name).toStdString(); }
  QTemporaryDir dir_;
  std::string file_;
};

// The stored message's one attachment, as Python's email package decodes it.
std::string StoredFile(const SmtpCapture& server) {
  const QJsonArray reports = QJsonDocument::fromJson(QByteArray::fromStdString(RunPython(E2eScript("mime_referee.py"),
                                                                                         {server.Dir() + "/0001.eml"})))
                                 .array();
  const QJsonArray parts = reports.at(0).toObject()["parts"].toArray();
  return QByteArray::fromHex(parts.at(parts.size() - 1).toObject()["data_hex"].toString().toLatin1()).toStdString();
}

TEST(SmtpSecureEndToEnd, DeliversEncryptedAndLoggedIn) {
  SmtpCapture::Options implicit = Server("good");
  implicit.implicitTls = true;
  SmtpCapture::Options oauth = Server("good", false);
  oauth.token = std::string(kUser) + ":" + kToken;
  struct Case {
    const char* name;
    SmtpCapture::Options server;
    Account account;
    std::string loggedIn;  // the user the server saw log in
    int tokenCalls = 0;
    bool noted = false;   // the line log notes a certificate that failed its checks
    std::string heard{};  // a line of the server's transcript
  } cases[] = {
      {"STARTTLS + PLAIN", Server("good"), {TpxSecurity::StartTLS, kUser, kPassword, TAuthMethod::Plain}, kUser},
      {"Auto: STARTTLS + LOGIN", Server("good"), {TpxSecurity::Auto, kUser, kPassword, TAuthMethod::Login}, kUser},
      {"implicit TLS + PLAIN", implicit, {TpxSecurity::TLS, kUser}, kUser},
      {"STARTTLS + XOAUTH2 from the token source",
       oauth,
       {TpxSecurity::StartTLS, kUser, "", TAuthMethod::XOAuth2},
       kUser,
       1},
      // RFC 7628 3.2.3: the error challenge is closed with a lone ^A, then a renewed token goes.
      {"STARTTLS + OAUTHBEARER, a refused token renewed in the same session",
       oauth,
       {TpxSecurity::StartTLS, kUser, "", TAuthMethod::OAuth2, true, "", true},
       kUser,
       2,
       false,
       "tls b'AQ==\\r\\n'"},
      {"pinned certificate that matches",
       Server("selfsigned"),
       {TpxSecurity::StartTLS, kUser, kPassword, TAuthMethod::Auto, false, "selfsigned"},
       kUser},
      {"opportunistic Auto without a user, self-signed",
       Server("selfsigned", false),
       {TpxSecurity::Auto, "", kPassword, TAuthMethod::Auto, false},
       "",
       0,
       true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SmtpCapture server(c.server);
    SecureSend send;
    const Outcome outcome = send.Run(server, c.account);
    ASSERT_TRUE(outcome.sent) << outcome.error << "\n" << outcome.lineLog;
    const std::vector<SmtpCapture::Envelope> envelopes = server.Envelopes();
    ASSERT_EQ(envelopes.size(), 1u);
    EXPECT_TRUE(envelopes[0].encrypted);
    EXPECT_EQ(envelopes[0].user, c.loggedIn);
    EXPECT_EQ(outcome.tokenCalls, c.tokenCalls);
    EXPECT_EQ(outcome.lineLog.find("TLS note: certificate not verified (issuer not trusted)") != std::string::npos,
              c.noted)
        << outcome.lineLog;
    EXPECT_TRUE(StoredFile(server) == send.File()) << "the file arrives byte for byte";
    EXPECT_NE(server.Transcript().find(c.heard), std::string::npos) << server.Transcript();
    EXPECT_EQ(server.ReadInClear().find("AUTH"), std::string::npos) << server.ReadInClear();
    ExpectNoSecretIn("the line log", outcome.lineLog, c.account);
    ExpectNoSecretIn("the log file", outcome.logFile, c.account);
  }
}

TEST(SmtpSecureEndToEnd, RefusalsSendNothingMoreAndNoSecret) {
  SmtpCapture::Options plainWithLogin = Server("");
  plainWithLogin.authPlaintext = true;  // AUTH offered in the clear: the client must not take it
  struct Case {
    const char* name;
    SmtpCapture::Options server;
    Account account;
    std::string why;        // in the error text
    bool authSent = false;  // the server heard a login (encrypted), refused
  } cases[] = {
      {"wrong password", Server("good"), {TpxSecurity::StartTLS, kUser, "not-the-password"}, "535", true},
      {"untrusted issuer", Server("selfsigned"), {TpxSecurity::StartTLS, kUser}, "issuer not trusted"},
      {"expired certificate", Server("expired"), {TpxSecurity::StartTLS, kUser}, "certificate has expired"},
      {"host name mismatch",
       Server("wrongname"),
       {TpxSecurity::StartTLS, kUser},
       "host name mismatch: the certificate is for mail.example.com"},
      {"STARTTLS required, not offered", Server("", false), {TpxSecurity::StartTLS}, "does not offer STARTTLS"},
      {"Auto with a user against a plain server",
       plainWithLogin,
       {TpxSecurity::Auto, kUser},
       "does not offer STARTTLS"},
      {"pinned fingerprint that does not match",
       Server("selfsigned"),
       {TpxSecurity::StartTLS, kUser, kPassword, TAuthMethod::Auto, false, "good"},
       "does not match the pinned"},
      {"Auto with a user, self-signed: refused before AUTH",
       Server("selfsigned"),
       {TpxSecurity::Auto, kUser},
       "issuer not trusted"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SmtpCapture server(c.server);
    SecureSend send;
    const Outcome outcome = send.Run(server, c.account);
    ASSERT_FALSE(outcome.sent);
    EXPECT_NE(outcome.error.find(c.why), std::string::npos) << outcome.error;
    EXPECT_EQ(server.Count(), 0);
    const std::string transcript = server.Transcript();
    EXPECT_EQ(transcript.find("MAIL FROM"), std::string::npos) << transcript;
    EXPECT_EQ(transcript.find("AUTH") != std::string::npos, c.authSent) << transcript;
    ExpectNoSecretIn("what the server read in the clear", server.ReadInClear(), c.account);
    if (!c.authSent) ExpectNoSecretIn("what the server read", transcript, c.account);
    ExpectNoSecretIn("the line log", outcome.lineLog, c.account);
    ExpectNoSecretIn("the log file", outcome.logFile, c.account);
    ExpectNoSecretIn("the error", outcome.error, c.account);
  }
}

// A port for TLS from the first byte asked for STARTTLS: after 5 s without a greeting, a TLS
// handshake on a second connection shows what the port expects, long before the time-out.
TEST(SmtpSecureEndToEnd, SilentGreetingIsProbedForTls) {
  SmtpCapture::Options implicit = Server("good", false);
  implicit.implicitTls = true;
  SmtpCapture server(implicit);
  TpxSMTP smtp;
  smtp.SetWinsockLoaded(true);
  smtp.SetTimeOut(60);
  smtp.SetServer("localhost:" + std::to_string(server.Port()));
  smtp.SetSecurity(TpxSecurity::StartTLS);
  smtp.SetCAFile(TestCerts::Get().Pem("ca"));
  QElapsedTimer clock;
  clock.start();
  try {
    smtp.Connect();
    ADD_FAILURE() << "connected";
  } catch (const std::exception& e) {
    EXPECT_NE(std::string(e.what()).find(kNoGreetingButTls), std::string::npos) << e.what();
    EXPECT_EQ(Advice(e), "this port expects TLS from the first byte: choose Security TLS (--security tls)");
  }
  EXPECT_LT(clock.elapsed(), 20000);
  EXPECT_EQ(server.Transcript(), "") << "nothing is said to a server that never greeted";
}

}  // namespace
