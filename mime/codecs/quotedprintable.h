// Quoted-printable (RFC 2045 6.7), exact in both directions: what the encoder writes decodes to
// the very bytes it read, whatever their line ends, trailing blanks or line lengths.
//
// Encoded layout: only CR LF in the source is a hard line break. A line carries at most 65
// source bytes, and no more than keep it within 76 characters once escaped (RFC 2045 6.7);
// a longer stretch is cut at its last blank (the blank starts the next line) or hard at that
// length, with a soft break "=". A lone LF is written "=0A" and ends its line with a soft
// break, so Unix text stays readable line by line; a lone CR is "=0D". Escaped: bytes below 32,
// "=", bytes from 128, a blank that would stand last before a hard break or at the end of the
// data, and a line that would be a lone "." (which SMTP would take for the end of the data).
// Data that does not end in CR LF ends with a soft break; empty data gives no lines.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

class TStream;
class TStringList;

// Streaming encoder: feed source blocks of any size, then Finish(). Complete lines are appended
// to out, each ending in CR LF; it carries fewer than 70 bytes between calls.
class TQPEncoder {
 public:
  void Add(std::string_view block, std::string& out);
  void Finish(std::string& out);

 private:
  void Emit(std::string_view text, bool whole, std::string& out);
  std::string carry_;  // the start of a paragraph whose cut is not yet sure
  std::string work_;   // carry_ and the next block, reused from block to block
};

// One Encode or one Decode per object; the codec owns neither side.
class TQuotedPrintable {
 public:
  TQuotedPrintable(TStream* stream, TStringList* lines) : Stream(stream), Lines(lines) {}

  // Stream from position 0 to its end -> lines appended to Lines (without line ends).
  void Encode();
  // All of Lines -> bytes written to Stream at its position. A line without a soft break gets
  // CR LF after it, the last line included.
  void Decode();

  // Where the next encoded line of a paragraph ends. rest starts at the line's first source
  // byte; whole tells that the paragraph ends with rest (at CR LF or the end of the data),
  // otherwise rest must hold at least 67 bytes. Sets last when the line ends the paragraph.
  static size_t SplitParagraph(std::string_view rest, bool whole, bool& last);
  // How an encoded line ends: a soft break inside a paragraph, a hard break (CR LF in the
  // source), or the soft break that ends data not ending in CR LF.
  enum class TBreak { soft, hard, endOfData };
  // Appends the escaped form of one piece and its line end ("=" CR LF or CR LF). Before a hard
  // break or the end of the data a trailing blank is escaped, before a hard break a lone "." too.
  static void EncodeLine(std::string_view piece, TBreak lineBreak, std::string& out);
  // Appends the bytes of one encoded line to out (no line end) and returns true when the line
  // ends in a soft break. Trailing blanks and TABs are transport padding and are ignored
  // (RFC 2045 6.7 rule 3); an "=" not followed by two hex digits stays as it is, except that a
  // single digit cut short by the line end ("=4") is read.
  static bool DecodeLine(std::string_view line, std::string& out);

  TStream* Stream;
  TStringList* Lines;
  // Set from an event handler while the codec pumps: Encode and Decode end after the block or
  // paragraph in hand.
  bool Stop = false;
};

// Decodes the escapes of a short quoted-printable text (a Q-encoded header word after "_" was
// replaced): the result ends before the first decoded CR, LF or NUL, a final "=" vanishes, and
// it is cut to maxLength.
std::string QPDecodeText(std::string_view text, size_t maxLength = 255);
