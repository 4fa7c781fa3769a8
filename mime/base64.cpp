#include "mime/base64.h"

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

// Full groups without "=": returns how many decoded before the first that needs a closer look.
size_t DecodePlainGroups(const uint8_t* in, size_t groups, uint8_t* out) {
  for (size_t g = 0; g < groups; ++g, in += 4, out += 3) {
    const uint32_t v = kShift18[in[0]] | kShift12[in[1]] | kShift6[in[2]] | kShift0[in[3]];
    if (v & kBadGroup) return g;
    out[0] = static_cast<uint8_t>(v >> 16);
    out[1] = static_cast<uint8_t>(v >> 8);
    out[2] = static_cast<uint8_t>(v);
  }
  return groups;
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
  out.resize(old + line.size() / 4 * 3 + 3);
  const uint8_t* in = Bytes(line);
  auto* base = reinterpret_cast<uint8_t*>(out.data() + old);
  // The last group may hold the padding; every group before it goes the quick way.
  const size_t groups = (line.size() + 3) / 4;
  size_t g = DecodePlainGroups(in, groups > 0 ? groups - 1 : 0, base);
  uint8_t* o = base + g * 3;
  for (; g < groups; ++g) {
    const size_t len = std::min<size_t>(4, line.size() - g * 4);
    if (!DecodeGroup(in + g * 4, len, o)) {
      out.resize(old);
      RaiseInvalidCharacter();
    }
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
  out.reserve(out.size() + text.size() / 4 * 3);
  while (!text.empty()) {
    const void* lf = std::memchr(text.data(), '\n', text.size());
    size_t len = lf ? static_cast<size_t>(static_cast<const char*>(lf) - text.data()) : text.size();
    std::string_view line = text.substr(0, len);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    AppendBase64Decoded(line, out);
    text.remove_prefix(lf ? len + 1 : len);
  }
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
    o = EncodeGroups(reinterpret_cast<const uint8_t*>(carry_), kBase64LineBytes / 3, o);
    *o++ = '\r';
    *o++ = '\n';
    carried_ = 0;
  }
  for (; block.size() >= kBase64LineBytes; block.remove_prefix(kBase64LineBytes)) {
    o = EncodeGroups(Bytes(block), kBase64LineBytes / 3, o);
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
