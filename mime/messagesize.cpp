#include "mime/messagesize.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <string_view>

#include "mail/pxmsg.h"
#include "mime/codecs/pxcodecs.h"
#include "mime/pxencoder.h"
#include "toolkit/exceptions.h"
#include "toolkit/pump.h"
#include "toolkit/regularfile.h"
#include "toolkit/streams.h"
#include "toolkit/strutils.h"

namespace {
constexpr size_t kReadBlock = 64 * 1024;

// Takes what it is given and keeps only the count.
class TCountingStream : public TStream {
 public:
  int64_t Read(void*, int64_t) override { return 0; }
  int64_t Write(const void*, int64_t count) override {
    position_ += count;
    size_ = std::max(size_, position_);
    return count;
  }
  int64_t Seek(int64_t offset, TSeekOrigin origin) override {
    if (origin == TSeekOrigin::soBeginning) position_ = offset;
    if (origin == TSeekOrigin::soCurrent) position_ += offset;
    if (origin == TSeekOrigin::soEnd) position_ = size_ + offset;
    return position_;
  }
  void SetSize(int64_t size) override { size_ = size; }
  int64_t Size() override { return size_; }

 private:
  int64_t position_ = 0;
  int64_t size_ = 0;
};

// The size of one layout of a part's bytes, and whether its last byte ends a line.
struct TLaidOut {
  uint64_t size = 0;
  bool endsLine = true;

  void Add(const std::string& text) {
    size += text.size();
    if (!text.empty()) endsLine = text.back() == '\n';
  }
};

// All that depends on every byte of a part, found in one pass.
struct TMeasured {
  TPartFacts facts;
  TLaidOut quotedPrintable;
  TLaidOut textLines;
};

// Opens path by the rule every file of a batch is opened with, or raises naming it.
int OpenFile(const std::string& path, struct stat& st) {
  std::string why;
  const int fd = OpenRegularFile(path, why, st);
  if (fd < 0) throw EInOutError("The file " + QuotedName(path) + " cannot be read: " + why);
  return fd;
}

class TFileDescriptor {
 public:
  explicit TFileDescriptor(int fd) : fd_(fd) {}
  ~TFileDescriptor() { ::close(fd_); }
  TFileDescriptor(const TFileDescriptor&) = delete;
  TFileDescriptor& operator=(const TFileDescriptor&) = delete;
  int Get() const { return fd_; }

 private:
  int fd_;
};

// The copy of the message's own headers that the composer takes the reserved ones from.
struct THeaderCopy {
  TpxHeaders headers;
};

// Runs the composer's header code over a counting stream and adds the size of each part's bytes
// without laying them out.
class TMessageSizer : private THeaderCopy, public TpxMessageEncoder {
 public:
  TMessageSizer(const TpxMessage& message, TAttachmentBytes bytes)
      : THeaderCopy{message.Headers()}, TpxMessageEncoder(message, headers), bytes_(bytes) {}

  uint64_t Size() {
    TCountingStream counter;
    SetOutput(&counter);
    Encode();
    return static_cast<uint64_t>(counter.Size()) + dataSize_;
  }

 protected:
  // A source's facts, once found, are those the composer takes: its bytes need no reading for a
  // Base64 part.
  TPartFacts ReadFacts(const TpxAttItem& item) override {
    TAttSource* source = bytes_ == TAttachmentBytes::InMemory ? item.Source() : nullptr;
    if (source != nullptr && source->KnownFacts()) return *source->KnownFacts();
    return Measured(item).facts;
  }

  bool WriteData(const TpxAttItem& item, TDataLayout layout) override {
    TLaidOut laidOut;
    switch (layout) {
      case TDataLayout::Base64: laidOut.size = Base64LinesSize(ByteCount(item)); break;
      case TDataLayout::UULines: laidOut.size = UULinesSize(ByteCount(item)); break;
      case TDataLayout::QuotedPrintable: laidOut = Measured(item).quotedPrintable; break;
      case TDataLayout::TextLines: laidOut = Measured(item).textLines; break;
    }
    dataSize_ += laidOut.size;
    return laidOut.endsLine;
  }

 private:
  // The composer's uuencoded lines: 45 bytes each, then the line of fewer that ends them.
  static uint64_t UULinesSize(uint64_t bytes) {
    return bytes / kUULineBytes * (UUEncodedLineLength(kUULineBytes) + 2) + UUEncodedLineLength(bytes % kUULineBytes) +
           2;
  }

  uint64_t ByteCount(const TpxAttItem& item) const {
    if (bytes_ == TAttachmentBytes::InMemory) return item.ByteCount();
    struct stat st;
    const TFileDescriptor file(OpenFile(item.FileName(), st));
    return static_cast<uint64_t>(st.st_size);
  }

  const TMeasured& Measured(const TpxAttItem& item) {
    const auto known = measured_.find(&item);
    if (known != measured_.end()) return known->second;
    TMeasured& measured = measured_[&item];
    TPartFactsReader facts;
    TQPEncoder quotedPrintable;
    TTextLineWriter textLines;
    std::string out;
    const auto add = [&](std::string_view block) {
      facts.Add(block);
      quotedPrintable.Add(block, out);
      measured.quotedPrintable.Add(out);
      out.clear();
      textLines.Add(block, out);
      measured.textLines.Add(out);
      out.clear();
      ProcessMessages();
    };
    EachBlock(item, add);
    quotedPrintable.Finish(out);
    measured.quotedPrintable.Add(out);
    measured.facts = facts.Facts();
    // The composer that follows reads the source's bytes once more, to send them, not for these.
    if (TAttSource* source = item.Source(); source != nullptr && bytes_ == TAttachmentBytes::InMemory)
      source->KnownFacts() = measured.facts;
    return measured;
  }

  void EachBlock(const TpxAttItem& item, const std::function<void(std::string_view)>& take) const {
    if (bytes_ == TAttachmentBytes::InMemory) return item.ReadBlocks(kReadBlock, take);
    struct stat st;
    const TFileDescriptor file(OpenFile(item.FileName(), st));
    std::string block(kReadBlock, '\0');
    for (;;) {
      const ssize_t n = ::read(file.Get(), block.data(), block.size());
      if (n < 0 && errno == EINTR) continue;
      if (n < 0)
        throw EInOutError("The file " + QuotedName(item.FileName()) + " cannot be read: " + std::strerror(errno));
      if (n == 0) return;
      take(std::string_view(block.data(), static_cast<size_t>(n)));
    }
  }

  const TAttachmentBytes bytes_;
  uint64_t dataSize_ = 0;
  std::map<const TpxAttItem*, TMeasured> measured_;
};
}  // namespace

uint64_t ComposedSize(const TpxMessage& message, TAttachmentBytes bytes) {
  return TMessageSizer(message, bytes).Size();
}
