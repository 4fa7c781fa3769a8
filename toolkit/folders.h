// Folders made on demand, and where the user's folders are.
#pragma once

#include <sys/types.h>

#include <string>

// Makes path and every missing folder above it with mode (mkdir -p). Returns 0 when path is a
// folder afterwards, else the errno of what stood in the way (ENOTDIR when a file holds its
// place).
int ForceDirectories(const std::string& path, mode_t mode);

// The user's home: $HOME, else the password database's entry.
std::string HomeFolder();
// XDG Base Directory: $XDG_CONFIG_HOME, $XDG_STATE_HOME when absolute (a relative one is to be
// ignored), else ~/.config and ~/.local/state.
std::string ConfigHome();
std::string StateHome();
