// Sorts a failed send the way a mail transfer agent does: by what it concerns (the session, the
// message, one recipient) and whether trying again later may mend it. Retries and keep-going
// decide from this, never from an error's text.
#pragma once

#include <exception>

enum class TFailureScope { Session, Message, Recipient };
enum class TFailureKind { Transient, Permanent };

struct TSmtpFailure {
  TFailureScope scope;
  TFailureKind kind;

  // Worth the same file again after a delay.
  bool Retryable() const { return kind == TFailureKind::Transient; }
  // A session that cannot be had (a certificate, a refused login, a server that refuses us):
  // every further file would fail alike, and a retried login may lock the account.
  bool EndsBatch() const { return scope == TFailureScope::Session && kind == TFailureKind::Permanent; }
};

// What the failure raised by a send (or by reading its file) is. Anything unknown is taken as a
// permanent failure of the session, so that nothing unforeseen is retried or skipped over.
TSmtpFailure ClassifyFailure(const std::exception& error);
