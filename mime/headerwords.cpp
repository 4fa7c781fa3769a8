#include "mime/headerwords.h"

#include <algorithm>
#include <cstdint>

#include "mime/codecs/base64.h"
#include "mime/pxencoder.h"
#include "toolkit/strutils.h"

namespace {

constexpr std::string_view kHex = "0123456789ABCDEF";

bool IsContinuationByte(char c) { return (static_cast<uint8_t>(c) & 0xC0) == 0x80; }

// RFC 2047 5 (3): the characters a Q word may carry as they are, even inside a phrase.
bool IsPlainQ(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
         std::string_view("!*+-/").find(c) != std::string_view::npos;
}

size_t QCost(char c) { return IsPlainQ(c) || c == ' ' ? 1 : 3; }

void AppendQ(std::string_view bytes, std::string& out) {
  for (const char c : bytes) {
    if (c == ' ') {
      out += '_';
    } else if (IsPlainQ(c)) {
      out += c;
    } else {
      out += '=';
      out += kHex[static_cast<uint8_t>(c) >> 4];
      out += kHex[static_cast<uint8_t>(c) & 15];
    }
  }
}

// Where text may be cut: before any character of UTF-8 text, anywhere in other bytes.
class TCharacters {
 public:
  explicit TCharacters(std::string_view text) : text_(text), utf8_(IsValidUtf8(text)) {}
  std::string_view Charset() const { return utf8_ ? "UTF-8" : "unknown-8bit"; }
  bool IsBoundary(size_t at) const { return at >= text_.size() || !utf8_ || !IsContinuationByte(text_[at]); }
  // The end of the character that starts at `at`.
  size_t Next(size_t at) const {
    do ++at;
    while (!IsBoundary(at));
    return at;
  }

 private:
  std::string_view text_;
  bool utf8_;
};

// The bytes from `from` that one B word of room characters of encoded text carries: all the
// rest when it fits (the last word may be padded), else the longest piece that is a multiple
// of three bytes and ends at a character boundary; 0 when there is none.
size_t BPiece(std::string_view text, const TCharacters& chars, size_t from, size_t room) {
  const size_t most = room / 4 * 3;
  if (text.size() - from <= most) return text.size() - from;
  for (size_t n = most / 3 * 3; n > 0; n -= 3)
    if (chars.IsBoundary(from + n)) return n;
  return 0;
}

// The bytes from `from` that one Q word carries: whole characters while they fit, at least one.
size_t QPiece(std::string_view text, const TCharacters& chars, size_t from, size_t room) {
  size_t end = from;
  size_t used = 0;
  while (end < text.size()) {
    const size_t next = chars.Next(end);
    size_t cost = 0;
    for (size_t i = end; i < next; ++i) cost += QCost(text[i]);
    if (used + cost > room && end > from) break;
    used += cost;
    end = next;
  }
  return end - from;
}

size_t QLength(std::string_view text) {
  size_t length = 0;
  for (const char c : text) length += QCost(c);
  return length;
}

// RFC 2231 7: attribute-char, the characters an extended value may carry unescaped.
bool IsAttributeChar(char c) {
  return c > ' ' && static_cast<uint8_t>(c) < 0x7F &&
         std::string_view("*'%()<>@,;:\\\"/[]?=").find(c) == std::string_view::npos;
}

std::string PercentEncoded(std::string_view bytes) {
  std::string out;
  for (const char c : bytes) {
    if (IsAttributeChar(c)) {
      out += c;
    } else {
      out += '%';
      out += kHex[static_cast<uint8_t>(c) >> 4];
      out += kHex[static_cast<uint8_t>(c) & 15];
    }
  }
  return out;
}

// The value cut into percent-encoded sections of at most room characters each, whole
// characters in each.
std::vector<std::string> ParameterSections(std::string_view value, size_t firstRoom, size_t room) {
  const TCharacters chars(value);
  std::vector<std::string> sections(1);
  for (size_t at = 0; at < value.size();) {
    const size_t next = chars.Next(at);
    const std::string piece = PercentEncoded(value.substr(at, next - at));
    const size_t limit = sections.size() == 1 ? firstRoom : room;
    if (!sections.back().empty() && sections.back().size() + piece.size() > limit) sections.emplace_back();
    sections.back() += piece;
    at = next;
  }
  return sections;
}

}  // namespace

bool NeedsEncodedWords(std::string_view text) {
  const bool control = std::any_of(text.begin(), text.end(),
                                   [](char c) { return (static_cast<uint8_t>(c) < 0x20 && c != '\t') || c == 0x7F; });
  return control || !IsAscii(text) || text.find("=?") != std::string_view::npos;
}

std::vector<std::string> EncodedWords(std::string_view text, size_t firstWord) {
  const TCharacters chars(text);
  const std::string prefix = "=?" + std::string(chars.Charset()) + "?";
  const size_t overhead = prefix.size() + 4;  // "B?" and "?="
  const bool base64 = (text.size() + 2) / 3 * 4 <= QLength(text);
  std::vector<std::string> words;
  size_t room = std::min(firstWord, kMaxEncodedWord) - overhead;
  for (size_t from = 0; from < text.size(); room = kMaxEncodedWord - overhead) {
    const size_t b = base64 ? BPiece(text, chars, from, room) : 0;
    std::string word = prefix + (b > 0 ? "B?" : "Q?");
    const size_t n = b > 0 ? b : QPiece(text, chars, from, room);
    if (b > 0) {
      AppendBase64(text.substr(from, n), word);
    } else {
      AppendQ(text.substr(from, n), word);
    }
    words.push_back(word + "?=");
    from += n;
  }
  return words;
}

std::string FoldedHeader(std::string_view head, const std::vector<std::string>& tokens) {
  std::string out(head);
  size_t lineLength = head.size();
  for (size_t i = 0; i < tokens.size(); ++i) {
    const std::string& token = tokens[i];
    if (i == 0) {
      out += token;
      lineLength += token.size();
    } else if (lineLength + 1 + token.size() <= kFoldedLineLength) {
      out += ' ' + token;
      lineLength += 1 + token.size();
    } else {
      out += "\r\n " + token;
      lineLength = 1 + token.size();
    }
  }
  return out;
}

std::string FoldedLongLine(std::string_view line) {
  std::string out;
  while (line.size() > kMaxLineLength) {
    const size_t blank = line.substr(1, kMaxLineLength).find_last_of(" \t");
    const size_t cut = blank == std::string_view::npos ? kMaxLineLength - 1 : blank + 1;
    out.append(line.substr(0, cut)).append(blank == std::string_view::npos ? "\r\n " : "\r\n");
    line.remove_prefix(cut);
  }
  return out.append(line);
}

std::string FileNameParameter(std::string_view attribute, std::string_view value) {
  // "; " and then, even on a line of its own after a blank, the quoted parameter fits.
  const std::string quoted = std::string(attribute) + "=" + QuotedParameter(value);
  if (IsAscii(value) && !HasControlCharacter(value) && 1 + quoted.size() <= kFoldedLineLength) return "; " + quoted;
  const std::string charset = std::string(TCharacters(value).Charset()) + "''";
  const std::string single = " " + std::string(attribute) + "*=" + charset;
  // Each section is written as " attribute*N*=" section ";", the last without the ";".
  const std::string numbered = " " + std::string(attribute) + "*00*=;";
  const size_t room = kFoldedLineLength - numbered.size();
  const std::vector<std::string> sections = ParameterSections(value, room - charset.size(), room);
  if (sections.size() == 1 && single.size() + sections[0].size() <= kFoldedLineLength)
    return ";\r\n" + single + sections[0];
  std::string out;
  for (size_t i = 0; i < sections.size(); ++i)
    out += ";\r\n " + std::string(attribute) + "*" + std::to_string(i) + "*=" + (i == 0 ? charset : "") + sections[i];
  return out;
}
