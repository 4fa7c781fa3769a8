#include "checks.h"

#include <QDeadlineTimer>

#include <cxxabi.h>
#include <cstdlib>
#include <memory>
#include <typeinfo>

#include "toolkit/exceptions.h"
#include "toolkit/pump.h"

std::string Raised(const std::function<void()>& call) {
  try {
    call();
  } catch (const Exception& e) {
    const std::unique_ptr<char, decltype(&std::free)> kind(
        abi::__cxa_demangle(typeid(e).name(), nullptr, nullptr, nullptr), &std::free);
    return std::string(kind.get()) + ": " + e.what();
  }
  return "";
}

bool PumpUntil(const std::function<bool()>& condition, int boundMs) {
  const QDeadlineTimer deadline(boundMs);
  while (!condition() && !deadline.hasExpired()) WaitForEvents(10);
  return condition();
}
