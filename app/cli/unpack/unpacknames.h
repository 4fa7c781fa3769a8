// File names for attachments written to disk. A name that comes with a message is data from
// outside: it may hold folders, "..", control characters or nothing at all.
#pragma once

#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

// The longest name a Linux file system takes (NAME_MAX), in bytes.
inline constexpr size_t kMaxFileNameBytes = 255;
// What an attachment is called when nothing of its own name is left.
inline constexpr const char* kGeneratedFileName = "attachment";

// The last path component of name ("/" and "\" both separate), without control characters,
// blanks at either end and leading dots, cut to kMaxFileNameBytes; kGeneratedFileName when
// nothing is left. So the result is never "", "." or "..", and never names a hidden file.
std::string SafeFileName(std::string_view name);

// The n-th choice for a file of that name: the name itself for n = 1, then "stem (2).ext",
// "stem (3).ext", ..., the stem cut so that the whole stays within kMaxFileNameBytes.
std::string NumberedFileName(const std::string& name, int n);

// The names handed out for the files of one folder. A name that is taken goes on from the last
// number handed out for it, so that many files of one name cost a step each, not one for every
// copy before them.
class TFileNames {
 public:
  // The next name to try for name: name itself the first time, then NumberedFileName(name, 2),
  // 3, ...; never a name handed out before, for this name or another.
  std::string Next(const std::string& name);

 private:
  std::unordered_set<std::string> handedOut_;
  std::unordered_map<std::string, int> nextNumber_;
};

// The name an attachment is written under: its own, made safe; a part that came without a name
// (the parser made one up) also gets the extension of its content type, so that the file opens
// as what it is.
std::string UnpackedFileName(const std::string& name, std::string_view contentType);
