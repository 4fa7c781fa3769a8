#include "mime/codecs/pxcodecs.h"

#include <algorithm>
#include <stdexcept>

#include "mime/codecs/charsets.h"
#include "toolkit/exceptions.h"
#include "toolkit/pump.h"
#include "toolkit/strtable.h"
#include "toolkit/strutils.h"

namespace {

constexpr size_t kMaxUULineBytes = 63;  // the highest value a length character holds

char UUChar(uint32_t value) { return value == 0 ? '`' : static_cast<char>(value + 32); }

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view SkipBlanks(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  return s;
}

}  // namespace

void AppendUUEncodedLine(std::string_view bytes, std::string& out) {
  if (bytes.size() > kMaxUULineBytes) {
    throw std::length_error("uuencode: more than 63 bytes for one line");
  }
  const auto* in = reinterpret_cast<const uint8_t*>(bytes.data());
  const size_t n = bytes.size();
  out += UUChar(static_cast<uint32_t>(n));
  for (size_t i = 0; i < n; i += 3) {
    const size_t left = n - i;
    const uint32_t v = uint32_t{in[i]} << 16 | (left > 1 ? uint32_t{in[i + 1]} << 8 : 0) | (left > 2 ? in[i + 2] : 0);
    // A short last group writes only the characters that hold its bits.
    const size_t chars = left >= 3 ? 4 : left + 1;
    for (size_t k = 0; k < chars; ++k) out += UUChar((v >> (18 - 6 * k)) & 63);
  }
}

size_t UUEncodedLineLength(size_t bytes) { return 1 + bytes / 3 * 4 + (bytes % 3 == 0 ? 0 : bytes % 3 + 1); }

std::string UUEncodeLine(std::string_view bytes) {
  ProcessMessages();
  std::string out;
  AppendUUEncodedLine(bytes, out);
  return out;
}

uint8_t UUValue(char c) {
  if (c == '`' || c == ' ') return 0;
  if (c < '!' || c > '_') throw EInOutError(LoadStr(sInvalidCharacter));
  return static_cast<uint8_t>(c - 32);
}

std::string UUDecodeLine(std::string_view line) {
  ProcessMessages();
  if (line.empty()) return {};
  const size_t announced = UUValue(line[0]);
  const std::string_view data = line.substr(1);
  std::string out;
  out.reserve(std::max((data.size() + 3) / 4 * 3, announced));
  for (size_t i = 0; i < data.size(); i += 4) {
    uint32_t v = 0;
    for (size_t k = 0; k < 4; ++k) {
      v = v << 6 | (i + k < data.size() ? UUValue(data[i + k]) : 0);
    }
    out += static_cast<char>(v >> 16);
    out += static_cast<char>(v >> 8);
    out += static_cast<char>(v);
  }
  // Lines padded to whole groups carry filler bytes; the length character says where data ends.
  // A line shorter than it announces lost its trailing blanks (zeros) in transit: the missing
  // bytes are zeros.
  out.resize(announced);
  return out;
}

bool IsUUBeginLine(std::string_view line) {
  if (line.size() <= 8 || UpperCase(line.substr(0, 5)) != "BEGIN") return false;
  long long mode = 0;
  return TryStrToInt(Trim(line.substr(5)).substr(0, 3), mode);
}

std::string UUFileName(std::string_view line) {
  std::string_view rest = SkipBlanks(line.substr(std::min<size_t>(5, line.size())));
  while (!rest.empty() && !IsBlank(rest.front())) rest.remove_prefix(1);  // the mode
  rest = SkipBlanks(rest);
  if (!rest.empty() && rest.front() == '"') {
    const size_t close = rest.find('"', 1);
    return close == std::string_view::npos ? std::string() : std::string(rest.substr(1, close - 1));
  }
  return TrimRight(rest);
}

namespace {

struct EncodedWord {
  size_t end = 0;    // just after its "?="
  std::string text;  // decoded
};

// RFC 2047 2: "=?" charset "?" encoding "?" encoded-text "?=", starting at start. False when
// the text there is not such a word or does not decode.
bool ReadEncodedWord(std::string_view value, size_t start, size_t maxLength, EncodedWord& word) {
  const size_t q1 = value.find('?', start + 2);
  if (q1 == std::string_view::npos || q1 + 2 >= value.size() || value[q1 + 2] != '?') return false;
  const std::string_view charset = value.substr(start + 2, q1 - start - 2);
  if (charset.find_first_of(" \t") != std::string_view::npos) return false;
  const size_t close = value.find("?=", q1 + 3);
  if (close == std::string_view::npos) return false;
  std::string text(value.substr(q1 + 3, close - q1 - 3));
  switch (UpCase(value[q1 + 1])) {
    case 'B':
      try {
        word.text.clear();
        AppendBase64Decoded(text, word.text);
      } catch (const EInOutError&) {
        return false;
      }
      break;
    case 'Q':
      // RFC 2047 4.2 (2): "_" stands for the blank in the encoded text only.
      for (char& c : text) {
        if (c == '_') c = ' ';
      }
      word.text = QPDecodeText(text, maxLength);
      break;
    default: return false;
  }
  word.text = ToUtf8(word.text, charset);
  word.end = close + 2;
  return true;
}

bool AllWhiteSpace(std::string_view s) {
  for (char c : s) {
    if (static_cast<uint8_t>(c) > ' ') return false;
  }
  return true;
}

}  // namespace

std::string DecodeHeaderWords(std::string_view value, size_t maxLength) {
  std::string out;
  size_t copied = 0;  // value[0, copied) is dealt with
  bool afterWord = false;
  for (size_t start = value.find("=?"); start != std::string_view::npos && out.size() < maxLength;
       start = value.find("=?", start + 2)) {
    EncodedWord word;
    if (start < copied || !ReadEncodedWord(value, start, maxLength, word)) continue;
    // RFC 2047 6.2: white space between two adjacent encoded words is not displayed.
    const std::string_view gap = value.substr(copied, start - copied);
    if (!(afterWord && AllWhiteSpace(gap))) out.append(gap);
    out += word.text;
    copied = word.end;
    afterWord = true;
  }
  out.append(value.substr(copied));
  out.resize(Utf8Prefix(out, maxLength).size());
  return out;
}
