// How the socket client's text travels over its connection: as it is, or through a TLS session.
// The client reads lines and sends text the same way over either; only the transport knows
// whether the bytes are records. A transport never waits by itself: it sends and receives
// through the wire, the client's own socket calls with their waits, time-out and cancel.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "net/nktls.h"
#include "net/nkutils.h"

class TnkTlsChannel;

// The socket beneath a transport: the client's sends and receives.
class TnkWire {
 public:
  // Sends all bytes unless canceled or timed out; with restartCounter each send that moves
  // bytes starts the time-out again, so it limits a stall, not the whole buffer.
  virtual void SendRaw(const char* data, size_t size, bool restartCounter) = 0;
  // What the socket holds, waiting when nothing has come; empty when the server closed the
  // connection, or on cancel or time-out. The bytes stay valid until the next receive.
  virtual std::string_view ReceiveRaw() = 0;
  // One receive that never waits; with peek the bytes stay at the socket. Nothing when no byte
  // has come; empty when the server closed the connection or it failed.
  virtual std::optional<std::string_view> ReceiveNow(bool peek) = 0;
  // True once a cancel or the time-out has ended the waits.
  virtual bool Aborted() const = 0;
  // Reports why the TLS session failed and ends the connection: the ETlsError to raise.
  virtual ETlsError TlsFailure(const std::string& why) = 0;

 protected:
  ~TnkWire() = default;
};

class TnkTransport {
 public:
  enum class TLine {
    Line,       // a complete line was taken
    NeedBytes,  // what was received so far holds no complete line
    TooLong,    // no line feed within the longest line allowed
    Ended,      // the server has ended the session (TLS close_notify)
  };

  virtual ~TnkTransport() = default;

  // Sends text whole unless canceled or timed out; restartCounter as for TnkWire::SendRaw.
  virtual void Send(std::string_view text, bool restartCounter) = 0;
  // Takes bytes the wire received.
  virtual void Receive(std::string_view bytes) = 0;
  // The next line with its line feed, from what was received so far.
  virtual TLine TakeLine(std::string& raw) = 0;
  // True when received bytes are held: a read looks at them before it waits for more.
  virtual bool Pending() const = 0;
  // Looks at the socket without waiting: true when the server has ended the session or sent
  // something unasked (RFC 5321 3.8: a 421 before it closes).
  virtual bool ServerSpoke() = 0;
  // While on, a stream's small blocks may be held back to go out in larger pieces; the next
  // send with it off sends them first.
  virtual void Gather(bool /*on*/) {}
  // Forgets the blocks held back for a stream that was abandoned.
  virtual void DropGathered() {}
};

// The text as it is.
class TnkPlainTransport : public TnkTransport {
 public:
  // maxLineLength counts the line end.
  TnkPlainTransport(TnkWire& wire, size_t maxLineLength) : wire_(wire), lines_(maxLineLength) {}

  void Send(std::string_view text, bool restartCounter) override;
  void Receive(std::string_view bytes) override {
    lines_.Append(bytes.data(), bytes.size());
    received_ = true;
  }
  TLine TakeLine(std::string& raw) override;
  bool Pending() const override { return !lines_.Empty(); }
  bool ServerSpoke() override;
  // Forgets what was received: the connection is closed.
  void Clear() {
    lines_.Clear();
    received_ = false;
  }
  // True once the connection has carried text in the clear.
  bool Received() const { return received_; }

 private:
  TnkWire& wire_;
  TReceivedLines lines_;
  bool received_ = false;
};

// The text through a TLS session (TnkTlsChannel), from Start to End.
class TnkTlsTransport : public TnkTransport {
 public:
  TnkTlsTransport(TnkWire& wire, size_t maxLineLength);
  ~TnkTlsTransport() override;

  // A new session; host as for TnkTls. Like every failure of the session, one here ends the
  // connection (TnkWire::TlsFailure).
  void Start(const TnkTlsContext& context, const std::string& host);
  // Runs the handshake through the wire's waits. Ends with it complete, or on cancel or
  // time-out, which the caller raises.
  void Handshake();
  // The records that end an established session (RFC 8446 6.1), to be sent once.
  std::string CloseNotify();
  // Forgets the session: the connection is closed.
  void End();

  bool Started() const { return channel_ != nullptr; }
  bool Established() const;
  // The certificate check of the session; empty without one.
  const TnkTlsOutcome& Outcome() const;

  void Send(std::string_view text, bool restartCounter) override;
  void Receive(std::string_view bytes) override;
  TLine TakeLine(std::string& raw) override;
  bool Pending() const override;
  bool ServerSpoke() override;
  void Gather(bool on) override { gathering_ = on; }
  void DropGathered() override;

 private:
  // Runs a step of the session; a failure there ends the connection.
  template <typename Step>
  auto Guarded(Step step);
  // Sends the records the session has made; taken out first, since a cancel during the send
  // closes the connection and ends the session.
  void Flush(bool restartCounter);

  TnkWire& wire_;
  size_t maxLineLength_;
  std::unique_ptr<TnkTlsChannel> channel_;
  bool gathering_ = false;
};
