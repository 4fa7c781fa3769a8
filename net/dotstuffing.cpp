#include "net/dotstuffing.h"

void TDotStuffer::Stuff(std::string_view block, std::string& out) {
  if (block.empty()) return;
  size_t at = 0;
  while (at < block.size()) {
    if (atLineStart_ && block[at] == '.') out += '.';
    const size_t lf = block.find('\n', at);
    const size_t end = lf == std::string_view::npos ? block.size() : lf + 1;
    out.append(block.substr(at, end - at));
    atLineStart_ = lf != std::string_view::npos;
    at = end;
  }
  beforeLast_ = block.size() >= 2 ? block[block.size() - 2] : last_;
  last_ = block.back();
  empty_ = false;
}

bool TDotStuffer::LineOpen() const { return !empty_ && !(beforeLast_ == '\r' && last_ == '\n'); }
