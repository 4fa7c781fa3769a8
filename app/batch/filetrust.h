// Whether a file may give values that decide where mail goes, what runs, whom the program trusts
// or what it deletes (a settings file, a journal): only when no other user could have put them
// there.
#pragma once

#include <string>

// Empty when the file belongs to the user running the program and neither its group nor others
// may write to it, and when there is no such file (it then gives nothing to distrust). Otherwise
// the reason, naming the file: "\"/path/mailcart.ini\" belongs to another user", "... can be
// changed by other users (mode 0664)", or "... cannot be read: <reason>". Owner and mode are
// those of the file opened, so a symbolic link counts as its target.
std::string FileTrustProblem(const std::string& fileName);

// The same for a file already open: its owner and mode as the descriptor sees them, so nothing
// can be put in its place between the check and the reading.
std::string DescriptorTrustProblem(int fd, const std::string& fileName);
