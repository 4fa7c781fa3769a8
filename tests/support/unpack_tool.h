// Runs the mailcart-unpack program of this build, as a user would from a shell.
#pragma once

#include <string>
#include <vector>

struct UnpackRun {
  int exitCode = -1;               // -1: did not start, crashed or ran out of time
  std::vector<std::string> lines;  // standard output, one entry per line
  std::string errors;              // standard error
};

// Runs mailcart-unpack with args in workingDir (empty: the test's own) for at most 60 seconds.
UnpackRun RunUnpack(const std::vector<std::string>& args, const std::string& workingDir = "");
