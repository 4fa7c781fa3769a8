#include "platform/modules.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <set>

#include "toolkit/strutils.h"

namespace {
struct Module {
  ModuleDefinition definition;
  bool hidden = false;
  std::set<std::string> hiddenExports;
  int loadCount = 0;
};

struct Registry {
  std::mutex mutex;
  std::map<std::string, Module> modules;   // by lower-case name
  std::map<HMODULE, std::string> handles;  // open handles
  HMODULE next = 0x1000;
};

Registry& registry() {
  static Registry r;
  return r;
}

Module* Find(Registry& r, HMODULE module) {
  auto h = r.handles.find(module);
  if (h == r.handles.end()) return nullptr;
  auto m = r.modules.find(h->second);
  return m == r.modules.end() ? nullptr : &m->second;
}

unsigned g_errorMode = 0;
}  // namespace

void RegisterModule(const std::string& name, ModuleDefinition definition) {
  Registry& r = registry();
  std::lock_guard lock(r.mutex);
  Module& m = r.modules[LowerCase(name)];
  m.definition = std::move(definition);
}

// Handles still open on the module die with it: otherwise they would act on a module
// registered later under the same name, and freeing them would corrupt its load count.
void UnregisterModule(const std::string& name) {
  Registry& r = registry();
  std::lock_guard lock(r.mutex);
  const std::string key = LowerCase(name);
  r.modules.erase(key);
  std::erase_if(r.handles, [&key](const auto& handle) { return handle.second == key; });
}

void HideModule(const std::string& name, bool hidden) {
  Registry& r = registry();
  std::lock_guard lock(r.mutex);
  r.modules[LowerCase(name)].hidden = hidden;
}

void HideExport(const std::string& module, const std::string& exportName, bool hidden) {
  Registry& r = registry();
  std::lock_guard lock(r.mutex);
  Module& m = r.modules[LowerCase(module)];
  if (hidden)
    m.hiddenExports.insert(exportName);
  else
    m.hiddenExports.erase(exportName);
}

HMODULE LoadLibrary(const std::string& name) {
  Registry& r = registry();
  std::lock_guard lock(r.mutex);
  auto it = r.modules.find(LowerCase(name));
  if (it == r.modules.end() || it->second.hidden) return 0;
  if (it->second.definition.exports.empty() && it->second.definition.strings.empty()) return 0;
  const HMODULE h = r.next++;
  r.handles[h] = it->first;
  ++it->second.loadCount;
  return h;
}

bool FreeLibrary(HMODULE module) {
  Registry& r = registry();
  std::lock_guard lock(r.mutex);
  auto h = r.handles.find(module);
  if (h == r.handles.end()) return false;
  auto m = r.modules.find(h->second);
  if (m != r.modules.end()) --m->second.loadCount;
  r.handles.erase(h);
  return true;
}

FARPROC GetProcAddress(HMODULE module, const std::string& name) {
  Registry& r = registry();
  std::lock_guard lock(r.mutex);
  Module* m = Find(r, module);
  if (m == nullptr || m->hiddenExports.count(name) != 0) return nullptr;
  auto e = m->definition.exports.find(name);
  return e == m->definition.exports.end() ? nullptr : e->second;
}

int LoadString(HMODULE module, int id, char* buffer, int bufferSize) {
  if (buffer == nullptr || bufferSize <= 0) return 0;
  buffer[0] = '\0';
  Registry& r = registry();
  std::lock_guard lock(r.mutex);
  Module* m = Find(r, module);
  if (m == nullptr) return 0;
  auto s = m->definition.strings.find(id);
  if (s == m->definition.strings.end()) return 0;
  const int n = std::min<int>(static_cast<int>(s->second.size()), bufferSize - 1);
  std::memcpy(buffer, s->second.data(), static_cast<size_t>(n));
  buffer[n] = '\0';
  return n;
}

int ModuleLoadCount(const std::string& name) {
  Registry& r = registry();
  std::lock_guard lock(r.mutex);
  auto it = r.modules.find(LowerCase(name));
  return it == r.modules.end() ? 0 : it->second.loadCount;
}

unsigned SetErrorMode(unsigned mode) {
  const unsigned previous = g_errorMode;
  g_errorMode = mode;
  return previous;
}
