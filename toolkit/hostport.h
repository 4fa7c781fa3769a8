// A server as the user writes it, "host" or "host:port": the one reading of that text, for the
// socket client and for everything else that names a server by it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

struct THostPort {
  std::string host;              // a host name or IPv4 address; an IPv6 address without its brackets
  std::optional<uint16_t> port;  // none when the text names none
};

// Reads "host", "host:port", "[IPv6]" or "[IPv6]:port". The host is a name of letters, digits,
// hyphens, dots and underscores (an IPv4 address is one too); the port is a number from 1 to
// 65535. Anything else raises EConvertError whose text names the value and what is wrong with it.
THostPort ParseHostPort(std::string_view text);

// "host:port", with an IPv6 address in brackets so that its own colons are not read as the port's.
std::string HostPortText(std::string_view host, uint16_t port);

// A lower-case DNS host name: dot-separated labels of letters, digits and inner hyphens, at most
// 63 bytes each and 253 in all; what a name found in a document or the DNS must be before it is
// asked for, connected to or written to the settings.
bool IsHostName(std::string_view name);
