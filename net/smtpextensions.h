// The service extensions a server lists in its reply to EHLO (RFC 5321 4.1.1.1), read once
// and asked by name: Supports("PIPELINING"), Parameters("AUTH"), SizeLimit().
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

class TSmtpExtensions {
 public:
  // From the lines of a 250 reply to EHLO, reply codes included; the first line greets and
  // lists nothing. A line that names no keyword is skipped.
  static TSmtpExtensions FromReply(const std::vector<std::string>& lines);

  // Names are compared without regard to case (RFC 5321 2.4).
  bool Supports(std::string_view name) const;
  // The parameters that follow the name, as the server wrote them; empty when it has none or
  // is not listed.
  const std::vector<std::string>& Parameters(std::string_view name) const;
  // RFC 1870: the largest message the server takes, in bytes; 0 when it announces no limit.
  uint64_t SizeLimit() const;
  bool Empty() const { return byName_.empty(); }

 private:
  std::map<std::string, std::vector<std::string>, std::less<>> byName_;  // names upper case
};
