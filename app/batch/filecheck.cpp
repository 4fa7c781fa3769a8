#include "app/batch/filecheck.h"

#include <unistd.h>

#include "toolkit/regularfile.h"
#include "toolkit/strutils.h"

namespace {
struct TUnsendable {
  std::string path, why;
};

std::string UnsendableText(const std::vector<TUnsendable>& files) {
  if (files.size() == 1)
    return "The batch did not start: " + QuotedName(files[0].path) + " cannot be sent (" + files[0].why + ")";
  std::string text = "The batch did not start: " + std::to_string(files.size()) + " files cannot be sent:";
  for (const TUnsendable& file : files) text += "\n" + QuotedName(file.path) + " (" + file.why + ")";
  return text;
}

// "No such file or directory", "Is a directory", "Permission denied", "not a regular file"; empty
// when it can be sent.
std::string UnsendableReason(const std::string& path) {
  std::string why;
  struct stat st;
  const int fd = OpenRegularFile(path, why, st);
  if (fd >= 0) ::close(fd);
  return why;
}
}  // namespace

std::vector<std::string> SkipUnsendable(std::vector<TBatchFile>& files, bool keepGoing) {
  std::vector<TUnsendable> unsendable;
  std::vector<size_t> indexes;
  for (size_t i = 0; i < files.size(); ++i)
    if (files[i].state == TFileState::Waiting)
      if (std::string why = UnsendableReason(files[i].path); !why.empty()) {
        unsendable.push_back({files[i].path, why});
        indexes.push_back(i);
      }
  if (!unsendable.empty() && !keepGoing) throw EUnsendableFiles(UnsendableText(unsendable));
  std::vector<std::string> listed;
  for (size_t k = 0; k < indexes.size(); ++k) {
    TBatchFile& file = files[indexes[k]];
    file.state = TFileState::Skipped;
    file.detail = unsendable[k].why;
    listed.push_back(ShownFileName(file.path) + ": " + file.detail);
  }
  return listed;
}
