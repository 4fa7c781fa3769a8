#include "net/dotstuffing.h"

#include <cstring>

// Only the dots are looked for: the bytes between them go on in one append, so a block without
// any (the lines of a Base64 part) costs one scan and one copy.
void TDotStuffer::Stuff(std::string_view block, std::string& out) {
  if (block.empty()) return;
  size_t from = 0;  // the first byte not appended yet
  for (size_t at = 0; at < block.size(); ++at) {
    const void* dot = std::memchr(block.data() + at, '.', block.size() - at);
    if (dot == nullptr) break;
    at = static_cast<size_t>(static_cast<const char*>(dot) - block.data());
    if (at == 0 ? !atLineStart_ : block[at - 1] != '\n') continue;
    out.append(block.substr(from, at - from));
    out += '.';
    from = at;  // the dot itself goes with the next span
  }
  out.append(block.substr(from));
  atLineStart_ = block.back() == '\n';
  beforeLast_ = block.size() >= 2 ? block[block.size() - 2] : last_;
  last_ = block.back();
  empty_ = false;
}

bool TDotStuffer::LineOpen() const { return !empty_ && !(beforeLast_ == '\r' && last_ == '\n'); }
