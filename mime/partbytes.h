// What the composer reads of an attachment's bytes besides encoding them: the facts that choose
// the part's transfer encoding and character set, and the layout of 7bit text lines. Both take
// the bytes in blocks of any size, so that the size of a message can be found by reading its
// files once, a block at a time, as well as from bytes in memory.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "mail/attsource.h"

class TPartFactsReader {
 public:
  void Add(std::string_view block);
  // The facts of all the blocks added.
  TPartFacts Facts() const;

 private:
  void AddUtf8(std::string_view block);
  void AddLines(std::string_view block);

  TPartFacts facts_;
  std::string utf8Carry_;  // the start of a character that the block's end cut
  size_t lineLength_ = 0;
  bool afterCr_ = false;  // the last byte was a CR: a LF must follow
  char last_ = 0, beforeLast_ = 0;
};

TPartFacts PartFactsOf(std::string_view bytes);

// 7bit data is a sequence of lines (RFC 2045 2.7): every line end, CR LF, a lone CR or a lone
// LF, is written as CR LF; no other byte changes. A last line without a line end stays without
// one, so that the line end that follows belongs to the delimiter (RFC 2046 5.1.1). A CR LF cut
// by a block's end is still one line end.
class TTextLineWriter {
 public:
  void Add(std::string_view block, std::string& out);

 private:
  bool afterCr_ = false;
};
