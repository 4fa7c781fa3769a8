// The message pump: how long-running work on the user-interface thread keeps the window alive.
#pragma once

// Dispatches pending events once. Cheap enough for hot loops (per byte, per line): a real
// dispatch happens at most every kPumpIntervalMs milliseconds, and calls in between return at
// once. Does nothing when no Qt application exists or when called off the application's thread.
void ProcessMessages();

// Dispatches pending events now, whatever the interval (wait loops and explicit "pump once").
void ProcessMessagesNow();

// Blocks in the event loop until at least one event was dispatched or timeoutMs passed, and
// dispatches what is pending. The building block of every wait: no wait spins the CPU.
void WaitForEvents(int timeoutMs);

// Sleeps for ms milliseconds while the event loop keeps dispatching.
void SleepProcessing(int ms);

// Sleeps without dispatching anything.
void SleepBlocking(int ms);

constexpr int kPumpIntervalMs = 2;
