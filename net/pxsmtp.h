// The SMTP client: delivers a message per Send (greeting, EHLO or HELO, MAIL FROM, RCPT TO, DATA,
// QUIT), with the message composed into a temporary file before the first command; with
// KeepSession, one session carries message after message.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "net/dotstuffing.h"
#include "net/nktls.h"
#include "net/pxmb.h"
#include "net/pxsasl.h"
#include "net/pxsecurity.h"
#include "net/smtpextensions.h"
#include "net/smtpfailure.h"
#include "toolkit/secret.h"
#include "toolkit/stringlist.h"

class TpxMessage;
class TStream;

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

// The kept session was found ended and a new one is opened to Server ("host:port").
using TpxReconnectEvent = std::function<void(TComponent* Sender, const std::string& Server)>;

// A RCPT TO was refused; setting Proceed goes on with the next recipient instead of failing.
using TpxAddressRejectedEvent = std::function<void(TComponent* Sender, const std::string& TheAddress,
                                                   const std::string& ServerReply, bool& Proceed)>;

class TpxSMTP : public TpxMailBase {
 public:
  explicit TpxSMTP(TComponent* owner = nullptr);
  const char* ClassName() const override { return "TpxSMTP"; }

  // Connects unless connected, transmits MailMessage and ends the connection, also when the
  // transmission fails; the first failure is the one raised. Once the server has accepted the
  // message, ending the connection cannot fail the send: its failures go to the line log only.
  // With KeepSession the session stays open for the next Send instead (Disconnect ends it); a
  // refusal leaves it usable, and a session the server ended is opened anew, once.
  void Send();
  // Composes MailMessage and runs its dialogue on the open connection; OnMailSent fires once
  // the server has accepted the text.
  void TransmitMessage();

  void Open() override;
  // Disconnect for a session whose messages have had their replies: a failure of QUIT or of
  // the close changes nothing for them, so it is logged, never raised nor reported.
  void EndSession();

  TpxMessage* MailMessage() const { return mailMessage_; }
  void SetMailMessage(TpxMessage* message);
  // When not empty, the RCPT TO addresses instead of the message's recipients.
  TStringList& EnvelopeRecipients() { return envelopeRecipients_; }
  bool KeepSession() const { return keepSession_; }
  void SetKeepSession(bool keep) { keepSession_ = keep; }
  // The server's reply to the text of the last message it accepted ("250 2.0.0 Ok: queued as
  // 4Xz9"): the provider's queue id, for the record.
  const std::string& DataReply() const { return dataReply_; }
  // What the server listed in its reply to EHLO on this connection; empty after HELO.
  const TSmtpExtensions& Extensions() const { return extensions_; }

  // The account: published, so streamed like the server; defaults are left out.
  TpxSecurity Security() const { return security_; }
  void SetSecurity(TpxSecurity security) { security_ = security; }
  const std::string& UserName() const { return userName_; }
  void SetUserName(const std::string& userName) { userName_ = userName; }
  TAuthMethod AuthMethod() const { return authMethod_; }
  void SetAuthMethod(TAuthMethod method) { authMethod_ = method; }
  // A PEM file of certificates trusted besides the system's.
  const std::string& CAFile() const { return caFile_; }
  void SetCAFile(const std::string& fileName) { caFile_ = fileName; }
  // The pinned certificate's SHA-256, normalised by NormaliseFingerprint; empty: none. A
  // malformed one raises EConvertError and leaves the pin as it was.
  const std::string& Fingerprint() const { return fingerprint_; }
  void SetFingerprint(const std::string& fingerprint);

  // Never published: streaming would write it out. Wiped when replaced and when the client goes.
  std::string_view Password() const { return password_.View(); }
  void SetPassword(TSecret password) { password_ = std::move(password); }
  // Gives the XOAUTH2 bearer token; called at every login, since tokens expire. Not published.
  const std::function<TSecret()>& TokenSource() const { return tokenSource_; }
  void SetTokenSource(std::function<TSecret()> source) { tokenSource_ = std::move(source); }

  TNotifyEvent OnPrepare;
  TNotifyEvent OnSending;
  TNotifyEvent OnMailSent;
  TpxAddressRejectedEvent OnAddressRejected;
  TpxReconnectEvent OnReconnecting;

  void WriteProperties(TPropertyWriter& writer) const override;
  bool ReadProperty(const std::string& name, const TPropValue& value) override;

 protected:
  void Notification(TComponent* component, TOperation operation) override;
  void Login() override;
  void Logout() override;
  // Stuffs the message text on its way to the socket and ends it with the end-of-data mark.
  void SendBlock(const char* data, size_t size) override;

 private:
  // The addresses of the SMTP envelope, checked for characters that would break the commands.
  struct TEnvelope {
    std::string sender;
    std::vector<std::string> recipients;
  };
  TEnvelope Envelope();

  void WriteAccountProperties(TPropertyWriter& writer) const;
  // False when name is none of the account's properties.
  bool ReadAccountProperty(const std::string& name, const TPropValue& value);
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
  void Greet();
  // EHLO and its extensions; HELO for a server that refuses it, where that is allowed.
  void SayEhlo();
  // HELO with our name, then bare, for a server that does not know EHLO.
  void GreetOldStyle();
  void NegotiateStartTls(const TnkTlsContext& context);
  // Raises EAuthError, naming the server, when no login can be tried; ESessionRefused when the
  // server refuses it.
  void Authenticate();
  void RunAuthExchange();
  // The password, or the token of XOAUTH2; raises when there is none.
  TSecret LoginSecret(TAuthMethod method) const;
  // Ends the connection without a word, and raises ESessionRefused: a session that may not go on in the clear
  // says nothing more in it.
  [[noreturn]] void RefuseSession(const std::string& text);
  // MailMessage, or the usage error when there is none.
  TpxMessage& Message();
  // One transaction on the kept session, reconnecting once when the server has ended it.
  void SendInSession();
  // True when failure says the server ended the session, or the connection failed, before the
  // end of the text: the message can go again on a new one.
  bool SessionLost(const TSmtpFailure& failure) const;
  void Reconnect();
  // After a failed transaction: a refusal keeps the session, anything else ends it.
  void KeepOrAbandon(const TSmtpFailure& failure);
  // RFC 5321 4.1.1.5: RSET before the next transaction of a session whose last one failed.
  void ResetTransaction();
  // RFC 1870: a message larger than the server's maximum is not uploaded.
  void CheckSize(int64_t size) const;
  void SendEnvelope(int64_t size);
  void SendEnvelopePipelined(const std::vector<std::string>& group);
  // Reads the replies to a pipelined group after a failure, without events; stops when the
  // server closes.
  void DropReplies(size_t count);
  // The pipelined DATA was taken with no recipient left: an empty text ends it (RFC 2920 3.1).
  void EndEmptyTransaction(const std::string& refusal, const std::string& address);
  // The handling of one RCPT TO reply; true when it accepted the recipient.
  bool RecipientAccepted(const std::string& address, int code);
  void SendRecipient(const std::string& address);
  void SendData(TStream& text);
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

  TpxMessage* mailMessage_ = nullptr;
  TpxSecurity security_ = TpxSecurity::Auto;
  std::string userName_;
  TAuthMethod authMethod_ = TAuthMethod::Auto;
  std::string caFile_;
  std::string fingerprint_;
  TSecret password_;
  std::function<TSecret()> tokenSource_;
  std::unique_ptr<TnkTlsContext> tlsContext_;
  TnkTlsOptions tlsOptions_;  // what tlsContext_ was built from
  std::filesystem::file_time_type caFileTime_;
  bool keepSession_ = false;
  TSmtpPhase phase_ = TSmtpPhase::Unconnected;
  TStringList envelopeRecipients_;
  TSmtpExtensions extensions_;
  TDotStuffer stuffer_;
  std::string pending_;  // stuffed text not sent yet
  int64_t textSize_ = 0;
  int64_t textRead_ = 0;
  std::string dataReply_;
};
