// The check of a batch's messages against the largest one the server takes (RFC 1870 SIZE),
// made once the session has read it and before the first file goes: every file whose message
// is too large is named at once, not one at a time as the batch reaches it.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "app/batch/batchstatus.h"
#include "toolkit/exceptions.h"

// A file whose message is larger than the server takes.
struct TTooLarge {
  std::string path;
  uint64_t size = 0;  // of its message as composed
};

// Files whose messages are too large, so that the batch did not start; the text names each
// with its message's size and the limit.
MAILCART_EXCEPTION(ETooLargeFiles, Exception);

// The files still to send whose message, of the size sizeOf(index) gives, is larger than limit;
// none when limit is 0 (no limit). A file far smaller than limit is not asked about (its message
// fits whatever its bytes), so that it is not read for the count. A file sizeOf cannot read (gone
// since it was checked) is left to its send, which tells.
std::vector<TTooLarge> FindTooLarge(const std::vector<TBatchFile>& files, uint64_t limit,
                                    const std::function<uint64_t(size_t index)>& sizeOf);

// "the message would be 12.3 MB, the server takes 10.0 MB"; in bytes when the two would read
// the same.
std::string TooLargeReason(uint64_t size, uint64_t limit);

// The error of a batch that stops for them.
std::string TooLargeText(const std::vector<TTooLarge>& files, uint64_t limit);

// Marks each of them Skipped with its reason; "file: reason" for each, which the batch lists
// at its end.
std::vector<std::string> SkipTooLarge(std::vector<TBatchFile>& files, const std::vector<TTooLarge>& tooLarge,
                                      uint64_t limit);
