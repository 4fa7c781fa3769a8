#include "smtp_capture.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <filesystem>
#include <set>
#include <stdexcept>

#include "files.h"
#include "python_referee.h"
#include "python_server.h"
#include "tls_peer.h"

SmtpCapture::SmtpCapture() : SmtpCapture(Options{}) {}

SmtpCapture::SmtpCapture(const Options& options)
    : dir_(options.dir.empty() ? root_.filePath("mail").toStdString() : options.dir) {
  if (!root_.isValid()) throw std::runtime_error("cannot create a folder for the SMTP capture");
  std::vector<std::string> args{
      "--dir", Dir(), "--port", std::to_string(options.port), "--max-seconds", std::to_string(options.maxSeconds)};
  for (const std::string& reply : options.mailReplies) {
    args.push_back("--mail-reply");
    args.push_back(reply);
  }
  for (const std::string& reply : options.dataReplies) {
    args.push_back("--data-reply");
    args.push_back(reply);
  }
  if (options.messagesPerSession > 0) {
    args.push_back("--messages-per-session");
    args.push_back(std::to_string(options.messagesPerSession));
  }
  if (options.sizeLimit >= 0) args.insert(args.end(), {"--size-limit", std::to_string(options.sizeLimit)});
  for (const std::string& address : options.rejectRcpt) {
    args.push_back("--reject-rcpt");
    args.push_back(address);
  }
  AddSecurityArgs(options, args);
  args.insert(args.end(), {"--transcript", TranscriptPath()});
  server_ =
      std::make_unique<PythonServer>(E2eScript("smtp_capture.py"), args, root_.filePath("server.log").toStdString());
  port_ = server_->Port();
}

SmtpCapture::~SmtpCapture() = default;

void SmtpCapture::AddSecurityArgs(const Options& options, std::vector<std::string>& args) {
  if (!options.cert.empty()) {
    const TestCerts& certs = TestCerts::Get();
    args.insert(args.end(), {"--tls-cert", certs.Pem(options.cert), "--tls-key", certs.Key(options.cert)});
  }
  const std::pair<bool, const char*> flags[] = {{options.implicitTls, "--implicit-tls"},
                                                {options.requireStartTls, "--require-starttls"},
                                                {options.authPlaintext, "--auth-plaintext"},
                                                {options.refuseFirstToken, "--refuse-first-token"},
                                                {options.noOAuthBearer, "--no-oauthbearer"},
                                                {options.pipelining, "--pipelining"},
                                                {options.chunking, "--chunking"}};
  for (const auto& [on, flag] : flags)
    if (on) args.push_back(flag);
  if (!options.auth.empty()) args.insert(args.end(), {"--auth", options.auth});
  if (!options.token.empty()) args.insert(args.end(), {"--token", options.token});
  if (!options.introspect.empty()) args.insert(args.end(), {"--introspect", options.introspect});
}

std::string SmtpCapture::TranscriptPath() const { return root_.filePath("transcript.log").toStdString(); }

std::string SmtpCapture::Transcript() const {
  return std::filesystem::exists(TranscriptPath()) ? ReadFile(TranscriptPath()) : std::string();
}

// The stored files with that extension, ordered by their number.
std::vector<std::string> SmtpCapture::StoredFiles(const char* extension) const {
  std::vector<std::pair<long, std::string>> numbered;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(Dir(), error)) {
    const std::filesystem::path& path = entry.path();
    if (path.extension() != extension) continue;
    numbered.emplace_back(std::strtol(path.stem().c_str(), nullptr, 10), path.string());
  }
  std::sort(numbered.begin(), numbered.end());
  std::vector<std::string> paths;
  for (auto& [number, path] : numbered) paths.push_back(std::move(path));
  return paths;
}

std::vector<std::string> SmtpCapture::Messages() const {
  std::vector<std::string> messages;
  for (const std::string& path : StoredFiles(".eml")) messages.push_back(ReadFile(path));
  return messages;
}

std::string SmtpCapture::ReadInClear() const {
  std::string clear;
  const std::string transcript = Transcript();
  for (size_t start = 0, end; start < transcript.size(); start = end + 1) {
    end = transcript.find('\n', start);
    if (end == std::string::npos) end = transcript.size();
    if (transcript.compare(start, 6, "plain ") == 0) clear.append(transcript, start, end + 1 - start);
  }
  return clear;
}

std::vector<SmtpCapture::Envelope> SmtpCapture::Envelopes() const {
  std::vector<Envelope> envelopes;
  for (const std::string& path : StoredFiles(".json")) {
    const QJsonObject json = QJsonDocument::fromJson(QByteArray::fromStdString(ReadFile(path))).object();
    Envelope envelope{json["mail_from"].toString().toStdString(),
                      {},
                      json["peer"].toString().toStdString(),
                      json["encrypted"].toBool(),
                      json["user"].toString().toStdString(),
                      json["mechanism"].toString().toStdString(),
                      json["chunked"].toBool()};
    for (const QJsonValue& rcpt : json["rcpt_tos"].toArray()) envelope.rcptTos.push_back(rcpt.toString().toStdString());
    envelopes.push_back(std::move(envelope));
  }
  return envelopes;
}

int SmtpCapture::Count() const { return static_cast<int>(StoredFiles(".eml").size()); }

int SmtpCapture::Sessions() const {
  std::set<std::string> peers;
  for (const Envelope& envelope : Envelopes()) peers.insert(envelope.peer);
  return static_cast<int>(peers.size());
}
