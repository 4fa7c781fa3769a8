// The transfer encodings of the mail library: Base64 (RFC 2045 6.8), quoted-printable
// (RFC 2045 6.7), uuencode, and the decoding of encoded words in header values (RFC 2047).
// Every coder works on byte strings of any length and loses no byte; the pumping of the window
// goes through the cheap, rate-limited ProcessMessages().
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "mime/codecs/base64.h"
#include "mime/codecs/quotedprintable.h"

// Uuencode: value 0 is the grave accent, 1..63 are "!".."_" (value + 32). Reading, the blank
// also means 0, as many encoders write it.
inline constexpr size_t kUULineBytes = 45;  // bytes per line as the composer writes them

// One line: the length character, then the bytes in groups of three (a last group of one or two
// bytes gives two or three characters, not padded). Up to 63 bytes, the most a length character
// counts; more raises std::length_error. Pumps once.
std::string UUEncodeLine(std::string_view bytes);
// Appends the same line to out, with no pumping: the composer's loop form.
void AppendUUEncodedLine(std::string_view bytes, std::string& out);
// The length of that line for that many bytes (up to 63), without a line end.
size_t UUEncodedLineLength(size_t bytes);
// The bytes of one line: groups of four after the length character (a short last group counts
// its missing characters as 0), cut to the length the first character announces, or padded
// with zero bytes to it when the groups hold less (a line whose trailing blanks were lost). An
// empty line gives no bytes. Any other character than the alphabet's and the blank raises
// EInOutError "Invalid Character". Pumps once.
std::string UUDecodeLine(std::string_view line);
uint8_t UUValue(char c);  // raises EInOutError "Invalid Character"
// True for "begin <mode> <name>": "BEGIN" in any case, more than eight characters, and the
// first three characters after it (blanks trimmed) read as a number.
bool IsUUBeginLine(std::string_view line);
// The name of a begin line: the rest after the mode word and the blanks that follow it; a name
// in double quotes loses them (empty when the closing quote is missing).
std::string UUFileName(std::string_view line);

// RFC 2047: decodes the "=?charset?B|Q?text?=" words of a header value into UTF-8 as ToUtf8
// does (other character sets keep their bytes). Blanks between two adjacent encoded words go; all other text stays as it is,
// "_" included. A word that is malformed or does not decode stays as it stands. The result is
// cut to maxLength bytes, before a UTF-8 character that would not fit.
std::string DecodeHeaderWords(std::string_view value, size_t maxLength = 255);
