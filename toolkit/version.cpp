#include "toolkit/version.h"

#include <QFileInfo>

#include <filesystem>

namespace {
constexpr char kProductName[] = "Mailcart";
}  // namespace

TVersionInfo::TVersionInfo(const std::string& executablePath)
    : productName_(kProductName), fileVersion_(MAILCART_VERSION) {
  const QFileInfo file(QString::fromLocal8Bit(executablePath.c_str()));
  fileDate_ = file.exists() ? file.lastModified().toLocalTime() : ZeroDate();
}

QDateTime ZeroDate() { return QDateTime(QDate(1899, 12, 30), QTime(0, 0)); }

std::string FormatShortDate(const QDateTime& date, const QLocale& locale) {
  QString format = locale.dateFormat(QLocale::ShortFormat);
  if (format.isEmpty()) format = QStringLiteral("M/d/yy");
  return locale.toString(date.date(), format).toLocal8Bit().toStdString();
}

std::string ExecutablePath() {
  std::error_code ec;
  const std::filesystem::path path = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::string() : path.string();
}

std::string ProgramTitle(const TVersionInfo& version) {
  return version.ProductName() + " " + version.FileVersion() + " (" + FormatShortDate(version.FileDate()) + ")";
}
