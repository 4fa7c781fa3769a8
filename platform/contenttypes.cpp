#include "platform/contenttypes.h"

#include <fstream>
#include <map>
#include <mutex>
#include <string_view>

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

// Each line is a type followed by its extensions, words between blanks; "#" starts a comment.
// An extension listed under two types keeps the later one, as other readers of this file do. A
// missing file is an empty table, like a registry without the keys. The words are cut out of
// the line where they stand: a stream for each of the file's two thousand lines would cost
// milliseconds at every start.
void Load(Table& t) {
  constexpr std::string_view kBlanks = " \t\n\v\f\r";
  t.byExtension.clear();
  std::ifstream in(t.path);
  std::string line;
  while (std::getline(in, line)) {
    std::string_view rest = std::string_view(line).substr(0, line.find('#'));
    std::string type;
    for (size_t start; (start = rest.find_first_not_of(kBlanks)) != std::string_view::npos;) {
      rest.remove_prefix(start);
      const std::string_view word = rest.substr(0, rest.find_first_of(kBlanks));
      rest.remove_prefix(word.size());
      if (type.empty())
        type = word;
      else
        t.byExtension[LowerCase(word)] = type;
    }
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
