// The socket client's connection, on the application thread: the socket and its hidden window,
// the one wait, look-ups and connect, TLS start and close, cancel, errors and the published
// properties. Look-ups, connect and reads are non-blocking; their results arrive as messages at
// the hidden window, and every wait blocks in the event loop until a notification, a cancel or
// the time-out, so the window stays alive while the client waits for a server. The socket
// client (nksocket) reads and writes lines and streams over it.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "net/nklookup.h"
#include "net/nktransport.h"
#include "net/nkutils.h"
#include "platform/winsock.h"
#include "toolkit/components.h"
#include "toolkit/hostport.h"
#include "toolkit/stringlist.h"

class TnkRas;

using TNotifyEvent = std::function<void(TComponent* Sender)>;
// The handler may rewrite Msg; the socket error raised afterwards carries the rewritten text.
using TpxErrorEvent = std::function<void(TComponent* Sender, std::string& Msg)>;

constexpr UINT WM_SOCKETEVENT = WM_USER + 150;

class TnkConnection : public TComponent, protected TnkWire {
 public:
  // A reply line may be this long with its line end; a longer one is an error.
  static constexpr size_t kMaxLineLength = 65536;

  explicit TnkConnection(TComponent* owner = nullptr);
  ~TnkConnection() override;

  // True while a socket is held: from the socket's creation in Open to Close.
  bool Connected() const { return socket_ != INVALID_SOCKET; }

  // Clears the cancel, time-out and notification state before a new connection.
  virtual void ResetState();
  // Connects the linked dial-up component, starts the library, resolves Server's host and
  // port, creates the socket. A Server that is no "host[:port]" (ParseHostPort) is an error.
  virtual void Open();
  // Closes the socket, if one is held, and cancels the linked dial-up component.
  virtual void Close();
  // For a handler that runs during a wait: closes the socket; the wait raises ECanceledError.
  virtual void Cancel();
  // Connects to the resolved address and port.
  void ConnectSocket();

  // Starts TLS on the open connection: after the server's 220 to STARTTLS (RFC 3207), or right
  // after ConnectSocket for implicit TLS. The handshake runs through the client's waits (time-out,
  // cancel); afterwards every read and write goes through TLS until Close. Raises ETlsError
  // (after OnError, with the connection closed) when the handshake fails, the certificate is
  // refused, or the server sent bytes after its reply to STARTTLS that were still unread when TLS
  // began; the host checked is Server's host part as typed.
  void StartTls(const TnkTlsContext& context);
  // True once the handshake is complete.
  bool Encrypted() const { return tls_.Established(); }
  // The certificate check of the current session: fingerprint, verified, note; empty without TLS.
  const TnkTlsOutcome& TlsOutcome() const { return tls_.Outcome(); }

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
  // "host:port" for the texts that concern the server; before the port is resolved, the port
  // the user gave, else DefaultPort.
  std::string ServerName() const;
  const TStringList& LineLog() const { return lineLog_; }

  TNotifyEvent OnOpen;
  TNotifyEvent OnConnected;
  TNotifyEvent OnClosing;
  TNotifyEvent OnClosed;
  TNotifyEvent OnCancel;
  TpxErrorEvent OnError;

  void WriteProperties(TPropertyWriter& writer) const override;
  bool ReadProperty(const std::string& name, const TPropValue& value) override;

 protected:
  void Notification(TComponent* component, TOperation operation) override;

  // The text's way over the connection: as it is, or through TLS once StartTls has run.
  TnkTransport& Transport() { return *transport_; }
  // Before a read: waits for the socket unless the transport holds received bytes, then raises
  // for a cancel, a time-out or an error the library reported, in that order.
  void AwaitReadable();
  // Waits at most ms for the server to send something, close or fail, within the time-out
  // running; false when it did none of these. Raises nothing: the read that follows does.
  bool AwaitReadableWithin(int ms);
  // Opens a second connection to the same address and port, tries only a TLS handshake on it
  // with context, and closes it: true when the handshake completed. Its failures are not
  // reported; a Cancel of this connection ends it too. It has what is left of the time-out.
  bool AnswersTlsHandshake(const TnkTlsContext& context);
  // The server has ended the session: no more of a reply will come.
  void MarkClosed() { closeSeen_ = true; }
  bool CloseSeen() const { return closeSeen_; }
  TTimeCounter& Counter() { return counter_; }

  // What an operation raises for a cancel or a time-out that came while it waited, in its own
  // order when both came; CancelOnly where a time-out is taken otherwise, or before a wait.
  enum class TInterrupt { CancelFirst, TimeOutFirst, CancelOnly };
  void RaiseIfInterrupted(TInterrupt order);
  // OnError gets text; with aboutServer, the raised text also names the server (AboutServer).
  [[noreturn]] void ReportAndRaise(std::string text, bool close, uint16_t code, bool aboutServer = false);
  // Adds a line to the line log (kept when LogFileName is set).
  void Log(const std::string& line);

  // While one exists, failures are raised without OnError: for a step whose failure no longer
  // concerns the user.
  class TQuietErrors {
   public:
    explicit TQuietErrors(TnkConnection& connection) : connection_(connection), was_(connection.errorsReported_) {
      connection_.errorsReported_ = false;
    }
    ~TQuietErrors() { connection_.errorsReported_ = was_; }
    TQuietErrors(const TQuietErrors&) = delete;
    TQuietErrors& operator=(const TQuietErrors&) = delete;

   private:
    TnkConnection& connection_;
    bool was_;
  };

  // The wire beneath the transports.
  void SendRaw(const char* data, size_t size, bool restartCounter) override;
  std::string_view ReceiveRaw() override;
  std::optional<std::string_view> ReceiveNow(bool peek) override;
  bool Aborted() const override { return canceled_ || counter_.TimedOut(); }
  // A TLS failure leaves nothing to say to the server: neither a plain-text QUIT nor another try.
  ETlsError TlsFailure(const std::string& why) override;

 private:
  friend class TnkLookup;  // waits in the one wait and raises the connection's errors

  LRESULT WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  void SocketEvent(WPARAM socket, LPARAM lParam);
  // The one wait: dispatches events until done() holds, or a cancel or the time-out came.
  void Wait(const std::function<bool()>& done);
  // Waits for bytes, the server's close or an error.
  void WaitForData();

  THostPort Target() const;
  // Server without its port: the name (or address) as the user typed it.
  std::string HostPart() const;
  // True when bytes came before TLS began that nobody has read (RFC 3207 5).
  bool UnreadBytesWaiting();

  [[noreturn]] void RaiseTimedOut();
  [[noreturn]] void RaiseCanceled();
  // text, preceded by the server and what failed: making the connection, the TLS handshake, or
  // the connection once made.
  std::string AboutServer(const std::string& text) const;
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
  TTimeCounter counter_;
  TnkLookup lookup_{*this};
  uint32_t remoteAddress_ = 0;  // network byte order
  std::string remoteAddressText_;
  std::string localHost_;
  uint16_t port_ = 0;
  int startupCount_ = 0;
  TStringList lineLog_;
  bool canceled_ = false;
  bool connecting_ = false;  // from Open until ConnectSocket has made the connection
  bool errorsReported_ = true;
  bool connectSeen_ = false;
  bool readSeen_ = false;
  bool writeSeen_ = false;
  bool closeSeen_ = false;
  bool errorSeen_ = false;
  uint16_t errorCode_ = 0;
  uint16_t connectError_ = 0;  // carried by a failed FD_CONNECT
  std::vector<char> receiveBuffer_;
  TnkPlainTransport plain_;
  TnkTlsTransport tls_;
  TnkTransport* transport_ = &plain_;
  TnkConnection* probe_ = nullptr;  // while AnswersTlsHandshake runs
};
