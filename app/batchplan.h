// Which files a batch sends, from what the journals remember: the rest of a batch cut short, and
// the files sent before to the same server and recipient.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "app/batchjournal.h"
#include "app/batchstatus.h"

// The files of a journal's batch with no Sent record, in the batch's order. A file whose size or
// SHA-256 is no longer what its last record says is Skipped ("changed since ...") unless
// resendChanged: what was recorded is not what would be sent.
// afterBlock runs between the blocks of the files read (see DigestFile).
std::vector<TBatchFile> ResumeFiles(const TJournal& journal, bool resendChanged, const std::function<void()>& afterBlock = {});

// The files (absolute paths) that journals record as sent to to through server with the same
// size and SHA-256. Only files whose path and size match a record are read.
std::vector<TSentBefore> SentBefore(const std::vector<TBatchFile>& files, const std::vector<TJournal>& journals,
                                    const std::string& server, const std::string& to,
                                    const std::function<void()>& afterBlock = {});
