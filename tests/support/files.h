// Whole-file reads and writes for tests, byte for byte.
#pragma once

#include <string>

std::string ReadFile(const std::string& path);  // empty when the file cannot be read
void WriteFile(const std::string& path, const std::string& data);
