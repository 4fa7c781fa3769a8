// The message text as the system's mailer takes it: the sendmail interface reads lines ended by
// LF, where SMTP (and the composer) end them with CR LF. A streaming filter, like the
// dot-stuffer beside it.
#pragma once

#include <string>
#include <string_view>

// CR LF to LF over a text that comes in blocks: a CR that ends a block waits for the next one.
// A CR without an LF after it stays.
class TCrLfToLf {
 public:
  std::string Convert(std::string_view block);
  // The CR still held at the end of the text, if any.
  std::string Finish();

 private:
  bool heldCr_ = false;
};
