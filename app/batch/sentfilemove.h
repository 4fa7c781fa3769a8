// Where a watch puts a file once its message was accepted (--move-to): out of the watched folder,
// into a folder of the user's, without ever replacing a file there or losing the one sent.
#pragma once

#include <string>

#include "app/batch/filestamp.h"

struct TSentFileMove {
  std::string destination;  // where the file (or its copy) is now; empty when it stayed
  std::string problem;      // why it, or after a copy its original, stayed; empty when moved
};

// Moves path into folder (made with its parents when missing) under its own name, or the first
// free one of "scan (1).pdf", "scan (2).pdf", ... (1000 at most). Only while path still names
// the file sent (sent: device, inode, size, time) is anything done. To another file system:
// copied to a hidden temporary name in folder, synced, renamed into place without replacing,
// and the original removed only when its name still holds the file sent. Nothing is raised.
TSentFileMove MoveSentFile(const std::string& path, const TFileStamp& sent, const std::string& folder);

// Why folder cannot take the files a watch of watched (recursive: and the folders inside, but
// for those named ".*") sent: one moved where the watch looks would come out again under its new
// name and be sent again, for ever. Empty when it can. Links are followed; folder need not exist.
std::string MoveFolderProblem(const std::string& folder, const std::string& watched, bool recursive);
