// mailcart-send's commands about the account rather than a batch: --find-settings (the settings
// of an address, found, probed, printed and with --save written) and --check (the connection
// test from a shell).
#pragma once

#include <string>

#include "app/batch/batchfrontend.h"
#include "app/batch/batchrequest.h"
#include "app/cli/send/sendoptions.h"

// Prints the [Param] lines of what was found on standard output and on standard error where
// each came from and what was tried; a candidate outside the address's domain is asked about on
// a terminal and skipped elsewhere. 0 when a server was found, 1 when none worked.
int FindSettingsCommand(const TOptions& options, const std::string& settingsFile, TBatchHost& host);

// Connects to the request's server with its account and password or sign-in as a batch would,
// sends nothing, prints each step on standard output: 0 when every step went well, 1 otherwise
// (the failed step with its advice).
int CheckCommand(const TBatchRequest& request, const TSecret& password, TBatchHost& host);
