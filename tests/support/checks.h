// Small checks shared by tests of code that raises and of code that waits on the event loop.
#pragma once

#include <functional>
#include <string>

// "Kind: text" of the exception the call raises (the toolkit's family), "" when it raises none.
std::string Raised(const std::function<void()>& call);

// Dispatches events until condition() holds or boundMs passed; returns condition(). The bound
// only keeps a broken case from hanging.
bool PumpUntil(const std::function<bool()>& condition, int boundMs = 5000);
