#include "net/pxsmtp.h"

#include <set>
#include <vector>

#include "mail/mailbox.h"
#include "mail/pxmsg.h"
#include "net/nkutils.h"
#include "net/smtpfailure.h"
#include "toolkit/strtable.h"
#include "toolkit/strutils.h"

namespace {
constexpr size_t kSendSize = 65536;  // stuffed text gathered for one send

// 31457280 as "31,457,280".
std::string Grouped(uint64_t number) {
  std::string digits = std::to_string(number);
  for (size_t at = digits.size(); at > 3; at -= 3) digits.insert(at - 3, ",");
  return digits;
}

// RFC 5321 2.4: a domain is the same in any case, a local part may not be.
std::string RecipientKey(const std::string& address) {
  const size_t at = address.rfind('@');
  return at == std::string::npos ? address : address.substr(0, at) + LowerCase(address.substr(at));
}

// An address in To, CC and BCC alike gets one RCPT TO: a second would be delivered twice or
// refused as a duplicate.
void AddAddresses(const TpxAddressList& list, std::vector<std::string>& addresses, std::set<std::string>& seen) {
  for (int i = 0; i < list.Count(); ++i)
    if (seen.insert(RecipientKey(list.Items(i).Address())).second) addresses.push_back(list.Items(i).Address());
}
}  // namespace

void TpxSMTP::Send() {
  // A bad address ends the send before a connection is made; TransmitMessage checks again for
  // a message changed by a handler while connecting.
  if (mailMessage_ != nullptr) Envelope();
  if (keepSession_) return SendInSession();
  try {
    Connect();
    TransmitMessage();
  } catch (...) {
    Abandon();
    throw;
  }
  EndSession();
}

// --- A kept session -------------------------------------------------------------------------

void TpxSMTP::Open() {
  carried_ = false;
  TpxSmtpConnection::Open();
}

void TpxSMTP::SendInSession() {
  if (Connected() && ServerLeftIdleSession()) Reconnect();
  const bool reused = Connected() && carried_;
  try {
    Connect();
    if (phase_ == TSmtpPhase::NeedsReset) ResetTransaction();
    TransmitMessage();
    return;
  } catch (const std::exception& e) {
    StampFailure();
    const TSmtpFailure failure = ClassifyFailure(e);
    if (!reused || !SessionLost(failure)) {
      KeepOrAbandon(failure);
      throw;
    }
  }
  // The message did not reach its end-of-data mark: it was not delivered, and goes again.
  Reconnect();
  try {
    Connect();
    TransmitMessage();
  } catch (const std::exception& e) {
    KeepOrAbandon(ClassifyFailure(e));
    throw;
  }
}

bool TpxSMTP::SessionLost(const TSmtpFailure& failure) const {
  if (phase_ != TSmtpPhase::Resetting && phase_ != TSmtpPhase::Envelope && phase_ != TSmtpPhase::Text) return false;
  return failure.session == TSessionOutcome::Ended || failure.session == TSessionOutcome::Lost;
}

void TpxSMTP::Reconnect() {
  Close();
  const std::string server = ServerName();
  Log(FormatText(LoadStr(sReconnecting), {server}));
  if (OnReconnecting) OnReconnecting(this, server);
}

void TpxSMTP::KeepOrAbandon(const TSmtpFailure& failure) {
  if (failure.session == TSessionOutcome::Usable && Connected() && CanQuit()) {
    // What the transaction left (a sender, recipients) must go before the next one.
    if (phase_ != TSmtpPhase::Ready) phase_ = TSmtpPhase::NeedsReset;
    return;
  }
  // A server that has ended the session, or left us not knowing, hears nothing more.
  if (failure.session == TSessionOutcome::Ended || failure.kind == TFailureKind::Uncertain) Close();
  Abandon();
}

void TpxSMTP::ResetTransaction() {
  BeginStep(TSmtpStep::Mail);
  phase_ = TSmtpPhase::Resetting;
  WriteLine("RSET");
  Expect(ReadReply(), 2);
  phase_ = TSmtpPhase::Ready;
}

// --- One message ----------------------------------------------------------------------------

// Handlers run in every wait and may remove the message at any of them.
TpxMessage& TpxSMTP::Message() {
  if (mailMessage_ == nullptr) RaiseSocketError(LoadStr(sMailMessageRequired));
  return *mailMessage_;
}

void TpxSMTP::TransmitMessage() {
  carried_ = true;
  phase_ = TSmtpPhase::Ready;
  dataReply_.clear();
  try {
    Message().Validate();
    TTempFileStream text;  // its file goes with it, on every exit
    if (OnPrepare) OnPrepare(this);
    Message().SaveToStream(text);
    CheckSize(text.Size());
    SendEnvelope(text.Size());
    SendData(text);
  } catch (...) {
    StampFailure();
    throw;
  }
  if (OnMailSent) OnMailSent(this);
  phase_ = TSmtpPhase::Ready;
}

TpxSMTP::TEnvelope TpxSMTP::Envelope() {
  TEnvelope envelope{Message().Sender().Address(), envelopeRecipients_.Lines()};
  if (envelope.recipients.empty()) {
    std::set<std::string> seen;
    for (const TpxAddressList* list : {&Message().Recipients(), &Message().CC(), &Message().BCC()})
      AddAddresses(*list, envelope.recipients, seen);
  }
  // RFC 5321 2.3.8: a command ends at CR LF; an address holding one would end its command and
  // start another of the sender's choosing. An angle bracket would end the path early and add
  // parameters of its choosing (4.1.2). Only a plain Mailbox goes into a path.
  const auto check = [](const std::string& address) { CheckMailbox(address); };
  check(envelope.sender);
  for (const std::string& address : envelope.recipients) check(address);
  return envelope;
}

void TpxSMTP::CheckSize(int64_t size) const {
  const uint64_t limit = Extensions().SizeLimit();
  if (limit > 0 && static_cast<uint64_t>(size) > limit)
    throw EMessageError(
        FormatText(LoadStr(sMessageTooLarge), {Grouped(static_cast<uint64_t>(size)), ServerName(), Grouped(limit)}));
}

void TpxSMTP::SendEnvelope(int64_t size) {
  if (OnSending) OnSending(this);
  // Taken before the first wait, so that the message need not outlive it.
  const TEnvelope envelope = Envelope();
  // RFC 5321 4.1.1.2 and 4.1.1.3: the whole path, however long; a cut one is another address.
  std::string mail = "MAIL FROM:<" + envelope.sender + ">";
  // RFC 1870 3: the size, so that the server can refuse a message it cannot take before it comes.
  if (Extensions().Supports("SIZE")) mail += " SIZE=" + std::to_string(size);
  phase_ = TSmtpPhase::Envelope;
  BeginStep(TSmtpStep::Mail);
  if (Extensions().Supports("PIPELINING")) {
    std::vector<std::string> group{mail};
    for (const std::string& address : envelope.recipients) group.push_back("RCPT TO:<" + address + ">");
    group.push_back("DATA");
    return SendEnvelopePipelined(group);
  }
  WriteLine(mail);
  Expect(ReadReply(), 2);
  BeginStep(TSmtpStep::Rcpt);
  for (const std::string& address : envelope.recipients) SendRecipient(address);
  BeginStep(TSmtpStep::Data);
  WriteLine("DATA");
  Expect(ReadReply(), 3);
}

// RFC 2920 3.1: MAIL FROM, the RCPT TOs and DATA go out in one write, and their replies come
// back in the same order; each is handled as it would be without pipelining.
void TpxSMTP::SendEnvelopePipelined(const std::vector<std::string>& group) {
  WriteLines(group);
  size_t owed = group.size();
  try {
    --owed;
    Expect(ReadReply(), 2);
    BeginStep(TSmtpStep::Rcpt);
    bool accepted = false;
    std::string refusal;
    std::string refused;
    for (size_t i = 1; i + 1 < group.size(); ++i) {
      --owed;
      const int code = ReadReply();
      // "RCPT TO:<" and ">" around the address.
      const std::string address = group[i].substr(9, group[i].size() - 10);
      if (RecipientAccepted(address, code)) {
        accepted = true;
      } else {
        refusal = LastReply();
        refused = address;
      }
    }
    --owed;
    BeginStep(TSmtpStep::Data);
    const int code = ReadReply();
    if (ReplyClass(code) == 3 && !accepted) EndEmptyTransaction(refusal, refused);
    Expect(code, 3);
  } catch (const EServerError& e) {
    // A server that has ended the session sends no more replies.
    if (e.Failure().session != TSessionOutcome::Ended) DropReplies(owed);
    throw;
  }
}

void TpxSMTP::DropReplies(size_t count) {
  for (; count > 0; --count) {
    const int code = ReadReply();
    if (code < 0) break;  // the server has closed
    // A DATA that a server took despite everything gets its empty text.
    if (count == 1 && code == 354) {
      WriteLine(".");
      ReadReply();
    }
  }
}

void TpxSMTP::EndEmptyTransaction(const std::string& refusal, const std::string& address) {
  phase_ = TSmtpPhase::Text;
  WriteLine(".");
  phase_ = TSmtpPhase::Envelope;
  ReadReply();
  ResetTransaction();
  BeginStep(TSmtpStep::Rcpt);
  throw EServerError(RefusalText(TSmtpStage::Recipient, refusal, address), ReplyCode(refusal), TSmtpStage::Recipient,
                     refusal);
}

bool TpxSMTP::RecipientAccepted(const std::string& address, int code) {
  if (ReplyClass(code) == 2) return true;
  bool proceed = false;
  const std::string reply = LastReply();
  if (OnAddressRejected) OnAddressRejected(this, address, reply, proceed);
  if (!proceed) RaiseServerError(TSmtpStage::Recipient, address);
  return false;
}

void TpxSMTP::SendRecipient(const std::string& address) {
  WriteLine("RCPT TO:<" + address + ">");
  RecipientAccepted(address, ReadReply());
}

void TpxSMTP::SendData(TStream& text) {
  stuffer_.Reset();
  pending_.clear();
  textSize_ = text.Size();
  textRead_ = 0;
  phase_ = TSmtpPhase::Text;
  WriteStream(text);
  phase_ = TSmtpPhase::TextEnded;
  int code = -1;
  bool lost = false;
  try {
    code = ReadReply();
  } catch (const ESocketError&) {
    lost = true;
  } catch (const ETimedOutError&) {
    // RFC 5321 4.5.3.2.6: a server may take ten minutes over the text; one that says nothing in
    // the time given may all the same have taken it.
    throw EPossibleDuplicate(FormatText(LoadStr(sNoReplyToText), {ServerName()}));
  }
  // RFC 5321 4.1.1.4: only the reply tells whether the server took the message.
  if (lost || (code < 0 && LastReply().empty()))
    throw EPossibleDuplicate(FormatText(LoadStr(sPossibleDuplicate), {ServerName()}));
  Expect(code, 2);
  dataReply_ = LastReply();
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

// --- Properties -----------------------------------------------------------------------------

void TpxSMTP::SetMailMessage(TpxMessage* message) {
  if (message == mailMessage_) return;
  if (mailMessage_ != nullptr) mailMessage_->RemoveFreeNotification(this);
  mailMessage_ = message;
  if (mailMessage_ != nullptr) mailMessage_->FreeNotification(this);
}

void TpxSMTP::Notification(TComponent* component, TOperation operation) {
  TpxSmtpConnection::Notification(component, operation);
  if (operation == TOperation::opRemove && component == mailMessage_) mailMessage_ = nullptr;
}

void TpxSMTP::WriteProperties(TPropertyWriter& writer) const {
  TpxSmtpConnection::WriteProperties(writer);
  if (mailMessage_ != nullptr) writer.Property("MailMessage", TPropValue::Ident(mailMessage_->Name()));
  if (keepSession_) writer.Property("KeepSession", TPropValue::Bool(true));
  Account().Write(writer);
}

bool TpxSMTP::ReadProperty(const std::string& name, const TPropValue& value) {
  if (Account().Read(name, value)) return true;
  if (name == "KeepSession") {
    keepSession_ = value.boolean;
    return true;
  }
  if (name != "MailMessage") return TpxSmtpConnection::ReadProperty(name, value);
  // A reference names a component of the same owner.
  TpxMessage* message = nullptr;
  for (int i = 0; Owner() != nullptr && i < Owner()->ComponentCount(); ++i)
    if (Owner()->Components(i)->Name() == value.text) message = dynamic_cast<TpxMessage*>(Owner()->Components(i));
  SetMailMessage(message);
  return true;
}
