// Header text that is not plain ASCII, written so that any reader takes it: RFC 2047 encoded
// words for phrases and unstructured text, RFC 2231 extended parameters for file names, and
// header lines folded to RFC 5322 2.1.1's 78 characters.
#pragma once

#include <string>
#include <string_view>
#include <vector>

// The most characters of a header line that carries encoded words or extended parameters
// (RFC 5322 2.1.1), and of one encoded word (RFC 2047 2).
inline constexpr size_t kFoldedLineLength = 78;
inline constexpr size_t kMaxEncodedWord = 75;

// True for text that must go as encoded words: bytes above 127, control characters other than
// the tab (white space, RFC 5322 2.2.2), or an "=?" that a reader would otherwise take for the
// start of an encoded word.
bool NeedsEncodedWords(std::string_view text);

// text as UTF-8 encoded words (RFC 2047; a text that is not UTF-8 goes as "unknown-8bit"), the
// first at most firstWord characters long and the others at most 75. All go as B or as Q,
// whichever is shorter for the whole text, with two exceptions that keep the words readable
// by readers that join adjacent words before decoding them: a B word other than the last has
// no "=" padding, and a piece that cannot be cut so goes as Q. No word splits a character.
std::vector<std::string> EncodedWords(std::string_view text, size_t firstWord = kMaxEncodedWord);

// head followed by the tokens, separated by blanks, starting a new line (CR LF and a blank,
// RFC 5322 2.2.3) wherever the next token would pass 78 characters. No line end at the end.
std::string FoldedHeader(std::string_view head, const std::vector<std::string>& tokens);

// RFC 5322 2.1.1: no line of a message may pass 998 characters. A longer header line is
// folded before the last blank that keeps the line within that, or, with no blank to fold
// at, broken there by a line end and a blank.
inline constexpr size_t kMaxLineLength = 998;
std::string FoldedLongLine(std::string_view line);

// The parameter that names a file: as `; name="value"` when value is ASCII without control
// characters (the tab too: readers take white space in a quoted value for folding) and needs
// no continuation (it would fit a line of its own), else as RFC 2231 extended parameters on lines
// of their own: `;` CR LF ` name*=UTF-8''…` or, when that passes 78, the numbered sections
// `name*0*=`, `name*1*=`, … (RFC 2231 3, 4). No section splits a UTF-8 character.
std::string FileNameParameter(std::string_view attribute, std::string_view value);
