// Folders made on demand.
#pragma once

#include <sys/types.h>

#include <string>

// Makes path and every missing folder above it with mode (mkdir -p). Returns 0 when path is a
// folder afterwards, else the errno of what stood in the way (ENOTDIR when a file holds its
// place).
int ForceDirectories(const std::string& path, mode_t mode);
