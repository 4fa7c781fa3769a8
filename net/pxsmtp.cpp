#include "net/pxsmtp.h"

#include <set>
#include <vector>

#include "mail/mailbox.h"
#include "mail/pxmsg.h"
#include "mime/messagesize.h"
#include "net/nkutils.h"
#include "net/smtpfailure.h"
#include "toolkit/strtable.h"
#include "toolkit/strutils.h"

namespace {
// BDAT chunks whose replies may be owed before one is read: the server never has more than a
// few replies to write while it reads, so neither side can block on a full buffer.
constexpr int kChunksInFlight = 3;

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
  // An announcement is for this Send alone, also when it fails before its text.
  const struct TForgetAnnounced {
    std::optional<int64_t>& announced;
    ~TForgetAnnounced() { announced.reset(); }
  } forget{announced_};
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
  next_ = {};
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
  // A next envelope accepted behind this message waits for the next Send, 354 and all.
  const bool nextAccepted = next_.state == TNextEnvelope::TState::Accepted;
  if (failure.session == TSessionOutcome::Usable && Connected() && (CanQuit() || nextAccepted)) {
    // What the transaction left (a sender, recipients) must go before the next one.
    if (phase_ != TSmtpPhase::Ready && !nextAccepted) phase_ = TSmtpPhase::NeedsReset;
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
  dataReply_.clear();
  const std::optional<int64_t> announced = std::exchange(announced_, std::nullopt);
  try {
    Message().Validate();
    if (OnPrepare) OnPrepare(this);
    transfer_ = {};
    // RFC 1870 3: SIZE counts the text as composed, before stuffing; the composer's own count.
    transfer_.size = static_cast<int64_t>(ComposedSize(Message()));
    CheckSize(transfer_.size);
    transfer_.envelope = Envelope();
    transfer_.declared = Extensions().Supports("SIZE") ? transfer_.size : -1;
    transfer_.envelopeDone = TakeNextEnvelope(transfer_.envelope, transfer_.size);
    carried_ = true;  // also on the new session that a next envelope not taken may have opened
    if (!transfer_.envelopeDone) phase_ = TSmtpPhase::Ready;
    transfer_.chunking = Extensions().Supports("CHUNKING");
    const uint64_t limit = Extensions().SizeLimit();
    if (announced && keepSession_ && Extensions().Supports("PIPELINING") &&
        (limit == 0 || *announced < 0 || static_cast<uint64_t>(*announced) <= limit))
      transfer_.next = EnvelopeCommands(transfer_.envelope, *announced, !transfer_.chunking);
    transfer_.nextSize = announced.value_or(0);
    SendText();
  } catch (...) {
    StampFailure();
    throw;
  }
  phase_ = TSmtpPhase::Ready;
  if (OnMailSent) OnMailSent(this);
  ReadNextEnvelope();
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

// --- The envelope ---------------------------------------------------------------------------

std::vector<std::string> TpxSMTP::EnvelopeCommands(const TEnvelope& envelope, int64_t size, bool withData) const {
  // RFC 5321 4.1.1.2 and 4.1.1.3: the whole path, however long; a cut one is another address.
  std::string mail = "MAIL FROM:<" + envelope.sender + ">";
  // RFC 1870 3: the size, so that the server can refuse a message it cannot take before it comes.
  if (Extensions().Supports("SIZE") && size >= 0) mail += " SIZE=" + std::to_string(size);
  std::vector<std::string> group{mail};
  for (const std::string& address : envelope.recipients) group.push_back("RCPT TO:<" + address + ">");
  if (withData) group.push_back("DATA");
  return group;
}

void TpxSMTP::SendEnvelope() {
  const std::vector<std::string> group = EnvelopeCommands(transfer_.envelope, transfer_.size, !transfer_.chunking);
  phase_ = TSmtpPhase::Envelope;
  BeginStep(TSmtpStep::Mail);
  if (Extensions().Supports("PIPELINING")) {
    // RFC 3030 4.2: BDAT may end a pipelined group, so the envelope goes with the first chunk.
    if (transfer_.chunking) {
      transfer_.held = group;
      return;
    }
    WriteLines(group);
    return ReadEnvelopeReplies(group);
  }
  WriteLine(group.front());
  Expect(ReadReply(), 2);
  BeginStep(TSmtpStep::Rcpt);
  bool accepted = false;
  for (const std::string& address : transfer_.envelope.recipients) {
    WriteLine("RCPT TO:<" + address + ">");
    accepted = RecipientAccepted(address, ReadReply()) || accepted;
  }
  if (transfer_.chunking) {
    // With every recipient refused, the chunks would only be refused too: the last refusal is
    // the one raised.
    if (!accepted) RaiseServerError(TSmtpStage::Recipient, transfer_.envelope.recipients.back());
    return;
  }
  BeginStep(TSmtpStep::Data);
  WriteLine("DATA");
  Expect(ReadReply(), 3);
}

// RFC 2920 3.1: the group went out in one write, and its replies come back in the same order.
void TpxSMTP::ReadEnvelopeReplies(const std::vector<std::string>& group, bool deferred) {
  const bool withData = group.back() == "DATA";
  const size_t recipients = group.size() - (withData ? 2 : 1);
  size_t owed = group.size();
  try {
    --owed;
    BeginStep(TSmtpStep::Mail);
    Expect(ReadReply(), 2);
    BeginStep(TSmtpStep::Rcpt);
    bool accepted = false;
    std::string refusal;
    std::string refused;
    for (size_t i = 1; i <= recipients; ++i) {
      --owed;
      const int code = ReadReply();
      // "RCPT TO:<" and ">" around the address.
      const std::string address = group[i].substr(9, group[i].size() - 10);
      if (deferred && ReplyClass(code) != 2) {
        next_.rejected.emplace_back(address, LastReply());
      } else if (deferred || RecipientAccepted(address, code)) {
        accepted = true;
        continue;
      }
      refusal = LastReply();
      refused = address;
    }
    if (!withData) {
      if (!accepted)
        throw EServerError(RefusalText(TSmtpStage::Recipient, refusal, refused), ReplyCode(refusal),
                           TSmtpStage::Recipient, refusal);
      return;
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
    // A DATA that a server took despite everything waits for a text; an empty one would be
    // delivered to the recipients it did accept. Closing is the only way out.
    if (code == 354) {
      Log("Closing the connection: the server awaits a text that will not come");
      Close();
      break;
    }
  }
}

void TpxSMTP::EndEmptyTransaction(const std::string& refusal, const std::string& address) {
  // No recipient was accepted, so the empty text can reach nobody.
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

// --- The text -------------------------------------------------------------------------------

void TpxSMTP::SendText() {
  TSmtpTextSink sink(*this, transfer_.chunking ? TTextFraming::Bdat : TTextFraming::Data,
                     transfer_.declared);
  try {
    Message().SaveToStream(sink);
    sink.Finish();
    if (OnProgress) OnProgress(this, 0, 0);
    ReadAfterEnd([this] {
      if (transfer_.heldOwed) {
        transfer_.heldOwed = false;
        ReadEnvelopeReplies(transfer_.held);
      }
      while (transfer_.chunksOwed > 0) ReadChunkReply();
    });
    ReadTextReply();
  } catch (const EServerError& e) {
    // The refused end of a text with the next envelope behind it: the replies to that envelope
    // tell whether the server has begun the next transaction.
    if (phase_ == TSmtpPhase::TextEnded && !transfer_.endOwed && next_.state == TNextEnvelope::TState::Sent &&
        e.Failure().session == TSessionOutcome::Usable) {
      ReadNextEnvelope();
      throw;
    }
    if (transfer_.chunking) EndFailedChunks(e);
    throw;
  } catch (const std::exception& e) {
    if (transfer_.chunking) EndFailedChunks(e);
    throw;
  }
}

void TpxSMTP::BeginText() {
  if (OnSending) OnSending(this);
  if (!transfer_.envelopeDone) SendEnvelope();
  phase_ = TSmtpPhase::Text;
  BeginStep(TSmtpStep::Data);
  Log(kSuppressedBody);
}

// The text goes out in large sends, the end of the message with its last bytes, and the next
// envelope with that: a few bytes sent right after a send the server has not acknowledged yet
// wait for its delayed acknowledgement (Nagle), some 40 ms a message.
void TpxSMTP::SendText(const std::string& framed, bool last) {
  const bool first = !transfer_.held.empty() && !transfer_.heldSent;
  const std::vector<std::string> none;
  const std::vector<std::string>& before = first ? transfer_.held : none;
  const std::vector<std::string>& after = last ? transfer_.next : none;
  std::string joined;
  if (!before.empty() || !after.empty()) {
    for (const std::string& line : before) joined += line + "\r\n";
    joined += framed;
    for (const std::string& line : after) joined += line + "\r\n";
  }
  const std::string& bytes = joined.empty() ? framed : joined;
  {
    const TTimedSpan span(Counter());
    SendBuffer(bytes.data(), bytes.size(), true);
  }
  RaiseIfInterrupted(TInterrupt::TimeOutFirst);
  for (const std::string& line : before) ShowSent(line);
  if (transfer_.chunking) ShowSent(framed.substr(0, framed.find('\r')));
  for (const std::string& line : after) ShowSent(line);
  if (first) {
    transfer_.heldSent = true;
    transfer_.heldOwed = true;
  }
  if (last) {
    phase_ = TSmtpPhase::TextEnded;
    transfer_.endOwed = true;
    if (!after.empty()) {
      next_.state = TNextEnvelope::TState::Sent;
      next_.envelope = transfer_.envelope;
      next_.size = transfer_.nextSize;
      next_.commands = after;
    }
    return;
  }
  if (!transfer_.chunking) return;
  ++transfer_.chunksOwed;
  // The envelope's replies come first; without a recipient the chunks are not worth sending.
  if (transfer_.heldOwed) {
    transfer_.heldOwed = false;
    ReadEnvelopeReplies(transfer_.held);
  }
  while (transfer_.chunksOwed > kChunksInFlight) ReadChunkReply();
}

void TpxSMTP::ShowSent(const std::string& line) {
  Log(line);
  if (OnLineSent) OnLineSent(this, line);
}

void TpxSMTP::TextProgress(int64_t position) {
  FireProgress(position, transfer_.size);
  // A handler may cancel; the composer stops at the next block.
  if (Aborted()) RaiseIfInterrupted(TInterrupt::CancelFirst);
}

// RFC 3030 2: every chunk is answered, in order; a refusal ends the message (the server
// discards what it has of it).
void TpxSMTP::ReadChunkReply() {
  --transfer_.chunksOwed;
  Expect(ReadReply(), 2);
}

// RFC 3030 4.2: after a failed chunk no more go, the replies owed are read and RSET ends the
// transaction; a session that the failure did not end stays usable for the next message.
void TpxSMTP::EndFailedChunks(const std::exception& e) {
  if (ClassifyFailure(e).session != TSessionOutcome::Usable || !Connected()) return;
  // A pipelined envelope still held: the server has heard nothing of the message.
  if (!transfer_.held.empty() && !transfer_.heldSent) {
    phase_ = TSmtpPhase::Ready;
    return;
  }
  size_t owed = static_cast<size_t>(transfer_.chunksOwed) + (transfer_.heldOwed ? transfer_.held.size() : 0) +
                (transfer_.endOwed ? 1 : 0) + (next_.state == TNextEnvelope::TState::Sent ? next_.commands.size() : 0);
  next_ = {};
  transfer_ = {};
  const TQuietErrors quiet(*this);
  try {
    DropReplies(owed);
    if (Connected()) ResetTransaction();
  } catch (const Exception&) {
    // The failure of the message is the one to report; the kept session finds out the rest.
  }
}

// RFC 5321 4.1.1.4: once the end of the text has gone out, only the reply tells whether the
// server took the message; none (a lost connection, a time-out) leaves it uncertain.
void TpxSMTP::ReadAfterEnd(const std::function<void()>& read) {
  if (phase_ != TSmtpPhase::TextEnded) return read();
  try {
    read();
  } catch (const ESocketError&) {
    throw EPossibleDuplicate(FormatText(LoadStr(sPossibleDuplicate), {ServerName()}));
  } catch (const ETimedOutError&) {
    // RFC 5321 4.5.3.2.6: a server may take ten minutes over the text; one that says nothing in
    // the time given may all the same have taken it.
    throw EPossibleDuplicate(FormatText(LoadStr(sNoReplyToText), {ServerName()}));
  } catch (const EServerError& e) {
    if (e.Code() == 0 && LastReply().empty())
      throw EPossibleDuplicate(FormatText(LoadStr(sPossibleDuplicate), {ServerName()}));
    throw;
  }
}

void TpxSMTP::ReadTextReply() {
  transfer_.endOwed = false;
  ReadAfterEnd([this] { Expect(ReadReply(), 2); });
  dataReply_ = LastReply();
}

// --- The next message behind this one --------------------------------------------------------

bool TpxSMTP::TakeNextEnvelope(const TEnvelope& envelope, int64_t size) {
  const TNextEnvelope next = std::exchange(next_, {});
  if (next.state == TNextEnvelope::TState::None || !Connected()) return false;
  const bool same =
      next.envelope == envelope && (next.size == size || next.size < 0 || !Extensions().Supports("SIZE"));
  if (next.state == TNextEnvelope::TState::Refused) {
    if (!same) return false;  // the reset the refusal left stands; this message goes on its own
    BeginStep(next.step);
    std::rethrow_exception(next.refusal);
  }
  if (next.state != TNextEnvelope::TState::Accepted) return false;
  const bool textAwaited = phase_ == TSmtpPhase::Text;
  std::string refusal;
  std::string refused;
  bool proceed = true;
  for (const auto& [address, reply] : next.rejected) {
    if (OnAddressRejected) OnAddressRejected(this, address, reply, proceed);
    refusal = reply;
    refused = address;
    if (!proceed) break;
  }
  if (same && proceed) {
    if (next.size < 0) transfer_.declared = -1;  // its MAIL FROM went without SIZE
    return true;
  }
  // A connection awaiting a text can only be closed: a lone "." would deliver an empty message.
  if (textAwaited) {
    Reconnect();
    if (!proceed) {
      BeginStep(TSmtpStep::Rcpt);
      throw EServerError(RefusalText(TSmtpStage::Recipient, refusal, refused), ReplyCode(refusal),
                         TSmtpStage::Recipient, refusal);
    }
    Connect();
    return false;
  }
  ResetTransaction();
  if (!proceed) {
    BeginStep(TSmtpStep::Rcpt);
    throw EServerError(RefusalText(TSmtpStage::Recipient, refusal, refused), ReplyCode(refusal), TSmtpStage::Recipient,
                       refusal);
  }
  return false;
}

// After the reply to this message's text: what the server says to the next envelope decides
// what the next Send finds. Nothing here fails this message, which the server has answered.
void TpxSMTP::ReadNextEnvelope() {
  if (next_.state != TNextEnvelope::TState::Sent) return;
  const bool thisAccepted = !dataReply_.empty();
  const TSmtpPhase after = transfer_.chunking ? TSmtpPhase::Envelope : TSmtpPhase::Text;
  phase_ = TSmtpPhase::Envelope;
  const TQuietErrors quiet(*this);
  try {
    ReadEnvelopeReplies(next_.commands, true);
    next_.state = TNextEnvelope::TState::Accepted;
    phase_ = after;
    return;
  } catch (const EServerError& e) {
    const bool kept = thisAccepted && e.Failure().session == TSessionOutcome::Usable && Connected();
    if (kept) {
      next_.state = TNextEnvelope::TState::Refused;
      next_.refusal = std::current_exception();
      next_.step = Step();
    } else {
      next_ = {};
    }
    if (e.Failure().session == TSessionOutcome::Ended) Close();
  } catch (const Exception&) {
    // A lost connection: the next message had no text sent, and goes on a new session.
    next_ = {};
    Close();
  }
  if (Connected() && phase_ != TSmtpPhase::Ready) phase_ = TSmtpPhase::NeedsReset;
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
