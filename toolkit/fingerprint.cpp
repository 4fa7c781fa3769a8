#include "toolkit/fingerprint.h"

#include <cctype>

namespace {
constexpr size_t kFingerprintDigits = 64;
}  // namespace

bool NormaliseFingerprint(std::string_view text, std::string& normalised) {
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) text.remove_prefix(1);
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.remove_suffix(1);
  std::string digits;
  for (const char c : text) {
    if (c == ':') continue;
    if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
    digits += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  }
  if (!digits.empty() && digits.size() != kFingerprintDigits) return false;
  // Colons alone are no fingerprint either.
  if (digits.empty() && !text.empty()) return false;
  std::string result;
  for (size_t i = 0; i < digits.size(); i += 2) {
    if (i > 0) result += ':';
    result.append(digits, i, 2);
  }
  normalised = std::move(result);
  return true;
}
