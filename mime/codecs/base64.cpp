#include "mime/codecs/base64.h"

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include <algorithm>
#include <array>
#include <cstring>

#include "toolkit/exceptions.h"
#include "toolkit/pump.h"
#include "toolkit/streams.h"
#include "toolkit/strtable.h"

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr uint8_t kPad = 64;       // value of "=" in kValue
constexpr uint8_t kInvalid = 255;  // not in the alphabet
constexpr uint32_t kBadGroup = 0xFF000000u;

constexpr std::array<uint8_t, 256> MakeValues() {
  std::array<uint8_t, 256> t{};
  for (auto& v : t) v = kInvalid;
  for (int i = 0; i < 64; ++i) t[static_cast<uint8_t>(kAlphabet[i])] = static_cast<uint8_t>(i);
  t['='] = kPad;
  return t;
}
constexpr std::array<uint8_t, 256> kValue = MakeValues();

// Two output characters per 12 input bits: one lookup per half group.
constexpr std::array<std::array<char, 2>, 4096> MakePairs() {
  std::array<std::array<char, 2>, 4096> t{};
  for (int i = 0; i < 4096; ++i) t[i] = {kAlphabet[i >> 6], kAlphabet[i & 63]};
  return t;
}
constexpr std::array<std::array<char, 2>, 4096> kPairs = MakePairs();

// The value of a character already shifted into its place in the 24-bit group; "=" and
// foreign characters set the top byte, so one test per group finds them.
constexpr std::array<uint32_t, 256> MakeShifted(int shift) {
  std::array<uint32_t, 256> t{};
  for (int c = 0; c < 256; ++c) {
    t[c] = kValue[c] < kPad ? static_cast<uint32_t>(kValue[c]) << shift : kBadGroup;
  }
  return t;
}
constexpr std::array<uint32_t, 256> kShift18 = MakeShifted(18);
constexpr std::array<uint32_t, 256> kShift12 = MakeShifted(12);
constexpr std::array<uint32_t, 256> kShift6 = MakeShifted(6);
constexpr std::array<uint32_t, 256> kShift0 = MakeShifted(0);

[[noreturn]] void RaiseInvalidCharacter() { throw EInOutError(LoadStr(sInvalidCharacter)); }

size_t EncodedLength(size_t bytes) { return (bytes + 2) / 3 * 4; }

char* EncodeGroups(const uint8_t* in, size_t groups, char* out) {
  for (size_t g = 0; g < groups; ++g, in += 3, out += 4) {
    const uint32_t v = uint32_t{in[0]} << 16 | uint32_t{in[1]} << 8 | in[2];
    std::memcpy(out, kPairs[v >> 12].data(), 2);
    std::memcpy(out + 2, kPairs[v & 0xFFF].data(), 2);
  }
  return out;
}

char* Encode(const uint8_t* in, size_t n, char* out) {
  out = EncodeGroups(in, n / 3, out);
  in += n / 3 * 3;
  if (n % 3 == 0) return out;
  const uint32_t v = uint32_t{in[0]} << 16 | (n % 3 == 2 ? uint32_t{in[1]} << 8 : 0);
  out[0] = kAlphabet[v >> 18];
  out[1] = kAlphabet[(v >> 12) & 63];
  out[2] = n % 3 == 2 ? kAlphabet[(v >> 6) & 63] : '=';
  out[3] = '=';
  return out + 4;
}

const uint8_t* Bytes(std::string_view s) { return reinterpret_cast<const uint8_t*>(s.data()); }

// Writes the three bytes of a group with one four-byte store: out needs one spare byte.
void Store3(uint8_t* out, uint32_t v) {
  const uint32_t bigEndian = __builtin_bswap32(v << 8);
  std::memcpy(out, &bigEndian, 4);
}

#if defined(__x86_64__)
// 32 characters to 24 bytes at a time with AVX2 where the processor has it. A character is in
// the alphabet when the bits its low nibble selects in kBadForLow miss the bit of its high
// nibble's class (high nibbles with the same valid low nibbles share a class); its value is
// the character plus kOffset of its high nibble ("/" moved to slot 1, "+" has slot 2).
constexpr std::array<uint8_t, 16> MakeHighClasses() {
  std::array<uint8_t, 16> t{};
  for (auto& v : t) v = 16;
  t[2] = 1;
  t[3] = 2;
  t[4] = t[6] = 4;
  t[5] = t[7] = 8;
  return t;
}
constexpr std::array<uint8_t, 16> kHighClass = MakeHighClasses();

constexpr std::array<uint8_t, 16> MakeBadForLow() {
  std::array<uint8_t, 16> t{};
  for (int c = 0; c < 256; ++c) {
    if (kValue[c] >= kPad) t[c & 15] = static_cast<uint8_t>(t[c & 15] | kHighClass[c >> 4]);
  }
  return t;
}
constexpr std::array<uint8_t, 16> kBadForLow = MakeBadForLow();

constexpr std::array<int8_t, 16> MakeOffsets() {
  std::array<int8_t, 16> t{};
  for (int i = 0; i < 64; ++i) {
    const int c = static_cast<uint8_t>(kAlphabet[i]);
    t[c == '/' ? 1 : c >> 4] = static_cast<int8_t>(i - c);
  }
  return t;
}
constexpr std::array<int8_t, 16> kOffset = MakeOffsets();

constexpr bool NibbleTablesAgree() {
  for (int c = 0; c < 256; ++c) {
    const bool valid = (kBadForLow[c & 15] & kHighClass[c >> 4]) == 0;
    if (valid != (kValue[c] < kPad)) return false;
    if (valid && c + kOffset[c == '/' ? 1 : c >> 4] != kValue[c]) return false;
  }
  return true;
}
static_assert(NibbleTablesAgree());

__attribute__((target("avx2"))) size_t DecodeBlocksAvx2(const uint8_t* in, size_t groups, uint8_t* out) {
#define MAILCART_TABLE(t) _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(t.data())))
  const __m256i badForLow = MAILCART_TABLE(kBadForLow);
  const __m256i highClass = MAILCART_TABLE(kHighClass);
  const __m256i offset = MAILCART_TABLE(kOffset);
#undef MAILCART_TABLE
  const __m256i nibble = _mm256_set1_epi8(0x0F);
  // Each group's 24 bits, high byte first, to the front of each 128-bit half, then together.
  const __m256i order = _mm256_setr_epi8(2, 1, 0, 6, 5, 4, 10, 9, 8, 14, 13, 12, -1, -1, -1, -1, 2, 1, 0, 6, 5, 4, 10,
                                         9, 8, 14, 13, 12, -1, -1, -1, -1);
  size_t g = 0;
  for (; g + 8 <= groups; g += 8, in += 32, out += 24) {
    const __m256i s = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in));
    const __m256i high = _mm256_and_si256(_mm256_srli_epi32(s, 4), nibble);
    const __m256i low = _mm256_and_si256(s, nibble);
    const __m256i bad = _mm256_and_si256(_mm256_shuffle_epi8(badForLow, low), _mm256_shuffle_epi8(highClass, high));
    if (!_mm256_testz_si256(bad, bad)) break;
    const __m256i slash = _mm256_cmpeq_epi8(s, _mm256_set1_epi8('/'));
    const __m256i values = _mm256_add_epi8(s, _mm256_shuffle_epi8(offset, _mm256_add_epi8(high, slash)));
    const __m256i pairs = _mm256_maddubs_epi16(values, _mm256_set1_epi32(0x01400140));
    const __m256i groups24 = _mm256_madd_epi16(pairs, _mm256_set1_epi32(0x00011000));
    const __m256i packed =
        _mm256_permutevar8x32_epi32(_mm256_shuffle_epi8(groups24, order), _mm256_setr_epi32(0, 1, 2, 4, 5, 6, 3, 7));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm256_castsi256_si128(packed));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + 16), _mm256_extracti128_si256(packed, 1));
  }
  return g;
}

bool HasAvx2() {
  static const bool has = __builtin_cpu_supports("avx2");
  return has;
}

// 24 bytes to 32 characters: each 128-bit half takes 12 bytes, a group of three in each 32-bit
// word ordered so that two multiplies move its four 6-bit values into bytes of their own; a
// value then becomes its character by adding the offset of its range (A-Z, a-z, 0-9, "+", "/").
__attribute__((target("avx2"))) __m256i EncodeGroups8Avx2(const uint8_t* in) {
  // Reads in[0..31]: bytes 0..11 to the low half, 12..23 to the high one.
  const __m256i loaded = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in));
  const __m256i halves = _mm256_permutevar8x32_epi32(loaded, _mm256_setr_epi32(0, 1, 2, 0, 3, 4, 5, 0));
  const __m256i words =
      _mm256_shuffle_epi8(halves, _mm256_setr_epi8(1, 0, 2, 1, 4, 3, 5, 4, 7, 6, 8, 7, 10, 9, 11, 10, 1, 0, 2, 1, 4, 3,
                                                   5, 4, 7, 6, 8, 7, 10, 9, 11, 10));
  const __m256i first =
      _mm256_mulhi_epu16(_mm256_and_si256(words, _mm256_set1_epi32(0x0FC0FC00)), _mm256_set1_epi32(0x04000040));
  const __m256i second =
      _mm256_mullo_epi16(_mm256_and_si256(words, _mm256_set1_epi32(0x003F03F0)), _mm256_set1_epi32(0x01000010));
  const __m256i values = _mm256_or_si256(first, second);
  // The range of each value as a table index: 0 for 0..25, 1 for 26..51, 2..11 for the digits
  // (52..61), 12 and 13 for 62 and 63.
  __m256i range = _mm256_subs_epu8(values, _mm256_set1_epi8(51));
  const __m256i upper = _mm256_cmpgt_epi8(_mm256_set1_epi8(26), values);
  range = _mm256_or_si256(range, _mm256_and_si256(upper, _mm256_set1_epi8(13)));
  const __m256i offsets = _mm256_setr_epi8('a' - 26, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52,
                                           '0' - 52, '0' - 52, '0' - 52, '0' - 52, '+' - 62, '/' - 63, 'A', 0, 0,
                                           'a' - 26, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52,
                                           '0' - 52, '0' - 52, '0' - 52, '0' - 52, '+' - 62, '/' - 63, 'A', 0, 0);
  return _mm256_add_epi8(values, _mm256_shuffle_epi8(offsets, range));
}

// One line of kBase64LineBytes (57) bytes to its 76 characters; reads only those 57 bytes.
__attribute__((target("avx2"))) char* EncodeLineAvx2(const uint8_t* in, char* out) {
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), EncodeGroups8Avx2(in));
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 32), EncodeGroups8Avx2(in + 24));
  return EncodeGroups(in + 48, 3, out + 64);
}
static_assert(kBase64LineBytes == 57, "EncodeLineAvx2 reads 24 + 24 + 9 bytes");
#endif

// One line of kBase64LineBytes bytes to its characters, without the line end.
char* EncodeLine(const uint8_t* in, char* out) {
#if defined(__x86_64__)
  if (HasAvx2()) return EncodeLineAvx2(in, out);
#endif
  return EncodeGroups(in, kBase64LineBytes / 3, out);
}

// Full groups without "=": returns how many it decoded before the first that needs a closer
// look.
size_t DecodePlainGroups(const uint8_t* in, size_t groups, uint8_t* out) {
  auto group = [](const uint8_t* g) { return kShift18[g[0]] | kShift12[g[1]] | kShift6[g[2]] | kShift0[g[3]]; };
  size_t g = 0;
#if defined(__x86_64__)
  if (groups >= 8 && HasAvx2()) {
    g = DecodeBlocksAvx2(in, groups, out);
    in += g * 4;
    out += g * 3;
  }
#endif
  for (; g < groups; ++g, in += 4, out += 3) {
    const uint32_t v = group(in);
    if (v & kBadGroup) return g;
    Store3(out, v);
  }
  return g;
}

// One group of 1..4 characters with padding allowed: two to four data characters, then only
// "=". A lone data character holds no whole byte and gives nothing. False on a bad character.
bool DecodeGroup(const uint8_t* in, size_t len, uint8_t*& out) {
  uint32_t v = 0;
  size_t data = 0;
  for (size_t i = 0; i < len; ++i) {
    const uint8_t x = kValue[in[i]];
    if (x == kInvalid || (x != kPad && data < i)) return false;
    if (x == kPad) continue;
    v |= uint32_t{x} << (18 - 6 * i);
    ++data;
  }
  if (data < 2) return data == len && len == 1;  // "Q" alone; "=", "Q=" and "==" are bad
  for (size_t i = 0; i + 1 < data; ++i) *out++ = static_cast<uint8_t>(v >> (16 - 8 * i));
  return true;
}

// Decodes one line to o (which then points after its bytes); false on a bad character. Groups
// go the quick way up to the first one that may hold padding or is short.
bool DecodeLine(std::string_view line, uint8_t*& o) {
  const uint8_t* in = Bytes(line);
  const size_t groups = (line.size() + 3) / 4;
  const bool plainEnd = line.size() % 4 == 0 && (line.empty() || line.back() != '=');
  size_t g = DecodePlainGroups(in, plainEnd ? groups : groups - 1, o);
  o += g * 3;
  for (; g < groups; ++g) {
    if (!DecodeGroup(in + g * 4, std::min<size_t>(4, line.size() - g * 4), o)) return false;
  }
  return true;
}

}  // namespace

uint8_t Base64Value(char c) {
  const uint8_t v = kValue[static_cast<uint8_t>(c)];
  if (v == kInvalid) RaiseInvalidCharacter();
  return v == kPad ? 255 : v;
}

void AppendBase64(std::string_view bytes, std::string& out) {
  const size_t old = out.size();
  out.resize(old + EncodedLength(bytes.size()));
  Encode(Bytes(bytes), bytes.size(), out.data() + old);
}

std::string Base64Encode(std::string_view bytes) {
  ProcessMessages();
  std::string out;
  AppendBase64(bytes, out);
  return out;
}

void AppendBase64Decoded(std::string_view line, std::string& out) {
  const size_t old = out.size();
  out.resize(old + line.size() + 1);
  auto* const base = reinterpret_cast<uint8_t*>(out.data() + old);
  uint8_t* o = base;
  if (!DecodeLine(line, o)) {
    out.resize(old);
    RaiseInvalidCharacter();
  }
  out.resize(old + static_cast<size_t>(o - base));
}

std::string Base64Decode(std::string_view line) {
  ProcessMessages();
  std::string out;
  AppendBase64Decoded(line, out);
  return out;
}

void AppendBase64DecodedLines(std::string_view text, std::string& out) {
  ProcessMessages();
  const size_t old = out.size();
  out.resize(old + text.size() + 1);  // a line never decodes to more bytes than it has
  auto* const base = reinterpret_cast<uint8_t*>(out.data() + old);
  uint8_t* o = base;
  auto lineOf = [](std::string_view l) { return !l.empty() && l.back() == '\r' ? l.substr(0, l.size() - 1) : l; };
  size_t guess = 0;  // the length of the last line with its LF: lines are mostly alike
  while (!text.empty()) {
    // A guessed line that decodes holds no LF (LF is no Base64 character), so it is the line.
    uint8_t* const start = o;
    if (guess > 0 && guess <= text.size() && text[guess - 1] == '\n' &&
        DecodeLine(lineOf(text.substr(0, guess - 1)), o)) {
      text.remove_prefix(guess);
      continue;
    }
    o = start;
    const void* lf = std::memchr(text.data(), '\n', text.size());
    const size_t len = lf ? static_cast<size_t>(static_cast<const char*>(lf) - text.data()) : text.size();
    if (!DecodeLine(lineOf(text.substr(0, len)), o)) {
      out.resize(old + static_cast<size_t>(start - base));
      RaiseInvalidCharacter();
    }
    guess = lf ? len + 1 : 0;
    text.remove_prefix(guess > 0 ? guess : len);
  }
  out.resize(old + static_cast<size_t>(o - base));
}

void TBase64LineEncoder::Add(std::string_view block, std::string& out) {
  const size_t lines = (carried_ + block.size()) / kBase64LineBytes;
  const size_t old = out.size();
  out.resize(old + lines * 78);
  char* o = out.data() + old;
  if (carried_ > 0) {
    const size_t take = std::min(kBase64LineBytes - carried_, block.size());
    std::memcpy(carry_ + carried_, block.data(), take);
    carried_ += take;
    block.remove_prefix(take);
    if (carried_ < kBase64LineBytes) return;
    o = EncodeLine(reinterpret_cast<const uint8_t*>(carry_), o);
    *o++ = '\r';
    *o++ = '\n';
    carried_ = 0;
  }
  for (; block.size() >= kBase64LineBytes; block.remove_prefix(kBase64LineBytes)) {
    o = EncodeLine(Bytes(block), o);
    *o++ = '\r';
    *o++ = '\n';
  }
  std::memcpy(carry_, block.data(), block.size());
  carried_ = block.size();
}

void TBase64LineEncoder::Finish(std::string& out) {
  AppendBase64(std::string_view(carry_, carried_), out);
  out += "\r\n";
  carried_ = 0;
}

uint64_t Base64LinesSize(uint64_t bytes) {
  constexpr uint64_t kLine = kBase64LineBytes / 3 * 4 + 2;
  const uint64_t rest = bytes % kBase64LineBytes;
  return bytes / kBase64LineBytes * kLine + (rest + 2) / 3 * 4 + 2;
}

void WriteBase64Lines(TStream& source, TStream& output) {
  constexpr size_t kBlock = kBase64LineBytes * 1150;  // about 64 KB
  std::string block(kBlock, '\0');
  std::string text;
  TBase64LineEncoder encoder;
  source.SetPosition(0);
  for (;;) {
    const int64_t n = source.Read(block.data(), static_cast<int64_t>(kBlock));
    if (n <= 0) break;
    encoder.Add(std::string_view(block.data(), static_cast<size_t>(n)), text);
    output.WriteString(text);
    text.clear();
    ProcessMessages();
  }
  encoder.Finish(text);
  output.WriteString(text);
}
