#include "net/pxsecurity.h"

#include <iterator>

#include "toolkit/strutils.h"

namespace {
constexpr const char* kSecurityNames[] = {"Auto", "STARTTLS", "TLS", "None"};
}  // namespace

bool ParseSecurity(std::string_view text, TpxSecurity& security) {
  for (size_t i = 0; i < std::size(kSecurityNames); ++i) {
    if (!SameText(text, kSecurityNames[i])) continue;
    security = static_cast<TpxSecurity>(i);
    return true;
  }
  return false;
}

const char* SecurityName(TpxSecurity security) { return kSecurityNames[static_cast<size_t>(security)]; }
