// The SMTP client: delivers a message per Send (greeting, EHLO or HELO, MAIL FROM, RCPT TO, DATA
// or BDAT, QUIT), composing the message straight onto the connection; with KeepSession, one
// session carries message after message, and with AnnounceNext the next message's envelope
// travels behind the end of this one. The session's opening and ending are smtpconnection's;
// the transaction and the kept session are here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "net/smtpconnection.h"
#include "net/smtpfailure.h"
#include "net/smtptextsink.h"
#include "toolkit/stringlist.h"

class TpxMessage;

// The kept session was found ended and a new one is opened to Server ("host:port").
using TpxReconnectEvent = std::function<void(TComponent* Sender, const std::string& Server)>;

// A RCPT TO was refused; setting Proceed goes on with the next recipient instead of failing.
using TpxAddressRejectedEvent = std::function<void(TComponent* Sender, const std::string& TheAddress,
                                                   const std::string& ServerReply, bool& Proceed)>;

class TpxSMTP : public TpxSmtpConnection, private TSmtpTextTarget {
 public:
  using TpxSmtpConnection::TpxSmtpConnection;
  const char* ClassName() const override { return "TpxSMTP"; }

  // Connects unless connected, transmits MailMessage and ends the connection, also when the
  // transmission fails; the first failure is the one raised. Once the server has accepted the
  // message, ending the connection cannot fail the send: its failures go to the line log only.
  // With KeepSession the session stays open for the next Send instead (Disconnect ends it); a
  // refusal leaves it usable, and a session the server ended is opened anew, once.
  void Send();
  // Composes MailMessage onto the open connection and runs its dialogue; OnMailSent fires once
  // the server has accepted the text. The message is read until the text has gone out, across
  // the waits of the connection: it must stay while it is sent.
  void TransmitMessage();

  // For a kept session over PIPELINING (RFC 2920 3.1): the next Send will carry a message of
  // composedSize bytes (ComposedSize; kAnySize: not known yet, so its MAIL FROM goes without SIZE,
  // which RFC 1870 leaves to the client, and any size is taken) to the same sender and
  // recipients as this one, so its
  // MAIL FROM, RCPT TOs and DATA (with CHUNKING: MAIL FROM and RCPT TOs) go out with the end of
  // this message's text. Called before each Send it concerns; without PIPELINING or
  // KeepSession it does nothing. This Send still ends with this message: its reply is read
  // first (OnMailSent, DataReply), then the next envelope's, whose outcome the next Send takes:
  // an accepted envelope carries its text at once, a refusal is raised by it (the transaction
  // reset), a lost connection leaves it to go on a new session. A next Send of another envelope
  // or size is sent in a transaction of its own: after a 354 on a new connection, since a
  // connection awaiting a text can only be closed. Disconnect with a 354 outstanding closes
  // without QUIT.
  static constexpr int64_t kAnySize = -1;
  void AnnounceNext(int64_t composedSize = kAnySize) { announced_ = composedSize; }

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

 private:
  // The addresses of the SMTP envelope, checked for characters that would break the commands.
  struct TEnvelope {
    std::string sender;
    std::vector<std::string> recipients;
    bool operator==(const TEnvelope&) const = default;
  };
  TEnvelope Envelope();

  // The next message's envelope, gone out behind the end of the last text.
  struct TNextEnvelope {
    enum class TState { None, Sent, Accepted, Refused } state = TState::None;
    TEnvelope envelope;
    int64_t size = 0;
    std::vector<std::string> commands;
    // Recipients refused meanwhile, "address", "reply": OnAddressRejected is asked at its Send.
    std::vector<std::pair<std::string, std::string>> rejected;
    std::exception_ptr refusal;
    TSmtpStep step = TSmtpStep::Mail;
  };

  // The message whose text is going out.
  struct TTransfer {
    TEnvelope envelope;
    int64_t size = 0;
    int64_t declared = -1;  // the SIZE its MAIL FROM gave; -1: none
    bool chunking = false;
    bool envelopeDone = false;      // taken over from the last message
    std::vector<std::string> held;  // a pipelined envelope, sent with the first chunk
    bool heldSent = false;
    bool heldOwed = false;          // its replies not read yet
    int chunksOwed = 0;             // replies to chunks before the last not read yet
    bool endOwed = false;           // the end has gone out, its reply not read yet
    std::vector<std::string> next;  // the next message's envelope, sent with the end
    int64_t nextSize = 0;
  };

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

  // The commands of an envelope; DATA ends them unless the text goes in BDAT chunks.
  std::vector<std::string> EnvelopeCommands(const TEnvelope& envelope, int64_t size, bool withData) const;
  void SendEnvelope();
  // Reads the replies to a pipelined group (MAIL FROM, RCPT TOs, DATA when it ends it); each is
  // handled as it would be without pipelining. With deferred, a refused recipient is recorded in
  // next_ instead of asking OnAddressRejected.
  void ReadEnvelopeReplies(const std::vector<std::string>& group, bool deferred = false);
  // Reads the replies to a pipelined group after a failure, without events; stops when the
  // server closes.
  void DropReplies(size_t count);
  // The pipelined DATA was taken with no recipient left: an empty text ends it (RFC 2920 3.1).
  void EndEmptyTransaction(const std::string& refusal, const std::string& address);
  // The handling of one RCPT TO reply; true when it accepted the recipient.
  bool RecipientAccepted(const std::string& address, int code);
  void SendRecipient(const std::string& address);

  // The text, composed into the sink, then the reply to its end.
  void SendText();
  void BeginText() override;
  void SendText(const std::string& framed, bool last) override;
  void TextProgress(int64_t position) override;
  // A command that went out with text, for the line log and OnLineSent.
  void ShowSent(const std::string& line);
  void ReadChunkReply();
  // After a failed text in chunks that left the session usable: the replies owed, then RSET.
  void EndFailedChunks(const std::exception& failure);
  // Runs read; once the end of the text is out, no reply (a lost connection, a time-out) is a
  // possible duplicate.
  void ReadAfterEnd(const std::function<void()>& read);
  // The reply to the end of the text: 250, or a failure.
  void ReadTextReply();

  // Takes the next envelope for this message when it is the one announced; raises a refusal
  // kept for it. False when this message needs an envelope of its own.
  bool TakeNextEnvelope(const TEnvelope& envelope, int64_t size);
  // The next envelope's replies, after this message's; their outcome is kept in next_.
  void ReadNextEnvelope();

  TpxMessage* mailMessage_ = nullptr;
  bool keepSession_ = false;
  // A transaction has run on the open session: it is one kept from an earlier Send, which the
  // server may have ended since.
  bool carried_ = false;
  TStringList envelopeRecipients_;
  std::optional<int64_t> announced_;
  TNextEnvelope next_;
  TTransfer transfer_;
  std::string dataReply_;
};
