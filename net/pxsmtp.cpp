#include "net/pxsmtp.h"

#include <vector>

#include "mail/pxmsg.h"
#include "net/nkutils.h"
#include "toolkit/componentstream.h"
#include "toolkit/pump.h"
#include "toolkit/strtable.h"

namespace {
constexpr uint16_t kSmtpPort = 25;
constexpr size_t kSendSize = 65536;  // stuffed text gathered for one send

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
  try {
    Connect();
    TransmitMessage();
  } catch (...) {
    Abandon();
    throw;
  }
  Disconnect();
}

void TpxSMTP::Open() {
  if (Server().empty()) RaiseSocketError(LoadStr(sServerRequired));
  ResetState();
  canQuit_ = false;
  TpxMailBase::Open();
}

void TpxSMTP::Login() {
  try {
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

void TpxSMTP::SendEnvelope() {
  if (OnSending) OnSending(this);
  // Taken before the first wait, so that the message need not outlive it.
  const std::string sender = Message().Sender().Address();
  std::vector<std::string> recipients = envelopeRecipients_.Lines();
  if (recipients.empty()) {
    AddAddresses(Message().Recipients(), recipients);
    AddAddresses(Message().CC(), recipients);
    AddAddresses(Message().BCC(), recipients);
  }
  // RFC 5321 4.1.1.2 and 4.1.1.3: the whole path, however long; a cut one is another address.
  WriteLine("MAIL FROM:<" + sender + ">");
  Expect(ReadReply(), 2);
  for (const std::string& address : recipients) SendRecipient(address);
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
  throw EServerError(LastReply().empty() ? LoadStr(sNoServerReply) : LastReply());
}

// --- Properties ------------------------------------------------------------------------------

void TpxSMTP::SetMailMessage(TpxMessage* message) {
  if (message == mailMessage_) return;
  if (mailMessage_ != nullptr) mailMessage_->RemoveFreeNotification(this);
  mailMessage_ = message;
  if (mailMessage_ != nullptr) mailMessage_->FreeNotification(this);
}

void TpxSMTP::SetFingerprint(const std::string& fingerprint) {
  if (!NormaliseFingerprint(fingerprint, fingerprint_))
    throw EConvertError("\"" + fingerprint + "\" is no SHA-256 fingerprint: it needs 64 hex digits, colons allowed");
}

void TpxSMTP::Notification(TComponent* component, TOperation operation) {
  TpxMailBase::Notification(component, operation);
  if (operation == TOperation::opRemove && component == mailMessage_) mailMessage_ = nullptr;
}

void TpxSMTP::WriteProperties(TPropertyWriter& writer) const {
  TpxMailBase::WriteProperties(writer);
  if (mailMessage_ != nullptr) writer.Property("MailMessage", TPropValue::Ident(mailMessage_->Name()));
  WriteAccountProperties(writer);
}

void TpxSMTP::WriteAccountProperties(TPropertyWriter& writer) const {
  if (security_ != TpxSecurity::Auto) writer.Property("Security", TPropValue::Ident(SecurityName(security_)));
  if (!userName_.empty()) writer.Property("UserName", TPropValue::Str(userName_));
  if (authMethod_ != TAuthMethod::Auto) writer.Property("AuthMethod", TPropValue::Ident(AuthMethodName(authMethod_)));
  if (!caFile_.empty()) writer.Property("CAFile", TPropValue::Str(caFile_));
  if (!fingerprint_.empty()) writer.Property("Fingerprint", TPropValue::Str(fingerprint_));
}

bool TpxSMTP::ReadAccountProperty(const std::string& name, const TPropValue& value) {
  const bool ident = value.kind == TPropValue::Kind::Ident;
  if (name == "Security") {
    if (!ident || !ParseSecurity(value.text, security_)) throw EReadError("Invalid value " + value.text + " for property Security");
  } else if (name == "AuthMethod") {
    if (!ident || !ParseAuthMethod(value.text, authMethod_)) throw EReadError("Invalid value " + value.text + " for property AuthMethod");
  } else if (name == "UserName") {
    userName_ = value.text;
  } else if (name == "CAFile") {
    caFile_ = value.text;
  } else if (name == "Fingerprint") {
    SetFingerprint(value.text);
  } else {
    return false;
  }
  return true;
}

bool TpxSMTP::ReadProperty(const std::string& name, const TPropValue& value) {
  if (ReadAccountProperty(name, value)) return true;
  if (name != "MailMessage") return TpxMailBase::ReadProperty(name, value);
  // A reference names a component of the same owner.
  TpxMessage* message = nullptr;
  for (int i = 0; Owner() != nullptr && i < Owner()->ComponentCount(); ++i)
    if (Owner()->Components(i)->Name() == value.text) message = dynamic_cast<TpxMessage*>(Owner()->Components(i));
  SetMailMessage(message);
  return true;
}
