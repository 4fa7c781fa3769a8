// A line reader over a memory stream.
#pragma once

#include <cstddef>
#include <string>

#include "toolkit/streams.h"

// Reads the lines of its own contents from the current position. Lines end at CR LF, a lone
// LF or a lone CR; the line ends are not returned. Every line comes back whole, whatever its
// length, including a last line without a line end; after the last line ReadLine returns
// kLineStreamEnd and sets Eof. A zero byte is kept as part of its line.
class TLineStream : public TMemoryStream {
 public:
  static const std::string kLineStreamEnd;  // four bytes of 0xFF

  void ReadLine(std::string& line);
  // Starts again from the first byte.
  void Reset();
  bool Eof() const { return eof_; }

 private:
  // Where a byte was last searched for and found (npos: not up to the end of data of that
  // size), so that data with only one kind of line end is not searched again from each line.
  struct Hit {
    size_t from = 0;
    size_t at = 0;
    size_t size = 0;
  };
  size_t Find(char c, size_t from, Hit& hit) const;

  bool eof_ = false;
  Hit cr_;
  Hit lf_;
};
