// The temporary-files directory and unique temporary file names.
#pragma once

#include <string>

// The directory for temporary files ($TMPDIR, else /tmp), always with a trailing "/".
std::string GetTempPath();

// Creates a new, empty file in dir whose name begins with prefix and ends in characters the
// system chose to make it unique; returns its full path. The file is closed again: the caller
// opens it by name. Raises EFCreateError naming the directory when no file can be created.
std::string GetTempFileName(const std::string& dir, const std::string& prefix);
