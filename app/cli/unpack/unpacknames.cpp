#include "app/cli/unpack/unpacknames.h"

#include "mime/pxdecoder.h"
#include "toolkit/strutils.h"

namespace {

// The types an unnamed part usually has. The system's type table lists several extensions for
// most types, in an order that varies between systems; a file name should not.
constexpr struct {
  std::string_view type;
  const char* extension;
} kExtensions[] = {
    {"text/plain", ".txt"},    {"text/html", ".html"},     {"text/rtf", ".rtf"},
    {"text/calendar", ".ics"}, {"message/rfc822", ".eml"}, {"application/pdf", ".pdf"},
    {"image/png", ".png"},     {"image/jpeg", ".jpg"},     {"image/gif", ".gif"},
};

std::string ExtensionOf(std::string_view contentType) {
  for (const auto& e : kExtensions)
    if (SameText(e.type, contentType)) return e.extension;
  return {};
}

// An extension longer than this is part of the name, not a type.
constexpr size_t kMaxExtensionBytes = 16;

bool IsControl(char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; }

}  // namespace

std::string SafeFileName(std::string_view name) {
  const size_t separator = name.find_last_of("/\\");
  if (separator != std::string_view::npos) name.remove_prefix(separator + 1);
  std::string safe;
  for (char c : name)
    if (!IsControl(c)) safe += c;
  const size_t last = safe.find_last_not_of(' ');
  safe.erase(last == std::string::npos ? 0 : last + 1);
  safe.erase(0, std::min(safe.find_first_not_of(". "), safe.size()));
  safe.resize(Utf8Prefix(safe, kMaxFileNameBytes).size());
  return safe.empty() ? kGeneratedFileName : safe;
}

std::string NumberedFileName(const std::string& name, int n) {
  if (n <= 1) return name;
  const size_t dot = name.rfind('.');
  const bool hasExtension = dot != std::string::npos && dot > 0 && name.size() - dot <= kMaxExtensionBytes;
  std::string stem = name.substr(0, hasExtension ? dot : std::string::npos);
  const std::string extension = hasExtension ? name.substr(dot) : std::string();
  const std::string number = " (" + std::to_string(n) + ")";
  const size_t room = kMaxFileNameBytes - number.size() - extension.size();
  stem.resize(Utf8Prefix(stem, room).size());
  return stem + number + extension;
}

std::string TFileNames::Next(const std::string& name) {
  int& number = nextNumber_.try_emplace(name, 1).first->second;
  std::string candidate;
  do candidate = NumberedFileName(name, number++);
  while (!handedOut_.insert(candidate).second);
  return candidate;
}

std::string UnpackedFileName(const std::string& name, std::string_view contentType) {
  return SafeFileName(IsGeneratedPartName(name) ? name + ExtensionOf(contentType) : name);
}
