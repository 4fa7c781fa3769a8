// Sorts a failed send the way a mail transfer agent does: by what it concerns (the session, the
// message, one recipient) and whether trying again later may mend it. Retries and keep-going
// decide from this, never from an error's text.
#pragma once

#include <exception>

enum class TFailureScope { Session, Message, Recipient };
// Uncertain: the server may have kept the message (the connection went, or the server fell
// silent, after its end and before the reply); sending it again may deliver it twice.
enum class TFailureKind { Transient, Permanent, Uncertain };

struct TSmtpFailure {
  TFailureScope scope;
  TFailureKind kind;
  // The server could not be reached at all: the connection was refused or the host is unknown.
  // At the start of a batch that is a setting to mend, not a passing fault.
  bool unreachable = false;

  // Worth the same file again after a delay.
  bool Retryable() const { return kind == TFailureKind::Transient; }
  // A session that cannot be had (a certificate, a refused login, a server that refuses us):
  // every further file would fail alike, and a retried login may lock the account.
  bool EndsBatch() const { return scope == TFailureScope::Session && kind == TFailureKind::Permanent; }
};

// What the failure raised by a send (or by reading its file) is. Anything unknown is taken as a
// permanent failure of the session, so that nothing unforeseen is retried or skipped over.
TSmtpFailure ClassifyFailure(const std::exception& error);
