// Sorts a failed send the way a mail transfer agent does: by what it concerns (the session, the
// message, one recipient) and whether trying again later may mend it. The library's errors are
// sorted where they are raised and carry the result; retries, keep-going and the SMTP client's
// reuse of a session decide from it, never from an error's text.
#pragma once

#include <exception>
#include <string>

#include "toolkit/exceptions.h"

enum class TFailureScope { Session, Message, Recipient };
// Uncertain: the server may have kept the message (the connection went, or the server fell
// silent, after its end and before the reply); sending it again may deliver it twice.
enum class TFailureKind { Transient, Permanent, Uncertain };
// What a failure leaves of the session, for a client that would carry the next message on it.
enum class TSessionOutcome {
  Usable,   // the server refused with a reply, or the message was never offered: the session goes on
  Ended,    // the server ended it (RFC 5321 3.8: a 421, or a close instead of a reply)
  Lost,     // the connection failed under the client; a message short of its end may go again
  Dropped,  // anything else: the client ends the session itself
};

struct TSmtpFailure {
  TFailureScope scope;
  TFailureKind kind;
  // The server could not be reached at all: the connection was refused or the host is unknown.
  // At the start of a batch that is a setting to mend, not a passing fault.
  bool unreachable = false;
  TSessionOutcome session = TSessionOutcome::Dropped;

  // Worth the same file again after a delay.
  bool Retryable() const { return kind == TFailureKind::Transient; }
  // A session that cannot be had (a certificate, a refused login, a server that refuses us):
  // every further file would fail alike, and a retried login may lock the account.
  bool EndsBatch() const { return scope == TFailureScope::Session && kind == TFailureKind::Permanent; }
};

// The base of the network layer's errors: each is sorted where it is raised.
class ENetFailure : public Exception {
 public:
  ENetFailure(std::string text, const TSmtpFailure& failure) : Exception(std::move(text)), failure_(failure) {}
  const TSmtpFailure& Failure() const { return failure_; }

 private:
  TSmtpFailure failure_;
};

// What the failure raised by a send (or by reading its file) is: what a network error carries,
// else a sorting of the toolkit's and the message's errors. Anything unknown is taken as a
// permanent failure of the session, so that nothing unforeseen is retried or skipped over.
TSmtpFailure ClassifyFailure(const std::exception& error);
