#include "toolkit/strutils.h"

#include <QByteArray>
#include <QString>

#include <algorithm>
#include <cstring>

namespace {
bool IsBlankOrControl(char c) { return static_cast<unsigned char>(c) <= ' '; }
char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }
}  // namespace

char UpCase(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; }

std::string TrimLeft(std::string_view s) {
  size_t b = 0;
  while (b < s.size() && IsBlankOrControl(s[b])) ++b;
  return std::string(s.substr(b));
}

std::string TrimRight(std::string_view s) {
  size_t e = s.size();
  while (e > 0 && IsBlankOrControl(s[e - 1])) --e;
  return std::string(s.substr(0, e));
}

std::string Trim(std::string_view s) {
  size_t b = 0, e = s.size();
  while (b < e && IsBlankOrControl(s[b])) ++b;
  while (e > b && IsBlankOrControl(s[e - 1])) --e;
  return std::string(s.substr(b, e - b));
}

std::string UpperCase(std::string_view s) {
  std::string r(s);
  for (char& c : r) c = UpCase(c);
  return r;
}

std::string LowerCase(std::string_view s) {
  std::string r(s);
  for (char& c : r) c = LowerAscii(c);
  return r;
}

bool SameText(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  return true;
}

bool StartsText(std::string_view prefix, std::string_view s) {
  return s.size() >= prefix.size() && SameText(prefix, s.substr(0, prefix.size()));
}

bool StartsStr(std::string_view prefix, std::string_view s) { return s.substr(0, prefix.size()) == prefix; }

bool EndsStr(std::string_view suffix, std::string_view s) {
  return s.size() >= suffix.size() && s.substr(s.size() - suffix.size()) == suffix;
}

size_t PosText(std::string_view needle, std::string_view s, size_t from) {
  if (needle.empty()) return from <= s.size() ? from : std::string_view::npos;
  for (size_t i = from; i + needle.size() <= s.size(); ++i)
    if (SameText(needle, s.substr(i, needle.size()))) return i;
  return std::string_view::npos;
}

bool TryStrToInt(std::string_view s, long long& value) {
  std::string t = Trim(s);
  if (t.empty()) return false;
  size_t i = 0;
  bool negative = false;
  if (t[0] == '+' || t[0] == '-') {
    negative = t[0] == '-';
    i = 1;
  }
  if (i >= t.size()) return false;
  constexpr unsigned long long kLimit = 1ULL << 63;  // the magnitude of INT64_MIN
  unsigned long long v = 0;
  for (; i < t.size(); ++i) {
    if (t[i] < '0' || t[i] > '9') return false;
    const unsigned digit = static_cast<unsigned>(t[i] - '0');
    // Checked before multiplying: v * 10 would wrap silently for 20 digits and more.
    if (v > (kLimit - digit) / 10) return false;
    v = v * 10 + digit;
  }
  if (!negative && v > static_cast<unsigned long long>(INT64_MAX)) return false;
  value = negative ? -static_cast<long long>(v - 1) - 1 : static_cast<long long>(v);
  return true;
}

long long StrToIntDef(std::string_view s, long long def) {
  long long v;
  return TryStrToInt(s, v) ? v : def;
}

std::string IntToHex(uint64_t value, int digits) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string r;
  do {
    r.insert(r.begin(), kHex[value & 15]);
    value >>= 4;
  } while (value != 0);
  while (static_cast<int>(r.size()) < digits) r.insert(r.begin(), '0');
  return r;
}

bool TryHexToInt(std::string_view s, uint64_t& value) {
  if (s.empty() || s.size() > 16) return false;
  uint64_t v = 0;
  for (char c : s) {
    int d;
    if (c >= '0' && c <= '9')
      d = c - '0';
    else if (c >= 'a' && c <= 'f')
      d = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F')
      d = c - 'A' + 10;
    else
      return false;
    v = (v << 4) | static_cast<unsigned>(d);
  }
  value = v;
  return true;
}

std::string FormatText(std::string_view fmt, std::initializer_list<std::string_view> args) {
  std::string r;
  auto arg = args.begin();
  for (size_t i = 0; i < fmt.size(); ++i) {
    if (fmt[i] == '%' && i + 1 < fmt.size() && (fmt[i + 1] == 's' || fmt[i + 1] == 'd') && arg != args.end()) {
      r += *arg++;
      ++i;
    } else {
      r += fmt[i];
    }
  }
  return r;
}

namespace {
bool IsContinuation(unsigned char c) { return (c & 0xC0) == 0x80; }

// The length of the well-formed UTF-8 sequence at the start of s (RFC 3629 4: no overlong
// forms, no surrogates, nothing above U+10FFFF), or 0.
size_t Utf8Length(std::string_view s) {
  const auto lead = static_cast<unsigned char>(s[0]);
  size_t length = 0;
  unsigned char low = 0x80, high = 0xBF;  // the range of the second byte
  if (lead >= 0xC2 && lead <= 0xDF)
    length = 2;
  else if (lead >= 0xE0 && lead <= 0xEF)
    length = 3;
  else if (lead >= 0xF0 && lead <= 0xF4)
    length = 4;
  else
    return 0;
  if (lead == 0xE0) low = 0xA0;
  if (lead == 0xED) high = 0x9F;
  if (lead == 0xF0) low = 0x90;
  if (lead == 0xF4) high = 0x8F;
  if (s.size() < length) return 0;
  const auto second = static_cast<unsigned char>(s[1]);
  if (second < low || second > high) return 0;
  for (size_t i = 2; i < length; ++i)
    if (!IsContinuation(static_cast<unsigned char>(s[i]))) return 0;
  return length;
}

}  // namespace

bool IsAscii(std::string_view s) {
  return std::all_of(s.begin(), s.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

size_t Utf8CharLength(std::string_view s) { return static_cast<unsigned char>(s[0]) < 0x80 ? 1 : Utf8Length(s); }

bool IsValidUtf8(std::string_view s) {
  for (size_t i = 0; i < s.size();) {
    const size_t length = Utf8CharLength(s.substr(i));
    if (length == 0) return false;
    i += length;
  }
  return true;
}

std::string_view Utf8Prefix(std::string_view s, size_t max) {
  if (s.size() <= max) return s;
  // Back over the continuation bytes at the cut to the lead byte of their character; cut
  // before it only when the character really is a whole UTF-8 one that the cut would split.
  size_t lead = max;
  while (lead > 0 && max - lead < 3 && IsContinuation(static_cast<unsigned char>(s[lead]))) --lead;
  const size_t length = Utf8Length(s.substr(lead));
  return s.substr(0, length > 0 && lead + length > max ? lead : max);
}

namespace {

bool IsC0OrDel(unsigned char c) { return c < 0x20 || c == 0x7F; }

// Appends the first character of raw as it is shown; returns the bytes of raw it took.
size_t AppendShown(std::string_view raw, std::string& out) {
  const auto c = static_cast<unsigned char>(raw[0]);
  const size_t length = Utf8CharLength(raw);
  // U+0080 to U+009F are the C1 controls: a terminal acts on some of them (CSI) as on ESC.
  const bool c1 = length == 2 && c == 0xC2 && static_cast<unsigned char>(raw[1]) < 0xA0;
  if ((length > 1 && !c1) || (length == 1 && !IsC0OrDel(c))) {
    out.append(raw.substr(0, length));
    return length;
  }
  // An invalid byte is shown alone and the next one starts afresh; so is each byte of a C1.
  out += HexEscape(c);
  return 1;
}
}  // namespace

std::string HexEscape(unsigned char c) { return "\\x" + IntToHex(c, 2); }

std::string DisplayText(std::string_view raw) {
  static constexpr std::string_view kCut = "...";
  std::string shown;
  size_t cutAt = 0;  // the longest run of whole characters that leaves room for the "..."
  size_t at = 0;
  // Work stops just past the limit, however long the raw text.
  while (at < raw.size() && shown.size() <= kDisplayTextLimit) {
    at += AppendShown(raw.substr(at), shown);
    if (shown.size() <= kDisplayTextLimit - kCut.size()) cutAt = shown.size();
  }
  if (at == raw.size() && shown.size() <= kDisplayTextLimit) return shown;
  shown.resize(cutAt);
  return shown.append(kCut);
}

std::string ShownFileName(std::string_view raw) {
  std::string shown;
  for (size_t at = 0; at < raw.size();) at += AppendShown(raw.substr(at), shown);
  return shown;
}

std::string QuotedName(std::string_view raw) { return "\"" + ShownFileName(raw) + "\""; }

bool HasControlCharacter(std::string_view s) {
  for (char c : s)
    if (IsC0OrDel(static_cast<unsigned char>(c))) return true;
  return false;
}

int CompareTextLocale(const std::string& a, const std::string& b) {
  const QString qa = QString::fromLocal8Bit(QByteArray::fromRawData(a.data(), static_cast<qsizetype>(a.size())));
  const QString qb = QString::fromLocal8Bit(QByteArray::fromRawData(b.data(), static_cast<qsizetype>(b.size())));
  const int r = QString::localeAwareCompare(qa.toCaseFolded(), qb.toCaseFolded());
  return r < 0 ? -1 : (r > 0 ? 1 : 0);
}
