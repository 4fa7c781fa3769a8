#include "app/cli/send/outcomelines.h"

#include <algorithm>

#include "app/cli/send/batchreport.h"
#include "toolkit/strutils.h"

namespace {
// What the dry run's delivery says of each message, before the file it wrote.
constexpr std::string_view kWrittenPrefix = "written ";

std::string Plural(int count, const char* word) { return std::to_string(count) + " " + word + (count == 1 ? "" : "s"); }

}  // namespace

std::string FilePrefix(size_t number, std::optional<size_t> total) {
  return "[" + std::to_string(number) + (total ? "/" + std::to_string(*total) : "") + "]";
}

std::string OutcomeText(const TBatchFile& file, bool dryRun) {
  const std::string name = OutcomeName(file, dryRun);
  if (file.detail.empty()) return name;
  if (file.state != TFileState::Sent) return name + ": " + DisplayText(file.detail);
  std::string_view detail = file.detail;
  if (dryRun && detail.substr(0, kWrittenPrefix.size()) == kWrittenPrefix) detail.remove_prefix(kWrittenPrefix.size());
  return name + " (" + DisplayText(detail) + ")";
}

std::string SummaryLine(const TBatchStatus& status, const std::optional<std::string>& dryRunFolder) {
  if (!dryRunFolder) return status.Summary();
  const int written = status.Count(TFileState::Sent);
  const std::string where = " written to " + DisplayText(*dryRunFolder);
  if (status.Cancelled())
    return "Cancelled: " + std::to_string(written) + " of " +
           Plural(static_cast<int>(status.Files().size()), "message") + where;
  const int failed = status.Count(TFileState::Failed), skipped = status.Count(TFileState::Skipped);
  return Plural(written, "message") + where +
         (failed + skipped > 0 ? "; " + std::to_string(failed) + " failed, " + std::to_string(skipped) + " skipped"
                               : "");
}

std::vector<std::string> TOutcomeLines::Take(const TBatchStatus& status, bool moved, bool all) {
  const std::vector<TBatchFile>& files = status.Files();
  told_.resize(files.size());
  allToldBefore_ = std::min(allToldBefore_, files.size());
  std::vector<std::string> lines;
  bool earlierTold = true;
  // Each call starts after the files all told and, unless all are due, stops at the first file
  // that is not, since none after it may be told before it: a batch of thousands of files is
  // not walked again for every change of its status.
  for (size_t i = allToldBefore_; i < files.size(); ++i) {
    const TBatchFile& file = files[i];
    const bool settled = static_cast<int>(i) != status.Current() || file.state != TFileState::Sent || moved;
    if (!told_[i] && DealtWith(file.state) && settled && (earlierTold || all)) {
      const std::optional<size_t> total = running_ ? std::nullopt : std::optional<size_t>(files.size());
      lines.push_back(FilePrefix(numbered_ + i + 1, total) + " " + ShownFileName(file.path) + ": " +
                      OutcomeText(file, dryRun_));
      told_[i] = true;
    }
    earlierTold = earlierTold && told_[i];
    if (earlierTold)
      allToldBefore_ = i + 1;
    else if (!all)
      break;
  }
  return lines;
}

void TOutcomeLines::NextBatch() {
  const auto last = std::find(told_.rbegin(), told_.rend(), true);
  numbered_ += static_cast<size_t>(told_.rend() - last);
  told_.clear();
  allToldBefore_ = 0;
}
