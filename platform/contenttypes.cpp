#include "platform/contenttypes.h"

#include <fstream>
#include <map>
#include <mutex>
#include <sstream>

#include "toolkit/strutils.h"

namespace {

constexpr const char* kSystemMimeTypes = "/etc/mime.types";

struct Table {
  std::mutex mutex;
  std::string path = kSystemMimeTypes;
  bool loaded = false;
  std::map<std::string, std::string> byExtension;  // lower-case extension without its dot
};

Table& table() {
  static Table t;
  return t;
}

// Each line is a type followed by its extensions; "#" starts a comment. An extension listed
// under two types keeps the later one, as other readers of this file do. A missing file is an
// empty table, like a registry without the keys.
void Load(Table& t) {
  t.byExtension.clear();
  std::ifstream in(t.path);
  std::string line;
  while (std::getline(in, line)) {
    const size_t hash = line.find('#');
    if (hash != std::string::npos) line.resize(hash);
    std::istringstream fields(line);
    std::string type;
    std::string extension;
    if (!(fields >> type)) continue;
    while (fields >> extension) t.byExtension[LowerCase(extension)] = type;
  }
  t.loaded = true;
}

}  // namespace

std::string RegistryContentType(const std::string& extension) {
  if (extension.size() < 2 || extension[0] != '.') return "";
  Table& t = table();
  std::lock_guard lock(t.mutex);
  if (!t.loaded) Load(t);
  const auto it = t.byExtension.find(LowerCase(extension.substr(1)));
  return it == t.byExtension.end() ? "" : it->second;
}

void SetMimeTypesFile(const std::string& path) {
  Table& t = table();
  std::lock_guard lock(t.mutex);
  t.path = path.empty() ? kSystemMimeTypes : path;
  t.loaded = false;
  t.byExtension.clear();
}
