// Which files a batch sends, from what the journals remember: the rest of a batch cut short, and
// the files sent before to the same server and recipients.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/batch/batchjournal.h"
#include "app/batch/batchstatus.h"

// The files of a journal's batch with no Sent record, in the batch's order. A file whose size or
// SHA-256 is no longer what its last record says is Skipped ("changed since ...") unless
// resendChanged: what was recorded is not what would be sent. A file the server may hold
// (Uncertain) is left out unless resendUncertain.
// afterBlock runs between the blocks of the files read (see DigestFile).
std::vector<TBatchFile> ResumeFiles(const TJournal& journal, bool resendChanged, bool resendUncertain,
                                    const std::function<void()>& afterBlock = {});

// The files (absolute paths) that journals record as sent through server to the recipients of
// envelope (EnvelopeKey) with the same size and SHA-256. Only files whose path and size match a
// record are read.
std::vector<TSentBefore> SentBefore(const std::vector<TBatchFile>& files, const std::vector<TJournal>& journals,
                                    const std::string& server, const std::string& envelope,
                                    const std::function<void()>& afterBlock = {});

// files marked with when they went (detail, sentBefore) and, with skip, Skipped; absolute: the
// same files with absolute paths, in the same order.
void MarkSentBefore(std::vector<TBatchFile>& files, const std::vector<TBatchFile>& absolute,
                    const std::vector<TSentBefore>& sent, bool skip);

// A batch that may be resumed: cancelled, stopped by a crash, stopped at the provider's daily
// limit, or ended by an error after files went; never one that finished, was declined, ended at its start, or runs now,
// nor a watch's journal.
bool Resumable(const TJournal& journal);

// The batch that "resume" means: the newest journal of a batch (journals oldest first; a watch's
// are passed over), when it may be resumed. Otherwise nullopt, and why says what the newest is ("the newest batch, of 8 Dec 2026
// to ..., finished") or that there is none: an older batch is never taken in its place unnoticed.
std::optional<TJournal> NewestResumable(const std::vector<TJournal>& journals, std::string& why);

// The paths of the journal's batch still to send: no Sent (nor Uncertain) record in it, and none
// in a later journal of the list to the same server and recipient for a file of the size it has
// now.
std::vector<std::string> UnsentFiles(const TJournal& journal, const std::vector<TJournal>& journals);

// "of 8 Dec 2026 to you@example.com through mail.example.com:587"
std::string BatchDescription(const TJournal& journal);
