// mailcart-unpack MESSAGE [DIR]: reads one saved message and writes its body lines to
// DIR/body.txt and each attachment to DIR under a safe name, printing one line per file.
// Exit status: 0 done (also when the parser could only keep the original text, and after
// --help or --version), 1 the message could not be read or a file not written, 2 wrong usage.
#include <QCoreApplication>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "app/cli/unpack/unpacknames.h"
#include "mail/pxmsg.h"
#include "toolkit/exceptions.h"
#include "toolkit/streams.h"

namespace {

constexpr int kExitDone = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
// How many names already on disk are stepped over for one attachment before the folder counts
// as too full of its name.
constexpr int kMaxNumberedNames = 10000;

EInOutError FileError(const std::string& path) { return EInOutError(path + ": " + std::strerror(errno)); }

void WriteAndClose(int fd, const std::string& path, std::string_view data) {
  while (!data.empty()) {
    const ssize_t written = ::write(fd, data.data(), data.size());
    if (written < 0 && errno == EINTR) continue;
    if (written < 0) {
      const EInOutError error = FileError(path);
      ::close(fd);
      throw error;
    }
    data.remove_prefix(static_cast<size_t>(written));
  }
  if (::close(fd) != 0) throw FileError(path);
}

// The body file is ours to replace, but a link in its place is not followed.
std::string WriteBody(const std::string& dir, const TStringList& body) {
  const std::string path = dir + "/body.txt";
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0644);
  if (fd < 0) throw FileError(path);
  WriteAndClose(fd, path, body.Text());
  return path;
}

// An attachment never replaces a file that is there (the body file included), nor writes
// through a link: a name that is taken, by an earlier part or on disk, gets a number.
std::string WriteAttachment(const std::string& dir, const std::string& name, std::string_view data, TFileNames& names) {
  for (int tries = 0; tries < kMaxNumberedNames; ++tries) {
    const std::string path = dir + "/" + names.Next(name);
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0 && errno == EEXIST) continue;
    if (fd < 0) throw FileError(path);
    WriteAndClose(fd, path, data);
    return path;
  }
  throw EInOutError(dir + "/" + name + ": too many files of that name");
}

void Unpack(const TpxMessage& message, const std::string& dir) {
  std::filesystem::create_directories(dir);
  std::printf("%s\n", WriteBody(dir, message.Body()).c_str());
  TFileNames names;
  for (int i = 0; i < message.Attachments().Count(); ++i) {
    const TpxAttItem& item = message.Attachments().Items(i);
    const std::string name = UnpackedFileName(item.FileName(), item.ContentType());
    std::printf("%s\n", WriteAttachment(dir, name, item.Stream().Data(), names).c_str());
  }
}

constexpr const char* kUsage =
    "usage: mailcart-unpack [--] MESSAGE [DIR]\n"
    "       mailcart-unpack --help | --version\n"
    "Writes the body of the saved message MESSAGE to DIR/body.txt and each attachment to DIR\n"
    "(default: the current folder), and prints the name of every file written.\n";

// The operands, or none after --help or --version; an unknown option or a wrong count is a
// usage error. "--" ends the options, for a message whose name starts with "-".
struct Arguments {
  bool help = false;
  bool version = false;
  std::string error;  // set: wrong usage
  std::vector<std::string> operands;
};

Arguments ReadArguments(const std::vector<std::string>& args) {
  Arguments result;
  bool options = true;
  for (const std::string& arg : args) {
    if (options && arg == "--") {
      options = false;
    } else if (options && (arg == "--help" || arg == "-h")) {
      result.help = true;
      return result;
    } else if (options && arg == "--version") {
      result.version = true;
      return result;
    } else if (options && arg.size() > 1 && arg[0] == '-') {
      result.error = "unknown option " + arg;
      return result;
    } else {
      result.operands.push_back(arg);
    }
  }
  if (result.operands.empty()) result.error = "no message given";
  if (result.operands.size() > 2) result.error = "too many arguments";
  return result;
}

}  // namespace

int main(int argc, char** argv) {
  const Arguments arguments = ReadArguments(std::vector<std::string>(argv + 1, argv + argc));
  if (arguments.help) {
    std::fputs(kUsage, stdout);
    return kExitDone;
  }
  if (arguments.version) {
    std::printf("mailcart-unpack %s\n", MAILCART_VERSION);
    return kExitDone;
  }
  if (!arguments.error.empty()) {
    std::fprintf(stderr, "mailcart-unpack: %s\n%s", arguments.error.c_str(), kUsage);
    return kExitUsage;
  }
  QCoreApplication app(argc, argv);  // the library's pump needs one; no display is used
  const std::vector<std::string>& args = arguments.operands;
  const std::string dir = args.size() == 2 ? args[1] : ".";
  TpxMessage message;
  try {
    TFileStream file(args[0], TFileMode::fmOpenRead);
    message.LoadFromStream(file);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "mailcart-unpack: %s: %s\n", args[0].c_str(), e.what());
    return kExitFailed;
  }
  try {
    Unpack(message, dir);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "mailcart-unpack: %s\n", e.what());
    return kExitFailed;
  }
  return kExitDone;
}
