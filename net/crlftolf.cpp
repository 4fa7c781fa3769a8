#include "net/crlftolf.h"

#include <algorithm>

std::string TCrLfToLf::Convert(std::string_view block) {
  std::string lines;
  lines.reserve(block.size() + 1);
  if (heldCr_ && !block.empty()) {
    if (block.front() != '\n') lines += '\r';
    heldCr_ = false;
  }
  for (size_t at = 0; at < block.size();) {
    const size_t cr = std::min(block.find('\r', at), block.size());
    lines.append(block.substr(at, cr - at));
    if (cr + 1 == block.size())
      heldCr_ = true;
    else if (cr + 1 < block.size() && block[cr + 1] != '\n')
      lines += '\r';
    at = cr + 1;
  }
  return lines;
}

std::string TCrLfToLf::Finish() {
  const bool held = heldCr_;
  heldCr_ = false;
  return held ? "\r" : "";
}
