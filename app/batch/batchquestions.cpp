#include "app/batch/batchquestions.h"

#include <algorithm>
#include <cstdio>

#include "toolkit/strutils.h"

namespace {
std::string Files(size_t count) { return std::to_string(count) + (count == 1 ? " file" : " files"); }
}  // namespace

std::string DayOf(const std::string& isoTime) {
  static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  int year = 0, month = 0, day = 0;
  if (std::sscanf(isoTime.c_str(), "%4d-%2d-%2d", &year, &month, &day) != 3 || month < 1 || month > 12 || day < 1)
    return isoTime;
  return std::to_string(day) + " " + kMonths[month - 1] + " " + std::to_string(year);
}

std::string SentBeforeQuestion(const std::vector<TSentBefore>& files, const std::string& to) {
  std::string newest;
  for (const TSentBefore& file : files) newest = std::max(newest, file.time);
  const bool one = files.size() == 1;
  return (one ? "1 of these files was" : std::to_string(files.size()) + " of these files were") + " sent to " + to +
         " on " + DayOf(newest) + (one ? ". Send it again?" : ". Send them again?");
}

std::string ResumeQuestion(const TJournal& journal, size_t unsent) {
  return "The batch of " + DayOf(journal.head.started) + " to " + RecipientsText(journal.head.Recipients()) + " did not finish (" +
         EndingText(journal) + "): " + std::to_string(unsent) + " of " + Files(journal.head.files.size()) +
         (unsent == 1 ? " was" : " were") + " not sent. Resume it?";
}

std::string UncertainQuestion(size_t count) {
  return count == 1 ? "1 file may have been delivered: the server did not confirm it. Send it again?"
                    : std::to_string(count) +
                          " files may have been delivered: the server did not confirm them. Send them again?";
}

std::string TooLargeQuestion(const std::vector<TTooLarge>& files, uint64_t limit) {
  std::string text = Files(files.size()) + (files.size() == 1 ? " is" : " are") + " larger than the server takes (" +
                     FormatBytes(limit) + "):";
  for (size_t i = 0; i < files.size(); ++i)
    text += (i == 0 ? " " : ", ") + ShownFileName(files[i].path) + " (" + FormatBytes(files[i].size) + ")";
  return text + ". Send the others?";
}
