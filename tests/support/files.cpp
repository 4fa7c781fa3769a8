#include "files.h"

#include <fstream>
#include <sstream>

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream data;
  data << in.rdbuf();
  return data.str();
}

void WriteFile(const std::string& path, const std::string& data) { std::ofstream(path, std::ios::binary) << data; }
