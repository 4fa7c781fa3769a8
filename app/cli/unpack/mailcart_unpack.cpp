// mailcart-unpack MESSAGE [DIR]: reads one saved message and writes its body lines to
// DIR/body.txt and each attachment to DIR under a safe name, printing one line per file; a name
// that is taken gets a number, the body's as the attachments'.
// Exit status: 0 done (also when the parser could only keep the original text, and after
// --help or --version), 1 the message could not be read, is no mail message, or a file was not
// written, 2 wrong usage.
#include <QCoreApplication>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "app/cli/unpack/messagecheck.h"
#include "app/cli/unpack/unpacknames.h"
#include "mail/pxmsg.h"
#include "toolkit/exceptions.h"
#include "toolkit/streams.h"

namespace {

constexpr int kExitDone = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
// How many names already on disk are stepped over for one file before the folder counts
// as too full of its name.
constexpr int kMaxNumberedNames = 10000;
constexpr char kBodyFileName[] = "body.txt";

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

// A file never replaces one that is there (an earlier run's included), nor writes through a
// link: a name that is taken, by an earlier part or on disk, gets a number.
std::string WriteNewFile(const std::string& dir, const std::string& name, std::string_view data, TFileNames& names) {
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
  TFileNames names;
  std::printf("%s\n", WriteNewFile(dir, kBodyFileName, message.Body().Text(), names).c_str());
  for (int i = 0; i < message.Attachments().Count(); ++i) {
    const TpxAttItem& item = message.Attachments().Items(i);
    const std::string name = UnpackedFileName(item.FileName(), item.ContentType());
    std::printf("%s\n", WriteNewFile(dir, name, item.Stream().Data(), names).c_str());
  }
}

constexpr const char* kUsage =
    "usage: mailcart-unpack [--] MESSAGE [DIR]\n"
    "       mailcart-unpack --help | --version\n"
    "Writes the body of the saved message MESSAGE to DIR/body.txt and each attachment to DIR\n"
    "(default: the current folder), and prints the name of every file written. A file that is\n"
    "there is kept: the new one is numbered (\"body (2).txt\").\n";

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

// False, with the reason on standard error, for a file that cannot be read or is no message.
bool ReadMessage(const std::string& path, TpxMessage& message) {
  try {
    TFileStream file(path, TFileMode::fmOpenRead);
    std::string start(kMessageStartBytes, '\0');
    start.resize(static_cast<size_t>(file.Read(start.data(), static_cast<int64_t>(start.size()))));
    if (const std::string problem = MessageProblem(start); !problem.empty()) {
      std::fprintf(stderr, "mailcart-unpack: %s: not a mail message: %s\n", path.c_str(), problem.c_str());
      return false;
    }
    file.SetPosition(0);
    message.LoadFromStream(file);
    return true;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "mailcart-unpack: %s: %s\n", path.c_str(), e.what());
    return false;
  }
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
  if (!ReadMessage(args[0], message)) return kExitFailed;
  try {
    Unpack(message, dir);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "mailcart-unpack: %s\n", e.what());
    return kExitFailed;
  }
  return kExitDone;
}
