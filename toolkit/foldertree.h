// The files of a folder tree, as the program takes them when a folder is chosen: only regular
// files, never through a symbolic link, in an order that keeps each folder's files together.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Folders below this many levels under the chosen one are not entered.
inline constexpr int kMaxFolderDepth = 64;

struct TFolderFiles {
  std::vector<std::string> files;
  std::vector<std::string> problems;  // one sentence each, naming the folder or entry
  bool more = false;                  // files past maxFiles were left out
};

// The regular files inside folder and its subfolders: full paths, sorted by byte order of the
// path (so a folder's files come together), hidden entries (name starting with '.') left out,
// symbolic links neither followed nor listed, FIFOs/devices/sockets left out; a subfolder that
// cannot be read, or deeper than kMaxFolderDepth, adds a problem sentence naming it and the rest
// is still listed. At most maxFiles files are returned, the first of that order; more is true
// when there were more.
TFolderFiles ListFolderFiles(const std::string& folder, size_t maxFiles = SIZE_MAX);

// The files paths stand for, in their order: a folder (followed when named through a link) the
// regular files inside it as above, any other path as it stands, its check left to the caller.
// At most maxFromFolders files come from folders in all; more says there were more. A folder
// without a file adds a problem.
TFolderFiles ExpandFolders(const std::vector<std::string>& paths, size_t maxFromFolders = SIZE_MAX);
