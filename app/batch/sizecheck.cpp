#include "app/batch/sizecheck.h"

#include <utility>

#include "toolkit/strutils.h"

namespace {
// Both as the batch shows sizes, or in bytes when that would show a larger message as no larger.
std::pair<std::string, std::string> Sizes(uint64_t size, uint64_t limit) {
  if (FormatBytes(size) != FormatBytes(limit)) return {FormatBytes(size), FormatBytes(limit)};
  return {std::to_string(size) + " bytes", std::to_string(limit) + " bytes"};
}

// A file of this size makes a message within limit whatever its bytes: no encoding grows a part
// more than 3.1 times (quoted-printable's worst, soft line breaks included), and the headers and
// the message text (64 KiB at most) take far less than a MiB. Such a file is not read to count.
bool SurelyFits(uint64_t fileSize, uint64_t limit) {
  constexpr uint64_t kHeadersAndText = 1 << 20;
  return fileSize < limit / 4 && fileSize * 4 + kHeadersAndText <= limit;
}
}  // namespace

std::vector<TTooLarge> FindTooLarge(const std::vector<TBatchFile>& files, uint64_t limit,
                                    const std::function<uint64_t(size_t index)>& sizeOf) {
  std::vector<TTooLarge> found;
  for (size_t i = 0; limit > 0 && i < files.size(); ++i) {
    if (files[i].state != TFileState::Waiting || SurelyFits(files[i].size, limit)) continue;
    try {
      if (const uint64_t size = sizeOf(i); size > limit) found.push_back({files[i].path, size});
    } catch (const EInOutError&) {
      // Its send reads it again and reports what it finds.
    }
  }
  return found;
}

std::string TooLargeReason(uint64_t size, uint64_t limit) {
  const auto [message, server] = Sizes(size, limit);
  return "the message would be " + message + ", the server takes " + server;
}

std::string TooLargeText(const std::vector<TTooLarge>& files, uint64_t limit) {
  std::string text = "The batch did not start: " +
                     (files.size() == 1 ? std::string("1 file is") : std::to_string(files.size()) + " files are") +
                     " larger than the server takes (" + FormatBytes(limit) + "):";
  for (const TTooLarge& file : files)
    text += "\n" + QuotedName(file.path) + " (" + TooLargeReason(file.size, limit) + ")";
  return text;
}

std::vector<std::string> SkipTooLarge(std::vector<TBatchFile>& files, const std::vector<TTooLarge>& tooLarge,
                                      uint64_t limit) {
  std::vector<std::string> listed;
  for (const TTooLarge& large : tooLarge)
    for (TBatchFile& file : files)
      if (file.path == large.path && file.state == TFileState::Waiting) {
        file.state = TFileState::Skipped;
        file.detail = TooLargeReason(large.size, limit);
        listed.push_back(ShownFileName(file.path) + ": " + file.detail);
      }
  return listed;
}
