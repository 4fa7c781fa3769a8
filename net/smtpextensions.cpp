#include "net/smtpextensions.h"

#include <algorithm>
#include <cctype>

#include "toolkit/strutils.h"

namespace {
// RFC 5321 4.1.1.1: ehlo-line = ehlo-keyword *( SP ehlo-param ); the keyword starts with a
// letter or digit and holds letters, digits and hyphens.
bool IsKeyword(std::string_view word) {
  if (word.empty() || !std::isalnum(static_cast<unsigned char>(word[0]))) return false;
  for (char c : word)
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-') return false;
  return true;
}

std::vector<std::string> Words(std::string_view text) {
  std::vector<std::string> words;
  for (size_t at = 0; at < text.size();) {
    const size_t end = std::min(text.find(' ', at), text.size());
    if (end > at) words.emplace_back(text.substr(at, end - at));
    at = end + 1;
  }
  return words;
}
}  // namespace

TSmtpExtensions TSmtpExtensions::FromReply(const std::vector<std::string>& lines) {
  TSmtpExtensions extensions;
  for (size_t i = 1; i < lines.size(); ++i) {
    // "250-NAME params" or "250 NAME params": the text after the code and its separator.
    std::vector<std::string> words = Words(std::string_view(lines[i]).substr(std::min<size_t>(4, lines[i].size())));
    if (words.empty() || !IsKeyword(words[0])) continue;
    const std::string name = UpperCase(words[0]);
    words.erase(words.begin());
    extensions.byName_.insert_or_assign(name, std::move(words));
  }
  return extensions;
}

bool TSmtpExtensions::Supports(std::string_view name) const { return byName_.count(UpperCase(name)) != 0; }

const std::vector<std::string>& TSmtpExtensions::Parameters(std::string_view name) const {
  static const std::vector<std::string> kNone;
  const auto found = byName_.find(UpperCase(name));
  return found != byName_.end() ? found->second : kNone;
}

uint64_t TSmtpExtensions::SizeLimit() const {
  const std::vector<std::string>& parameters = Parameters("SIZE");
  long long limit = 0;
  if (parameters.empty() || !TryStrToInt(parameters[0], limit) || limit < 0) return 0;
  return static_cast<uint64_t>(limit);
}
