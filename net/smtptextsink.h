// Where the composer writes a message on its way to the server: a stream that frames the text as
// it comes, stuffed for DATA (RFC 5321 4.5.2) or cut into BDAT chunks (RFC 3030), and hands each
// send to its target. Nothing of the message is kept but the send being gathered, so a message
// of any size takes the same memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "net/dotstuffing.h"
#include "toolkit/streams.h"

// The SMTP client, as the sink sees it.
class TSmtpTextTarget {
 public:
  // Once, before the first send: the envelope, as far as it goes before the text.
  virtual void BeginText() = 0;
  // One send of framed text. DATA: stuffed text, with the end-of-data mark when last. BDAT: one
  // chunk, its command ("BDAT n", "BDAT n LAST") and its n bytes.
  virtual void SendText(const std::string& framed, bool last) = 0;
  // The text has reached position, in steps of TnkSocket::kBlockSize.
  virtual void TextProgress(int64_t position) = 0;

 protected:
  ~TSmtpTextTarget() = default;
};

enum class TTextFraming { Data, Bdat };

class TSmtpTextSink : public TStream {
 public:
  // A BDAT chunk: large enough that its reply costs little next to its bytes, small enough to
  // be held while it is gathered.
  static constexpr size_t kChunkSize = 256 * 1024;
  // Stuffed text gathered for one send of DATA.
  static constexpr size_t kSendSize = 65536;

  // declared: the size announced with SIZE, which the text must have; -1 when none was.
  TSmtpTextSink(TSmtpTextTarget& target, TTextFraming framing, int64_t declared);

  int64_t Write(const void* buffer, int64_t count) override;
  // Only where the text stands: the composer rewinds a stream before it writes.
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  int64_t Read(void* buffer, int64_t count) override;
  void SetSize(int64_t size) override;
  int64_t Size() override { return written_; }

  // After the composer: sends the rest with the end of the message (the end-of-data mark, or
  // BDAT LAST). A text of another size than declared raises EMessageError instead, and its end
  // never goes out.
  void Finish();

 private:
  void Begin();
  void Take(std::string_view bytes);
  void SendChunk(bool last);
  [[noreturn]] void RaiseWrongSize(int64_t size) const;

  TSmtpTextTarget& target_;
  const TTextFraming framing_;
  const int64_t declared_;
  bool begun_ = false;
  int64_t written_ = 0;
  int64_t nextStep_;  // where the next progress step falls
  TDotStuffer stuffer_;
  std::string gathered_;  // DATA: stuffed text not sent yet; BDAT: the chunk being filled
};
