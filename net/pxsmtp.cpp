#include "net/pxsmtp.h"

#include <vector>

#include "mail/pxmsg.h"
#include "net/nkutils.h"
#include "toolkit/pump.h"
#include "toolkit/strtable.h"
#include "toolkit/strutils.h"

namespace {
constexpr uint16_t kSmtpPort = 25;
constexpr size_t kSendSize = 65536;  // stuffed text gathered for one send
constexpr const char* kFarewellFailed = "Ending the connection after delivery failed: ";

// RFC 5321 4.2.1: the first digit of the code; a line without a code has class 0.
int ReplyClass(int code) { return code > 0 ? code / 100 : 0; }

void AddAddresses(const TpxAddressList& list, std::vector<std::string>& addresses) {
  for (int i = 0; i < list.Count(); ++i) addresses.push_back(list.Items(i).Address());
}
}  // namespace

TpxSMTP::TpxSMTP(TComponent* owner) : TpxMailBase(owner) {
  SetServiceName("smtp");
  SetDefaultPort(kSmtpPort);
}

void TpxSMTP::Send() {
  // A bad address ends the send before a connection is made; TransmitMessage checks again for
  // a message changed by a handler while connecting.
  if (mailMessage_ != nullptr) Envelope();
  try {
    Connect();
    TransmitMessage();
  } catch (...) {
    Abandon();
    throw;
  }
  EndAfterDelivery();
}

void TpxSMTP::Open() {
  if (Server().empty()) RaiseSocketError(LoadStr(sServerRequired));
  ResetState();
  canQuit_ = false;
  extensions_ = {};
  TpxMailBase::Open();
}

void TpxSMTP::Login() {
  try {
    // RFC 5321 2.3.8: a command ends at CR LF; a host name holding one would end HELO early.
    if (HasControlCharacter(LocalHost()))
      RaiseSocketError(FormatText(LoadStr(sControlInHostName), {DisplayText(LocalHost())}));
    ConnectSocket();
    canQuit_ = true;
    Greet();
  } catch (...) {
    // Left open, the connection would be taken by the next Send as one that has been greeted.
    Abandon();
    throw;
  }
}

void TpxSMTP::Greet() {
  Expect(ReadReply(), 2);
  WriteLine("EHLO " + LocalHost());
  std::vector<std::string> lines;
  const int code = ReadReply(&lines);
  if (ReplyClass(code) == 2) {
    extensions_ = TSmtpExtensions::FromReply(lines);
    return;
  }
  // RFC 5321 3.2: a server that does not know EHLO refuses it with a 5xx reply and may still
  // take HELO; a 4xx or a lost connection is a failure of its own.
  if (ReplyClass(code) != 5) RaiseServerError();
  GreetOldStyle();
}

void TpxSMTP::GreetOldStyle() {
  WriteLine("HELO " + LocalHost());
  if (ReplyClass(ReadReply()) == 2) return;
  // A server that refuses the name we give may still take the bare command.
  WriteLine("HELO");
  Expect(ReadReply(), 2);
}

void TpxSMTP::Logout() {
  try {
    ProcessMessagesNow();
    WriteLine("QUIT");
    Expect(ReadReply(), 2);
  } catch (...) {
    Close();  // a connection whose farewell failed is of no further use
    throw;
  }
}

void TpxSMTP::Abandon() {
  if (!Connected()) return;
  if (canQuit_) {
    try {
      Logout();
    } catch (const Exception&) {
      // The failure that brought us here is the one to report.
    }
  }
  // Inside the text a QUIT would be taken as text; closing there makes the server discard
  // the unfinished message.
  Close();
}

// RFC 5321 4.1.1.4: once the server has answered the text with 250 the message is its own; a
// QUIT refused, a lost connection or a garbled reply after that changes nothing for it.
void TpxSMTP::EndAfterDelivery() {
  const TQuietErrors quiet(*this);
  try {
    Disconnect();
  } catch (const Exception& e) {
    Log(kFarewellFailed + std::string(e.what()));
  }
}

// --- One message ---------------------------------------------------------------------------

// Handlers run in every wait and may remove the message at any of them.
TpxMessage& TpxSMTP::Message() {
  if (mailMessage_ == nullptr) RaiseSocketError(LoadStr(sMailMessageRequired));
  return *mailMessage_;
}

void TpxSMTP::TransmitMessage() {
  Message().Validate();
  TTempFileStream text;  // its file goes with it, on every exit
  if (OnPrepare) OnPrepare(this);
  Message().SaveToStream(text);
  SendEnvelope();
  SendData(text);
  if (OnMailSent) OnMailSent(this);
}

TpxSMTP::TEnvelope TpxSMTP::Envelope() {
  TEnvelope envelope{Message().Sender().Address(), envelopeRecipients_.Lines()};
  if (envelope.recipients.empty()) {
    AddAddresses(Message().Recipients(), envelope.recipients);
    AddAddresses(Message().CC(), envelope.recipients);
    AddAddresses(Message().BCC(), envelope.recipients);
  }
  // RFC 5321 2.3.8: a command ends at CR LF; an address holding one would end its command and
  // start another of the sender's choosing.
  auto check = [](const std::string& address) {
    if (HasControlCharacter(address))
      throw EMessageError(FormatText(LoadStr(sControlInAddress), {DisplayText(address)}));
  };
  check(envelope.sender);
  for (const std::string& address : envelope.recipients) check(address);
  return envelope;
}

void TpxSMTP::SendEnvelope() {
  if (OnSending) OnSending(this);
  // Taken before the first wait, so that the message need not outlive it.
  const TEnvelope envelope = Envelope();
  // RFC 5321 4.1.1.2 and 4.1.1.3: the whole path, however long; a cut one is another address.
  WriteLine("MAIL FROM:<" + envelope.sender + ">");
  Expect(ReadReply(), 2);
  for (const std::string& address : envelope.recipients) SendRecipient(address);
  WriteLine("DATA");
  Expect(ReadReply(), 3);
}

void TpxSMTP::SendRecipient(const std::string& address) {
  WriteLine("RCPT TO:<" + address + ">");
  if (ReplyClass(ReadReply()) == 2) return;
  bool proceed = false;
  const std::string reply = LastReply();
  if (OnAddressRejected) OnAddressRejected(this, address, reply, proceed);
  if (!proceed) RaiseServerError();
}

void TpxSMTP::SendData(TStream& text) {
  stuffer_.Reset();
  pending_.clear();
  textSize_ = text.Size();
  textRead_ = 0;
  canQuit_ = false;
  WriteStream(text);
  canQuit_ = true;
  Expect(ReadReply(), 2);
}

// The text goes out in large sends, the end-of-data mark with its last bytes: a few bytes sent
// right after a send the server has not acknowledged yet wait for its delayed acknowledgement
// (Nagle), some 40 ms a message.
void TpxSMTP::SendBlock(const char* data, size_t size) {
  stuffer_.Stuff({data, size}, pending_);
  textRead_ += static_cast<int64_t>(size);
  // WriteStream ends after a short block, or after the block that reaches the end.
  const bool last = size < static_cast<size_t>(kBlockSize) || textRead_ >= textSize_;
  if (last) {
    // RFC 5321 4.1.1.4: the mark is CR LF "." CR LF, whose CR LF may be the one that ends the
    // text's last line; a text that ends inside a line gets its own.
    if (stuffer_.LineOpen()) pending_ += "\r\n";
    pending_ += ".\r\n";
  }
  if (!last && pending_.size() < kSendSize) return;
  SendBuffer(pending_.data(), pending_.size(), true);
  pending_.clear();
}

void TpxSMTP::Expect(int code, int replyClass) const {
  if (ReplyClass(code) != replyClass) RaiseServerError();
}

void TpxSMTP::RaiseServerError() const {
  // A server that closes instead of replying leaves no reply line to show.
  // The reply stays as received in LastReply; the error text is for showing.
  throw EServerError(LastReply().empty() ? LoadStr(sNoServerReply) : DisplayText(LastReply()));
}

// --- Properties ------------------------------------------------------------------------------

void TpxSMTP::SetMailMessage(TpxMessage* message) {
  if (message == mailMessage_) return;
  if (mailMessage_ != nullptr) mailMessage_->RemoveFreeNotification(this);
  mailMessage_ = message;
  if (mailMessage_ != nullptr) mailMessage_->FreeNotification(this);
}

void TpxSMTP::Notification(TComponent* component, TOperation operation) {
  TpxMailBase::Notification(component, operation);
  if (operation == TOperation::opRemove && component == mailMessage_) mailMessage_ = nullptr;
}

void TpxSMTP::WriteProperties(TPropertyWriter& writer) const {
  TpxMailBase::WriteProperties(writer);
  if (mailMessage_ != nullptr) writer.Property("MailMessage", TPropValue::Ident(mailMessage_->Name()));
}

bool TpxSMTP::ReadProperty(const std::string& name, const TPropValue& value) {
  if (name != "MailMessage") return TpxMailBase::ReadProperty(name, value);
  // A reference names a component of the same owner.
  TpxMessage* message = nullptr;
  for (int i = 0; Owner() != nullptr && i < Owner()->ComponentCount(); ++i)
    if (Owner()->Components(i)->Name() == value.text) message = dynamic_cast<TpxMessage*>(Owner()->Components(i));
  SetMailMessage(message);
  return true;
}
