#include "net/nkconnection.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <climits>
#include <cstdint>

#include "net/nkRasCmp.h"
#include "net/nktls.h"
#include "net/nkwinsock.h"
#include "platform/modules.h"
#include "toolkit/pump.h"
#include "toolkit/strtable.h"
#include "toolkit/strutils.h"

namespace {
constexpr long kSocketEvents = FD_READ | FD_WRITE | FD_CONNECT | FD_CLOSE;
constexpr uint16_t kWinsockVersion = 0x0101;
// Any event ends a slice early; the slice only bounds a wait that nothing wakes.
constexpr int kWaitSliceMs = 1000;

TnkWinsock& Ws() { return SharedWinsock(); }
}  // namespace

TnkConnection::TnkConnection(TComponent* owner)
    : TComponent(owner), receiveBuffer_(kMaxLineLength), plain_(*this, kMaxLineLength), tls_(*this, kMaxLineLength) {
  window_ = AllocateHWnd([this](HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return WindowProc(window, message, wParam, lParam);
  });
  SetWinsockLoaded(false);
}

TnkConnection::~TnkConnection() {
  // The library must not write into this object or post to it once it is gone, and a socket
  // still held would outlive its owner.
  try {
    lookup_.Cancel();
    if (Connected()) Ws().closesocket(socket_);
  } catch (const EWinsockDLLError&) {
  }
  DeallocateHWnd(window_);
  for (; startupCount_ > 0; --startupCount_) {
    try {
      Ws().WSACleanup();
    } catch (const EWinsockDLLError&) {
    }
  }
  if (logFileName_.empty()) return;
  try {
    SaveLinesToFile(lineLog_, logFileName_);
  } catch (const Exception&) {
    // A destructor cannot report it; the log is a debugging aid.
  }
}

// --- State, hidden window and waiting --------------------------------------------------------

void TnkConnection::ResetState() {
  canceled_ = false;
  counter_.SetTimedOut(false);
  lookup_.Cancel();
  errorSeen_ = false;
  connectSeen_ = readSeen_ = writeSeen_ = closeSeen_ = false;
  connectError_ = 0;
}

LRESULT TnkConnection::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_HOSTLOOKUP:
    case WM_SERVICELOOKUP: lookup_.Answer(message, wParam, lParam); return 0;
    case WM_SOCKETEVENT: SocketEvent(wParam, lParam); return 0;
    default: return DefWindowProc(window, message, wParam, lParam);
  }
}

void TnkConnection::SocketEvent(WPARAM socket, LPARAM lParam) {
  if (socket != socket_) return;  // queued for a socket closed since
  errorCode_ = WSAGetSelectError(lParam);
  errorSeen_ = errorCode_ != 0;
  const uint16_t event = WSAGetSelectEvent(lParam);
  if (errorSeen_) {
    if (event == FD_CONNECT) connectError_ = errorCode_;
    return;
  }
  switch (event) {
    case FD_READ: readSeen_ = true; break;
    case FD_WRITE: writeSeen_ = true; break;
    case FD_CONNECT: connectSeen_ = true; break;
    case FD_CLOSE: closeSeen_ = true; break;
    default: break;
  }
}

void TnkConnection::Wait(const std::function<bool()>& done) {
  while (!done() && !Aborted()) WaitForEvents(kWaitSliceMs);
}

void TnkConnection::WaitForData() {
  Wait([this] { return readSeen_ || closeSeen_ || errorSeen_; });
}

void TnkConnection::AwaitReadable() {
  // A line may be received or decrypted already, with nothing more to come from the socket.
  if (!transport_->Pending()) WaitForData();
  RaiseIfInterrupted(TInterrupt::CancelFirst);
  if (errorSeen_) RaiseSocketError(errorCode_);
}

bool TnkConnection::AwaitReadableWithin(int ms) {
  using std::chrono::steady_clock;
  const steady_clock::time_point deadline = steady_clock::now() + std::chrono::milliseconds(ms);
  const auto left = [&deadline] {
    return std::chrono::duration_cast<std::chrono::milliseconds>(deadline - steady_clock::now()).count();
  };
  const auto spoke = [this] { return transport_->Pending() || readSeen_ || closeSeen_ || errorSeen_; };
  while (!spoke() && !Aborted() && left() > 0) WaitForEvents(static_cast<int>(std::min<int64_t>(left(), kWaitSliceMs)));
  return spoke();
}

void TnkConnection::Fire(const TNotifyEvent& event) {
  if (event) event(this);
}

void TnkConnection::Log(const std::string& line) {
  if (!logFileName_.empty()) lineLog_.Add(line);
}

// --- Open, connect, close --------------------------------------------------------------------

void TnkConnection::Open() {
  // A dial-up link, when there is one, must be up before the look-ups can reach the server.
  if (ras_ != nullptr) ras_->Connect();
  Fire(OnOpen);
  connecting_ = true;
  port_ = 0;
  if (server_.empty()) RaiseSocketError(LoadStr(sServerRequired));
  THostPort target;
  try {
    target = ParseHostPort(server_);
  } catch (const EConvertError& e) {
    RaiseSocketError(e.Message());
  }
  if (Ws().WSAStartup(kWinsockVersion, &startupData_) != 0) RaiseSocketError(LoadStr(sInvalidWinsockVersion));
  ++startupCount_;
  std::array<char, 512> name{};
  localHost_ = Ws().gethostname(name.data(), static_cast<int>(name.size())) == 0 ? name.data() : target.host;
  remoteAddress_ = lookup_.Address(target.host, remoteAddressText_);
  // Without a port in Server, the services database names the service's; failing that, DefaultPort.
  port_ = lookup_.Port(target.port, serviceName_, defaultPort_);
  tls_.End();
  transport_ = &plain_;
  socket_ = Ws().socket(WS_AF_INET, WS_SOCK_STREAM, 0);
  if (socket_ == INVALID_SOCKET) RaiseSocketError(static_cast<uint16_t>(Ws().WSAGetLastError()));
}

// Open refuses a Server that is no host and port; the texts about it show such a one as typed.
THostPort TnkConnection::Target() const {
  try {
    return ParseHostPort(server_);
  } catch (const EConvertError&) {
    return {server_, std::nullopt};
  }
}

std::string TnkConnection::HostPart() const { return Target().host; }

void TnkConnection::ConnectSocket() {
  RaiseIfInterrupted(TInterrupt::CancelOnly);
  SOCKADDR_IN address{};
  address.sin_family = WS_AF_INET;
  address.sin_port = Ws().htons(port_);
  address.sin_addr = remoteAddress_;
  if (Ws().WSAAsyncSelect(socket_, window_, WM_SOCKETEVENT, kSocketEvents) != 0)
    RaiseSocketError(static_cast<uint16_t>(Ws().WSAGetLastError()));
  connectSeen_ = false;
  connectError_ = 0;
  {
    const TTimedSpan span(counter_);
    if (Ws().connect(socket_, &address, sizeof address) != 0) {
      const auto error = static_cast<uint16_t>(Ws().WSAGetLastError());
      if (error != WSAEWOULDBLOCK) ReportAndRaise(WinsockErrorText(error), true, error, true);
    }
    Wait([this] { return connectSeen_ || connectError_ != 0; });
  }
  RaiseIfInterrupted(TInterrupt::CancelFirst);
  // A refused or failed connection ends the wait at once; the socket is of no further use.
  if (connectError_ != 0) ReportAndRaise(WinsockErrorText(connectError_), true, connectError_, true);
  connecting_ = false;
  Fire(OnConnected);
}

void TnkConnection::Close() {
  if (Connected()) {
    Fire(OnClosing);
    if (tls_.Established()) {
      // RFC 8446 6.1: close_notify, sent once if the socket takes it now; Close never waits.
      const std::string alert = tls_.CloseNotify();
      Ws().send(socket_, alert.data(), static_cast<int>(alert.size()), 0);
    }
    Ws().closesocket(socket_);
    socket_ = INVALID_SOCKET;
    Fire(OnClosed);
  }
  plain_.Clear();
  tls_.End();
  transport_ = &plain_;
  // Hangs up only a connection the dial-up component dialled itself, and stops its dialling.
  if (ras_ != nullptr) ras_->Cancel();
}

void TnkConnection::Cancel() {
  if (probe_ != nullptr) probe_->Cancel();
  canceled_ = true;
  Fire(OnCancel);
  lookup_.Cancel();
  Close();
}

bool TnkConnection::ServerLeftIdleSession() {
  if (!Connected() || closeSeen_ || errorSeen_) return true;
  return transport_->ServerSpoke();
}

// --- TLS -------------------------------------------------------------------------------------

void TnkConnection::StartTls(const TnkTlsContext& context) {
  if (!Connected()) RaiseSocketError(LoadStr(sConnectFirst));
  if (tls_.Started()) RaiseSocketError("TLS has already been started on this connection");
  // RFC 3207 5: what the server sent after its reply to STARTTLS came in the clear and would be
  // read as if it had come over TLS (command injection). On a connection that has carried no text
  // (TLS from the first byte) bytes waiting are the server's first records, or the greeting of
  // a server that expects no TLS, which the handshake then names.
  if (plain_.Received() && UnreadBytesWaiting()) throw TlsFailure("the server sent data before the handshake");
  tls_.Start(context, HostPart());
  transport_ = &tls_;
  {
    const TTimedSpan span(counter_);
    tls_.Handshake();
  }
  RaiseIfInterrupted(TInterrupt::TimeOutFirst);
  const TnkTlsOutcome& outcome = tls_.Outcome();
  Log("TLS started: " + outcome.protocol + ", " + outcome.cipher);
  if (!outcome.note.empty()) Log("TLS note: " + outcome.note);
}

bool TnkConnection::AnswersTlsHandshake(const TnkTlsContext& context) {
  TnkConnection probe;
  probe.SetWinsockLoaded(true);  // a new component unloads the shared library: this one uses it
  probe.SetServer(HostPortText(HostPart(), port_));
  probe.SetTimeOut(std::max(1, static_cast<int>(counter_.Remaining())));
  probe_ = &probe;
  bool answered = false;
  try {
    probe.Open();
    probe.ConnectSocket();
    probe.StartTls(context);
    answered = probe.Encrypted();
  } catch (const Exception& e) {
    Log("No TLS handshake on a second connection: " + std::string(e.what()));
  }
  probe_ = nullptr;
  probe.Close();
  return answered;
}

bool TnkConnection::UnreadBytesWaiting() {
  if (plain_.Pending()) return true;
  const std::optional<std::string_view> waiting = ReceiveNow(true);
  return waiting && !waiting->empty();
}

ETlsError TnkConnection::TlsFailure(const std::string& why) {
  counter_.Stop();
  std::string message = why;
  if (OnError) OnError(this, message);
  Close();
  return ETlsError(FormatText(LoadStr(sTlsFailed), {ServerName(), message}));
}

// --- The wire --------------------------------------------------------------------------------

// Ends when the server closed the connection, or on cancel or time-out.
std::string_view TnkConnection::ReceiveRaw() {
  while (!Aborted()) {
    readSeen_ = false;
    const int n = Ws().recv(socket_, receiveBuffer_.data(), static_cast<int>(receiveBuffer_.size()), 0);
    if (n > 0) return {receiveBuffer_.data(), static_cast<size_t>(n)};
    if (n == 0) {
      closeSeen_ = true;  // the end of the data is the server's close, whether or not FD_CLOSE came
      return {};
    }
    const int error = Ws().WSAGetLastError();
    if (canceled_) return {};
    if (error != WSAEWOULDBLOCK) RaiseSocketError(static_cast<uint16_t>(error));
    if (closeSeen_) return {};
    WaitForData();
    if (errorSeen_ && !Aborted()) RaiseSocketError(errorCode_);
  }
  return {};
}

std::optional<std::string_view> TnkConnection::ReceiveNow(bool peek) {
  const int n =
      Ws().recv(socket_, receiveBuffer_.data(), static_cast<int>(receiveBuffer_.size()), peek ? WS_MSG_PEEK : 0);
  if (n < 0 && Ws().WSAGetLastError() == WSAEWOULDBLOCK) return std::nullopt;
  return std::string_view(receiveBuffer_.data(), n > 0 ? static_cast<size_t>(n) : 0);
}

void TnkConnection::SendRaw(const char* data, size_t size, bool restartCounter) {
  size_t sent = 0;
  while (sent < size && !Aborted()) {
    writeSeen_ = false;
    const int chunk = static_cast<int>(std::min<size_t>(size - sent, INT_MAX));
    const int n = Ws().send(socket_, data + sent, chunk, 0);
    if (n > 0) {
      sent += static_cast<size_t>(n);
      if (restartCounter) counter_.Start();
      ProcessMessages();
      continue;
    }
    const int error = Ws().WSAGetLastError();
    if (canceled_) return;
    if (error != WSAEWOULDBLOCK) {
      RaiseSocketError(static_cast<uint16_t>(error));
      return;
    }
    Wait([this] { return writeSeen_; });
  }
}

// --- Errors ----------------------------------------------------------------------------------

void TnkConnection::RaiseSocketError(uint16_t code) {
  if (code == 0) return;
  ReportAndRaise(WinsockErrorText(code), code == WSAECONNRESET, code, true);
}

void TnkConnection::RaiseSocketError(const std::string& text) { ReportAndRaise(text, false, 0); }

void TnkConnection::ReportAndRaise(std::string text, bool close, uint16_t code, bool aboutServer) {
  counter_.Stop();
  ReportError(text);
  // Before the close, which ends the TLS session that AboutServer asks about.
  std::string raised = aboutServer ? AboutServer(text) : text;
  if (close) Close();
  throw ESocketError(std::move(raised), code);
}

std::string TnkConnection::AboutServer(const std::string& text) const {
  const bool handshaking = tls_.Started() && !tls_.Established();
  const int id = connecting_ ? sCannotConnect : handshaking ? sTlsFailed : sConnectionLost;
  return FormatText(LoadStr(id), {ServerName(), text});
}

std::string TnkConnection::ServerName() const {
  const THostPort target = Target();
  return HostPortText(DisplayText(target.host), port_ != 0 ? port_ : target.port.value_or(defaultPort_));
}

void TnkConnection::ReportError(std::string& text) {
  if (errorsReported_ && OnError) OnError(this, text);
}

void TnkConnection::RaiseIfInterrupted(TInterrupt order) {
  if (order != TInterrupt::TimeOutFirst && canceled_) RaiseCanceled();
  if (order != TInterrupt::CancelOnly && counter_.TimedOut()) RaiseTimedOut();
  if (canceled_) RaiseCanceled();
}

void TnkConnection::RaiseTimedOut() {
  counter_.Stop();
  std::string text = LoadStr(sOperationTimedOut);
  ReportError(text);  // a change by the handler is not taken: the text of a time-out stays fixed
  ETimedOutError error(AboutServer(LoadStr(sOperationTimedOut)));
  lookup_.Cancel();
  if (Ws().WSAIsBlocking()) Ws().WSACancelBlockingCall();
  Close();
  throw error;
}

void TnkConnection::RaiseCanceled() {
  counter_.Stop();
  std::string text = LoadStr(sOperationCanceled);
  ReportError(text);
  throw ECanceledError();
}

// --- Properties ------------------------------------------------------------------------------

bool TnkConnection::WinsockLoaded() const { return Ws().IsLoaded(); }

void TnkConnection::SetWinsockLoaded(bool loaded) {
  if (!loaded)
    Ws().Unload();
  else if (!Ws().IsLoaded())
    Ws().Load();
}

void TnkConnection::SetRAS(TnkRas* ras) {
  if (ras == ras_) return;
  if (ras_ != nullptr) ras_->RemoveFreeNotification(this);
  ras_ = ras;
  if (ras_ != nullptr) ras_->FreeNotification(this);
}

void TnkConnection::Notification(TComponent* component, TOperation operation) {
  TComponent::Notification(component, operation);
  if (operation == TOperation::opRemove && component == ras_) ras_ = nullptr;
}

void TnkConnection::WriteProperties(TPropertyWriter& writer) const {
  TComponent::WriteProperties(writer);
  writer.Property("WinsockLoaded", TPropValue::Bool(WinsockLoaded()));
  if (ras_ != nullptr) writer.Property("RAS", TPropValue::Ident(ras_->Name()));
}

bool TnkConnection::ReadProperty(const std::string& name, const TPropValue& value) {
  if (name == "WinsockLoaded") {
    SetWinsockLoaded(value.boolean);
    return true;
  }
  if (name != "RAS") return TComponent::ReadProperty(name, value);
  // A reference names a component of the same owner.
  TnkRas* ras = nullptr;
  for (int i = 0; Owner() != nullptr && i < Owner()->ComponentCount(); ++i)
    if (Owner()->Components(i)->Name() == value.text) ras = dynamic_cast<TnkRas*>(Owner()->Components(i));
  SetRAS(ras);
  return true;
}
