#include "net/nkutils.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "platform/tempfiles.h"
#include "platform/winsock.h"
#include "toolkit/pump.h"
#include "toolkit/strtable.h"

namespace {

// RFC 5321 4.2.1: 4yz is a transient negative reply, 5yz a permanent one.
TFailureKind ReplyKind(int code) { return code / 100 == 5 ? TFailureKind::Permanent : TFailureKind::Transient; }

TFailureScope ScopeOf(TSmtpStage stage) {
  switch (stage) {
    case TSmtpStage::Message: return TFailureScope::Message;
    case TSmtpStage::Recipient: return TFailureScope::Recipient;
    case TSmtpStage::Session: break;
  }
  return TFailureScope::Session;
}

TSmtpFailure ReplyFailure(int code, TSmtpStage stage) {
  // RFC 5321 3.8: 421 closes the session whatever the command was; so does a close without a
  // reply, which is a lost connection.
  if (code == 421 || code == 0) return {TFailureScope::Session, TFailureKind::Transient, false, TSessionOutcome::Ended};
  return {ScopeOf(stage), ReplyKind(code), false, TSessionOutcome::Usable};
}

TSmtpFailure SocketFailure(uint16_t code) {
  // A socket library error (refused, reset, unreachable, no such host yet) may pass; one
  // without a number is a usage error or a garbled server, which will not.
  return {TFailureScope::Session, code != 0 ? TFailureKind::Transient : TFailureKind::Permanent,
          code == WSAECONNREFUSED || code == WSAHOST_NOT_FOUND, TSessionOutcome::Lost};
}

constexpr TSmtpFailure kSessionPermanent{TFailureScope::Session, TFailureKind::Permanent};

}  // namespace

ESocketError::ESocketError(std::string text, uint16_t code)
    : ENetFailure(std::move(text), SocketFailure(code)), code_(code) {}

ESessionRefused::ESessionRefused(std::string text, std::string reply)
    : ENetFailure(std::move(text), kSessionPermanent, std::move(reply)) {}

EServerError::EServerError(std::string text, int code, TSmtpStage stage, std::string reply)
    : ENetFailure(std::move(text), ReplyFailure(code, stage), std::move(reply)), code_(code), stage_(stage) {}

// RFC 5321 6.1: a connection lost before the reply to the text leaves it unknown whether the
// server took responsibility for the message; sending it again risks a duplicate.
EPossibleDuplicate::EPossibleDuplicate(std::string text)
    : ENetFailure(std::move(text), {TFailureScope::Message, TFailureKind::Uncertain}) {}

// The user's: nothing is retried.
ECanceledError::ECanceledError() : ENetFailure(LoadStr(sOperationCanceled), kSessionPermanent) {}

ETimedOutError::ETimedOutError() : ETimedOutError(LoadStr(sOperationTimedOut)) {}

ETimedOutError::ETimedOutError(std::string text)
    : ENetFailure(std::move(text), {TFailureScope::Session, TFailureKind::Transient}) {}

// ---------------------------------------------------------------------------------------------

TTempFileStream::TTempFileStream() : TFileStream(CreateUnnamedTempFile(GetTempPath()), GetTempPath() + "px") {}

TTempFileStream::~TTempFileStream() {
  // Freeing the blocks of a file of a hundred megabytes takes the kernel most of a tenth of a
  // second: the file is shrunk in steps, with the window's messages dispatched between them.
  constexpr int64_t kStep = 16 << 20;
  try {
    for (int64_t size = Size() - kStep; size > 0; size -= kStep) {
      SetSize(size);
      ProcessMessages();
    }
  } catch (const std::exception&) {
    // Closing frees whatever is left.
  }
}

// ---------------------------------------------------------------------------------------------

TTimeCounter::TTimeCounter() {
  timer_.SetEnabled(false);
  timer_.SetInterval(1000);
  timer_.OnTimer = [this] { Tick(); };
}

void TTimeCounter::Start() {
  remaining_ = static_cast<int32_t>(timeOut_);
  timer_.SetEnabled(true);
}

void TTimeCounter::Stop() { timer_.SetEnabled(false); }

void TTimeCounter::Tick() {
  if (--remaining_ <= 0) timedOut_ = true;
}

// ---------------------------------------------------------------------------------------------

bool TReceivedLines::TakeLine(std::string& raw) {
  const char* start = bytes_.data() + start_;
  const size_t window = std::min(bytes_.size() - start_, maxLineLength_);
  const auto* lf = static_cast<const char*>(std::memchr(start, '\n', window));
  if (lf == nullptr) return false;
  const size_t length = static_cast<size_t>(lf - start) + 1;
  raw.assign(start, length);
  start_ += length;
  if (start_ == bytes_.size() || start_ >= maxLineLength_) {
    bytes_.erase(0, start_);
    start_ = 0;
  }
  return true;
}

void TReceivedLines::Clear() {
  bytes_.clear();
  start_ = 0;
}
