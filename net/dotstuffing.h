// SMTP transparency (RFC 5321 4.5.2) for the text of a DATA command, as a streaming filter: the
// text may arrive in blocks of any size and comes out as if it had been stuffed whole.
#pragma once

#include <string>
#include <string_view>

class TDotStuffer {
 public:
  // Appends block to out with one more "." in front of every line that begins with ".".
  void Stuff(std::string_view block, std::string& out);
  // True when the text so far ends inside a line, so that the end-of-data mark needs a CR LF
  // before its "."; false after a final CR LF and for an empty text.
  bool LineOpen() const;
  // Starts a new text.
  void Reset() { *this = TDotStuffer(); }

 private:
  // A line starts the text and follows every LF: servers that also take a lone LF as a line
  // end must not see an unstuffed "." there either.
  bool atLineStart_ = true;
  char beforeLast_ = 0;  // the last two bytes of the text so far
  char last_ = 0;
  bool empty_ = true;
};
