// Profile (INI) files as the settings file uses them: "[Section]" lines followed by
// "key=value" lines, section and key names matched without regard to case.
//
// Every call works on the file itself: a read loads it, a write loads it, edits the one line
// and puts the file back through a temporary file and a rename, so a failed write leaves the
// old file whole, and leaves the file readable and writable by its owner only (0600). Everything
// a write does not touch (other sections, keys, comments, blank
// lines, order, line ends) stays byte for byte. TIniValues reads many keys from one reading of
// the file.
#pragma once

#include <string>
#include <vector>

class TIniFile {
 public:
  // Values are read as at most this many characters.
  static constexpr size_t kMaxValueLength = 1023;

  explicit TIniFile(std::string fileName) : fileName_(std::move(fileName)) {}
  const std::string& FileName() const { return fileName_; }

  // A missing or unreadable file, section or key gives the default. Blanks around keys and
  // values are not part of them.
  std::string ReadString(const std::string& section, const std::string& key, const std::string& def) const;
  // "0x1E" (more than two characters, "0x" or "0X" first) is hexadecimal; anything else is a
  // signed decimal integer; a value that does not parse gives the default.
  int ReadInteger(const std::string& section, const std::string& key, int def) const;
  // An integer; non-zero is true.
  bool ReadBool(const std::string& section, const std::string& key, bool def) const;

  // Creates the file, the section or the key as needed and replaces an existing value in
  // place. A value cannot span lines: CR, LF and NUL in it are written as blanks. A failure
  // raises EFCreateError or EInOutError naming the file.
  void WriteString(const std::string& section, const std::string& key, const std::string& value);
  void WriteInteger(const std::string& section, const std::string& key, int value);
  void WriteBool(const std::string& section, const std::string& key, bool value);

 private:
  std::string fileName_;
};

// The keys of a file as it stood when read, once, for a reader of many keys: they come as
// TIniFile's reads give them, from one moment of the file.
class TIniValues {
 public:
  // A missing or unreadable file holds no keys.
  explicit TIniValues(std::string fileName);
  const std::string& FileName() const { return fileName_; }

  std::string ReadString(const std::string& section, const std::string& key, const std::string& def) const;
  int ReadInteger(const std::string& section, const std::string& key, int def) const;
  bool ReadBool(const std::string& section, const std::string& key, bool def) const;

 private:
  std::string fileName_;
  std::vector<std::string> lines_;  // without their line ends
};
