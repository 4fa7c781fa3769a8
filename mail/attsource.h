// Where an attachment's bytes come from when the item does not hold them in memory: a source
// read from its first byte at each use, a block at a time, so that no more than a block of them
// is held however many there are.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string_view>

// What a reading of every byte of a part finds (mime/partbytes has the rules that find it).
struct TPartFacts {
  uint64_t size = 0;
  bool ascii = true;
  bool utf8 = true;
  // Lines of at most 998 bytes that end in CR LF, with no NUL (RFC 5322 2.1.1, RFC 5321
  // 4.5.3.1.6): what 7bit data may be, or it would arrive changed or be refused.
  bool travelsAsLines = true;
  bool endsWithCrLf = false;
};

class TAttSource {
 public:
  virtual ~TAttSource() = default;
  // The number of bytes each read hands over.
  virtual uint64_t Size() const = 0;
  // Hands the bytes to take in order from the first, in blocks (none empty). Raises when they
  // cannot all be read, or are no longer the Size bytes they were; what take raises passes
  // through and ends the read.
  virtual void Read(const std::function<void(std::string_view)>& take) = 0;

  // The facts of the bytes once a reader has found them: a source whose bytes change fails its
  // next read, so they hold for every read that succeeds and need not be read for again.
  std::optional<TPartFacts>& KnownFacts() { return knownFacts_; }

 private:
  std::optional<TPartFacts> knownFacts_;
};
