#include "app/cli/send/batchreport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include "app/batch/batchjournal.h"
#include "app/batch/batchrunner.h"
#include "toolkit/strutils.h"

namespace {
constexpr auto kRedrawInterval = std::chrono::milliseconds(100);

QString JsonText(const std::string& text) {
  return QString::fromStdString(IsValidUtf8(text) ? text : DisplayText(text));
}

QJsonObject FileEntry(const TBatchFile& file, bool dryRun) {
  QJsonObject entry;
  entry["path"] = JsonText(file.path);
  entry["size"] = static_cast<double>(file.size);
  entry["outcome"] = QString::fromStdString(OutcomeName(file, dryRun));
  if (!file.detail.empty()) entry[file.state == TFileState::Sent ? "reply" : "reason"] = JsonText(file.detail);
  if (!file.sentBefore.empty()) entry["sent_before"] = JsonText(file.sentBefore);
  return entry;
}
}  // namespace

std::string OutcomeName(const TBatchFile& file, bool dryRun) {
  if (file.state == TFileState::Waiting) return "not reached";
  if (file.state == TFileState::Sent && dryRun) return "written";
  return FileStateName(file.state);
}

std::string JsonReport(const TBatchRunner& runner, bool dryRun) {
  const TBatchStatus& status = runner.Status();
  QJsonArray files;
  for (const TBatchFile& file : status.Files()) files.append(FileEntry(file, dryRun));
  QJsonObject report;
  report["files"] = files;
  // A dry run sends nothing: what it wrote is counted apart.
  report["sent"] = dryRun ? 0 : status.Count(TFileState::Sent);
  report["written"] = dryRun ? status.Count(TFileState::Sent) : 0;
  report["failed"] = status.Count(TFileState::Failed);
  report["skipped"] = status.Count(TFileState::Skipped);
  report["uncertain"] = status.Count(TFileState::Uncertain);
  report["not_sent"] = status.Count(TFileState::Waiting);
  report["cancelled"] = status.Cancelled();
  report["waited_for_limits_seconds"] = static_cast<double>(runner.SecondsWaitedForCaps());
  QJsonValue quota;
  if (const std::optional<int64_t> resets = runner.QuotaResets())
    quota = QJsonObject{{"limit", JsonText(runner.QuotaLimit())}, {"resets", JsonText(JournalTime(*resets))}};
  report["quota"] = quota;
  const std::string& journal = runner.JournalFileName();
  report["journal"] = journal.empty() ? QJsonValue() : QJsonValue(JsonText(journal));
  return QJsonDocument(report).toJson(QJsonDocument::Indented).toStdString();
}

std::string JsonFileLine(const TBatchFile& file, bool dryRun) {
  return QJsonDocument(FileEntry(file, dryRun)).toJson(QJsonDocument::Compact).toStdString();
}

std::string WaitedText(int64_t seconds) {
  if (seconds < 60) return std::to_string(seconds) + " s";
  const int64_t minutes = (seconds + 30) / 60;
  if (minutes < 60) return std::to_string(minutes) + " min";
  return std::to_string(minutes / 60) + " h " + std::to_string(minutes % 60) + " min";
}

void TProgressLine::Show(const TBatchStatus& status, const std::string& waiting) {
  const auto now = TBatchStatus::Clock::now();
  if (shown_ && now - lastDrawn_ < kRedrawInterval) return;
  lastDrawn_ = now;
  Draw(status.ProgressLine(now) + (waiting.empty() ? "" : ", " + waiting));
}

void TProgressLine::Clear() {
  if (!shown_) return;
  std::fputs("\r\x1b[K", terminal_);
  std::fflush(terminal_);
  shown_ = false;
}

void TProgressLine::Finish(const TBatchStatus& status) {
  Draw(status.ProgressLine());
  std::fputc('\n', terminal_);
  std::fflush(terminal_);
  shown_ = false;
}

void TProgressLine::Draw(const std::string& text) {
  std::fprintf(terminal_, "\r%s\x1b[K", text.c_str());
  std::fflush(terminal_);
  shown_ = true;
}
