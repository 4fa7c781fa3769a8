#include "app/batch/quotawindow.h"

#include <QDateTime>
#include <QRegularExpression>

#include <algorithm>

#include "app/batch/batchquestions.h"
#include "toolkit/strutils.h"

namespace {
std::string Files(int count) { return std::to_string(count) + (count == 1 ? " file" : " files"); }

// The furthest a stated reset time may lie ahead.
constexpr int64_t kLongestStatedWait = 2 * kQuotaWindowSeconds;

std::optional<int64_t> StatedDateTime(const QString& reply) {
  static const QRegularExpression kDateTime(
      R"((\d{4}-\d\d-\d\d)[T ](\d\d:\d\d(?::\d\d)?)(?:\.\d+)?\s*(Z|[+-]\d\d:?\d\d|UTC|GMT)\b)",
      QRegularExpression::CaseInsensitiveOption);
  const QRegularExpressionMatch match = kDateTime.match(reply);
  if (!match.hasMatch()) return std::nullopt;
  QString zone = match.captured(3).toUpper();
  if (zone == "UTC" || zone == "GMT") zone = "Z";
  if (zone.size() == 5) zone.insert(3, ':');  // +0100
  const QDateTime time = QDateTime::fromString(match.captured(1) + "T" + match.captured(2) + zone, Qt::ISODate);
  if (!time.isValid()) return std::nullopt;
  return time.toSecsSinceEpoch();
}

std::optional<int64_t> StatedWait(const QString& reply) {
  static const QRegularExpression kWait(R"(\b(?:in|after)\s+(\d{1,6})\s*(second|sec|minute|min|hour|hr|day)s?\b)",
                                        QRegularExpression::CaseInsensitiveOption);
  const QRegularExpressionMatch match = kWait.match(reply);
  if (!match.hasMatch()) return std::nullopt;
  const QString unit = match.captured(2).toLower();
  const int64_t scale = unit.startsWith("s") ? 1 : unit.startsWith("m") ? 60 : unit.startsWith("h") ? 3600 : 86400;
  return match.captured(1).toLongLong() * scale;
}
}  // namespace

std::optional<int64_t> StatedResetTime(const std::string& reply, int64_t now) {
  const QString text = QString::fromStdString(reply);
  std::optional<int64_t> at = StatedDateTime(text);
  if (!at)
    if (const std::optional<int64_t> wait = StatedWait(text)) at = now + *wait;
  if (!at || *at <= now || *at > now + kLongestStatedWait) return std::nullopt;
  return at;
}

std::optional<int64_t> JournalEpoch(const std::string& isoTime) {
  const QDateTime time = QDateTime::fromString(QString::fromStdString(isoTime), Qt::ISODate);
  if (!time.isValid()) return std::nullopt;
  return time.toSecsSinceEpoch();
}

int64_t QuotaResetTime(const std::vector<TJournal>& journals, const std::string& server, const std::string& user,
                       std::optional<int64_t> firstSentHere, int64_t now, const std::string& reply) {
  if (const std::optional<int64_t> stated = StatedResetTime(reply, now)) return *stated;
  int64_t first = firstSentHere.value_or(now);
  for (const TJournal& journal : journals) {
    // RFC 4343: host names compare without regard to case.
    if (!SameText(journal.head.server, server) || journal.head.user != user) continue;
    for (const TJournalRecord& record : journal.records) {
      const std::optional<int64_t> sent = JournalEpoch(record.time);
      if (record.outcome == TJournalOutcome::Sent && sent && *sent > now - kQuotaWindowSeconds)
        first = std::min(first, *sent);
    }
  }
  return first + kQuotaWindowSeconds;
}

std::string ResetTimeText(int64_t resets, int64_t now) {
  const QDateTime at = QDateTime::fromSecsSinceEpoch(resets);
  const qint64 days = QDateTime::fromSecsSinceEpoch(now).date().daysTo(at.date());
  const std::string clock = at.toString("HH:mm").toStdString();
  if (days == 0) return clock + " today";
  if (days == 1) return clock + " tomorrow";
  return clock + " on " + DayOf(at.toString(Qt::ISODate).toStdString());
}

std::string QuotaSummary(const std::string& limit, int sent, int left, int64_t resets, int64_t now,
                         const std::string& resumeHow) {
  return limit + " was reached after " + Files(sent) + "; " + std::to_string(left) +
         (left == 1 ? " is" : " are") + " left. Resume after " + ResetTimeText(resets, now) + resumeHow + ".";
}
