// Named in-process modules standing in for the system's dynamic libraries ("wsock32.dll",
// "wserr32.dll", "rasapi32.dll"): a module has named exports and a string table. Tests hide a
// module or one export to run the "not found" paths for real.
#pragma once

#include <cstdint>
#include <map>
#include <string>

using HMODULE = uintptr_t;  // 0 when not loaded; loaded handles are above 32
using FARPROC = void*;

struct ModuleDefinition {
  std::map<std::string, FARPROC> exports;  // by export name
  std::map<int, std::string> strings;      // string table by identifier
};

// Registers (or replaces) a module under a case-insensitive name.
void RegisterModule(const std::string& name, ModuleDefinition definition);
void UnregisterModule(const std::string& name);  // its open handles become invalid
// A hidden module cannot be loaded; a hidden export is not found. hidden = false undoes it.
void HideModule(const std::string& name, bool hidden);
void HideExport(const std::string& module, const std::string& exportName, bool hidden);

HMODULE LoadLibrary(const std::string& name);  // 0 when absent or hidden
bool FreeLibrary(HMODULE module);
FARPROC GetProcAddress(HMODULE module, const std::string& name);  // nullptr when not found
// Copies string id of the module into buffer (at most bufferSize-1 bytes, NUL-terminated);
// returns the number of bytes copied, 0 when there is no such string.
int LoadString(HMODULE module, int id, char* buffer, int bufferSize);
// How many LoadLibrary handles of that module are open (for tests of the clean-ups).
int ModuleLoadCount(const std::string& name);

// Sets the process error mode; returns the previous one. Kept for callers that suppress the
// system's "file not found" box while loading; nothing shows such a box here.
unsigned SetErrorMode(unsigned mode);
constexpr unsigned SEM_NOOPENFILEERRORBOX = 0x8000;

// Typed lookup: GetProc<int(int)>(h, "name").
template <typename F>
F* GetProc(HMODULE module, const std::string& name) {
  return reinterpret_cast<F*>(GetProcAddress(module, name));
}
