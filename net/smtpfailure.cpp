#include "net/smtpfailure.h"

#include "mail/pxmsg.h"
#include "net/nktls.h"
#include "net/nkutils.h"
#include "net/pxsasl.h"
#include "platform/winsock.h"

namespace {

// RFC 5321 4.2.1: 4yz is a transient negative reply, 5yz a permanent one.
TFailureKind ReplyKind(int code) { return code / 100 == 5 ? TFailureKind::Permanent : TFailureKind::Transient; }

TSmtpFailure FromReply(const EServerError& e) {
  // RFC 5321 3.8: 421 closes the session whatever the command was; so does a close without a
  // reply, which is a lost connection.
  if (e.Code() == 421 || e.Code() == 0) return {TFailureScope::Session, TFailureKind::Transient};
  switch (e.Stage()) {
    case TSmtpStage::Message: return {TFailureScope::Message, ReplyKind(e.Code())};
    case TSmtpStage::Recipient: return {TFailureScope::Recipient, ReplyKind(e.Code())};
    case TSmtpStage::Session: break;
  }
  return {TFailureScope::Session, ReplyKind(e.Code())};
}

}  // namespace

TSmtpFailure ClassifyFailure(const std::exception& error) {
  constexpr TSmtpFailure kSessionPermanent{TFailureScope::Session, TFailureKind::Permanent};
  if (const auto* reply = dynamic_cast<const EServerError*>(&error)) return FromReply(*reply);
  // RFC 5321 6.1: a connection lost before the reply to the text leaves it unknown whether the
  // server took responsibility for the message; sending it again risks a duplicate.
  if (dynamic_cast<const EPossibleDuplicate*>(&error) != nullptr) return {TFailureScope::Message, TFailureKind::Uncertain};
  if (dynamic_cast<const ETlsError*>(&error) != nullptr || dynamic_cast<const ESessionRefused*>(&error) != nullptr ||
      dynamic_cast<const EAuthError*>(&error) != nullptr)
    return kSessionPermanent;
  // A socket library error (refused, reset, unreachable, no such host yet) may pass; one
  // without a number is a usage error or a garbled server, which will not.
  if (const auto* socket = dynamic_cast<const ESocketError*>(&error))
    return {TFailureScope::Session, socket->Code() != 0 ? TFailureKind::Transient : TFailureKind::Permanent,
            socket->Code() == WSAECONNREFUSED || socket->Code() == WSAHOST_NOT_FOUND};
  if (dynamic_cast<const ETimedOutError*>(&error) != nullptr) return {TFailureScope::Session, TFailureKind::Transient};
  // A message that cannot be built (a bad address, too large) or a file that cannot be read.
  if (dynamic_cast<const EMessageError*>(&error) != nullptr || dynamic_cast<const EStreamError*>(&error) != nullptr ||
      dynamic_cast<const EInOutError*>(&error) != nullptr)
    return {TFailureScope::Message, TFailureKind::Permanent};
  return kSessionPermanent;
}
