// Text in a character set named by a message (an encoded word, an RFC 2231 parameter) turned
// into the UTF-8 the program works in.
#pragma once

#include <string>
#include <string_view>

// UTF-8 and US-ASCII text stays as it is; ISO-8859-1, ISO-8859-15 and Windows-1252 become
// UTF-8; any other character set leaves the bytes as they are. Names are matched without
// regard to case, and an RFC 2231 language suffix ("utf-8*de") is ignored.
std::string ToUtf8(std::string_view bytes, std::string_view charset);
