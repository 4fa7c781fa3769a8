#include "net/nksocket.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cmath>

#include "net/nkRasCmp.h"
#include "net/tlschannel.h"
#include "net/nkwinsock.h"
#include "platform/modules.h"
#include "toolkit/pump.h"
#include "toolkit/streams.h"
#include "toolkit/strtable.h"
#include "toolkit/strutils.h"

namespace {
constexpr long kSocketEvents = FD_READ | FD_WRITE | FD_CONNECT | FD_CLOSE;
constexpr uint16_t kWinsockVersion = 0x0101;
// Any event ends a slice early; the slice only bounds a wait that nothing wakes.
constexpr int kWaitSliceMs = 1000;
const char kSuppressedBody[] = "Suppressing the message body";
const char kMaskedLine[] = "****";

TnkWinsock& Ws() { return SharedWinsock(); }

std::string DottedText(const unsigned char* bytes) {
  return std::to_string(bytes[0]) + "." + std::to_string(bytes[1]) + "." +
         std::to_string(bytes[2]) + "." + std::to_string(bytes[3]);
}

// RFC 5321 4.2.1: the last line of a reply has a blank or nothing after its code.
bool EndsReply(const std::string& line) { return line.size() == 3 || line.find(' ') == 3; }
}  // namespace

TnkSocket::TnkSocket(TComponent* owner)
    : TComponent(owner), receiveBuffer_(kMaxLineLength), received_(kMaxLineLength) {
  window_ = AllocateHWnd([this](HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return WindowProc(window, message, wParam, lParam);
  });
  SetWinsockLoaded(false);
}

TnkSocket::~TnkSocket() {
  // The library must not write into this object or post to it once it is gone, and a socket
  // still held would outlive its owner.
  try {
    CancelPendingRequest();
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

void TnkSocket::ResetState() {
  canceled_ = false;
  counter_.SetTimedOut(false);
  CancelPendingRequest();
  errorSeen_ = false;
  hostLookupDone_ = serviceLookupDone_ = false;
  connectSeen_ = readSeen_ = writeSeen_ = closeSeen_ = false;
  connectError_ = 0;
}

LRESULT TnkSocket::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_HOSTLOOKUP:
    case WM_SERVICELOOKUP:
      // The reply to a request given up (canceled, timed out) may still have been queued.
      if (wParam == 0 || wParam != pendingRequest_) return 0;
      (message == WM_HOSTLOOKUP ? hostLookupDone_ : serviceLookupDone_) = true;
      errorCode_ = WSAGetSelectError(lParam);
      errorSeen_ = errorCode_ != 0;
      return 0;
    case WM_SOCKETEVENT:
      SocketEvent(wParam, lParam);
      return 0;
    default:
      return DefWindowProc(window, message, wParam, lParam);
  }
}

void TnkSocket::SocketEvent(WPARAM socket, LPARAM lParam) {
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

template <typename Done>
void TnkSocket::Wait(Done done) {
  while (!done() && !Aborted()) WaitForEvents(kWaitSliceMs);
}

// Runs a step of the TLS session; a failure there ends the connection (ReportTlsFailure).
template <typename Step>
auto TnkSocket::Tls(Step step) {
  try {
    return step();
  } catch (const ETlsError& e) {
    ReportTlsFailure(e.what());
  }
}

void TnkSocket::CancelPendingRequest() {
  if (pendingRequest_ == 0) return;
  const HANDLE request = pendingRequest_;
  pendingRequest_ = 0;
  Ws().WSACancelAsyncRequest(request);
}

void TnkSocket::Fire(const TNotifyEvent& event) {
  if (event) event(this);
}

void TnkSocket::Log(const std::string& line) {
  if (!logFileName_.empty()) lineLog_.Add(line);
}

// --- Open: library, address, port, socket ----------------------------------------------------

void TnkSocket::Open() {
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
  if (Ws().WSAStartup(kWinsockVersion, &startupData_) != 0)
    RaiseSocketError(LoadStr(sInvalidWinsockVersion));
  ++startupCount_;
  std::array<char, 512> name{};
  localHost_ = Ws().gethostname(name.data(), static_cast<int>(name.size())) == 0 ? name.data()
                                                                                  : target.host;
  ResolveAddress(target.host);
  ResolvePort(target.port);
  tls_.reset();
  socket_ = Ws().socket(WS_AF_INET, WS_SOCK_STREAM, 0);
  if (socket_ == INVALID_SOCKET) RaiseSocketError(static_cast<uint16_t>(Ws().WSAGetLastError()));
}

// Open refuses a Server that is no host and port; the texts about it show such a one as typed.
THostPort TnkSocket::Target() const {
  try {
    return ParseHostPort(server_);
  } catch (const EConvertError&) {
    return {server_, std::nullopt};
  }
}

std::string TnkSocket::HostPart() const { return Target().host; }

void TnkSocket::WaitForLookup(const bool& done) {
  {
    const TTimedSpan span(counter_);
    Wait([&done] { return done; });
  }
  if (!done) CancelPendingRequest();  // so that its reply can no longer be written or posted
  pendingRequest_ = 0;
}

void TnkSocket::ResolveAddress(const std::string& host) {
  uint32_t address = Ws().inet_addr(host.c_str());
  if (address != WS_INADDR_NONE) {
    remoteAddress_ = address;
    remoteAddressText_ = DottedText(reinterpret_cast<const unsigned char*>(&address));
    return;
  }
  hostLookupDone_ = false;
  pendingRequest_ = Ws().WSAAsyncGetHostByName(window_, WM_HOSTLOOKUP, host.c_str(),
                                               hostEntry_.data(), static_cast<int>(hostEntry_.size()));
  if (pendingRequest_ == 0) {
    // A look-up that cannot start must not leave the caller waiting for the time-out.
    const int error = Ws().WSAGetLastError();
    RaiseSocketError(static_cast<uint16_t>(error != 0 ? error : WSAHOST_NOT_FOUND));
  }
  WaitForLookup(hostLookupDone_);
  if (hostLookupDone_ && errorSeen_) RaiseSocketError(errorCode_);
  RaiseIfInterrupted(TInterrupt::TimeOutFirst);
  ProcessMessagesNow();
  const auto* entry = reinterpret_cast<const HOSTENT*>(hostEntry_.data());
  if (entry->h_addr_list[0] == nullptr) ReportAndRaise(LoadStr(sErrorResolvingHost), false, 0, true);
  remoteAddressText_ = DottedText(reinterpret_cast<const unsigned char*>(entry->h_addr_list[0]));
  address = Ws().inet_addr(remoteAddressText_.c_str());
  if (address == WS_INADDR_NONE) ReportAndRaise(LoadStr(sErrorResolvingHost), false, 0, true);
  remoteAddress_ = address;
}

// Without a port in Server, the services database names the service's; failing that, DefaultPort.
void TnkSocket::ResolvePort(std::optional<uint16_t> given) {
  if (given) {
    port_ = *given;
    return;
  }
  if (serviceName_.empty()) RaiseSocketError(LoadStr(sServiceNameRequired));
  RaiseIfInterrupted(TInterrupt::CancelOnly);
  serviceLookupDone_ = false;
  pendingRequest_ = Ws().WSAAsyncGetServByName(window_, WM_SERVICELOOKUP, serviceName_.c_str(), "tcp",
                                               serviceEntry_.data(),
                                               static_cast<int>(serviceEntry_.size()));
  if (pendingRequest_ == 0) {
    port_ = defaultPort_;
    return;
  }
  WaitForLookup(serviceLookupDone_);
  if ((serviceLookupDone_ && errorSeen_) || counter_.TimedOut()) {
    port_ = defaultPort_;
    return;
  }
  RaiseIfInterrupted(TInterrupt::CancelOnly);
  const auto* entry = reinterpret_cast<const SERVENT*>(serviceEntry_.data());
  port_ = Ws().htons(static_cast<uint16_t>(entry->s_port));
}

// --- Connect and close -----------------------------------------------------------------------

void TnkSocket::ConnectSocket() {
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

void TnkSocket::Close() {
  if (Connected()) {
    Fire(OnClosing);
    if (Encrypted()) {
      // RFC 8446 6.1: close_notify, sent once if the socket takes it now; Close never waits.
      const std::string alert = tls_->CloseNotify();
      Ws().send(socket_, alert.data(), static_cast<int>(alert.size()), 0);
    }
    Ws().closesocket(socket_);
    socket_ = INVALID_SOCKET;
    Fire(OnClosed);
  }
  received_.Clear();
  tls_.reset();
  // Hangs up only a connection the dial-up component dialled itself, and stops its dialling.
  if (ras_ != nullptr) ras_->Cancel();
}

void TnkSocket::Cancel() {
  canceled_ = true;
  Fire(OnCancel);
  CancelPendingRequest();
  Close();
}

// --- Reading ---------------------------------------------------------------------------------

int TnkSocket::ReplyCode(const std::string& line) {
  long long code = 0;
  return TryStrToInt(line.substr(0, 3), code) ? static_cast<int>(code) : -1;
}

int TnkSocket::ReadLine(std::string& line) {
  const TTimedSpan span(counter_);
  return ReadReplyLine(line);
}

int TnkSocket::ReadReplyLine(std::string& line) {
  if (!Connected()) RaiseSocketError(LoadStr(sConnectFirst));
  // A line may be received or decrypted already, with nothing more to come from the socket.
  if (!tls_ && received_.Empty()) Wait([this] { return readSeen_ || closeSeen_ || errorSeen_; });
  RaiseIfInterrupted(TInterrupt::CancelFirst);
  if (errorSeen_) RaiseSocketError(errorCode_);
  line.clear();
  int code = -1;
  try {
    std::string raw;
    if (tls_ ? ReceiveTlsLine(raw) : ReceiveLine(raw)) {
      raw.erase(raw.find_last_not_of("\r\n") + 1);
      line = raw;
      code = ReplyCode(line);
    }
    RaiseIfInterrupted(TInterrupt::TimeOutFirst);
  } catch (...) {
    Log(line);
    if (OnLineReceived) OnLineReceived(this, line);
    throw;
  }
  Log(line);
  if (OnLineReceived) OnLineReceived(this, line);
  return code;
}

// False when the server closed before the line feed, or on cancel or time-out.
bool TnkSocket::ReceiveLine(std::string& raw) {
  while (!received_.TakeLine(raw)) {
    // The rest of an overlong line would be read as the next reply: the conversation is lost.
    if (received_.Overlong()) RaiseLineTooLong();
    const int n = Receive();
    if (n == 0) return false;
    received_.Append(receiveBuffer_.data(), static_cast<size_t>(n));
  }
  return true;
}

// Receives into receiveBuffer_, waiting when nothing has come: the count of bytes, or 0 when the
// server closed the connection, or on cancel or time-out.
int TnkSocket::Receive() {
  while (!Aborted()) {
    readSeen_ = false;
    const int n = Ws().recv(socket_, receiveBuffer_.data(), static_cast<int>(receiveBuffer_.size()), 0);
    if (n > 0) return n;
    if (n == 0) {
      closeSeen_ = true;  // the end of the data is the server's close, whether or not FD_CLOSE came
      return 0;
    }
    const int error = Ws().WSAGetLastError();
    if (canceled_) return 0;
    if (error != WSAEWOULDBLOCK) RaiseSocketError(static_cast<uint16_t>(error));
    if (closeSeen_) return 0;
    WaitForData();
  }
  return 0;
}

void TnkSocket::WaitForData() {
  Wait([this] { return readSeen_ || closeSeen_ || errorSeen_; });
  if (errorSeen_ && !Aborted()) RaiseSocketError(errorCode_);
}

void TnkSocket::RaiseLineTooLong() {
  ReportAndRaise(FormatText(LoadStr(sReplyLineTooLong), {ServerName()}), true, 0);
}

// RFC 5321 4.5.3.2: a time-out is for the reply to a command, so one runs over the whole reply,
// and a server that keeps sending continuation lines cannot hold the client for ever.
int TnkSocket::ReadReply(std::vector<std::string>* lines) {
  auto keep = [&] {
    if (lines != nullptr) lines->push_back(lastReply_);
  };
  if (lines != nullptr) lines->clear();
  const TTimedSpan span(counter_);
  const int code = ReadReplyLine(lastReply_);
  keep();
  if (code <= 0 || lastReply_.find('-') != 3) return code;
  for (size_t count = 1;; ++count) {
    // What is left of the reply would be read as the next one: the conversation is lost.
    if (count == kMaxReplyLines)
      ReportAndRaise(FormatText(LoadStr(sReplyTooLong), {ServerName(), std::to_string(kMaxReplyLines)}), true, 0);
    const int next = ReadReplyLine(lastReply_);
    keep();
    if (closeSeen_ || (next == code && EndsReply(lastReply_))) return code;
  }
}

// --- Writing ---------------------------------------------------------------------------------

void TnkSocket::WriteLine(const std::string& line) { SendLine(line + "\r\n", line); }

void TnkSocket::WriteLines(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\r\n";
  SendLine(text, {});
  for (const std::string& line : lines) {
    Log(line);
    if (OnLineSent) OnLineSent(this, line);
  }
}

// The one place where a secret is kept out of the log and the events; its copy with the line
// end is wiped once sent.
void TnkSocket::WriteSecretLine(std::string_view line) {
  TSecret text;
  text.Text().reserve(line.size() + 2);
  text.Text().append(line).append("\r\n");
  SendLine(text.View(), kMaskedLine);
}

void TnkSocket::SendLine(std::string_view text, const std::string& shown) {
  if (!Connected()) RaiseSocketError(LoadStr(sConnectFirst));
  {
    const TTimedSpan span(counter_);
    SendBuffer(text.data(), text.size(), false);
  }
  RaiseIfInterrupted(TInterrupt::TimeOutFirst);
  if (shown.empty()) return;  // the caller shows the lines itself
  Log(shown);
  if (OnLineSent) OnLineSent(this, shown);
}

void TnkSocket::SendBuffer(const char* data, size_t size, bool restartCounter) {
  if (!tls_) return SendRaw(data, size, restartCounter);
  Tls([&] { tls_->Write(data, size, streaming_); });
  FlushTls(restartCounter);
}

void TnkSocket::SendRaw(const char* data, size_t size, bool restartCounter) {
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

void TnkSocket::SendBlock(const char* data, size_t size) { SendBuffer(data, size, true); }

void TnkSocket::WriteStream(TStream& stream) {
  if (!Connected()) RaiseSocketError(LoadStr(sConnectFirst));
  stream.SetPosition(0);
  Log(kSuppressedBody);
  const int64_t size = stream.Size();
  // Whole blocks per read: one system call per 64 KiB, while progress keeps its block steps.
  std::vector<char> piece(static_cast<size_t>(kBlockSize) * 32);
  int64_t position = 0;
  streaming_ = true;
  struct Guard {
    TnkSocket& socket;
    ~Guard() {
      socket.streaming_ = false;
      if (socket.tls_) socket.tls_->DropGathered();
    }
  } guard{*this};
  int64_t n = 0;
  do {
    n = stream.Read(piece.data(), static_cast<int64_t>(piece.size()));
    for (int64_t at = 0; (at < n || position == 0) && !Aborted(); at += kBlockSize) {
      const int64_t block = std::min<int64_t>(kBlockSize, n - at);
      {
        const TTimedSpan span(counter_);
        SendBlock(piece.data() + at, static_cast<size_t>(block));
      }
      position += block;
      FireProgress(position, size);
      if (position == 0) break;  // an empty stream still reports its progress once
    }
  } while (n == static_cast<int64_t>(piece.size()) && !Aborted());
  streaming_ = false;
  if (!Aborted()) {
    const TTimedSpan span(counter_);
    SendBuffer(nullptr, 0, true);  // over TLS, the blocks gathered last
  }
  RaiseIfInterrupted(TInterrupt::TimeOutFirst);
  if (OnProgress) OnProgress(this, 0, 0);
}

void TnkSocket::FireProgress(int64_t position, int64_t size) {
  if (!OnProgress) return;
  // Half to even, the default rounding mode; an empty stream counts as complete.
  const double perc = size > 0 ? std::nearbyint(static_cast<double>(position) * 100.0 / static_cast<double>(size))
                               : 100.0;
  OnProgress(this, static_cast<int32_t>(perc), static_cast<int32_t>(std::min<int64_t>(position, INT32_MAX)));
}

// --- TLS -------------------------------------------------------------------------------------

bool TnkSocket::Encrypted() const { return tls_ && tls_->Established(); }

const TnkTlsOutcome& TnkSocket::TlsOutcome() const {
  static const TnkTlsOutcome kNone;
  return tls_ ? tls_->Outcome() : kNone;
}

void TnkSocket::StartTls(const TnkTlsContext& context) {
  if (!Connected()) RaiseSocketError(LoadStr(sConnectFirst));
  if (tls_) RaiseSocketError("TLS has already been started on this connection");
  // RFC 3207 5: what the server sent before the handshake came in the clear and would be read
  // as if it had come over TLS (command injection).
  if (UnreadBytesWaiting()) ReportTlsFailure("the server sent data before the handshake");
  tls_ = Tls([&] { return std::make_unique<TnkTlsChannel>(context, HostPart(), kMaxLineLength); });
  {
    const TTimedSpan span(counter_);
    RunHandshake();
  }
  RaiseIfInterrupted(TInterrupt::TimeOutFirst);
  const TnkTlsOutcome& outcome = tls_->Outcome();
  Log("TLS started: " + outcome.protocol + ", " + outcome.cipher);
  if (!outcome.note.empty()) Log("TLS note: " + outcome.note);
}

bool TnkSocket::ServerLeftIdleSession() {
  if (!Connected() || closeSeen_ || errorSeen_ || !received_.Empty()) return true;
  if (tls_ && tls_->HasText()) return true;
  const int n = Ws().recv(socket_, receiveBuffer_.data(), static_cast<int>(receiveBuffer_.size()),
                          tls_ ? 0 : WS_MSG_PEEK);
  if (n < 0) return Ws().WSAGetLastError() != WSAEWOULDBLOCK;
  if (n == 0 || !tls_) return true;
  // Over TLS, records the server sends on its own (session tickets) are no words of its.
  tls_->PutReceived(receiveBuffer_.data(), static_cast<size_t>(n));
  return !Tls([this] { return tls_->Decrypt(); }) || tls_->HasText();
}

bool TnkSocket::UnreadBytesWaiting() {
  char byte = 0;
  return !received_.Empty() || Ws().recv(socket_, &byte, 1, WS_MSG_PEEK) > 0;
}

// Ends with the handshake complete, or on cancel or time-out (the caller raises those).
void TnkSocket::RunHandshake() {
  while (!Tls([this] { return tls_->Handshake(); })) {
    FlushTls(false);
    if (Aborted()) return;
    if (ReceiveRecords()) continue;
    if (Aborted()) return;
    ReportTlsFailure("the server closed the connection during the handshake");
  }
  FlushTls(false);  // the client's Finished
}

// Hands what the socket holds to TLS, waiting when nothing has come; false when the server
// closed the connection, or on cancel or time-out.
bool TnkSocket::ReceiveRecords() {
  const int n = Receive();
  if (n > 0) tls_->PutReceived(receiveBuffer_.data(), static_cast<size_t>(n));
  return n > 0;
}

void TnkSocket::FlushTls(bool restartCounter) {
  if (!tls_) return;
  // Taken out first: a cancel during the send closes the connection and ends the session.
  const std::string records = tls_->TakeOutput();
  SendRaw(records.data(), records.size(), restartCounter);
}

bool TnkSocket::ReceiveTlsLine(std::string& raw) {
  while (!Aborted() && tls_) {
    switch (Tls([&] { return tls_->NextLine(raw); })) {
      case TnkTlsChannel::TRead::Line: return true;
      case TnkTlsChannel::TRead::TooLong: RaiseLineTooLong();
      case TnkTlsChannel::TRead::Ended: closeSeen_ = true; return false;
      case TnkTlsChannel::TRead::NeedRecords: if (!ReceiveRecords()) return false;
    }
  }
  return false;
}

// A TLS failure leaves nothing to say to the server: neither a plain-text QUIT nor another try.
void TnkSocket::ReportTlsFailure(const std::string& text) {
  counter_.Stop();
  std::string message = text;
  if (OnError) OnError(this, message);
  Close();
  throw ETlsError(FormatText(LoadStr(sTlsFailed), {ServerName(), message}));
}

// --- Errors ----------------------------------------------------------------------------------

void TnkSocket::RaiseSocketError(uint16_t code) {
  if (code == 0) return;
  ReportAndRaise(WinsockErrorText(code), code == WSAECONNRESET, code, true);
}

void TnkSocket::RaiseSocketError(const std::string& text) { ReportAndRaise(text, false, 0); }

void TnkSocket::ReportAndRaise(std::string text, bool close, uint16_t code, bool aboutServer) {
  counter_.Stop();
  ReportError(text);
  // Before the close, which ends the TLS session that AboutServer asks about.
  std::string raised = aboutServer ? AboutServer(text) : text;
  if (close) Close();
  throw ESocketError(std::move(raised), code);
}

std::string TnkSocket::AboutServer(const std::string& text) const {
  const int id = connecting_ ? sCannotConnect : tls_ && !tls_->Established() ? sTlsFailed : sConnectionLost;
  return FormatText(LoadStr(id), {ServerName(), text});
}

std::string TnkSocket::ServerName() const {
  const THostPort target = Target();
  return HostPortText(DisplayText(target.host), port_ != 0 ? port_ : target.port.value_or(defaultPort_));
}

void TnkSocket::ReportError(std::string& text) {
  if (errorsReported_ && OnError) OnError(this, text);
}

void TnkSocket::RaiseTimedOut() {
  counter_.Stop();
  std::string text = LoadStr(sOperationTimedOut);
  ReportError(text);  // a change by the handler is not taken: the text of a time-out stays fixed
  ETimedOutError error(AboutServer(LoadStr(sOperationTimedOut)));
  CancelPendingRequest();
  if (Ws().WSAIsBlocking()) Ws().WSACancelBlockingCall();
  Close();
  throw error;
}

void TnkSocket::RaiseIfInterrupted(TInterrupt order) {
  if (order != TInterrupt::TimeOutFirst && canceled_) RaiseCanceled();
  if (order != TInterrupt::CancelOnly && counter_.TimedOut()) RaiseTimedOut();
  if (canceled_) RaiseCanceled();
}

void TnkSocket::RaiseCanceled() {
  counter_.Stop();
  std::string text = LoadStr(sOperationCanceled);
  ReportError(text);
  throw ECanceledError();
}

// --- Properties ------------------------------------------------------------------------------

bool TnkSocket::WinsockLoaded() const { return Ws().IsLoaded(); }

void TnkSocket::SetWinsockLoaded(bool loaded) {
  if (!loaded) Ws().Unload();
  else if (!Ws().IsLoaded()) Ws().Load();
}

void TnkSocket::SetRAS(TnkRas* ras) {
  if (ras == ras_) return;
  if (ras_ != nullptr) ras_->RemoveFreeNotification(this);
  ras_ = ras;
  if (ras_ != nullptr) ras_->FreeNotification(this);
}

void TnkSocket::Notification(TComponent* component, TOperation operation) {
  TComponent::Notification(component, operation);
  if (operation == TOperation::opRemove && component == ras_) ras_ = nullptr;
}

void TnkSocket::WriteProperties(TPropertyWriter& writer) const {
  TComponent::WriteProperties(writer);
  writer.Property("WinsockLoaded", TPropValue::Bool(WinsockLoaded()));
  if (ras_ != nullptr) writer.Property("RAS", TPropValue::Ident(ras_->Name()));
}

bool TnkSocket::ReadProperty(const std::string& name, const TPropValue& value) {
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
