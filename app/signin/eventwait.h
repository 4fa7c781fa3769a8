// The one wait of the sign-in: the Qt event loop runs (a window stays responsive, sockets are
// served) until the work is done, a time-out passes or the caller cancels.
#pragma once

#include <functional>

#include "app/signin/oauthtypes.h"

class QEventLoop;

enum class TWaitEnd { Done, TimedOut, Cancelled };

// Runs loop until done() holds (checked whenever the loop is quit, which the caller's signals
// do), timeoutMs passes or cancelled() says so (checked every 100 ms; an empty one never does).
TWaitEnd WaitInLoop(QEventLoop& loop, const std::function<bool()>& done, int timeoutMs, const TCancelled& cancelled);
