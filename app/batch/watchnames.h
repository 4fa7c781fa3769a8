// Which names in a watched folder are files to send: the one rule for --include, --exclude and
// the names programs give files they are still writing.
#pragma once

#include <string>
#include <string_view>
#include <vector>

struct TWatchNames {
  // fnmatch patterns over a file's name (not its folder); with includes, only a name that
  // matches one of them is taken, and a name that matches an exclude never is.
  std::vector<std::string> include, exclude;
};

// Names that editors, downloads and copying programs give a file they have not finished, and
// hidden names: starting with '.' or '~', or ending in '~', ".part", ".tmp", ".crdownload",
// ".partial" or ".swp".
bool IsTemporaryName(std::string_view name);

// Whether a watch sends a file of this name (the last component of its path).
bool WatchTakes(const TWatchNames& names, std::string_view name);
