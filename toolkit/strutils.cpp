#include "toolkit/strutils.h"

#include <QByteArray>
#include <QString>

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
    if (c >= '0' && c <= '9') d = c - '0';
    else if (c >= 'a' && c <= 'f') d = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F') d = c - 'A' + 10;
    else return false;
    v = (v << 4) | static_cast<unsigned>(d);
  }
  value = v;
  return true;
}

std::string FormatText(std::string_view fmt, std::initializer_list<std::string_view> args) {
  std::string r;
  auto arg = args.begin();
  for (size_t i = 0; i < fmt.size(); ++i) {
    if (fmt[i] == '%' && i + 1 < fmt.size() && (fmt[i + 1] == 's' || fmt[i + 1] == 'd') &&
        arg != args.end()) {
      r += *arg++;
      ++i;
    } else {
      r += fmt[i];
    }
  }
  return r;
}

int CompareTextLocale(const std::string& a, const std::string& b) {
  const QString qa = QString::fromLocal8Bit(QByteArray::fromRawData(a.data(), static_cast<qsizetype>(a.size())));
  const QString qb = QString::fromLocal8Bit(QByteArray::fromRawData(b.data(), static_cast<qsizetype>(b.size())));
  const int r = QString::localeAwareCompare(qa.toCaseFolded(), qb.toCaseFolded());
  return r < 0 ? -1 : (r > 0 ? 1 : 0);
}
