#include "net/smtpconnection.h"

#include <algorithm>
#include <vector>

#include "toolkit/hostport.h"
#include "toolkit/pump.h"
#include "toolkit/strtable.h"
#include "toolkit/strutils.h"

namespace {
constexpr uint16_t kSmtpPort = 25;
constexpr uint16_t kSubmissionsPort = 465;  // RFC 8314 7.3: TLS from the first byte
// A server that keeps asking would keep us answering; no mechanism we know takes more steps.
constexpr int kMaxAuthSteps = 8;
constexpr const char* kFarewellFailed = "Ending the connection after delivery failed: ";
// How long a greeting awaited in the clear may be missing before a TLS handshake is tried.
constexpr int kGreetingProbeMs = 5000;

// 127.0.0.0/8, as the look-up gives it in dotted form.
bool IsLoopback(const std::string& dotted) { return dotted.rfind("127.", 0) == 0; }

std::string Joined(const std::vector<std::string>& words) {
  std::string text;
  for (const std::string& word : words) text += (text.empty() ? "" : " ") + word;
  return text;
}
}  // namespace

TpxSmtpConnection::TpxSmtpConnection(TComponent* owner) : TpxMailBase(owner) {
  SetServiceName("smtp");
  SetDefaultPort(kSmtpPort);
}

void TpxSmtpConnection::Open() {
  BeginStep(TSmtpStep::Connect);
  loginMechanism_ = TAuthMethod::Auto;
  try {
    if (Server().empty()) RaiseSocketError(LoadStr(sServerRequired));
    ResetState();
    phase_ = TSmtpPhase::Unconnected;
    extensions_ = {};
    TpxMailBase::Open();
  } catch (...) {
    StampFailure();
    throw;
  }
}

void TpxSmtpConnection::Login() {
  try {
    // RFC 5321 2.3.8: a command ends at CR LF; a host name holding one would end HELO early.
    if (HasControlCharacter(LocalHost()))
      RaiseSocketError(FormatText(LoadStr(sControlInHostName), {DisplayText(LocalHost())}));
    const TnkTlsContext& context = SecurityContext();
    if (account_.security == TpxSecurity::None && !account_.userName.empty() && !IsLoopback(RemoteAddress()))
      RaiseSocketError(FormatText(LoadStr(sLoginInClear), {ServerName()}));
    ConnectSocket();
    StepDone(TSmtpStep::Connect);
    phase_ = TSmtpPhase::Ready;
    if (ImplicitTls()) {
      BeginStep(TSmtpStep::Tls);
      StartTls(context);
      StepDone(TSmtpStep::Tls);
    }
    Greet(context);
    NegotiateStartTls(context);
    if (!account_.userName.empty()) Authenticate();
  } catch (...) {
    StampFailure();
    // Left open, the connection would be taken by the next Send as one that has been greeted.
    Abandon();
    throw;
  }
}

void TpxSmtpConnection::StampFailure() const {
  try {
    throw;
  } catch (ENetFailure& failure) {
    failure.StampPlace({step_, loginMechanism_ != TAuthMethod::Auto});
  } catch (...) {
    // Only the network's failures say where they came.
  }
}

void TpxSmtpConnection::StepDone(TSmtpStep step) {
  if (OnStepDone) OnStepDone(this, step);
}

bool TpxSmtpConnection::TlsRequired() const {
  if (account_.security == TpxSecurity::None) return false;
  return account_.security != TpxSecurity::Auto || !account_.userName.empty();
}

bool TpxSmtpConnection::ImplicitTls() const {
  return account_.security == TpxSecurity::TLS ||
         (account_.security == TpxSecurity::Auto && Port() == kSubmissionsPort);
}

const TnkTlsContext& TpxSmtpConnection::SecurityContext() {
  // RFC 7435: without a login, Auto takes whatever encryption it can get rather than none.
  const TnkTlsOptions options{TlsRequired() ? TnkTlsPolicy::Checked : TnkTlsPolicy::Opportunistic, account_.caFile,
                              account_.fingerprint};
  std::error_code error;
  const auto caFileTime = account_.caFile.empty() ? std::filesystem::file_time_type{}
                                                  : std::filesystem::last_write_time(account_.caFile, error);
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

// --- The greeting ---------------------------------------------------------------------------

void TpxSmtpConnection::Greet(const TnkTlsContext& context) {
  BeginStep(TSmtpStep::Greeting);
  Expect(ReadGreeting(context), 2);
  StepDone(TSmtpStep::Greeting);
  SayEhlo();
}

// RFC 8314 3.3: a port for TLS from the first byte says nothing in the clear. After a few
// seconds of silence a second connection tries a handshake there; one that completes ends the
// wait at once with what to change, where it would otherwise last the whole time-out. The
// seconds are part of the time-out.
int TpxSmtpConnection::ReadGreeting(const TnkTlsContext& context) {
  if (Encrypted()) return ReadReply();
  int left = 0;
  {
    const TTimedSpan span(Counter());
    if (!AwaitReadableWithin(kGreetingProbeMs) && !Aborted() && AnswersTlsHandshake(context))
      RefuseSession(ServerName() + " " + kNoGreetingButTls + " on a second connection");
    left = std::max(1, static_cast<int>(Counter().Remaining()));
  }
  // The reply has what is left of the time-out; the property keeps what the user set.
  const int timeOut = TimeOut();
  SetTimeOut(left);
  try {
    const int code = ReadReply();
    SetTimeOut(timeOut);
    return code;
  } catch (...) {
    SetTimeOut(timeOut);
    throw;
  }
}

void TpxSmtpConnection::SayEhlo() {
  BeginStep(TSmtpStep::Ehlo);
  WriteLine("EHLO " + LocalHost());
  std::vector<std::string> lines;
  const int code = ReadReply(&lines);
  if (ReplyClass(code) == 2) {
    extensions_ = TSmtpExtensions::FromReply(lines);
    StepDone(TSmtpStep::Ehlo);
    return;
  }
  // RFC 5321 3.2: a server that does not know EHLO refuses it with a 5xx reply and may still
  // take HELO; a 4xx or a lost connection is a failure of its own.
  if (ReplyClass(code) != 5) RaiseServerError(RefusalStage());
  // HELO knows neither STARTTLS nor AUTH: taking it would mean going on in the clear.
  if (!account_.userName.empty() || (TlsRequired() && !Encrypted()))
    RefuseSession(FormatText(LoadStr(sEhloRefusedSecure), {ServerName(), DisplayText(LastReply())}), LastReply());
  GreetOldStyle();
  StepDone(TSmtpStep::Ehlo);
}

void TpxSmtpConnection::GreetOldStyle() {
  WriteLine("HELO " + LocalHost());
  if (ReplyClass(ReadReply()) == 2) return;
  // A server that refuses the name we give may still take the bare command.
  WriteLine("HELO");
  Expect(ReadReply(), 2);
}

// RFC 3207: STARTTLS, then a new greeting over TLS, since what the server said in the clear
// may have been forged (4.2).
void TpxSmtpConnection::NegotiateStartTls(const TnkTlsContext& context) {
  if (Encrypted() || account_.security == TpxSecurity::None) return;
  BeginStep(TSmtpStep::Tls);
  if (!extensions_.Supports("STARTTLS")) {
    if (TlsRequired()) RefuseSession(FormatText(LoadStr(sStartTlsNotOffered), {ServerName()}));
    return;
  }
  WriteLine("STARTTLS");
  if (ReadReply() != 220) {
    if (TlsRequired())
      RefuseSession(FormatText(LoadStr(sStartTlsRefused), {ServerName(), DisplayText(LastReply())}), LastReply());
    Log("STARTTLS refused; going on in the clear: " + LastReply());
    return;
  }
  StartTls(context);
  StepDone(TSmtpStep::Tls);
  extensions_ = {};
  // RFC 3207 4.2: the server does not greet again; the client speaks first, with EHLO.
  SayEhlo();
}

// --- AUTH -----------------------------------------------------------------------------------

// RFC 4954: the mechanism's lines are secrets, written masked; the server's 334 challenges
// and its final reply are not.
void TpxSmtpConnection::Authenticate() {
  BeginStep(TSmtpStep::Auth);
  try {
    RunAuthExchange();
    StepDone(TSmtpStep::Auth);
  } catch (EAuthError& e) {
    e.SetMessage(FormatText(LoadStr(sLoginFailed), {ServerName(), e.Message()}));
    throw;
  }
}

void TpxSmtpConnection::RunAuthExchange() {
  if (!Encrypted() && extensions_.Supports("STARTTLS") && !extensions_.Supports("AUTH"))
    throw EAuthError(kLoginOnlyAfterStartTls);
  const TAuthMethod method = ChooseAuthMethod(Joined(extensions_.Parameters("AUTH")), account_.authMethod);
  int code = Exchange(method, false);
  // A token may be revoked or expire before its time; a fresh one is worth one more try in the
  // same session (RFC 4954 4 lets a client try AUTH again after a failure).
  const bool renewed = UsesBearerToken(method) && ReplyClass(code) == 5;
  if (renewed) {
    Log(std::string("AUTH ") + AuthMethodName(method) + " refused the token; trying once more with a renewed one");
    code = Exchange(method, true);
  }
  if (code != 235) {
    const std::string reply = DisplayText(LastReply());
    RefuseSession(renewed ? ServerName() + " " + kRenewedTokenRefused + ": " + reply
                          : FormatText(LoadStr(sLoginRefused), {ServerName(), reply}),
                  LastReply());
  }
  loginMechanism_ = method;
}

int TpxSmtpConnection::Exchange(TAuthMethod method, bool renewToken) {
  const std::unique_ptr<TSaslMechanism> mechanism = MakeSaslMechanism(
      method, account_.userName, LoginSecret(method, renewToken).View(), ParseHostPort(Server()).host, Port());
  WriteSecretLine(AuthCommand(*mechanism).View());
  int code = ReadReply();
  for (int step = 0; code == 334 && step < kMaxAuthSteps; ++step) {
    const std::string challenge = LastReply().size() > 4 ? LastReply().substr(4) : std::string();
    // The error's words say why a token was refused; the token itself never comes back.
    if (const std::string words = UsesBearerToken(method) ? TokenErrorWords(challenge) : std::string(); !words.empty())
      Log(std::string("AUTH ") + mechanism->Name() + " token refused: " + words);
    try {
      WriteSecretLine(AnswerChallenge(*mechanism, challenge).View());
    } catch (const EAuthError&) {
      WriteLine("*");  // RFC 4954 4: the client cancels the exchange
      ReadReply();
      throw;
    }
    code = ReadReply();
  }
  return code;
}

TSecret TpxSmtpConnection::LoginSecret(TAuthMethod method, bool renewToken) const {
  if (UsesBearerToken(method)) {
    if (!tokenSource_) throw EAuthError(FormatText(LoadStr(sNoTokenSource), {AuthMethodName(method)}));
    return tokenSource_(renewToken);
  }
  if (password_.Empty()) throw EAuthError(FormatText(LoadStr(sNoPassword), {account_.userName}));
  TSecret password;
  password.Text() = password_.View();
  return password;
}

void TpxSmtpConnection::RefuseSession(const std::string& text, const std::string& reply) {
  phase_ = TSmtpPhase::Unconnected;
  Close();
  try {
    RaiseSocketError(text);  // reported like any socket error
  } catch (const ESocketError&) {
    throw ESessionRefused(text, reply);
  }
}

// --- The farewell ---------------------------------------------------------------------------

void TpxSmtpConnection::Logout() {
  // Inside a text, or with a 354 awaiting one, QUIT would be taken as text: the close that
  // follows makes the server drop the transaction.
  if (phase_ == TSmtpPhase::Text) return;
  BeginStep(TSmtpStep::Quit);
  try {
    ProcessMessagesNow();
    WriteLine("QUIT");
    if (ReplyClass(ReadReply()) != 2) RaiseServerError(TSmtpStage::Session);
  } catch (...) {
    StampFailure();
    Close();  // a connection whose farewell failed is of no further use
    throw;
  }
}

void TpxSmtpConnection::Abandon() {
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
void TpxSmtpConnection::EndSession() {
  const TQuietErrors quiet(*this);
  try {
    Disconnect();
  } catch (const Exception& e) {
    Log(kFarewellFailed + std::string(e.what()));
  }
}

// --- Replies --------------------------------------------------------------------------------

bool TpxSmtpConnection::CanQuit() const { return phase_ != TSmtpPhase::Unconnected && phase_ != TSmtpPhase::Text; }

TSmtpStage TpxSmtpConnection::RefusalStage() const {
  const bool inMessage =
      phase_ == TSmtpPhase::Envelope || phase_ == TSmtpPhase::Text || phase_ == TSmtpPhase::TextEnded;
  return inMessage ? TSmtpStage::Message : TSmtpStage::Session;
}

void TpxSmtpConnection::Expect(int code, int replyClass) {
  if (ReplyClass(code) != replyClass) RaiseServerError(RefusalStage());
}

void TpxSmtpConnection::RaiseServerError(TSmtpStage stage, const std::string& recipient) {
  // The reply stays as received in LastReply; the error text is for showing.
  const int code = LastReply().empty() ? 0 : ReplyCode(LastReply());
  throw EServerError(RefusalText(stage, LastReply(), recipient), code, stage, LastReply());
}

std::string TpxSmtpConnection::RefusalText(TSmtpStage stage, const std::string& reply,
                                           const std::string& recipient) const {
  if (reply.empty()) return FormatText(LoadStr(sNoServerReply), {ServerName()});
  switch (stage) {
    case TSmtpStage::Recipient:
      return FormatText(LoadStr(sRecipientRefused), {ServerName(), DisplayText(recipient), DisplayText(reply)});
    case TSmtpStage::Message: return FormatText(LoadStr(sMessageRefused), {ServerName(), DisplayText(reply)});
    case TSmtpStage::Session: break;
  }
  return FormatText(LoadStr(sSessionRefused), {ServerName(), DisplayText(reply)});
}
