// The check of a batch's files before anything connects: every file that cannot be sent (not
// there, a folder, a device, not readable) is found at once, not one at a time as the batch
// reaches it, and before the server or the journal see the batch.
#pragma once

#include <string>
#include <vector>

#include "app/batch/batchstatus.h"
#include "toolkit/exceptions.h"

// Files of a batch that cannot be sent, so that the batch did not start; the text names each
// with its reason.
MAILCART_EXCEPTION(EUnsendableFiles, EInOutError);

// Checks each file still to send by the rule the send opens it with (toolkit/regularfile). With
// keepGoing one that cannot be sent is marked Skipped with its reason, and "file: reason" is
// returned for each (the batch lists them at its end); otherwise EUnsendableFiles names every
// one of them.
std::vector<std::string> SkipUnsendable(std::vector<TBatchFile>& files, bool keepGoing);
