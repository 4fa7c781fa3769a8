// The window's questions about what the journals remember, worded for a person.
#pragma once

#include <string>
#include <vector>

#include "app/batch/batchjournal.h"
#include "app/batch/sizecheck.h"

// "3 of these files were sent to archive@example.com on 8 Dec 2026. Send them again?" (the
// newest day when they went on several).
std::string SentBeforeQuestion(const std::vector<TSentBefore>& files, const std::string& to);

// "The batch of 8 Dec 2026 to archive@example.com did not finish (cancelled): 2 of 5 files were
// not sent. Resume it?"
std::string ResumeQuestion(const TJournal& journal, size_t unsent);

// "2 files may have been delivered: the server did not confirm them. Send them again?"
std::string UncertainQuestion(size_t count);

// "2 files are larger than the server takes (10.0 MB): a.iso (12.3 MB), b.iso (1.2 GB). Send the
// others?"
std::string TooLargeQuestion(const std::vector<TTooLarge>& files, uint64_t limit);

// "2026-12-08T15:10:02+01:00" -> "8 Dec 2026"; a text that is no such time stays as it is.
std::string DayOf(const std::string& isoTime);
