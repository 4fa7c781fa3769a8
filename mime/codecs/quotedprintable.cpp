#include "mime/codecs/quotedprintable.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>

#include "toolkit/pump.h"
#include "toolkit/streams.h"
#include "toolkit/stringlist.h"

namespace {

constexpr size_t kPieceLength = 65;  // source bytes per encoded line
// RFC 2045 6.7 rule 5: an encoded line holds at most 76 characters. A piece's escaped form keeps
// room for the escape of its last byte (a blank or a lone dot: two more) and the soft break.
constexpr size_t kMaxEncodedLine = 76;
constexpr size_t kPieceRoom = kMaxEncodedLine - 3;
// The cut decision looks at the 65 bytes of a piece, the byte after it, and one more to tell a
// CR LF that starts right after the piece.
constexpr size_t kLookahead = kPieceLength + 2;
constexpr size_t kBlockSize = 64 * 1024;
constexpr char kHex[] = "0123456789ABCDEF";

// What each byte becomes, padded to four bytes so that one store writes any of them.
// RFC 2045 6.7: control characters (TAB included), "=" and 8-bit bytes are escaped; the blank
// and DEL stand for themselves.
struct Encoded {
  char text[4];
  uint8_t length;
};
constexpr std::array<Encoded, 256> MakeEncoded() {
  std::array<Encoded, 256> t{};
  for (int c = 0; c < 256; ++c) {
    if (c < 32 || c == '=' || c >= 128) {
      t[c] = {{'=', kHex[c >> 4], kHex[c & 15], 0}, 3};
    } else {
      t[c] = {{static_cast<char>(c), 0, 0, 0}, 1};
    }
  }
  return t;
}
constexpr std::array<Encoded, 256> kEncoded = MakeEncoded();

constexpr std::array<int8_t, 256> MakeHexValues() {
  std::array<int8_t, 256> t{};
  for (auto& v : t) v = -1;
  for (int i = 0; i < 10; ++i) t['0' + i] = static_cast<int8_t>(i);
  for (int i = 0; i < 6; ++i) {
    t['A' + i] = static_cast<int8_t>(10 + i);
    t['a' + i] = static_cast<int8_t>(10 + i);
  }
  return t;
}
constexpr std::array<int8_t, 256> kHexValue = MakeHexValues();

char* PutEscape(uint8_t c, char* o) {
  o[0] = '=';
  o[1] = kHex[c >> 4];
  o[2] = kHex[c & 15];
  return o + 3;
}

size_t FindCrLf(std::string_view text, size_t from) {
  while (from < text.size()) {
    const void* cr = std::memchr(text.data() + from, '\r', text.size() - from);
    if (cr == nullptr) return std::string_view::npos;
    const size_t at = static_cast<size_t>(static_cast<const char*>(cr) - text.data());
    if (at + 1 < text.size() && text[at + 1] == '\n') return at;
    from = at + 1;
  }
  return std::string_view::npos;
}

// Appends text with its escapes replaced. A cut-short escape at the very end ("=4") reads the
// one digit there; any other "=" that is not followed by two hex digits stays as it is.
void AppendUnescaped(std::string_view text, std::string& out) {
  const size_t n = text.size();
  size_t i = 0;
  while (i < n) {
    const void* eq = std::memchr(text.data() + i, '=', n - i);
    const size_t at = eq ? static_cast<size_t>(static_cast<const char*>(eq) - text.data()) : n;
    out.append(text.data() + i, at - i);
    if (at == n) break;
    const int hi = at + 1 < n ? kHexValue[static_cast<uint8_t>(text[at + 1])] : -1;
    const int lo = at + 2 < n ? kHexValue[static_cast<uint8_t>(text[at + 2])] : -1;
    if (hi >= 0 && lo >= 0) {
      out += static_cast<char>(hi << 4 | lo);
      i = at + 3;
    } else if (hi >= 0 && at + 2 == n) {
      out += static_cast<char>(hi);
      i = n;
    } else {
      out += '=';
      i = at + 1;
    }
  }
}

// Splits encoder output (lines ending in CR LF, none holding a raw CR or LF) into list lines.
void AddLines(std::string_view text, TStringList& lines) {
  while (!text.empty()) {
    const auto* lf = static_cast<const char*>(std::memchr(text.data(), '\n', text.size()));
    const auto end = static_cast<size_t>(lf - text.data());
    lines.Add(std::string(text.substr(0, end - 1)));
    text.remove_prefix(end + 1);
  }
}

// How many bytes from the start of rest, at most 65, one encoded line can carry.
size_t PieceBytes(std::string_view rest) {
  const size_t most = std::min(rest.size(), kPieceLength);
  size_t used = 0;
  size_t n = 0;
  while (n < most && used + kEncoded[static_cast<uint8_t>(rest[n])].length <= kPieceRoom)
    used += kEncoded[static_cast<uint8_t>(rest[n++])].length;
  return n;
}

}  // namespace

size_t TQuotedPrintable::SplitParagraph(std::string_view rest, bool whole, bool& last) {
  // An LF inside the piece ends it (escaped, then a soft break): Unix text keeps its lines.
  const size_t window = PieceBytes(rest);
  const void* lf = window > 0 ? std::memchr(rest.data(), '\n', window) : nullptr;
  if (lf != nullptr) {
    const size_t n = static_cast<size_t>(static_cast<const char*>(lf) - rest.data()) + 1;
    last = whole && n == rest.size();
    return n;
  }
  last = whole && rest.size() < kPieceLength && window == rest.size();
  if (last) return rest.size();
  // Cut before the last blank of the piece and the byte after it, so the blank starts the next
  // line; with no blank after the first byte, cut hard after the piece. A paragraph of exactly
  // 65 plain bytes therefore ends with an empty line.
  size_t p = window;
  while (p > 0 && (p >= rest.size() || rest[p] != ' ')) --p;
  return p == 0 ? window : p;
}

void TQuotedPrintable::EncodeLine(std::string_view piece, TBreak lineBreak, std::string& out) {
  const size_t old = out.size();
  out.resize(old + piece.size() * 3 + 4);  // one spare byte for the four-byte stores
  char* const start = out.data() + old;
  char* o = start;
  const size_t n = piece.size();
  // RFC 2045 6.7 rule 3: readers drop trailing white space, so a blank that would end the line
  // is escaped. A line that is a lone "." would end the SMTP data (RFC 5321 4.1.1.4).
  const bool endsLine = lineBreak != TBreak::soft;
  const bool escapeLast = n > 0 && endsLine && piece[n - 1] == ' ';
  const bool loneDot = lineBreak == TBreak::hard && piece == ".";
  for (size_t i = 0; i < n; ++i) {
    const Encoded& e = kEncoded[static_cast<uint8_t>(piece[i])];
    std::memcpy(o, e.text, 4);
    o += e.length;
  }
  if (escapeLast || loneDot) o = PutEscape(static_cast<uint8_t>(piece[n - 1]), o - 1);
  if (lineBreak != TBreak::hard) *o++ = '=';
  *o++ = '\r';
  *o++ = '\n';
  out.resize(old + static_cast<size_t>(o - start));
}

bool TQuotedPrintable::DecodeLine(std::string_view line, std::string& out) {
  size_t n = line.size();
  while (n > 0 && (line[n - 1] == ' ' || line[n - 1] == '\t')) --n;
  const bool soft = n > 0 && line[n - 1] == '=';
  AppendUnescaped(line.substr(0, soft ? n - 1 : n), out);
  return soft;
}

void TQPEncoder::Add(std::string_view block, std::string& out) {
  if (carry_.empty()) {
    Emit(block, false, out);
    return;
  }
  work_.assign(carry_);
  work_.append(block);
  Emit(work_, false, out);
}

void TQPEncoder::Finish(std::string& out) {
  work_.swap(carry_);
  carry_.clear();
  Emit(work_, true, out);
}

// Encodes the complete paragraphs of text; of the unfinished one at its end, the pieces that
// are sure not to be its last (or, at the end of the data, all of it). The rest is carried.
void TQPEncoder::Emit(std::string_view text, bool whole, std::string& out) {
  using QP = TQuotedPrintable;
  out.reserve(out.size() + text.size() * 3 / 2 + 8);
  auto encode = [&out](std::string_view paragraph, bool wholeParagraph, QP::TBreak end) {
    bool last = false;
    while (!last && (wholeParagraph || paragraph.size() >= kLookahead)) {
      const size_t n = QP::SplitParagraph(paragraph, wholeParagraph, last);
      QP::EncodeLine(paragraph.substr(0, n), last ? end : QP::TBreak::soft, out);
      paragraph.remove_prefix(n);
    }
    return paragraph;
  };
  size_t pos = 0;
  for (size_t crlf; (crlf = FindCrLf(text, pos)) != std::string_view::npos; pos = crlf + 2) {
    encode(text.substr(pos, crlf - pos), true, QP::TBreak::hard);
  }
  std::string_view tail = text.substr(pos);
  if (whole) {
    // Data ending in CR LF has nothing after its last hard break.
    if (!tail.empty()) encode(tail, true, QP::TBreak::endOfData);
  } else {
    carry_.assign(encode(tail, false, QP::TBreak::soft));
  }
}

void TQuotedPrintable::Encode() {
  Stream->SetPosition(0);
  std::string block(kBlockSize, '\0');
  std::string text;
  TQPEncoder encoder;
  while (!Stop) {
    const int64_t n = Stream->Read(block.data(), static_cast<int64_t>(kBlockSize));
    if (n <= 0) break;
    encoder.Add(std::string_view(block.data(), static_cast<size_t>(n)), text);
    AddLines(text, *Lines);
    text.clear();
    ProcessMessages();
  }
  // Also after Stop: the lines then decode to exactly the bytes read so far.
  encoder.Finish(text);
  AddLines(text, *Lines);
}

void TQuotedPrintable::Decode() {
  std::string bytes;
  for (const std::string& line : *Lines) {
    const bool soft = DecodeLine(line, bytes);
    if (!soft) bytes += "\r\n";
    if (bytes.size() >= kBlockSize) {
      Stream->WriteString(bytes);
      bytes.clear();
      ProcessMessages();
    }
    if (!soft && Stop) break;
  }
  Stream->WriteString(bytes);
}

std::string QPDecodeText(std::string_view text, size_t maxLength) {
  if (!text.empty() && text.back() == '=') text.remove_suffix(1);
  std::string out;
  AppendUnescaped(text, out);
  const size_t end = out.find_first_of(std::string_view("\r\n\0", 3));
  if (end != std::string::npos) out.resize(end);
  if (out.size() > maxLength) out.resize(maxLength);
  return out;
}
