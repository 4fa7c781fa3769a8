// The socket client: a line-oriented TCP client conversation on the application thread. Look-ups,
// connect and reads are non-blocking; their results arrive as messages at a hidden window, and
// every wait blocks in the event loop until a notification, a cancel or the time-out, so the
// window stays alive while the client waits for a server.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "net/nkutils.h"
#include "platform/winsock.h"
#include "toolkit/components.h"
#include "toolkit/hostport.h"
#include "toolkit/secret.h"
#include "toolkit/stringlist.h"

class TnkRas;
class TnkTlsChannel;
class TnkTlsContext;
struct TnkTlsOutcome;
class TStream;

using TNotifyEvent = std::function<void(TComponent* Sender)>;
using TpxProgressEvent = std::function<void(TComponent* Sender, int32_t Perc, int32_t Transferred)>;
// The handler may rewrite Msg; the socket error raised afterwards carries the rewritten text.
using TpxErrorEvent = std::function<void(TComponent* Sender, std::string& Msg)>;
using TnkLineEvent = std::function<void(TComponent* Sender, const std::string& Line)>;

constexpr UINT WM_HOSTLOOKUP = WM_USER + 148;
constexpr UINT WM_SERVICELOOKUP = WM_USER + 149;
constexpr UINT WM_SOCKETEVENT = WM_USER + 150;

class TnkSocket : public TComponent {
 public:
  // A reply line may be this long with its line end; a longer one is an error.
  static constexpr size_t kMaxLineLength = 65536;
  // A reply may hold this many lines; a longer one is an error.
  static constexpr size_t kMaxReplyLines = 1000;
  // WriteStream sends the stream in blocks of this size.
  static constexpr int kBlockSize = 2047;

  explicit TnkSocket(TComponent* owner = nullptr);
  ~TnkSocket() override;
  const char* ClassName() const override { return "TnkSocket"; }

  // True while a socket is held: from the socket's creation in Open to Close.
  bool Connected() const { return socket_ != INVALID_SOCKET; }

  // Clears the cancel, time-out and notification state before a new connection.
  virtual void ResetState();
  // The first three characters as a number; -1 when they are not one.
  virtual int ReplyCode(const std::string& line);
  // Connects the linked dial-up component, starts the library, resolves Server's host and
  // port, creates the socket. A Server that is no "host[:port]" (ParseHostPort) is an error.
  virtual void Open();
  // Closes the socket, if one is held, and cancels the linked dial-up component.
  virtual void Close();
  // For a handler that runs during a wait: closes the socket; the wait raises ECanceledError.
  virtual void Cancel();

  // Connects to the resolved address and port.
  void ConnectSocket();
  // One line without its line end, and its reply code; -1 and an empty line when the server
  // closed before the line was complete. The time-out covers the line.
  int ReadLine(std::string& line);
  // One reply, single- or multi-line: the code of its first line; LastReply holds its last line.
  // With lines, every line of the reply is kept there too. The time-out covers the whole reply;
  // one of more than kMaxReplyLines lines raises ESocketError and closes the connection.
  int ReadReply(std::vector<std::string>* lines = nullptr);
  void WriteLine(const std::string& line);
  // Sends the lines, each with CR LF, in one write (RFC 2920 pipelining); each is logged.
  void WriteLines(const std::vector<std::string>& lines);
  // Sends the line as given, but the line log and OnLineSent see only "****": for lines that
  // carry a password or a token.
  void WriteSecretLine(std::string_view line);
  // Sends the whole stream from its start in blocks of kBlockSize, with OnProgress after each
  // block; the stream itself is read in larger pieces.
  void WriteStream(TStream& stream);

  // Starts TLS on the open connection: after the server's 220 to STARTTLS (RFC 3207), or right
  // after ConnectSocket for implicit TLS. The handshake runs through the client's waits (time-out,
  // cancel); afterwards every read and write goes through TLS until Close. Raises ETlsError
  // (after OnError, with the connection closed) when the handshake fails, the certificate is
  // refused, or the server sent bytes that were still unread when TLS began; the host checked is
  // Server's host part as typed.
  void StartTls(const TnkTlsContext& context);
  // True once the handshake is complete.
  bool Encrypted() const;
  // The certificate check of the current session: fingerprint, verified, note; empty without TLS.
  const TnkTlsOutcome& TlsOutcome() const;

  // True when the server has ended an idle connection or spoken on it unasked: end of stream,
  // a reset, or bytes waiting (a 421 before closing, RFC 5321 3.8). Looks without waiting.
  bool ServerLeftIdleSession();

  // Reports the error through OnError and raises ESocketError; code 0 reports nothing. OnError
  // gets the socket library's text; the raised text holds it and says which server it concerns
  // and what failed ("Cannot connect to host:25: Connection refused").
  void RaiseSocketError(uint16_t code);
  [[noreturn]] void RaiseSocketError(const std::string& text);

  bool WinsockLoaded() const;
  void SetWinsockLoaded(bool loaded);
  int TimeOut() const { return static_cast<int>(counter_.TimeOut()); }
  void SetTimeOut(int seconds) { counter_.SetTimeOut(static_cast<uint32_t>(seconds)); }
  const std::string& Server() const { return server_; }
  void SetServer(const std::string& server) { server_ = server; }
  const std::string& LogFileName() const { return logFileName_; }
  void SetLogFileName(const std::string& fileName) { logFileName_ = fileName; }
  uint16_t DefaultPort() const { return defaultPort_; }
  void SetDefaultPort(uint16_t port) { defaultPort_ = port; }
  const std::string& ServiceName() const { return serviceName_; }
  void SetServiceName(const std::string& name) { serviceName_ = name; }
  TnkRas* RAS() const { return ras_; }
  void SetRAS(TnkRas* ras);

  const std::string& RemoteAddress() const { return remoteAddressText_; }
  const std::string& LocalHost() const { return localHost_; }
  uint16_t Port() const { return port_; }  // host byte order, as resolved by Open
  const std::string& LastReply() const { return lastReply_; }
  // "host:port" for the texts that concern the server; before the port is resolved, the port
  // the user gave, else DefaultPort.
  std::string ServerName() const;
  const TStringList& LineLog() const { return lineLog_; }

  TNotifyEvent OnOpen;
  TNotifyEvent OnConnected;
  TNotifyEvent OnClosing;
  TNotifyEvent OnClosed;
  TNotifyEvent OnCancel;
  TpxProgressEvent OnProgress;
  TpxErrorEvent OnError;
  TnkLineEvent OnLineSent;
  TnkLineEvent OnLineReceived;

  void WriteProperties(TPropertyWriter& writer) const override;
  bool ReadProperty(const std::string& name, const TPropValue& value) override;

 protected:
  void Notification(TComponent* component, TOperation operation) override;

  // Sends one block of a stream. A writer that transforms the text on its way (SMTP dot
  // stuffing) overrides this and passes its output to SendBuffer.
  virtual void SendBlock(const char* data, size_t size);
  // Sends all bytes (through TLS when it is on) unless canceled or timed out; with
  // restartCounter each send that moves bytes starts the time-out again, so it limits a stall,
  // not the whole buffer.
  void SendBuffer(const char* data, size_t size, bool restartCounter);

  // What an operation raises for a cancel or a time-out that came while it waited, in its own
  // order when both came; CancelOnly where a time-out is taken otherwise, or before a wait.
  enum class TInterrupt { CancelFirst, TimeOutFirst, CancelOnly };
  void RaiseIfInterrupted(TInterrupt order);
  [[noreturn]] void RaiseTimedOut();
  [[noreturn]] void RaiseCanceled();
  // Adds a line to the line log (kept when LogFileName is set).
  void Log(const std::string& line);
  // Server without its port: the name (or address) as the user typed it.
  std::string HostPart() const;

  // While one exists, failures are raised without OnError: for a step whose failure no longer
  // concerns the user.
  class TQuietErrors {
   public:
    explicit TQuietErrors(TnkSocket& socket) : socket_(socket), was_(socket.errorsReported_) {
      socket_.errorsReported_ = false;
    }
    ~TQuietErrors() { socket_.errorsReported_ = was_; }
    TQuietErrors(const TQuietErrors&) = delete;
    TQuietErrors& operator=(const TQuietErrors&) = delete;

   private:
    TnkSocket& socket_;
    bool was_;
  };

 private:
  LRESULT WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  void SocketEvent(WPARAM socket, LPARAM lParam);
  template <typename Done>
  void Wait(Done done);
  bool Aborted() const { return canceled_ || counter_.TimedOut(); }
  template <typename Step>
  auto Tls(Step step);

  THostPort Target() const;
  void ResolveAddress(const std::string& host);
  void ResolvePort(std::optional<uint16_t> given);
  void WaitForLookup(const bool& done);
  void CancelPendingRequest();

  // A line within the time-out already running.
  int ReadReplyLine(std::string& line);
  bool ReceiveLine(std::string& raw);
  int Receive();
  void WaitForData();
  [[noreturn]] void RaiseLineTooLong();
  void SendRaw(const char* data, size_t size, bool restartCounter);
  // Sends text, a line with its CR LF, and shows it as shown.
  void SendLine(std::string_view text, const std::string& shown);

  bool UnreadBytesWaiting();
  void RunHandshake();
  bool ReceiveRecords();
  void FlushTls(bool restartCounter);
  bool ReceiveTlsLine(std::string& raw);
  [[noreturn]] void ReportTlsFailure(const std::string& text);

  // OnError gets text; with aboutServer, the raised text also names the server (AboutServer).
  [[noreturn]] void ReportAndRaise(std::string text, bool close, uint16_t code, bool aboutServer = false);
  // text, preceded by the server and what failed: making the connection, the TLS handshake, or
  // the connection once made.
  std::string AboutServer(const std::string& text) const;
  void FireProgress(int64_t position, int64_t size);
  void ReportError(std::string& text);
  void Fire(const TNotifyEvent& event);

  std::string server_;
  std::string logFileName_;
  uint16_t defaultPort_ = 0;
  std::string serviceName_;
  TnkRas* ras_ = nullptr;
  HWND window_ = 0;
  WSADATA startupData_{};
  SOCKET socket_ = INVALID_SOCKET;
  HANDLE pendingRequest_ = 0;
  TTimeCounter counter_;
  uint32_t remoteAddress_ = 0;  // network byte order
  std::string remoteAddressText_;
  std::string localHost_;
  uint16_t port_ = 0;
  int startupCount_ = 0;
  TStringList lineLog_;
  bool canceled_ = false;
  bool connecting_ = false;  // from Open until ConnectSocket has made the connection
  bool errorsReported_ = true;
  bool hostLookupDone_ = false;
  bool serviceLookupDone_ = false;
  bool connectSeen_ = false;
  bool readSeen_ = false;
  bool writeSeen_ = false;
  bool closeSeen_ = false;
  bool errorSeen_ = false;
  uint16_t errorCode_ = 0;
  uint16_t connectError_ = 0;  // carried by a failed FD_CONNECT
  std::string lastReply_;
  // Look-up replies are written here by the library; aligned for its records.
  alignas(8) std::array<char, MAXGETHOSTSTRUCT> hostEntry_{};
  alignas(8) std::array<char, MAXGETHOSTSTRUCT> serviceEntry_{};
  std::vector<char> receiveBuffer_;
  TReceivedLines received_;  // without TLS; over TLS the channel holds the text not yet read
  std::unique_ptr<TnkTlsChannel> tls_;
  bool streaming_ = false;  // inside WriteStream: over TLS, blocks are gathered into full records
};
