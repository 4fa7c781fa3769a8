#include "net/smtptextsink.h"

#include <algorithm>

#include "mail/pxmsg.h"
#include "net/nksocket.h"

TSmtpTextSink::TSmtpTextSink(TSmtpTextTarget& target, TTextFraming framing, int64_t declared)
    : target_(target), framing_(framing), declared_(declared), nextStep_(TnkSocket::kBlockSize) {
  // A send's whole size from the start: the text is never copied into a larger buffer as it
  // gathers. DATA: a send goes once it reaches kSendSize, after one more piece (a progress
  // step at most, stuffed at most twice over); BDAT: a chunk with its command.
  gathered_.reserve(framing == TTextFraming::Data ? kSendSize + 2 * TnkSocket::kBlockSize : kChunkSize + 32);
}

// The envelope waits for the first byte, so that a composer failing at once (an attachment that
// cannot be read) leaves the server with nothing of the message.
void TSmtpTextSink::Begin() {
  if (begun_) return;
  begun_ = true;
  target_.BeginText();
}

int64_t TSmtpTextSink::Write(const void* buffer, int64_t count) {
  if (count <= 0) return 0;
  // More than declared: raised before the excess goes out.
  if (declared_ >= 0 && written_ + count > declared_) RaiseWrongSize(written_ + count);
  Begin();
  const auto* bytes = static_cast<const char*>(buffer);
  // Progress comes in the block steps the socket's streams have always had.
  for (int64_t at = 0; at < count;) {
    const int64_t piece = std::min(count - at, nextStep_ - written_);
    Take({bytes + at, static_cast<size_t>(piece)});
    at += piece;
    written_ += piece;
    if (written_ == nextStep_) {
      target_.TextProgress(written_);
      nextStep_ += TnkSocket::kBlockSize;
    }
  }
  return count;
}

void TSmtpTextSink::Take(std::string_view bytes) {
  if (framing_ == TTextFraming::Data) {
    stuffer_.Stuff(bytes, gathered_);
    if (gathered_.size() < kSendSize) return;
    target_.SendText(gathered_, false);
    gathered_.clear();
    return;
  }
  // A full chunk goes only when more follows: the last one always carries bytes, unless the
  // whole text is empty.
  while (!bytes.empty()) {
    if (gathered_.size() == kChunkSize) SendChunk(false);
    const size_t piece = std::min(bytes.size(), kChunkSize - gathered_.size());
    gathered_.append(bytes.substr(0, piece));
    bytes.remove_prefix(piece);
  }
}

// RFC 3030 2: "BDAT" SP chunk-size [SP "LAST"] CR LF, then exactly chunk-size bytes.
void TSmtpTextSink::SendChunk(bool last) {
  const std::string command = "BDAT " + std::to_string(gathered_.size()) + (last ? " LAST" : "") + "\r\n";
  gathered_.insert(0, command);
  target_.SendText(gathered_, last);
  gathered_.clear();
}

void TSmtpTextSink::Finish() {
  if (declared_ >= 0 && written_ != declared_) RaiseWrongSize(written_);
  Begin();
  // The last step, or the one step of an empty text.
  if (written_ == 0 || written_ % TnkSocket::kBlockSize != 0) target_.TextProgress(written_);
  if (framing_ == TTextFraming::Bdat) return SendChunk(true);
  // RFC 5321 4.1.1.4: the mark is CR LF "." CR LF, whose CR LF may be the one that ends the
  // text's last line; a text that ends inside a line gets its own.
  if (stuffer_.LineOpen()) gathered_ += "\r\n";
  gathered_ += ".\r\n";
  target_.SendText(gathered_, true);
  gathered_.clear();
}

void TSmtpTextSink::RaiseWrongSize(int64_t size) const {
  throw EMessageError("The composer wrote " + std::to_string(size) + " bytes of a message announced as " +
                      std::to_string(declared_) + " bytes; the message was not sent");
}

int64_t TSmtpTextSink::Seek(int64_t offset, TSeekOrigin origin) {
  const int64_t target = origin == TSeekOrigin::soBeginning ? offset : written_ + offset;
  if (target != written_)
    throw EStreamError("The message text goes to the server as it is written and cannot be rewound");
  return written_;
}

int64_t TSmtpTextSink::Read(void*, int64_t) { throw EStreamError("The message text cannot be read back"); }

void TSmtpTextSink::SetSize(int64_t) { throw EStreamError("The message text cannot be cut"); }
