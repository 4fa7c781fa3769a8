// The SMTP client: delivers a message per Send (greeting, EHLO or HELO, MAIL FROM, RCPT TO, DATA,
// QUIT), with the message composed into a temporary file before the first command; with
// KeepSession, one session carries message after message. The session's opening and ending are
// smtpconnection's; the transaction and the kept session are here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "net/dotstuffing.h"
#include "net/smtpconnection.h"
#include "net/smtpfailure.h"
#include "toolkit/stringlist.h"

class TpxMessage;
class TStream;

// The kept session was found ended and a new one is opened to Server ("host:port").
using TpxReconnectEvent = std::function<void(TComponent* Sender, const std::string& Server)>;

// A RCPT TO was refused; setting Proceed goes on with the next recipient instead of failing.
using TpxAddressRejectedEvent = std::function<void(TComponent* Sender, const std::string& TheAddress,
                                                   const std::string& ServerReply, bool& Proceed)>;

class TpxSMTP : public TpxSmtpConnection {
 public:
  using TpxSmtpConnection::TpxSmtpConnection;
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

  TpxMessage* MailMessage() const { return mailMessage_; }
  void SetMailMessage(TpxMessage* message);
  // When not empty, the RCPT TO addresses instead of the message's recipients.
  TStringList& EnvelopeRecipients() { return envelopeRecipients_; }
  bool KeepSession() const { return keepSession_; }
  void SetKeepSession(bool keep) { keepSession_ = keep; }
  // The server's reply to the text of the last message it accepted ("250 2.0.0 Ok: queued as
  // 4Xz9"): the provider's queue id, for the record.
  const std::string& DataReply() const { return dataReply_; }

  TNotifyEvent OnPrepare;
  TNotifyEvent OnSending;
  TNotifyEvent OnMailSent;
  TpxAddressRejectedEvent OnAddressRejected;
  TpxReconnectEvent OnReconnecting;

  void WriteProperties(TPropertyWriter& writer) const override;
  bool ReadProperty(const std::string& name, const TPropValue& value) override;

 protected:
  // A new session has carried no message yet.
  void Open() override;
  void Notification(TComponent* component, TOperation operation) override;
  // Stuffs the message text on its way to the socket and ends it with the end-of-data mark.
  void SendBlock(const char* data, size_t size) override;

 private:
  // The addresses of the SMTP envelope, checked for characters that would break the commands.
  struct TEnvelope {
    std::string sender;
    std::vector<std::string> recipients;
  };
  TEnvelope Envelope();

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

  TpxMessage* mailMessage_ = nullptr;
  bool keepSession_ = false;
  // A transaction has run on the open session: it is one kept from an earlier Send, which the
  // server may have ended since.
  bool carried_ = false;
  TStringList envelopeRecipients_;
  TDotStuffer stuffer_;
  std::string pending_;  // stuffed text not sent yet
  int64_t textSize_ = 0;
  int64_t textRead_ = 0;
  std::string dataReply_;
};
