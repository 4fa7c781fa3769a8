// Byte-string helpers. Strings are plain byte strings: no character-set conversion anywhere,
// and case folding touches ASCII letters only.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// Removes blanks and control characters (every byte up to and including ' ').
std::string Trim(std::string_view s);
std::string TrimLeft(std::string_view s);
std::string TrimRight(std::string_view s);

std::string UpperCase(std::string_view s);
std::string LowerCase(std::string_view s);
char UpCase(char c);
bool SameText(std::string_view a, std::string_view b);
bool StartsText(std::string_view prefix, std::string_view s);  // case-insensitive
bool StartsStr(std::string_view prefix, std::string_view s);
bool EndsStr(std::string_view suffix, std::string_view s);
// Position of the first case-insensitive occurrence of needle, or npos.
size_t PosText(std::string_view needle, std::string_view s, size_t from = 0);

// Signed decimal integer; "$" or "0x" prefixed hexadecimal is not accepted here.
bool TryStrToInt(std::string_view s, long long& value);
long long StrToIntDef(std::string_view s, long long def);
std::string IntToHex(uint64_t value, int digits);
bool TryHexToInt(std::string_view s, uint64_t& value);

// Replaces each "%s" and "%d" of fmt, in order, by the next argument.
std::string FormatText(std::string_view fmt, std::initializer_list<std::string_view> args);

// "\xNN", uppercase: how every escaped form of the program writes a byte that cannot stand as it
// is (shown text, the journal's names, the component stream's strings).
std::string HexEscape(unsigned char c);

// Text from outside (a server's reply) made safe to show: control characters (C0, DEL and
// C1) and bytes that are not valid UTF-8 become \xNN, and a text longer than 300 bytes is cut
// before a character or escape, with "..." after it. The result is at most 300 bytes.
constexpr size_t kDisplayTextLimit = 300;
std::string DisplayText(std::string_view raw);
// A file name made safe to show the same way, but whole: a name cut short names another file.
std::string ShownFileName(std::string_view raw);
// The same in double quotes, as messages name a file: "\"/data/scan.pdf\"".
std::string QuotedName(std::string_view raw);
// True when s holds a C0 control character or DEL: bytes that no command argument may carry.
bool HasControlCharacter(std::string_view s);

// True when every byte is below 128.
bool IsAscii(std::string_view s);
// True when s is well-formed UTF-8 (RFC 3629 4).
bool IsValidUtf8(std::string_view s);
// The length of the character at the start of s (not empty): 1 for ASCII, that of a
// well-formed UTF-8 sequence, or 0 when the first byte starts none.
size_t Utf8CharLength(std::string_view s);
// The longest prefix of s of at most max bytes that does not end inside a well-formed UTF-8
// character: a cut never leaves half a character behind (bytes that are no UTF-8 cut anywhere).
std::string_view Utf8Prefix(std::string_view s, size_t max);

// Locale's case-insensitive comparison of byte strings (used to sort file paths).
int CompareTextLocale(const std::string& a, const std::string& b);

// A byte string of at most 255 characters: a longer value is cut when stored.
class ShortString {
 public:
  static constexpr size_t kMaxLength = 255;
  ShortString() = default;
  ShortString(std::string_view s) : value_(Cut(s)) {}    // NOLINT: implicit by design
  ShortString(const char* s) : value_(Cut(s)) {}         // NOLINT
  ShortString(const std::string& s) : value_(Cut(s)) {}  // NOLINT
  ShortString& operator=(std::string_view s) {
    value_ = Cut(s);
    return *this;
  }
  operator const std::string&() const { return value_; }  // NOLINT
  const std::string& str() const { return value_; }
  bool empty() const { return value_.empty(); }
  size_t size() const { return value_.size(); }
  bool operator==(const ShortString& o) const = default;
  bool operator==(std::string_view s) const { return value_ == s; }
  // Exact matches, so that comparing with a literal or a std::string is not ambiguous.
  bool operator==(const char* s) const { return value_ == s; }
  bool operator==(const std::string& s) const { return value_ == s; }

  static std::string Cut(std::string_view s) { return std::string(Utf8Prefix(s, kMaxLength)); }

 private:
  std::string value_;
};
