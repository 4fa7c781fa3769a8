// Base64 (RFC 2045 6.8): single lines for the line-by-line callers, and block forms that the
// composer and the parser use in their hot loops (no allocation per line, no pumping per line).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

class TStream;

// Bytes per 76-character line (RFC 2045 6.8: encoded lines are at most 76 characters).
inline constexpr size_t kBase64LineBytes = 57;

// One line, no line end: groups of three bytes to four characters, "=" filling the last group.
// Any length; 57 bytes give 76 characters, none the empty line. Pumps once.
std::string Base64Encode(std::string_view bytes);
// The bytes of one line. A group "xx==" gives one byte and "xxx=" two, wherever it stands; a
// short last group counts as padded ("QQ" as "QQ=="). Any other character, white space and
// line ends included, raises EInOutError "Invalid Character". Pumps once.
std::string Base64Decode(std::string_view line);
// 0..63 for the alphabet, 255 for "="; anything else raises EInOutError "Invalid Character".
uint8_t Base64Value(char c);

// Appends the encoding of bytes (any length, padded) to out.
void AppendBase64(std::string_view bytes, std::string& out);
// Appends the bytes of one line to out; same rules and exception as Base64Decode. On an
// exception out holds what it held before the call.
void AppendBase64Decoded(std::string_view line, std::string& out);

// The body lines of a Base64 part, exactly as the composer lays them out: each group of 57
// source bytes gives a 76-character line ending in CR LF, the rest (1..56 bytes) a shorter
// line, and data whose length is a multiple of 57 (empty data included) ends with one empty
// line (CR LF alone). Feed the data in blocks of any size; Finish() writes the last line.
// Typical use: one 57 KB block per Add, one stream write per block; about 1.35 output bytes
// per input byte.
class TBase64LineEncoder {
 public:
  void Add(std::string_view block, std::string& out);
  void Finish(std::string& out);

 private:
  char carry_[kBase64LineBytes] = {};
  size_t carried_ = 0;
};

// The size of the lines TBase64LineEncoder writes for that many bytes, line ends included.
uint64_t Base64LinesSize(uint64_t bytes);

// Writes the Base64 body lines of source (from position 0 to its end) to output at its
// position: reads and writes in blocks of about 64 KB and pumps once per block.
void WriteBase64Lines(TStream& source, TStream& output);

// Decodes a block of Base64 body lines (each ending in CR LF or LF; the last may lack it) and
// appends the bytes to out, each line as Base64Decode would. On "Invalid Character" out holds
// the bytes of the lines before the bad one. Pumps once.
void AppendBase64DecodedLines(std::string_view text, std::string& out);
