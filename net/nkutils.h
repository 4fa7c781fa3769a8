// Support objects of the network layer: a self-deleting temporary file stream, a seconds counter
// for time-outs, the received bytes not yet read as lines, and the transport's exceptions. The
// socket code finds the toolkit's line reader and line-file writer here too.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "net/smtpfailure.h"
#include "toolkit/exceptions.h"
#include "toolkit/linestream.h"
#include "toolkit/streams.h"
#include "toolkit/stringlist.h"
#include "toolkit/timer.h"

// Socket and usage errors of the socket client; the text is given at the raise. Code is the
// socket library's error number when one caused it (a refused connection, a reset), else 0.
class ESocketError : public ENetFailure {
 public:
  explicit ESocketError(std::string text, uint16_t code = 0);
  uint16_t Code() const { return code_; }

 protected:
  // For the socket errors that are sorted otherwise.
  ESocketError(std::string text, const TSmtpFailure& failure) : ENetFailure(std::move(text), failure), code_(0) {}

 private:
  uint16_t code_;
};

// The client refused to go on with the session, or the server refused the login: going on or
// trying again would send a secret in the clear or lock an account.
class ESessionRefused : public ENetFailure {
 public:
  // reply: the server's refusal, when it gave one.
  explicit ESessionRefused(std::string text, std::string reply = {});
};

// What a refused command was about: the session (greeting, EHLO, STARTTLS, AUTH, RSET, QUIT),
// the message (MAIL FROM, DATA, the text) or one recipient (RCPT TO).
enum class TSmtpStage { Session, Message, Recipient };

// A server reply of the wrong class; the text names the server, what it refused (the session,
// the message, a recipient) and its reply line, made safe to show. Code is the reply's code, 0
// when the server closed instead of replying, -1 for a line that starts with no code; reply is
// the line itself.
class EServerError : public ENetFailure {
 public:
  explicit EServerError(std::string text, int code = 0, TSmtpStage stage = TSmtpStage::Session, std::string reply = {});
  int Code() const { return code_; }
  TSmtpStage Stage() const { return stage_; }

 private:
  int code_;
  TSmtpStage stage_;
};

// The connection was lost after the end-of-data mark and before the reply to it: the server may
// or may not have kept the message. A possible duplicate when sent again.
class EPossibleDuplicate : public ENetFailure {
 public:
  explicit EPossibleDuplicate(std::string text);
};

// "Operation has been canceled".
class ECanceledError : public ENetFailure {
 public:
  ECanceledError();
};

// "Operation timed out", or a text that holds it and says which server did not answer.
class ETimedOutError : public ENetFailure {
 public:
  ETimedOutError();
  explicit ETimedOutError(std::string text);
};

// A file stream on a fresh file in the temporary directory, opened for reading and writing, that
// has no name (the message it holds is never left behind, not even by a crash); its blocks are
// freed when the stream goes away.
class TTempFileStream : public TFileStream {
 public:
  TTempFileStream();
  ~TTempFileStream() override;
};

// Counts seconds down from TimeOut once started and sets TimedOut when none are left. It ticks
// from the event loop, so it only advances while the thread dispatches events (a wait loop).
class TTimeCounter {
 public:
  TTimeCounter();
  TTimeCounter(const TTimeCounter&) = delete;
  TTimeCounter& operator=(const TTimeCounter&) = delete;

  // Remaining = TimeOut and the ticks begin; TimedOut is left as it is.
  void Start();
  // The ticks end; Remaining and TimedOut keep their values.
  void Stop();

  uint32_t TimeOut() const { return timeOut_; }
  void SetTimeOut(uint32_t seconds) { timeOut_ = seconds; }
  bool TimedOut() const { return timedOut_; }
  void SetTimedOut(bool timedOut) { timedOut_ = timedOut; }
  int32_t Remaining() const { return remaining_; }

 private:
  void Tick();

  TTimer timer_;
  int32_t remaining_ = 0;
  uint32_t timeOut_ = 60;
  bool timedOut_ = false;
};

// Runs the counter for its own lifetime: the span that one time-out covers, however it ends.
class TTimedSpan {
 public:
  explicit TTimedSpan(TTimeCounter& counter) : counter_(counter) { counter_.Start(); }
  ~TTimedSpan() { counter_.Stop(); }
  TTimedSpan(const TTimedSpan&) = delete;
  TTimedSpan& operator=(const TTimedSpan&) = delete;

 private:
  TTimeCounter& counter_;
};

// Bytes received from a server and not yet handed up as lines: a reply of many short lines comes
// in one receive call and goes up line by line. The bytes handed up are dropped in large steps
// only, so that what follows is not moved once per line.
class TReceivedLines {
 public:
  // maxLineLength counts the line end.
  explicit TReceivedLines(size_t maxLineLength) : maxLineLength_(maxLineLength) {}

  void Append(const char* data, size_t size) { bytes_.append(data, size); }
  // The next line with its line feed; false when the bytes held end before one.
  bool TakeLine(std::string& raw);
  // When TakeLine found no line: true when the bytes held are too many for one, so the line
  // they start can never end within the longest allowed.
  bool Overlong() const { return bytes_.size() - start_ >= maxLineLength_; }
  bool Empty() const { return start_ == bytes_.size(); }
  void Clear();

 private:
  size_t maxLineLength_;
  std::string bytes_;
  size_t start_ = 0;  // where the next line starts in bytes_
};
