#include "net/pxsmtp.h"

#include <vector>

#include "mail/pxmsg.h"
#include "net/nktls.h"
#include "mail/mailbox.h"
#include "net/nkutils.h"
#include "net/smtpfailure.h"
#include "toolkit/componentstream.h"
#include "toolkit/pump.h"
#include "toolkit/strtable.h"
#include "toolkit/strutils.h"

namespace {
constexpr uint16_t kSmtpPort = 25;
constexpr uint16_t kSubmissionsPort = 465;  // RFC 8314 7.3: TLS from the first byte
// A server that keeps asking would keep us answering; no mechanism we know takes more steps.
constexpr int kMaxAuthSteps = 8;
constexpr size_t kSendSize = 65536;  // stuffed text gathered for one send
constexpr const char* kFarewellFailed = "Ending the connection after delivery failed: ";

// RFC 5321 4.2.1: the first digit of the code; a line without a code has class 0.
int ReplyClass(int code) { return code > 0 ? code / 100 : 0; }

// 127.0.0.0/8, as the look-up gives it in dotted form.
bool IsLoopback(const std::string& dotted) { return dotted.rfind("127.", 0) == 0; }

// 31457280 as "31,457,280".
std::string Grouped(uint64_t number) {
  std::string digits = std::to_string(number);
  for (size_t at = digits.size(); at > 3; at -= 3) digits.insert(at - 3, ",");
  return digits;
}

std::string Joined(const std::vector<std::string>& words) {
  std::string text;
  for (const std::string& word : words) text += (text.empty() ? "" : " ") + word;
  return text;
}

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

void TpxSMTP::Open() {
  if (Server().empty()) RaiseSocketError(LoadStr(sServerRequired));
  ResetState();
  phase_ = TSmtpPhase::Unconnected;
  extensions_ = {};
  TpxMailBase::Open();
}

void TpxSMTP::Login() {
  try {
    // RFC 5321 2.3.8: a command ends at CR LF; a host name holding one would end HELO early.
    if (HasControlCharacter(LocalHost()))
      RaiseSocketError(FormatText(LoadStr(sControlInHostName), {DisplayText(LocalHost())}));
    const TnkTlsContext& context = SecurityContext();
    if (security_ == TpxSecurity::None && !userName_.empty() && !IsLoopback(RemoteAddress()))
      RaiseSocketError(FormatText(LoadStr(sLoginInClear), {ServerName()}));
    ConnectSocket();
    phase_ = TSmtpPhase::Ready;
    if (ImplicitTls()) StartTls(context);
    Greet();
    NegotiateStartTls(context);
    if (!userName_.empty()) Authenticate();
  } catch (...) {
    // Left open, the connection would be taken by the next Send as one that has been greeted.
    Abandon();
    throw;
  }
}

bool TpxSMTP::TlsRequired() const {
  if (security_ == TpxSecurity::None) return false;
  return security_ != TpxSecurity::Auto || !userName_.empty();
}

bool TpxSMTP::ImplicitTls() const {
  return security_ == TpxSecurity::TLS || (security_ == TpxSecurity::Auto && Port() == kSubmissionsPort);
}

const TnkTlsContext& TpxSMTP::SecurityContext() {
  // RFC 7435: without a login, Auto takes whatever encryption it can get rather than none.
  const TnkTlsOptions options{TlsRequired() ? TnkTlsPolicy::Checked : TnkTlsPolicy::Opportunistic, caFile_, fingerprint_};
  std::error_code error;
  const auto caFileTime = caFile_.empty() ? std::filesystem::file_time_type{}
                                          : std::filesystem::last_write_time(caFile_, error);
  const bool same = tlsContext_ && options.policy == tlsOptions_.policy && options.caFile == tlsOptions_.caFile &&
                    options.fingerprint == tlsOptions_.fingerprint && caFileTime == caFileTime_;
  if (!same) {
    tlsContext_.reset();
    tlsContext_ = std::make_unique<TnkTlsContext>(options);
    tlsOptions_ = options;
    caFileTime_ = caFileTime;
  }
  return *tlsContext_;
}

void TpxSMTP::Greet() {
  Expect(ReadReply(), 2);
  SayEhlo();
}

void TpxSMTP::SayEhlo() {
  WriteLine("EHLO " + LocalHost());
  std::vector<std::string> lines;
  const int code = ReadReply(&lines);
  if (ReplyClass(code) == 2) {
    extensions_ = TSmtpExtensions::FromReply(lines);
    return;
  }
  // RFC 5321 3.2: a server that does not know EHLO refuses it with a 5xx reply and may still
  // take HELO; a 4xx or a lost connection is a failure of its own.
  if (ReplyClass(code) != 5) RaiseServerError(RefusalStage());
  // HELO knows neither STARTTLS nor AUTH: taking it would mean going on in the clear.
  if (!userName_.empty() || (TlsRequired() && !Encrypted()))
    RefuseSession(FormatText(LoadStr(sEhloRefusedSecure), {ServerName(), DisplayText(LastReply())}));
  GreetOldStyle();
}

// RFC 3207: STARTTLS, then a new greeting over TLS, since what the server said in the clear
// may have been forged (4.2).
void TpxSMTP::NegotiateStartTls(const TnkTlsContext& context) {
  if (Encrypted() || security_ == TpxSecurity::None) return;
  if (!extensions_.Supports("STARTTLS")) {
    if (TlsRequired()) RefuseSession(FormatText(LoadStr(sStartTlsNotOffered), {ServerName()}));
    return;
  }
  WriteLine("STARTTLS");
  if (ReadReply() != 220) {
    if (TlsRequired()) RefuseSession(FormatText(LoadStr(sStartTlsRefused), {ServerName(), DisplayText(LastReply())}));
    Log("STARTTLS refused; going on in the clear: " + LastReply());
    return;
  }
  StartTls(context);
  extensions_ = {};
  // RFC 3207 4.2: the server does not greet again; the client speaks first, with EHLO.
  SayEhlo();
}

// RFC 4954: the mechanism's lines are secrets, written masked; the server's 334 challenges
// and its final reply are not.
void TpxSMTP::Authenticate() {
  try {
    RunAuthExchange();
  } catch (EAuthError& e) {
    e.SetMessage(FormatText(LoadStr(sLoginFailed), {ServerName(), e.Message()}));
    throw;
  }
}

void TpxSMTP::RunAuthExchange() {
  const TAuthMethod method = ChooseAuthMethod(Joined(extensions_.Parameters("AUTH")), authMethod_);
  const std::unique_ptr<TSaslMechanism> mechanism =
      MakeSaslMechanism(method, userName_, LoginSecret(method).View());
  WriteSecretLine(AuthCommand(*mechanism).View());
  int code = ReadReply();
  for (int step = 0; code == 334 && step < kMaxAuthSteps; ++step) {
    const std::string challenge = LastReply().size() > 4 ? LastReply().substr(4) : std::string();
    try {
      WriteSecretLine(AnswerChallenge(*mechanism, challenge).View());
    } catch (const EAuthError&) {
      WriteLine("*");  // RFC 4954 4: the client cancels the exchange
      ReadReply();
      throw;
    }
    code = ReadReply();
  }
  if (code != 235) RefuseSession(FormatText(LoadStr(sLoginRefused), {ServerName(), DisplayText(LastReply())}));
}

TSecret TpxSMTP::LoginSecret(TAuthMethod method) const {
  if (method == TAuthMethod::XOAuth2) {
    if (!tokenSource_) throw EAuthError(LoadStr(sNoTokenSource));
    return tokenSource_();
  }
  if (password_.Empty()) throw EAuthError(FormatText(LoadStr(sNoPassword), {userName_}));
  TSecret password;
  password.Text() = password_.View();
  return password;
}

void TpxSMTP::RefuseSession(const std::string& text) {
  phase_ = TSmtpPhase::Unconnected;
  Close();
  try {
    RaiseSocketError(text);  // reported like any socket error
  } catch (const ESocketError&) {
    throw ESessionRefused(text);
  }
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
    if (ReplyClass(ReadReply()) != 2) RaiseServerError(TSmtpStage::Session);
  } catch (...) {
    Close();  // a connection whose farewell failed is of no further use
    throw;
  }
}

void TpxSMTP::Abandon() {
  if (!Connected()) return;
  if (CanQuit()) {
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
void TpxSMTP::EndSession() {
  const TQuietErrors quiet(*this);
  try {
    Disconnect();
  } catch (const Exception& e) {
    Log(kFarewellFailed + std::string(e.what()));
  }
}

// --- A kept session ------------------------------------------------------------------------

void TpxSMTP::SendInSession() {
  bool reused = Connected();
  if (reused && ServerLeftIdleSession()) {
    Reconnect();
    reused = false;
  }
  try {
    Connect();
    if (phase_ == TSmtpPhase::NeedsReset) ResetTransaction();
    TransmitMessage();
    return;
  } catch (const std::exception& e) {
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
  phase_ = TSmtpPhase::Resetting;
  WriteLine("RSET");
  Expect(ReadReply(), 2);
  phase_ = TSmtpPhase::Ready;
}

// --- One message ---------------------------------------------------------------------------

// Handlers run in every wait and may remove the message at any of them.
TpxMessage& TpxSMTP::Message() {
  if (mailMessage_ == nullptr) RaiseSocketError(LoadStr(sMailMessageRequired));
  return *mailMessage_;
}

void TpxSMTP::TransmitMessage() {
  phase_ = TSmtpPhase::Ready;
  dataReply_.clear();
  Message().Validate();
  TTempFileStream text;  // its file goes with it, on every exit
  if (OnPrepare) OnPrepare(this);
  Message().SaveToStream(text);
  CheckSize(text.Size());
  SendEnvelope(text.Size());
  SendData(text);
  if (OnMailSent) OnMailSent(this);
  phase_ = TSmtpPhase::Ready;
}

TpxSMTP::TEnvelope TpxSMTP::Envelope() {
  TEnvelope envelope{Message().Sender().Address(), envelopeRecipients_.Lines()};
  if (envelope.recipients.empty()) {
    AddAddresses(Message().Recipients(), envelope.recipients);
    AddAddresses(Message().CC(), envelope.recipients);
    AddAddresses(Message().BCC(), envelope.recipients);
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
  const uint64_t limit = extensions_.SizeLimit();
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
  if (extensions_.Supports("SIZE")) mail += " SIZE=" + std::to_string(size);
  phase_ = TSmtpPhase::Envelope;
  if (extensions_.Supports("PIPELINING")) {
    std::vector<std::string> group{mail};
    for (const std::string& address : envelope.recipients) group.push_back("RCPT TO:<" + address + ">");
    group.push_back("DATA");
    return SendEnvelopePipelined(group);
  }
  WriteLine(mail);
  Expect(ReadReply(), 2);
  for (const std::string& address : envelope.recipients) SendRecipient(address);
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
  throw EServerError(RefusalText(TSmtpStage::Recipient, refusal, address), ReplyCode(refusal), TSmtpStage::Recipient);
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

bool TpxSMTP::CanQuit() const { return phase_ != TSmtpPhase::Unconnected && phase_ != TSmtpPhase::Text; }

TSmtpStage TpxSMTP::RefusalStage() const {
  const bool inMessage = phase_ == TSmtpPhase::Envelope || phase_ == TSmtpPhase::Text || phase_ == TSmtpPhase::TextEnded;
  return inMessage ? TSmtpStage::Message : TSmtpStage::Session;
}

void TpxSMTP::Expect(int code, int replyClass) {
  if (ReplyClass(code) != replyClass) RaiseServerError(RefusalStage());
}

void TpxSMTP::RaiseServerError(TSmtpStage stage, const std::string& recipient) {
  // The reply stays as received in LastReply; the error text is for showing.
  const int code = LastReply().empty() ? 0 : ReplyCode(LastReply());
  throw EServerError(RefusalText(stage, LastReply(), recipient), code, stage);
}

std::string TpxSMTP::RefusalText(TSmtpStage stage, const std::string& reply, const std::string& recipient) const {
  if (reply.empty()) return FormatText(LoadStr(sNoServerReply), {ServerName()});
  switch (stage) {
    case TSmtpStage::Recipient:
      return FormatText(LoadStr(sRecipientRefused), {ServerName(), DisplayText(recipient), DisplayText(reply)});
    case TSmtpStage::Message: return FormatText(LoadStr(sMessageRefused), {ServerName(), DisplayText(reply)});
    case TSmtpStage::Session: break;
  }
  return FormatText(LoadStr(sSessionRefused), {ServerName(), DisplayText(reply)});
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

void TpxSMTP::SetFingerprint(const std::string& fingerprint) {
  if (!NormaliseFingerprint(fingerprint, fingerprint_))
    throw EConvertError("\"" + fingerprint + "\" is no SHA-256 fingerprint: it needs 64 hex digits, colons allowed");
}

void TpxSMTP::WriteProperties(TPropertyWriter& writer) const {
  TpxMailBase::WriteProperties(writer);
  if (mailMessage_ != nullptr) writer.Property("MailMessage", TPropValue::Ident(mailMessage_->Name()));
  if (keepSession_) writer.Property("KeepSession", TPropValue::Bool(true));
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
  if (name == "KeepSession") {
    keepSession_ = value.boolean;
    return true;
  }
  if (name != "MailMessage") return TpxMailBase::ReadProperty(name, value);
  // A reference names a component of the same owner.
  TpxMessage* message = nullptr;
  for (int i = 0; Owner() != nullptr && i < Owner()->ComponentCount(); ++i)
    if (Owner()->Components(i)->Name() == value.text) message = dynamic_cast<TpxMessage*>(Owner()->Components(i));
  SetMailMessage(message);
  return true;
}
