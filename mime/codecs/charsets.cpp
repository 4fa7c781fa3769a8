#include "mime/codecs/charsets.h"

#include <cstdint>

#include "toolkit/strutils.h"

namespace {

enum class TSingleByte { none, latin1, latin9, windows1252 };

TSingleByte SingleByteSet(std::string_view charset) {
  // RFC 2231 5: charset "*" language.
  const std::string name = LowerCase(charset.substr(0, charset.find('*')));
  if (name == "iso-8859-1" || name == "iso8859-1" || name == "latin1" || name == "l1") return TSingleByte::latin1;
  if (name == "iso-8859-15" || name == "iso8859-15" || name == "latin-9") return TSingleByte::latin9;
  if (name == "windows-1252" || name == "cp1252") return TSingleByte::windows1252;
  return TSingleByte::none;
}

// Windows-1252 0x80..0x9F; the five bytes it leaves open keep their ISO-8859-1 (C1) meaning.
constexpr char16_t kWindows1252High[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                           0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                           0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                           0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

// ISO-8859-15 differs from ISO-8859-1 in eight places.
char16_t Latin9(uint8_t byte) {
  switch (byte) {
    case 0xA4: return 0x20AC;
    case 0xA6: return 0x0160;
    case 0xA8: return 0x0161;
    case 0xB4: return 0x017D;
    case 0xB8: return 0x017E;
    case 0xBC: return 0x0152;
    case 0xBD: return 0x0153;
    case 0xBE: return 0x0178;
    default: return byte;
  }
}

void AppendUtf8(char16_t c, std::string& out) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | c >> 6);
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | c >> 12);
    out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

}  // namespace

std::string ToUtf8(std::string_view bytes, std::string_view charset) {
  const TSingleByte set = SingleByteSet(charset);
  if (set == TSingleByte::none) return std::string(bytes);
  std::string out;
  out.reserve(bytes.size() * 2);
  for (const char c : bytes) {
    const auto byte = static_cast<uint8_t>(c);
    if (set == TSingleByte::latin9) {
      AppendUtf8(Latin9(byte), out);
    } else if (set == TSingleByte::windows1252 && byte >= 0x80 && byte < 0xA0) {
      AppendUtf8(kWindows1252High[byte - 0x80], out);
    } else {
      AppendUtf8(byte, out);
    }
  }
  return out;
}
