#include "net/smtpfailure.h"

#include <algorithm>

#include "mail/pxmsg.h"

int ENetFailure::ReplyCode() const {
  const bool digits = reply_.size() >= 3 &&
                      std::all_of(reply_.begin(), reply_.begin() + 3, [](char c) { return c >= '0' && c <= '9'; });
  return digits ? std::stoi(reply_.substr(0, 3)) : 0;
}

TSmtpFailure ClassifyFailure(const std::exception& error) {
  if (const auto* failure = dynamic_cast<const ENetFailure*>(&error)) return failure->Failure();
  // A message that cannot be built (a bad address, too large) or composed was never offered to
  // the server, so the session goes on; a file that cannot be read or written ends it.
  if (dynamic_cast<const EMessageError*>(&error) != nullptr || dynamic_cast<const EStreamError*>(&error) != nullptr)
    return {TFailureScope::Message, TFailureKind::Permanent, false, TSessionOutcome::Usable};
  if (dynamic_cast<const EInOutError*>(&error) != nullptr) return {TFailureScope::Message, TFailureKind::Permanent};
  return {TFailureScope::Session, TFailureKind::Permanent};
}
