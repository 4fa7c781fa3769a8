// The temporary-files directory and unique temporary file names.
#pragma once

#include <string>

// The directory for temporary files ($TMPDIR, else /tmp), always with a trailing "/".
std::string GetTempPath();

// Creates a new, empty file in dir whose name begins with prefix and ends in characters the
// system chose to make it unique; returns its full path. The file is closed again: the caller
// opens it by name. Raises EFCreateError naming the directory when no file can be created.
std::string GetTempFileName(const std::string& dir, const std::string& prefix);

// A new file in dir, mode 0600, that has no name from the start (O_TMPFILE), so that nothing of
// it is left behind after a crash; where the file system cannot make one, a named file unlinked
// at once. Returns its descriptor, open for reading and writing. Raises EFCreateError naming
// the directory when no file can be created.
int CreateUnnamedTempFile(const std::string& dir);
