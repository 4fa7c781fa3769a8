// A real SMTP server for the end-to-end tests: runs tests/e2e/smtp_capture.py (aiosmtpd) on
// 127.0.0.1 at a free port for the life of the object and reads back what it stored. The
// server writes a message before it answers the final "." of DATA, so once a client has its
// reply the message is here.
#pragma once

#include <QTemporaryDir>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class PythonServer;

class SmtpCapture {
 public:
  struct Options {
    std::vector<std::string> rejectRcpt;  // RCPT TO for these addresses is answered with 550
    int maxSeconds = 600;                 // the server stops by itself after this long
    std::string dir{};                    // where messages go; empty: a folder of its own
    int port = 0;                         // 0: a free port
    int messagesPerSession = 0;           // after these, MAIL FROM gets 421 and a close; 0: no limit
    // The largest message taken, announced as SIZE; 0: none announced; -1: aiosmtpd's (32 MiB).
    int64_t sizeLimit = -1;
    // Security, all off by default: a TestCerts name ("good", "expired", …) offered with
    // STARTTLS, or from the first byte with implicitTls.
    std::string cert{};
    bool implicitTls = false;
    bool requireStartTls = false;
    // "USER:PASSWORD" for PLAIN and LOGIN, "USER:TOKEN" for XOAUTH2 and OAUTHBEARER; either makes
    // a login required before MAIL, over TLS unless authPlaintext. A refused token gets the JSON
    // error challenge, then 535.
    std::string auth{};
    std::string token{};
    bool authPlaintext = false;
    // The replies to the first MAIL FROMs the server gets, in turn: a reply line ("451 busy"),
    // "close" to close the connection instead, "ok" to take it as usual.
    std::vector<std::string> mailReplies{};
    // What follows the storing of each of the first messages, in turn: "close" the connection
    // without a reply, stay "silent", or "ok" (the usual reply); or a reply line that refuses the
    // message ("554 5.2.0 …"), which is then not stored.
    std::vector<std::string> dataReplies{};
    // Token logins checked at an authorization server (OAuthServer::Issuer()): XOAUTH2 and
    // OAUTHBEARER take its live access tokens for the account the user names ("alice" or
    // "alice@example.test"), asked as its client mailcart-smtp; PLAIN and LOGIN are offered beside them.
    std::string introspect{};
    bool refuseFirstToken = false;  // the first token is refused, whatever it is, each time it comes
    bool noOAuthBearer = false;     // OAUTHBEARER is not offered
    bool pipelining = false;        // PIPELINING is offered
    bool chunking = false;          // CHUNKING is offered and BDAT taken
  };

  struct Envelope {
    std::string mailFrom;
    std::vector<std::string> rcptTos;
    std::string peer;        // "address:port" of the client: one per session
    bool encrypted = false;  // the session was under TLS when the message came
    std::string user;        // who had logged in; empty for nobody
    std::string mechanism;   // how: "PLAIN", "LOGIN", "XOAUTH2", "OAUTHBEARER"; empty for no login
    bool chunked = false;    // the text came in BDAT chunks
  };

  // Starts the server and waits (at most 15 s) until it listens; raises std::runtime_error
  // with the server's error output when it does not.
  SmtpCapture();
  explicit SmtpCapture(const Options& options);
  // Stops the server (SIGTERM, then SIGKILL if it lingers) and removes its folder.
  ~SmtpCapture();
  SmtpCapture(const SmtpCapture&) = delete;
  SmtpCapture& operator=(const SmtpCapture&) = delete;

  int Port() const { return port_; }
  // The folder holding the accepted messages as 0001.eml, 0002.eml, ...; a folder of its own
  // goes with the object.
  std::string Dir() const { return dir_; }
  // The accepted messages' DATA bytes, in the order they arrived.
  std::vector<std::string> Messages() const;
  // Sender and accepted recipients of each message, in the same order.
  std::vector<Envelope> Envelopes() const;
  int Count() const;
  // How many sessions carried the stored messages.
  int Sessions() const;
  // Every line the server read, after decryption, each as 'tls b"…"' or 'plain b"…"' (Python's
  // repr of the bytes), in the order read.
  std::string Transcript() const;
  // The lines of the transcript that were read in the clear.
  std::string ReadInClear() const;

 private:
  std::vector<std::string> StoredFiles(const char* extension) const;
  static void AddSecurityArgs(const Options& options, std::vector<std::string>& args);
  std::string TranscriptPath() const;

  QTemporaryDir root_;
  std::string dir_;
  std::unique_ptr<PythonServer> server_;
  int port_ = 0;
};
