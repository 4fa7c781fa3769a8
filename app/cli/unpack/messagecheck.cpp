#include "app/cli/unpack/messagecheck.h"

#include <algorithm>
#include <vector>

#include "toolkit/strutils.h"

namespace {

constexpr std::string_view kKnownFields[] = {"From",         "Date",       "Subject",  "To",
                                             "MIME-Version", "Message-ID", "Received", "Return-Path"};

// RFC 5322 3.6.8: a field name is printable US-ASCII but the colon; 4.5.3 (obsolete syntax):
// blanks may come before the colon.
bool IsHeaderField(std::string_view line) {
  const auto isNameChar = [](char c) { return c > ' ' && c < 0x7F && c != ':'; };
  const size_t nameEnd = std::find_if_not(line.begin(), line.end(), isNameChar) - line.begin();
  if (nameEnd == 0) return false;
  const size_t colon = line.find_first_not_of(" \t", nameEnd);
  return colon != std::string_view::npos && line[colon] == ':';
}

bool IsKnownField(std::string_view line) {
  if (!IsHeaderField(line)) return false;
  const std::string_view name = line.substr(0, line.find_first_of(" \t:"));
  return std::any_of(std::begin(kKnownFields), std::end(kKnownFields),
                     [&](std::string_view known) { return SameText(known, name); });
}

// The header block: the lines before the first empty one (RFC 5322 2.1), without their ends.
std::vector<std::string_view> HeadLines(std::string_view start) {
  std::vector<std::string_view> lines;
  for (size_t at = 0; at < start.size();) {
    const size_t end = std::min(start.find('\n', at), start.size());
    std::string_view line = start.substr(at, end - at);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty()) break;
    lines.push_back(line);
    at = end + 1;
  }
  return lines;
}

}  // namespace

std::string MessageProblem(std::string_view start) {
  if (start.empty()) return "it is empty";
  const std::vector<std::string_view> head = HeadLines(start);
  for (std::string_view line : head)
    if (line.find('\0') != std::string_view::npos) return "it holds binary data";
  if ((!head.empty() && IsHeaderField(head.front())) || std::any_of(head.begin(), head.end(), IsKnownField)) return {};
  return "it does not begin with header fields such as From: and Subject:";
}
