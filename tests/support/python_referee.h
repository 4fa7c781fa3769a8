// Runs Python scripts that judge or drive what the program does (Python's email package as a
// MIME referee, smtplib as a mail client, the capturing SMTP server). Always Debian's
// /usr/bin/python3: another python3 earlier on PATH does not see Debian's packages.
#pragma once

#include <string>
#include <vector>

// Runs /usr/bin/python3 script args... for at most 60 seconds and returns its standard output.
// With exitCode, the exit status is stored there (-1 when the script crashed or ran out of
// time) and its standard error is copied to ours when it failed; without exitCode, a failure
// raises std::runtime_error holding the script's standard error.
std::string RunPython(const std::string& script, const std::vector<std::string>& args, int* exitCode = nullptr);

// The path of a script of the end-to-end tests (tests/e2e/name).
std::string E2eScript(const std::string& name);

constexpr const char* kPython = "/usr/bin/python3";
