#include "toolkit/hostport.h"

#include <algorithm>

#include "toolkit/exceptions.h"
#include "toolkit/strtable.h"
#include "toolkit/strutils.h"

namespace {

constexpr auto npos = std::string_view::npos;

// RFC 1123 2.1 names: letters, digits, hyphens and dots; underscores too, which some hosts'
// names carry although DNS host names may not. A dotted IPv4 address is such a name as well.
bool IsHostName(std::string_view host) {
  return std::all_of(host.begin(), host.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
           c == '_';
  });
}

// RFC 4291 2.2: hex digits and colons, at least two of them, with perhaps a dotted IPv4 tail.
// Lenient on purpose: the resolver has the last word on which addresses exist.
bool LooksLikeIPv6(std::string_view host) {
  return std::count(host.begin(), host.end(), ':') >= 2 && host.find_first_not_of("0123456789abcdefABCDEF:.") == npos;
}

// The number the digits give when it is a port, else 0.
uint16_t PortNumber(std::string_view digits) {
  if (digits.empty() || digits.find_first_not_of("0123456789") != npos) return 0;
  uint32_t value = 0;
  for (char digit : digits) {
    value = value * 10 + static_cast<uint32_t>(digit - '0');
    if (value > 65535) return 0;
  }
  return static_cast<uint16_t>(value);
}

// Reads text into result; the text that says why it is no server, or 0 when it is one.
int Read(std::string_view text, THostPort& result) {
  std::string_view host;
  std::string_view rest;  // "" or ":port"
  if (text.starts_with('[')) {
    const size_t close = text.find(']');
    if (close == npos || (close + 1 < text.size() && text[close + 1] != ':')) return sServerIPv6NeedsBrackets;
    host = text.substr(1, close - 1);
    if (!LooksLikeIPv6(host)) return sServerBracketsNotIPv6;
    rest = text.substr(close + 1);
  } else {
    const size_t colon = text.find(':');
    if (colon != npos && text.find(':', colon + 1) != npos) return sServerIPv6NeedsBrackets;
    host = text.substr(0, colon);
    if (colon != npos) rest = text.substr(colon);
    if (host.empty()) return sServerHostMissing;
    if (!IsHostName(host)) return sServerHostCharacters;
  }
  if (!rest.empty()) {
    const uint16_t port = PortNumber(rest.substr(1));
    if (port == 0) return sServerPortRange;
    result.port = port;
  }
  result.host = host;
  return 0;
}

}  // namespace

THostPort ParseHostPort(std::string_view text) {
  THostPort result;
  if (const int problem = Read(text, result); problem != 0)
    throw EConvertError(FormatText(LoadStr(sNotAServer), {DisplayText(text), LoadStr(problem)}));
  return result;
}

std::string HostPortText(std::string_view host, uint16_t port) {
  const std::string portText = ":" + std::to_string(port);
  if (host.find(':') != npos) return "[" + std::string(host) + "]" + portText;
  return std::string(host) + portText;
}

namespace {
bool IsHostLabel(std::string_view label) {
  return !label.empty() && label.size() <= 63 && label.front() != '-' && label.back() != '-' &&
         std::all_of(label.begin(), label.end(),
                     [](char c) { return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-'; });
}
}  // namespace

bool IsHostName(std::string_view name) {
  if (name.empty() || name.size() > 253) return false;
  size_t start = 0;
  for (size_t dot; (dot = name.find('.', start)) != std::string_view::npos; start = dot + 1)
    if (!IsHostLabel(name.substr(start, dot - start))) return false;
  return IsHostLabel(name.substr(start));
}
