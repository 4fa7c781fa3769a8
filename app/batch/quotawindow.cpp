#include "app/batch/quotawindow.h"

#include <QDateTime>

#include <algorithm>

#include "app/batch/batchquestions.h"
#include "toolkit/strutils.h"

namespace {
std::string Files(int count) { return std::to_string(count) + (count == 1 ? " file" : " files"); }
}  // namespace

std::optional<int64_t> JournalEpoch(const std::string& isoTime) {
  const QDateTime time = QDateTime::fromString(QString::fromStdString(isoTime), Qt::ISODate);
  if (!time.isValid()) return std::nullopt;
  return time.toSecsSinceEpoch();
}

int64_t QuotaResetTime(const std::vector<TJournal>& journals, const std::string& server, const std::string& user,
                       std::optional<int64_t> firstSentHere, int64_t now) {
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
