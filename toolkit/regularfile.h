// The one rule for files the program reads or sends: only a regular file, opened without
// waiting on it (a FIFO would wait for a writer for ever, a device would never end).
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <string>

// path opened with flags (O_RDONLY by default; O_NONBLOCK, O_NOCTTY and O_CLOEXEC are added)
// and kept open only when it is a regular file: its descriptor, with st its status. Else -1,
// and why holds the reason ("No such file or directory", "Is a directory", "not a regular
// file").
int OpenRegularFile(const std::string& path, std::string& why, struct stat& st, int flags = 0);

// Empty when path is a regular file or names nothing; else why it is not read, naming it:
// "\"/path\" is not a regular file".
std::string RegularFileProblem(const std::string& path);

// The size of a regular file; 0 for anything else or nothing.
uint64_t RegularFileSize(const std::string& path);
