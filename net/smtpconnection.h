// The SMTP client's session: TLS as its account asks, the greeting, EHLO or HELO, STARTTLS and
// AUTH when it opens, QUIT when it ends, and where the dialogue stands in between. The client
// (pxsmtp) runs its transactions on it.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "net/nktls.h"
#include "net/pxmb.h"
#include "net/smtpaccount.h"
#include "net/smtpextensions.h"
#include "toolkit/secret.h"

// Gives the bearer token of a token login. renew: the server refused the token given before in
// this session (revoked, or expired early), so a fresh one is wanted, not one kept.
using TTokenSource = std::function<TSecret(bool renew)>;

// Where the dialogue stands. What a refusal concerns, whether a QUIT would be read as one, and
// whether a failed message may go again on a new session all follow from it.
enum class TSmtpPhase {
  Unconnected,  // before the TCP connection is made, or after the client refused to go on
  Ready,        // between transactions
  NeedsReset,   // between transactions, after one that failed: RSET first (RFC 5321 4.1.1.5)
  Resetting,    // RSET written
  Envelope,     // MAIL FROM written, up to the reply to DATA: a refusal concerns the message
  Text,         // inside the message text, where a QUIT would be taken as text
  TextEnded,    // the end-of-data mark has gone out: only the reply tells whether the server took it
};

// A step of the session's opening went well: the connection is made (Connect), TLS is up (Tls),
// the server greeted (Greeting), answered EHLO or HELO (Ehlo), took the login (Auth).
using TSmtpStepEvent = std::function<void(TComponent* Sender, TSmtpStep Step)>;

// The error texts that advice (the batch's) recognises, each in this one place.
// A server that waits for TLS from the first byte greets nobody in the clear (RFC 8314 3.3).
inline constexpr char kNoGreetingButTls[] = "sent no greeting but answered a TLS handshake";
// RFC 4954 4: a server may offer AUTH only once the session is encrypted.
inline constexpr char kLoginOnlyAfterStartTls[] =
    "No login mechanism in common: the server offers a login only after STARTTLS, and this session is not "
    "encrypted";
// A token login refused twice: once, and again with the token the source renewed.
inline constexpr char kRenewedTokenRefused[] = "refused the login, also with a renewed token";

class TpxSmtpConnection : public TpxMailBase {
 public:
  explicit TpxSmtpConnection(TComponent* owner = nullptr);

  void Open() override;
  // Disconnect for a session whose messages have had their replies: a failure of QUIT or of
  // the close changes nothing for them, so it is logged, never raised nor reported.
  void EndSession();

  // What the server listed in its reply to EHLO on this connection; empty after HELO.
  const TSmtpExtensions& Extensions() const { return extensions_; }
  // The mechanism of the login the server took on this connection; Auto when there was none.
  TAuthMethod LoginMechanism() const { return loginMechanism_; }

  TSmtpStepEvent OnStepDone;

  // The account: published, so streamed like the server; defaults are left out.
  TpxSecurity Security() const { return account_.security; }
  void SetSecurity(TpxSecurity security) { account_.security = security; }
  const std::string& UserName() const { return account_.userName; }
  void SetUserName(const std::string& userName) { account_.userName = userName; }
  TAuthMethod AuthMethod() const { return account_.authMethod; }
  void SetAuthMethod(TAuthMethod method) { account_.authMethod = method; }
  // A PEM file of certificates trusted besides the system's.
  const std::string& CAFile() const { return account_.caFile; }
  void SetCAFile(const std::string& fileName) { account_.caFile = fileName; }
  // The pinned certificate's SHA-256, normalised by NormaliseFingerprint; empty: none. A
  // malformed one raises EConvertError and leaves the pin as it was.
  const std::string& Fingerprint() const { return account_.fingerprint; }
  void SetFingerprint(const std::string& fingerprint) { account_.SetFingerprint(fingerprint); }

  // Never published: streaming would write it out. Wiped when replaced and when the client goes.
  std::string_view Password() const { return password_.View(); }
  void SetPassword(TSecret password) { password_ = std::move(password); }
  // Gives the bearer token of a token login; called at every login, since tokens expire, and
  // once more with renew when the server refuses the token. Not published.
  const TTokenSource& TokenSource() const { return tokenSource_; }
  void SetTokenSource(TTokenSource source) { tokenSource_ = std::move(source); }

 protected:
  void Login() override;
  void Logout() override;

  // RFC 5321 4.2.1: the first digit of the code; a line without a code has class 0.
  static int ReplyClass(int code) { return code > 0 ? code / 100 : 0; }
  // A QUIT is read as one: connected, and not inside the message text.
  bool CanQuit() const;
  // What a refusal now would be about.
  TSmtpStage RefusalStage() const;
  // Raises EServerError with the reply unless code is of replyClass.
  void Expect(int code, int replyClass);
  // Raises EServerError for LastReply, a refusal of stage; recipient is the address of a
  // refused RCPT TO.
  [[noreturn]] void RaiseServerError(TSmtpStage stage, const std::string& recipient = {});
  // What the server refused and its reply, for showing; a reply that is none is a closed
  // connection.
  std::string RefusalText(TSmtpStage stage, const std::string& reply, const std::string& recipient) const;
  // Ends a connection that a failure left open; its own failures are not reported.
  void Abandon();
  // Inside a catch: stamps a network failure being handled with where the dialogue stood.
  void StampFailure() const;
  // The step the dialogue is at, and a step gone well.
  void BeginStep(TSmtpStep step) { step_ = step; }
  TSmtpStep Step() const { return step_; }
  void StepDone(TSmtpStep step);

  const TSmtpAccount& Account() const { return account_; }
  TSmtpAccount& Account() { return account_; }

  TSmtpPhase phase_ = TSmtpPhase::Unconnected;

 private:
  // True when nothing may go in the clear: a user name (outside None), STARTTLS or TLS.
  bool TlsRequired() const;
  // TLS from the first byte: mode TLS, or Auto on the submission port of RFC 8314.
  bool ImplicitTls() const;
  // The checks of every TLS session of this connection; built before connecting, so that a
  // malformed pin or an unreadable CA file ends the send before the server hears of it. Kept
  // while its settings and the CA file stay as they were: loading the system's trust store
  // takes tens of milliseconds, too much for every connection of a batch.
  const TnkTlsContext& SecurityContext();
  // Reads the server's greeting, then SayEhlo.
  void Greet(const TnkTlsContext& context);
  // The greeting's reply code. When one awaited in the clear has not come within a few seconds,
  // a second connection tries a TLS handshake; a server that answers it expects TLS from the
  // first byte, and the session is refused (ESessionRefused) instead of waiting out the time-out.
  int ReadGreeting(const TnkTlsContext& context);
  // EHLO and its extensions; HELO for a server that refuses it, where that is allowed.
  void SayEhlo();
  // HELO with our name, then bare, for a server that does not know EHLO.
  void GreetOldStyle();
  void NegotiateStartTls(const TnkTlsContext& context);
  // Raises EAuthError, naming the server, when no login can be tried; ESessionRefused when the
  // server refuses it.
  void Authenticate();
  void RunAuthExchange();
  // One AUTH command and the challenges that follow it; the final reply's code.
  int Exchange(TAuthMethod method, bool renewToken);
  // The password, or the token of a token mechanism (renewed when renewToken); raises when there
  // is none.
  TSecret LoginSecret(TAuthMethod method, bool renewToken) const;
  // Ends the connection without a word, and raises ESessionRefused: a session that may not go
  // on in the clear says nothing more in it. reply: the server's refusal, when it gave one.
  [[noreturn]] void RefuseSession(const std::string& text, const std::string& reply = {});

  TSmtpAccount account_;
  TSecret password_;
  TTokenSource tokenSource_;
  std::unique_ptr<TnkTlsContext> tlsContext_;
  TnkTlsOptions tlsOptions_;  // what tlsContext_ was built from
  std::filesystem::file_time_type caFileTime_;
  TSmtpExtensions extensions_;
  TSmtpStep step_ = TSmtpStep::Connect;
  TAuthMethod loginMechanism_ = TAuthMethod::Auto;
};
