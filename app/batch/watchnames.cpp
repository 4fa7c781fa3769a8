#include "app/batch/watchnames.h"

#include <fnmatch.h>

#include <algorithm>

namespace {

bool EndsWith(std::string_view text, std::string_view end) {
  return text.size() >= end.size() && text.substr(text.size() - end.size()) == end;
}

bool MatchesAny(const std::vector<std::string>& patterns, const std::string& name) {
  return std::any_of(patterns.begin(), patterns.end(),
                     [&](const std::string& pattern) { return ::fnmatch(pattern.c_str(), name.c_str(), 0) == 0; });
}

}  // namespace

bool IsTemporaryName(std::string_view name) {
  if (name.empty() || name.front() == '.' || name.front() == '~' || name.back() == '~') return true;
  constexpr std::string_view kEndings[] = {".part", ".tmp", ".crdownload", ".partial", ".swp"};
  return std::any_of(std::begin(kEndings), std::end(kEndings),
                     [&](std::string_view end) { return EndsWith(name, end); });
}

bool WatchTakes(const TWatchNames& names, std::string_view name) {
  if (IsTemporaryName(name)) return false;
  const std::string text(name);
  return (names.include.empty() || MatchesAny(names.include, text)) && !MatchesAny(names.exclude, text);
}
