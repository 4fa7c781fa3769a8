// The executable's version record: product name, file version and the file's date.
//
// The values are built in (the product name and the project version of the build) and the
// date is the executable's modification time, read once when the record is made so that it
// stays available for as long as the record lives.
#pragma once

#include <QDateTime>
#include <QLocale>

#include <string>

class TVersionInfo {
 public:
  explicit TVersionInfo(const std::string& executablePath);
  const std::string& ProductName() const { return productName_; }
  const std::string& FileVersion() const { return fileVersion_; }
  // Local time; ZeroDate() when the file cannot be found.
  const QDateTime& FileDate() const { return fileDate_; }

 private:
  std::string productName_;
  std::string fileVersion_;
  QDateTime fileDate_;
};

// The date that stands for "no date": 12/30/1899 00:00 local time, day zero of the toolkit's
// date arithmetic. A valid date, so it formats like any other.
QDateTime ZeroDate();

// date in the locale's short date format, "M/d/yy" (month, day, two-digit year) when the
// locale has none. Callers pass nothing: the system's locale is the one the user set.
std::string FormatShortDate(const QDateTime& date, const QLocale& locale = QLocale::system());

// Product name + " " + file version + " (" + date in the short date format + ")": the window's
// title, and the sender's display name of every message unless the account names another.
std::string ProgramTitle(const TVersionInfo& version);

// The running program's full path ("" when it cannot be determined).
std::string ExecutablePath();
