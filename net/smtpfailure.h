// Sorts a failed send the way a mail transfer agent does: by what it concerns (the session, the
// message, one recipient) and whether trying again later may mend it. The library's errors are
// sorted where they are raised and carry the result; retries, keep-going and the SMTP client's
// reuse of a session decide from it, never from an error's text.
#pragma once

#include <exception>
#include <optional>
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

// The steps of an SMTP session, in their order: where a failure came. RSET goes with MAIL, since
// it starts a transaction; STARTTLS and the handshake are Tls.
enum class TSmtpStep { Connect, Tls, Greeting, Ehlo, Auth, Mail, Rcpt, Data, Quit };

// Where in the dialogue a failure came, stamped by the SMTP client on the failure's way out.
struct TSmtpPlace {
  TSmtpStep step = TSmtpStep::Connect;
  bool loggedIn = false;  // the server had accepted a login on the session
};

// The base of the network layer's errors: each is sorted where it is raised.
class ENetFailure : public Exception {
 public:
  // reply: the server's reply the failure is about (its last line, as received); empty when none.
  ENetFailure(std::string text, const TSmtpFailure& failure, std::string reply = {})
      : Exception(std::move(text)), failure_(failure), reply_(std::move(reply)) {}
  const TSmtpFailure& Failure() const { return failure_; }
  const std::string& Reply() const { return reply_; }
  // RFC 5321 4.2: the reply's three digits; 0 without a reply, or for one that starts with none.
  int ReplyCode() const;
  // Nothing for a failure that no SMTP session saw (the socket client's own, a mailer's).
  const std::optional<TSmtpPlace>& Place() const { return place_; }
  // The first stamp holds: the catch nearest to the failure knows its step best.
  void StampPlace(const TSmtpPlace& place) {
    if (!place_) place_ = place;
  }

 private:
  TSmtpFailure failure_;
  std::string reply_;
  std::optional<TSmtpPlace> place_;
};

// What the failure raised by a send (or by reading its file) is: what a network error carries,
// else a sorting of the toolkit's and the message's errors. Anything unknown is taken as a
// permanent failure of the session, so that nothing unforeseen is retried or skipped over.
TSmtpFailure ClassifyFailure(const std::exception& error);
