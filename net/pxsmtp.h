// The SMTP client: delivers one message per connection (greeting, EHLO or HELO, MAIL FROM,
// RCPT TO, DATA, QUIT), with the message composed into a temporary file before the first command.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "net/dotstuffing.h"
#include "net/pxmb.h"
#include "net/smtpextensions.h"
#include "toolkit/stringlist.h"

class TpxMessage;
class TStream;

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
  void Send();
  // Composes MailMessage and runs its dialogue on the open connection; OnMailSent fires once
  // the server has accepted the text.
  void TransmitMessage();

  void Open() override;

  TpxMessage* MailMessage() const { return mailMessage_; }
  void SetMailMessage(TpxMessage* message);
  // When not empty, the RCPT TO addresses instead of the message's recipients.
  TStringList& EnvelopeRecipients() { return envelopeRecipients_; }
  // What the server listed in its reply to EHLO on this connection; empty after HELO.
  const TSmtpExtensions& Extensions() const { return extensions_; }

  TNotifyEvent OnPrepare;
  TNotifyEvent OnSending;
  TNotifyEvent OnMailSent;
  TpxAddressRejectedEvent OnAddressRejected;

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

  void Greet();
  // HELO with our name, then bare, for a server that does not know EHLO.
  void GreetOldStyle();
  // MailMessage, or the usage error when there is none.
  TpxMessage& Message();
  void SendEnvelope();
  void SendRecipient(const std::string& address);
  void SendData(TStream& text);
  // Raises EServerError with the reply unless code is of replyClass.
  void Expect(int code, int replyClass) const;
  [[noreturn]] void RaiseServerError() const;
  // Ends a connection that a failure left open; its own failures are not reported.
  void Abandon();
  // Ends the connection of a delivered message; its failures are logged, never raised.
  void EndAfterDelivery();

  TpxMessage* mailMessage_ = nullptr;
  // Connected and between commands, where a QUIT is read as one: not before the TCP
  // connection is made, nor inside the message text.
  bool canQuit_ = false;
  TStringList envelopeRecipients_;
  TSmtpExtensions extensions_;
  TDotStuffer stuffer_;
  std::string pending_;  // stuffed text not sent yet
  int64_t textSize_ = 0;
  int64_t textRead_ = 0;
};
