// The housekeeping of the journal folder: a journal whose batch has nothing left for anyone to
// decide is removed once it has not been written for a number of days, when a batch starts.
// Everything else in the folder stays: journals a batch could still be resumed from or that
// hold a file the server may have kept, journals being written, and whatever is no journal of
// a batch of this version, such as a watch's journals.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Removes from folder every journal of a settled batch last written more than days days before
// now (seconds since the epoch, by the system clock: a journal's age is that of its file's
// modification time). Settled: declined, ended at its start by an error, or finished with every
// file sent, skipped or written; and no file of it the server may hold without having confirmed it.
// Never removed: anything but a regular file named like a batch's journal (a symbolic link is
// not followed), a journal another process holds (its batch runs), keep (the journal of the
// batch that cleans up), and the newest journal: resuming looks at it first, and without it an
// older batch would come forward with files that later batches sent. days <= 0 keeps all.
// Nothing is raised: the result holds a warning for each journal that could not be removed.
std::vector<std::string> RemoveOldJournals(const std::string& folder, int days, int64_t now,
                                           const std::string& keep = {});
