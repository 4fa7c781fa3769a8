#include "app/batch/batchjournal.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "app/batch/filetrust.h"
#include "toolkit/folders.h"
#include "toolkit/regularfile.h"
#include "toolkit/strutils.h"

namespace {

constexpr int kVersion = 1;
constexpr char kSuffix[] = ".jsonl";

// ISO 8601 with the offset written out, also for UTC, so that a reader never has to guess
// which zone a time was taken in.
std::string LocalTimeText(const QDateTime& time) {
  const int offset = time.offsetFromUtc();
  const int minutes = std::abs(offset) / 60;
  char zone[16];
  std::snprintf(zone, sizeof zone, "%c%02d:%02d", offset < 0 ? '-' : '+', minutes / 60, minutes % 60);
  return time.toString("yyyy-MM-dd'T'HH:mm:ss").toStdString() + zone;
}

// ---- Byte strings in JSON, which holds UTF-8 only ---------------------------------------------

// Bytes that are no part of well-formed UTF-8 become \xNN; with escapeBackslash every backslash
// does too, which makes the form reversible.
std::string Escaped(std::string_view bytes, bool escapeBackslash) {
  std::string text;
  text.reserve(bytes.size());
  for (size_t at = 0; at < bytes.size();) {
    const size_t length = Utf8CharLength(bytes.substr(at));
    if (length > 0 && !(escapeBackslash && bytes[at] == '\\')) {
      text.append(bytes.substr(at, length));
      at += length;
    } else {
      text += HexEscape(static_cast<unsigned char>(bytes[at++]));
    }
  }
  return text;
}

std::string Unescaped(std::string_view text) {
  std::string bytes;
  bytes.reserve(text.size());
  uint64_t value = 0;
  for (size_t at = 0; at < text.size(); ++at) {
    if (at + 4 <= text.size() && text.substr(at, 2) == "\\x" && TryHexToInt(text.substr(at + 2, 2), value)) {
      bytes += static_cast<char>(value);
      at += 3;
    } else {
      bytes += text[at];
    }
  }
  return bytes;
}

QString Text(const std::string& bytes) { return QString::fromStdString(Escaped(bytes, false)); }

// A path as it reads ("path") and, when it is no UTF-8, as it is ("path_escaped").
QJsonObject PathObject(const std::string& path) {
  QJsonObject object{{"path", Text(path)}};
  if (!IsValidUtf8(path)) object["path_escaped"] = QString::fromStdString(Escaped(path, true));
  return object;
}

std::string PathOf(const QJsonObject& object) {
  if (object.contains("path_escaped")) return Unescaped(object["path_escaped"].toString().toStdString());
  return object["path"].toString().toStdString();
}

// A file of the head's list: a plain string when the path is UTF-8, else a path object.
QJsonValue PathValue(const std::string& path) {
  return IsValidUtf8(path) ? QJsonValue(QString::fromStdString(path)) : QJsonValue(PathObject(path));
}

std::string PathOf(const QJsonValue& value) {
  return value.isObject() ? PathOf(value.toObject()) : value.toString().toStdString();
}

// ---- Lines ------------------------------------------------------------------------------------

constexpr const char* kOutcomes[] = {"sent", "failed", "skipped", "written", "uncertain", "changed"};
// An end line without one is of a version that knew only finished batches.
constexpr const char* kEndings[] = {"", "finished", "cancelled", "declined", "setup-failed", "failed", "quota"};

// The type first, for people and for grep; the object's own keys come sorted. It is never empty.
std::string Line(const char* type, const QJsonObject& object) {
  return "{\"type\":\"" + std::string(type) + "\"," +
         QJsonDocument(object).toJson(QJsonDocument::Compact).toStdString().substr(1);
}

std::string HeadLine(const TJournalHead& head) {
  QJsonArray files;
  for (const std::string& path : head.files) files.append(PathValue(path));
  QJsonObject object{{"version", kVersion},      {"started", Text(head.started)}, {"server", Text(head.server)},
                     {"from", Text(head.from)},  {"to", Text(head.to)},           {"subject", Text(head.subject)},
                     {"files", files}};
  // Left out when empty, so that a batch of the single recipient reads as it always did.
  if (!head.cc.empty()) object["cc"] = Text(head.cc);
  if (!head.bcc.empty()) object["bcc"] = Text(head.bcc);
  if (!head.body.empty()) object["body"] = Text(head.body);
  if (!head.user.empty()) object["user"] = Text(head.user);
  if (!head.watch.empty()) object["watch"] = PathValue(head.watch);
  return Line("batch", object);
}

std::string RecordLine(const TJournalRecord& record) {
  QJsonObject object = PathObject(record.path);
  object["size"] = static_cast<double>(record.size);  // exact up to 2^53 bytes
  object["sha256"] = QString::fromStdString(record.sha256);
  object["time"] = Text(record.time);
  object["outcome"] = kOutcomes[static_cast<int>(record.outcome)];
  object["reply"] = Text(record.reply);
  return Line("file", object);
}

std::string TimeLine(const char* type) {
  return Line(type, {{"time", QString::fromStdString(LocalTimeText(QDateTime::currentDateTime()))}});
}

std::string EndLine(TJournalEnd how, const std::string& error, const std::string& resets) {
  QJsonObject object{{"time", QString::fromStdString(LocalTimeText(QDateTime::currentDateTime()))},
                     {"ending", kEndings[static_cast<int>(how)]}};
  if (!error.empty()) object["error"] = Text(error);
  if (!resets.empty()) object["resets"] = Text(resets);
  return Line("end", object);
}

TJournalEnd ReadEnding(const QJsonObject& object, std::string& error, std::string& resets) {
  const std::string ending = object["ending"].toString("finished").toStdString();
  const auto* known = std::find(std::begin(kEndings) + 1, std::end(kEndings), ending);
  error = object["error"].toString().toStdString();
  resets = object["resets"].toString().toStdString();
  // One this version does not know ended it all the same; it is not for resuming.
  return known == std::end(kEndings) ? TJournalEnd::Finished : static_cast<TJournalEnd>(known - std::begin(kEndings));
}

TJournalHead ReadHead(const QJsonObject& object) {
  TJournalHead head;
  for (const QJsonValue& file : object["files"].toArray()) head.files.push_back(PathOf(file));
  head.started = object["started"].toString().toStdString();
  head.server = object["server"].toString().toStdString();
  head.from = object["from"].toString().toStdString();
  head.to = object["to"].toString().toStdString();
  head.cc = object["cc"].toString().toStdString();
  head.bcc = object["bcc"].toString().toStdString();
  head.body = object["body"].toString().toStdString();
  head.user = object["user"].toString().toStdString();
  head.subject = object["subject"].toString().toStdString();
  if (object.contains("watch")) head.watch = PathOf(object["watch"]);
  return head;
}

// nullopt for an outcome this version does not know.
std::optional<TJournalRecord> ReadRecord(const QJsonObject& object) {
  const std::string outcome = object["outcome"].toString().toStdString();
  const auto* known = std::find(std::begin(kOutcomes), std::end(kOutcomes), outcome);
  if (known == std::end(kOutcomes)) return std::nullopt;
  TJournalRecord record;
  record.path = PathOf(object);
  record.size = static_cast<uint64_t>(object["size"].toDouble());
  record.sha256 = object["sha256"].toString().toStdString();
  record.time = object["time"].toString().toStdString();
  record.outcome = static_cast<TJournalOutcome>(known - std::begin(kOutcomes));
  record.reply = object["reply"].toString().toStdString();
  return record;
}

// ---- Files ------------------------------------------------------------------------------------

[[noreturn]] void Unreadable(const std::string& fileName, const std::string& reason) {
  throw EJournalError("The journal " + QuotedName(fileName) + " cannot be read: " + reason);
}

std::string FolderOf(const std::string& fileName) {
  const size_t slash = fileName.rfind('/');
  return slash == std::string::npos ? "." : slash == 0 ? "/" : fileName.substr(0, slash);
}

// The whole of a trusted regular file; a FIFO or a device under a journal's name is refused, not
// waited on. running: another process holds the journal's lock.
std::string ReadWholeFile(const std::string& fileName, bool& running) {
  if (const std::string problem = FileTrustProblem(FolderOf(fileName)); !problem.empty())
    throw EJournalError(problem + ": the journals in it are not read");
  std::string why;
  struct stat st;
  const int fd = OpenRegularFile(fileName, why, st);
  if (fd < 0) Unreadable(fileName, why);
  const std::string problem = DescriptorTrustProblem(fd, fileName);
  std::string data;
  int error = 0;
  if (problem.empty()) {
    running = ::flock(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    data.resize(static_cast<size_t>(st.st_size));
    size_t done = 0;
    ssize_t n = 0;
    while (done < data.size() && ((n = ::read(fd, &data[done], data.size() - done)) > 0 || (n < 0 && errno == EINTR)))
      if (n > 0) done += static_cast<size_t>(n);
    error = n < 0 ? errno : 0;
    data.resize(done);
  }
  ::close(fd);
  if (!problem.empty()) throw EJournalError(problem + ": the journal is not read");
  if (error != 0) Unreadable(fileName, std::strerror(error));
  return data;
}

// Makes a new entry in the folder last across a power cut, as the file's own data does after
// fdatasync. Some file systems cannot sync a folder; the entry is then as safe as they make it.
void SyncFolder(const std::string& folder) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

[[noreturn]] void FolderError(const std::string& folder, int error) {
  throw EJournalError("The journal folder " + QuotedName(folder) + " cannot be written: " + std::strerror(error));
}

// A second batch started in the same second by the same process gets "-2", "-3", ...: the
// stem still sorts after the first one's.
std::string JournalName(const std::string& folder, const QDateTime& started, int attempt) {
  std::string name =
      folder + "/" + started.toString("yyyyMMdd-HHmmss").toStdString() + "-" + std::to_string(::getpid());
  if (attempt > 1) name += "-" + std::to_string(attempt);
  return name + kSuffix;
}

// name: exactly that one, -1 with errno EEXIST when it is there; else a batch's name.
int CreateJournal(const std::string& folder, const QDateTime& started, const std::string& name,
                  std::string& fileName) {
  if (!name.empty()) {
    fileName = folder + "/" + name;
    const int fd = ::open(fileName.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_APPEND | O_CLOEXEC, 0600);
    if (fd < 0 && errno != EEXIST) FolderError(folder, errno);
    return fd;
  }
  constexpr int kAttempts = 100;
  for (int attempt = 1; attempt <= kAttempts; ++attempt) {
    fileName = JournalName(folder, started, attempt);
    const int fd = ::open(fileName.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_APPEND | O_CLOEXEC, 0600);
    if (fd >= 0) return fd;
    if (errno != EEXIST) FolderError(folder, errno);
  }
  FolderError(folder, EEXIST);
}

std::string Stem(const std::string& name) { return name.substr(0, name.size() - std::strlen(kSuffix)); }

}  // namespace

// ---- Reading ----------------------------------------------------------------------------------

const TJournalRecord* TJournal::LastRecordOf(const std::string& path) const {
  const auto last =
      std::find_if(records.rbegin(), records.rend(), [&](const TJournalRecord& r) { return r.path == path; });
  return last == records.rend() ? nullptr : &*last;
}

TJournal ReadJournal(const std::string& fileName) {
  TJournal journal;
  journal.written = JournalWritten(fileName);
  const std::string data = ReadWholeFile(fileName, journal.running);
  journal.fileName = fileName;
  bool first = true;
  for (size_t at = 0; at < data.size();) {
    const size_t end = std::min(data.find('\n', at), data.size());
    const QJsonDocument line =
        QJsonDocument::fromJson(QByteArray::fromRawData(&data[at], static_cast<qsizetype>(end - at)));
    at = end + 1;
    const QJsonObject object = line.object();
    const QString type = object["type"].toString();
    if (first && (type != "batch" || object["version"].toInt() != kVersion))
      throw EJournalError("The file " + QuotedName(fileName) + " is no journal of this version");
    first = false;
    if (!line.isObject()) continue;  // a torn line: the power went in mid-write
    if (type == "batch") journal.head = ReadHead(object);
    if (type == "file")
      if (std::optional<TJournalRecord> record = ReadRecord(object)) journal.records.push_back(std::move(*record));
    journal.end = type == "end" ? ReadEnding(object, journal.endError, journal.resets) : TJournalEnd::None;
  }
  if (first) throw EJournalError("The journal " + QuotedName(fileName) + " is empty");
  return journal;
}

int64_t JournalWritten(const std::string& fileName) {
  struct stat st;
  if (::stat(fileName.c_str(), &st) != 0) return 0;
  return static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
}

std::vector<TJournal> ReadJournals(const std::string& folder,
                                   const std::function<bool(const std::string& fileName, int64_t written)>& wanted) {
  std::vector<std::string> names;
  if (!FileTrustProblem(folder).empty()) return {};
  if (DIR* dir = ::opendir(folder.c_str())) {
    while (const dirent* entry = ::readdir(dir)) {
      if (!EndsStr(kSuffix, entry->d_name) || std::strlen(entry->d_name) <= std::strlen(kSuffix)) continue;
      const std::string name = folder + "/" + entry->d_name;
      if (wanted && !wanted(name, JournalWritten(name))) continue;
      names.push_back(name);
    }
    ::closedir(dir);
  }
  std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) { return Stem(a) < Stem(b); });
  std::vector<TJournal> journals;
  for (const std::string& name : names) {
    try {
      journals.push_back(ReadJournal(name));
    } catch (const EJournalError&) {
      // Not ours, or not readable: it cannot say what was sent.
    }
  }
  return journals;
}

std::string EndingText(const TJournal& journal) {
  switch (journal.end) {
    case TJournalEnd::None: return journal.running ? "still running" : "stopped by a crash";
    case TJournalEnd::Finished: return "finished";
    case TJournalEnd::Cancelled: return "cancelled";
    case TJournalEnd::Declined: return "declined";
    case TJournalEnd::SetupFailed: return "ended at its start by an error: " + journal.endError;
    case TJournalEnd::Failed: return "ended by an error: " + journal.endError;
    case TJournalEnd::Quota:
      return "stopped at the provider's daily limit" +
             (journal.resets.empty() ? std::string() : ", expected to reset " + journal.resets);
  }
  return {};
}

std::string JournalTime(int64_t epochSeconds) { return LocalTimeText(QDateTime::fromSecsSinceEpoch(epochSeconds)); }

std::vector<TSentBefore> FindSentBefore(const std::vector<TJournal>& journals, const std::string& server,
                                        const std::string& envelope, const std::string& path,
                                        const TFileDigest& digest) {
  std::vector<TSentBefore> found;
  for (auto journal = journals.rbegin(); journal != journals.rend(); ++journal) {
    // RFC 4343: host names compare without regard to case.
    if (!SameText(journal->head.server, server) || EnvelopeKey(journal->head.Recipients()) != envelope) continue;
    for (auto record = journal->records.rbegin(); record != journal->records.rend(); ++record)
      if (record->outcome == TJournalOutcome::Sent && record->path == path && record->size == digest.size &&
          (digest.sha256.empty() || record->sha256 == digest.sha256))
        found.push_back({record->path, record->time, journal->fileName});
  }
  return found;
}

// ---- Files and folders ------------------------------------------------------------------------

std::string DefaultJournalFolder() { return StateHome() + "/mailcart"; }

bool IsBatchJournalName(std::string_view fileName) {
  // The form JournalName gives: date, time, process id, and the attempt from the second on.
  static const QRegularExpression form("^[0-9]{8}-[0-9]{6}-[0-9]+(-[0-9]+)?" + QRegularExpression::escape(kSuffix) +
                                       "$");
  const std::string_view name = fileName.substr(fileName.rfind('/') + 1);
  return form.match(QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size()))).hasMatch();
}

// ---- Writing ----------------------------------------------------------------------------------

TJournalWriter::TJournalWriter(const std::string& folder, const TJournalHead& head) { Create(folder, head, {}); }

TJournalWriter::TJournalWriter(const std::string& folder, const std::string& name, const TJournalHead& head) {
  Create(folder, head, name);
  if (fd_ < 0) GoOn();
}

void TJournalWriter::Create(const std::string& folder, const TJournalHead& head, const std::string& name) {
  if (const int error = ForceDirectories(folder, 0700)) FolderError(folder, error);
  // A journal there would never be read back: no resume, no check of what was sent before.
  if (const std::string problem = FileTrustProblem(folder); !problem.empty())
    throw EJournalError(problem + ": its journals could not be trusted; make it yours alone (chmod 700)");
  const QDateTime now = QDateTime::currentDateTime();
  fd_ = CreateJournal(folder, now, name, fileName_);
  if (fd_ < 0) return;
  ::flock(fd_, LOCK_EX | LOCK_NB);  // new, so nobody else holds it
  TJournalHead started = head;
  if (started.started.empty()) started.started = LocalTimeText(now);
  try {
    WriteLine(HeadLine(started), false);
  } catch (const EJournalError&) {
    ::close(fd_);
    ::unlink(fileName_.c_str());
    throw;
  }
  SyncFolder(folder);
}

TJournalWriter::TJournalWriter(const std::string& fileName) : fileName_(fileName) { GoOn(); }

void TJournalWriter::GoOn() {
  const std::string& fileName = fileName_;
  // Read and write: the last byte tells whether the last line was torn.
  std::string why;
  struct stat st;
  fd_ = OpenRegularFile(fileName, why, st, O_RDWR | O_APPEND);
  if (fd_ < 0) throw EJournalError("The journal " + QuotedName(fileName) + " cannot be written: " + why);
  if (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
    ::close(fd_);
    throw EJournalError("The batch of the journal " + QuotedName(fileName) + " is being sent by another Mailcart");
  }
  char last = '\n';
  if (st.st_size > 0 && ::pread(fd_, &last, 1, st.st_size - 1) != 1) last = '\0';
  try {
    // A torn line stays a line of its own, which the reader skips, instead of swallowing the
    // next one.
    if (last != '\n') WriteLine("", false);
    WriteLine(TimeLine("resume"), false);
  } catch (const EJournalError&) {
    ::close(fd_);
    throw;
  }
}

TJournalWriter::~TJournalWriter() { ::close(fd_); }

void TJournalWriter::Record(const TJournalRecord& record, bool durable) {
  if (!record.time.empty()) return WriteLine(RecordLine(record), durable);
  TJournalRecord timed = record;
  timed.time = LocalTimeText(QDateTime::currentDateTime());
  WriteLine(RecordLine(timed), durable);
}

void TJournalWriter::End(TJournalEnd how, const std::string& error, const std::string& resets) {
  WriteLine(EndLine(how, error, resets), false);
}

void TJournalWriter::WriteLine(const std::string& line, bool durable) {
  const std::string data = line + "\n";
  size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = ::write(fd_, data.data() + done, data.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0)
      throw EJournalError("The journal " + QuotedName(fileName_) + " cannot be written: " + std::strerror(errno));
    done += static_cast<size_t>(n);
  }
  if (durable && ::fdatasync(fd_) != 0)
    throw EJournalError("The journal " + QuotedName(fileName_) + " cannot be written: " + std::strerror(errno));
}
