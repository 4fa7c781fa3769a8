#include "mime/partbytes.h"

#include <algorithm>

#include "toolkit/strutils.h"

namespace {
// The longest line SMTP carries, without its CR LF.
constexpr size_t kMaxTextLine = 998;

// The bytes of the character a lead byte starts; 0 for a byte that starts none.
size_t LeadLength(unsigned char c) {
  if (c < 0x80) return 1;
  if ((c & 0xE0) == 0xC0) return 2;
  if ((c & 0xF0) == 0xE0) return 3;
  if ((c & 0xF8) == 0xF0) return 4;
  return 0;
}

// How many bytes at the end of bytes start a character that they do not complete.
size_t CutCharacter(std::string_view bytes) {
  for (size_t k = 1; k <= std::min<size_t>(3, bytes.size()); ++k) {
    const auto c = static_cast<unsigned char>(bytes[bytes.size() - k]);
    if ((c & 0xC0) == 0x80) continue;
    return LeadLength(c) > k ? k : 0;
  }
  return 0;
}
}  // namespace

void TPartFactsReader::Add(std::string_view block) {
  if (block.empty()) return;
  facts_.size += block.size();
  facts_.ascii = facts_.ascii && IsAscii(block);
  AddUtf8(block);
  AddLines(block);
  beforeLast_ = block.size() > 1 ? block[block.size() - 2] : last_;
  last_ = block.back();
}

// Valid in pieces that end between characters is valid whole: UTF-8 reads the same from any
// character's start.
void TPartFactsReader::AddUtf8(std::string_view block) {
  if (!facts_.utf8) return;
  if (!utf8Carry_.empty()) {
    const size_t missing = LeadLength(static_cast<unsigned char>(utf8Carry_[0])) - utf8Carry_.size();
    const size_t taken = std::min(missing, block.size());
    utf8Carry_.append(block.substr(0, taken));
    block.remove_prefix(taken);
    if (taken < missing) return;
    facts_.utf8 = IsValidUtf8(utf8Carry_);
    utf8Carry_.clear();
  }
  const size_t cut = CutCharacter(block);
  facts_.utf8 = facts_.utf8 && IsValidUtf8(block.substr(0, block.size() - cut));
  utf8Carry_ = block.substr(block.size() - cut);
}

void TPartFactsReader::AddLines(std::string_view block) {
  for (size_t i = 0; facts_.travelsAsLines && i < block.size();) {
    if (afterCr_) {
      facts_.travelsAsLines = block[i++] == '\n';
      afterCr_ = false;
      lineLength_ = 0;
      continue;
    }
    const size_t end = block.find_first_of(std::string_view("\r\n\0", 3), i);
    lineLength_ += (end == std::string_view::npos ? block.size() : end) - i;
    facts_.travelsAsLines = lineLength_ <= kMaxTextLine && (end == std::string_view::npos || block[end] == '\r');
    if (end == std::string_view::npos) break;
    afterCr_ = true;
    i = end + 1;
  }
}

TPartFacts TPartFactsReader::Facts() const {
  TPartFacts facts = facts_;
  facts.utf8 = facts.utf8 && utf8Carry_.empty();
  facts.travelsAsLines = facts.travelsAsLines && !afterCr_;
  facts.endsWithCrLf = facts.size >= 2 && beforeLast_ == '\r' && last_ == '\n';
  return facts;
}

TPartFacts PartFactsOf(std::string_view bytes) {
  TPartFactsReader reader;
  reader.Add(bytes);
  return reader.Facts();
}

void TTextLineWriter::Add(std::string_view block, std::string& out) {
  if (block.empty()) return;
  size_t pos = 0;
  if (afterCr_ && !block.empty() && block[0] == '\n') pos = 1;  // the LF of a CR LF already written
  afterCr_ = false;
  while (pos < block.size()) {
    const size_t end = block.find_first_of("\r\n", pos);
    if (end == std::string_view::npos) {
      out.append(block.substr(pos));
      return;
    }
    out.append(block.substr(pos, end - pos)).append("\r\n");
    if (block[end] == '\n') {
      pos = end + 1;
    } else if (end + 1 < block.size()) {
      pos = end + (block[end + 1] == '\n' ? 2 : 1);
    } else {
      afterCr_ = true;
      return;
    }
  }
}
