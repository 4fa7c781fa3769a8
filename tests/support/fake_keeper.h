// A password keeper that keeps its entries in memory in place of the secret service, and can
// play one that does not run.
#pragma once

#include <map>
#include <optional>
#include <string>

#include "app/batch/credentials.h"

class FakeKeeper : public TPasswordKeeper {
 public:
  std::optional<TSecret> Read(const std::string& key) override {
    Check();
    const auto it = entries.find(key);
    return it == entries.end() ? std::nullopt : std::optional<TSecret>(TSecret(it->second));
  }
  void Write(const std::string& key, std::string_view password) override {
    Check();
    entries[key] = password;
  }
  void Remove(const std::string& key) override {
    Check();
    entries.erase(key);
  }
  void Check() const {
    if (!runs) throw ENoSecretService("No secret service runs in this session");
  }

  std::map<std::string, std::string> entries;
  bool runs = true;
};
