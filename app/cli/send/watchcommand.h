// mailcart-send --watch DIR: every file that comes into the folder, once written, sent as the
// attachment of its own message, batch after batch, until SIGINT or SIGTERM. The journals say
// what went before (read once, at the start); what this watch sent it keeps in mind, so that no
// file goes twice. A server that cannot be reached ends the watch at its start; once one batch
// reached it, the files wait in order and go when it is back, tried after growing delays.
#pragma once

class TBatchRunner;
class TCommandLine;
class TStopSignals;
struct TOptions;
struct TSettings;

// Runs the watch of options.watch with the front end's request (built, checked, its password
// taken) through runner: the exit status, 0 for a stop by a signal. Raises TUsageError for a
// --move-to folder the watch would see again, EWatchError when the folder cannot be watched or
// the watch ends with it (removed, moved, unmounted).
int WatchCommand(const TOptions& options, const TSettings& settings, TCommandLine& frontEnd, TBatchRunner& runner,
                 TStopSignals& stopSignals);
