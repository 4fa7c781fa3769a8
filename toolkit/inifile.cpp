#include "toolkit/inifile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <filesystem>
#include <optional>
#include <vector>

#include "toolkit/exceptions.h"
#include "toolkit/strutils.h"

namespace {

constexpr size_t npos = std::string::npos;

// One line of the file: its text and its own line end ("\r\n", "\n", or "" for a last line
// without one), so that lines a write does not touch go back exactly as they came.
struct Line {
  std::string text;
  std::string end;
};

std::vector<Line> SplitLines(const std::string& data) {
  std::vector<Line> lines;
  size_t start = 0;
  while (start < data.size()) {
    const size_t lf = data.find('\n', start);
    if (lf == npos) {
      lines.push_back({data.substr(start), ""});
      break;
    }
    const size_t end = (lf > start && data[lf - 1] == '\r') ? lf - 1 : lf;
    lines.push_back({data.substr(start, end - start), data.substr(end, lf + 1 - end)});
    start = lf + 1;
  }
  return lines;
}

std::string JoinLines(const std::vector<Line>& lines) {
  std::string data;
  for (const Line& l : lines) data += l.text + l.end;
  return data;
}

// New lines end like the line they follow, else like the file's first line; a new file gets
// CR LF.
std::string LineEnd(const std::vector<Line>& lines, size_t at) {
  if (at > 0 && !lines[at - 1].end.empty()) return lines[at - 1].end;
  for (const Line& l : lines)
    if (!l.end.empty()) return l.end;
  return "\r\n";
}

// The name of a "[Section]" line; nothing for any other line.
std::optional<std::string> SectionName(const std::string& text) {
  const std::string t = TrimLeft(text);
  if (t.empty() || t[0] != '[') return std::nullopt;
  const size_t close = t.find(']');
  return Trim(t.substr(1, close == npos ? npos : close - 1));
}

// A "key=value" line: the key and where its value begins (after the blanks behind "=").
struct KeyLine {
  std::string key;
  size_t valueStart;
};

std::optional<KeyLine> ParseKeyLine(const std::string& text) {
  const size_t eq = text.find('=');
  if (eq == npos) return std::nullopt;
  std::string key = Trim(text.substr(0, eq));
  if (key.empty() || key[0] == ';') return std::nullopt;  // a comment
  size_t v = eq + 1;
  while (v < text.size() && (text[v] == ' ' || text[v] == '\t')) ++v;
  return KeyLine{std::move(key), v};
}

// Where a key is, or where it would go: the first section of that name counts.
struct Location {
  size_t sectionLine = npos;
  size_t keyLine = npos;
  size_t valueStart = 0;
  size_t insertAt = npos;  // after the section's last non-blank line
};

const std::string& TextOf(const Line& line) { return line.text; }
const std::string& TextOf(const std::string& text) { return text; }

// Over a file's lines, or over their texts alone.
template <typename L>
Location Find(const std::vector<L>& lines, const std::string& section, const std::string& key) {
  Location loc;
  for (size_t i = 0; i < lines.size(); ++i) {
    const std::string& text = TextOf(lines[i]);
    if (const auto name = SectionName(text)) {
      if (loc.sectionLine != npos) break;
      if (SameText(*name, section)) {
        loc.sectionLine = i;
        loc.insertAt = i + 1;
      }
      continue;
    }
    if (loc.sectionLine == npos) continue;
    if (!Trim(text).empty()) loc.insertAt = i + 1;
    const auto entry = ParseKeyLine(text);
    if (entry && SameText(entry->key, key)) {
      loc.keyLine = i;
      loc.valueStart = entry->valueStart;
      break;
    }
  }
  return loc;
}

// 0 or the errno of the failure.
int ReadWholeFile(const std::string& fileName, std::string& data) {
  // O_NONBLOCK: a FIFO in the file's place reads as empty instead of waiting for a writer.
  const int fd = ::open(fileName.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) return errno;
  int error = 0;
  char buffer[8192];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) error = errno;
    if (n <= 0) break;
    data.append(buffer, static_cast<size_t>(n));
  }
  ::close(fd);
  return error;
}

// A file that exists but cannot be read must not be replaced by one holding a single key.
std::string LoadForWrite(const std::string& fileName) {
  std::string data;
  const int error = ReadWholeFile(fileName, data);
  if (error != 0 && error != ENOENT) throw FileCreateError(fileName, std::strerror(error));
  return data;
}

// A settings file reached through a symbolic link is replaced at the link's target.
std::string RealTarget(const std::string& fileName) {
  std::error_code ec;
  const std::filesystem::path target = std::filesystem::canonical(fileName, ec);
  return ec ? fileName : target.string();
}

// Creates a new file beside target, readable by its owner only from the first byte.
int CreateSibling(const std::string& target, const std::string& fileName, std::string& tempName) {
  static unsigned counter = 0;
  for (int attempt = 0; attempt < 100; ++attempt) {
    tempName = target + ".~" + std::to_string(::getpid()) + "." + std::to_string(++counter);
    const int fd = ::open(tempName.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd >= 0) return fd;
    if (errno != EEXIST) break;
  }
  throw FileCreateError(fileName, std::strerror(errno));
}

bool WriteAll(int fd, const std::string& data) {
  size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

// Writes data to a temporary file and renames it over the settings file, so that a failure
// at any step leaves the old file as it was. The file may hold values that run a command or
// change whom the program trusts, so whatever mode it had, it comes back as 0600.
void ReplaceFile(const std::string& fileName, const std::string& data) {
  const std::string target = RealTarget(fileName);
  std::string tempName;
  const int fd = CreateSibling(target, fileName, tempName);
  const bool written = WriteAll(fd, data) && ::fsync(fd) == 0;
  int error = errno;
  const bool closed = ::close(fd) == 0;
  if (written) error = errno;
  if (!written || !closed) {
    ::unlink(tempName.c_str());
    throw EInOutError("Write error on \"" + fileName + "\": " + std::strerror(error));
  }
  if (::rename(tempName.c_str(), target.c_str()) != 0) {
    error = errno;
    ::unlink(tempName.c_str());
    throw FileCreateError(fileName, std::strerror(error));
  }
}

// A value is one line; a line break in it would start a new key or section.
std::string OneLine(std::string value) {
  for (char& c : value)
    if (c == '\r' || c == '\n' || c == '\0') c = ' ';
  return value;
}

}  // namespace

TIniValues::TIniValues(std::string fileName) : fileName_(std::move(fileName)) {
  std::string data;
  if (ReadWholeFile(fileName_, data) != 0) return;
  for (Line& line : SplitLines(data)) lines_.push_back(std::move(line.text));
}

std::string TIniValues::ReadString(const std::string& section, const std::string& key, const std::string& def) const {
  const Location loc = Find(lines_, section, key);
  if (loc.keyLine == npos) return def.substr(0, TIniFile::kMaxValueLength);
  return Trim(lines_[loc.keyLine].substr(loc.valueStart)).substr(0, TIniFile::kMaxValueLength);
}

int TIniValues::ReadInteger(const std::string& section, const std::string& key, int def) const {
  const std::string text = ReadString(section, key, "");
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    uint64_t hex;
    if (!TryHexToInt(text.substr(2), hex) || hex > UINT32_MAX) return def;
    return static_cast<int>(static_cast<uint32_t>(hex));  // 0xFFFFFFFF is -1, as a 32-bit word
  }
  long long value;
  if (!TryStrToInt(text, value) || value < INT_MIN || value > INT_MAX) return def;
  return static_cast<int>(value);
}

bool TIniValues::ReadBool(const std::string& section, const std::string& key, bool def) const {
  return ReadInteger(section, key, def ? 1 : 0) != 0;
}

std::string TIniFile::ReadString(const std::string& section, const std::string& key, const std::string& def) const {
  return TIniValues(fileName_).ReadString(section, key, def);
}

int TIniFile::ReadInteger(const std::string& section, const std::string& key, int def) const {
  return TIniValues(fileName_).ReadInteger(section, key, def);
}

bool TIniFile::ReadBool(const std::string& section, const std::string& key, bool def) const {
  return TIniValues(fileName_).ReadBool(section, key, def);
}

void TIniFile::WriteString(const std::string& section, const std::string& key, const std::string& value) {
  std::vector<Line> lines = SplitLines(LoadForWrite(fileName_));
  const std::string clean = OneLine(value);
  const Location loc = Find(lines, section, key);
  if (loc.keyLine != npos) {
    Line& line = lines[loc.keyLine];
    line.text = line.text.substr(0, loc.valueStart) + clean;
  } else {
    const size_t at = loc.sectionLine == npos ? lines.size() : loc.insertAt;
    const std::string eol = LineEnd(lines, at);
    std::vector<Line> added;
    if (loc.sectionLine == npos) added.push_back({"[" + section + "]", eol});
    added.push_back({key + "=" + clean, eol});
    if (at > 0 && lines[at - 1].end.empty()) lines[at - 1].end = eol;
    lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(at), added.begin(), added.end());
  }
  ReplaceFile(fileName_, JoinLines(lines));
}

void TIniFile::WriteInteger(const std::string& section, const std::string& key, int value) {
  WriteString(section, key, std::to_string(value));
}

void TIniFile::WriteBool(const std::string& section, const std::string& key, bool value) {
  WriteString(section, key, value ? "1" : "0");
}
