#include "support/scripted_server.h"

#include <sys/socket.h>

#include <QDeadlineTimer>
#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <algorithm>
#include <sstream>
#include <stdexcept>

#include "toolkit/pump.h"

struct ScriptedServer::Step {
  enum Kind { Send, Expect, Close, Reset, Drip, Pause, Message } kind;
  std::string data;
  int size = 0;
  int ms = 0;
};

namespace {

using Step = ScriptedServer::Step;

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  throw std::invalid_argument(std::string("bad hex digit in transcript: ") + c);
}

std::string Unescape(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\' || i + 1 == text.size()) {
      out += text[i];
      continue;
    }
    const char c = text[++i];
    if (c == 'r')
      out += '\r';
    else if (c == 'n')
      out += '\n';
    else if (c == 't')
      out += '\t';
    else if (c == 'x' && i + 2 < text.size()) {
      out += static_cast<char>(HexDigit(text[i + 1]) * 16 + HexDigit(text[i + 2]));
      i += 2;
    } else
      out += c;
  }
  return out;
}

// Bytes as a readable quoted text for failure messages.
std::string Visible(const std::string& bytes) {
  std::string out = "\"";
  for (unsigned char c : bytes.substr(0, 200)) {
    if (c == '\r')
      out += "\\r";
    else if (c == '\n')
      out += "\\n";
    else if (c < 32 || c >= 127) {
      static const char kHex[] = "0123456789ABCDEF";
      out += "\\x";
      out += kHex[c >> 4];
      out += kHex[c & 15];
    } else
      out += static_cast<char>(c);
  }
  return out + (bytes.size() > 200 ? "\"…" : "\"");
}

Step ParseStep(const std::string& line) {
  const std::string text = line.size() > 3 ? Unescape(line.substr(3)) : "";
  if (line.rfind("S:", 0) == 0) return {Step::Send, text + "\r\n"};
  if (line.rfind("P:", 0) == 0) return {Step::Send, text};
  if (line.rfind("C:", 0) == 0) return {Step::Expect, text + "\r\n"};
  std::istringstream in(line);
  std::string word;
  in >> word;
  Step step{Step::Close, ""};
  if (word == "close") return step;
  if (word == "reset") {
    step.kind = Step::Reset;
  } else if (word == "drip") {
    step.kind = Step::Drip;
    in >> step.size >> step.ms;
  } else if (word == "pause") {
    step.kind = Step::Pause;
    in >> step.ms;
  } else if (word == "message") {
    step.kind = Step::Message;
  } else {
    throw std::invalid_argument("unknown transcript line: " + line);
  }
  return step;
}

std::vector<Step> ParseTranscript(const std::string& transcript) {
  std::vector<Step> steps;
  std::istringstream in(transcript);
  for (std::string line; std::getline(in, line);) {
    line.erase(0, line.find_first_not_of(" \t"));
    if (!line.empty()) steps.push_back(ParseStep(line));
  }
  return steps;
}

}  // namespace

// One accepted connection playing its transcript.
class ScriptedServer::Session {
 public:
  Session(QTcpSocket* socket, std::vector<Step> steps, std::vector<std::string>& failures, int number)
      : socket_(socket), steps_(std::move(steps)), failures_(failures), number_(number) {
    QObject::connect(socket_, &QTcpSocket::readyRead, [this] {
      const QByteArray bytes = socket_->readAll();
      received_.append(bytes.constData(), static_cast<size_t>(bytes.size()));
      Advance();
    });
  }

  void Advance() {
    while (!busy_ && !aborted_ && index_ < steps_.size()) {
      const Step& step = steps_[index_];
      switch (step.kind) {
        case Step::Send:
          if (dripSize_ > 0) return StartDrip(step.data);
          socket_->write(step.data.data(), static_cast<qint64>(step.data.size()));
          break;
        case Step::Expect:
          if (!Match(step.data)) return;
          break;
        case Step::Message: {
          const size_t end = received_.find("\r\n.\r\n", consumed_);
          if (end == std::string::npos) return;
          consumed_ = end + 5;
          break;
        }
        case Step::Close:
          ++index_;
          socket_->disconnectFromHost();
          return;
        case Step::Reset: ++index_; return Abort();
        case Step::Drip:
          dripSize_ = step.size;
          dripMs_ = step.ms;
          break;
        case Step::Pause:
          ++index_;
          busy_ = true;
          QTimer::singleShot(step.ms, socket_, [this] {
            busy_ = false;
            Advance();
          });
          return;
      }
      ++index_;
    }
    if (Finished() && consumed_ < received_.size())
      Fail("unexpected bytes after the transcript: " + Visible(received_.substr(consumed_)));
  }

  bool Finished() const { return index_ == steps_.size(); }
  const std::string& Received() const { return received_; }
  void Detach() {
    socket_->disconnect();
    socket_->abort();
  }

 private:
  bool Match(const std::string& expected) {
    const std::string_view available = std::string_view(received_).substr(consumed_);
    const size_t n = std::min(available.size(), expected.size());
    if (available.substr(0, n) != std::string_view(expected).substr(0, n)) {
      Fail("expected " + Visible(expected) + ", got " + Visible(std::string(available)));
      return false;
    }
    if (n < expected.size()) return false;
    consumed_ += n;
    return true;
  }

  void StartDrip(const std::string& data) {
    busy_ = true;
    drip_ = data;
    SendPiece();
  }

  void SendPiece() {
    const std::string piece = drip_.substr(0, static_cast<size_t>(dripSize_));
    drip_.erase(0, piece.size());
    socket_->write(piece.data(), static_cast<qint64>(piece.size()));
    socket_->flush();
    if (!drip_.empty()) {
      QTimer::singleShot(dripMs_, socket_, [this] { SendPiece(); });
      return;
    }
    busy_ = false;
    ++index_;
    Advance();
  }

  void Abort() {
    // SO_LINGER with a zero time makes the close a reset.
    const linger off{1, 0};
    setsockopt(static_cast<int>(socket_->socketDescriptor()), SOL_SOCKET, SO_LINGER, &off, sizeof off);
    aborted_ = true;
    socket_->abort();
  }

  void Fail(const std::string& what) {
    failures_.push_back("connection " + std::to_string(number_) + ": " + what);
    Abort();
  }

  QTcpSocket* socket_;
  std::vector<Step> steps_;
  std::vector<std::string>& failures_;
  int number_;
  size_t index_ = 0;
  std::string received_;
  size_t consumed_ = 0;
  int dripSize_ = 0;
  int dripMs_ = 0;
  std::string drip_;
  bool busy_ = false;
  bool aborted_ = false;
};

struct ScriptedServer::Impl {
  QTcpServer server;
  std::vector<std::vector<Step>> transcripts;
  std::vector<std::unique_ptr<Session>> sessions;
  std::vector<std::string> failures;

  void Accept() {
    while (QTcpSocket* socket = server.nextPendingConnection()) {
      const size_t k = std::min(sessions.size(), transcripts.size() - 1);
      sessions.push_back(
          std::make_unique<Session>(socket, transcripts[k], failures, static_cast<int>(sessions.size())));
      sessions.back()->Advance();
    }
  }

  const Session* At(int connection) const {
    return connection >= 0 && connection < static_cast<int>(sessions.size())
               ? sessions[static_cast<size_t>(connection)].get()
               : nullptr;
  }
};

ScriptedServer::ScriptedServer(const std::string& transcript) : ScriptedServer(std::vector<std::string>{transcript}) {}

ScriptedServer::ScriptedServer(const std::vector<std::string>& transcripts) : impl_(std::make_unique<Impl>()) {
  for (const std::string& t : transcripts) impl_->transcripts.push_back(ParseTranscript(t));
  if (impl_->transcripts.empty()) impl_->transcripts.emplace_back();
  QObject::connect(&impl_->server, &QTcpServer::newConnection, [this] { impl_->Accept(); });
  if (!impl_->server.listen(QHostAddress::LocalHost, 0))
    throw std::runtime_error("scripted server cannot listen: " + impl_->server.errorString().toStdString());
}

ScriptedServer::~ScriptedServer() {
  impl_->server.close();
  for (auto& session : impl_->sessions) session->Detach();
}

uint16_t ScriptedServer::Port() const { return impl_->server.serverPort(); }

std::string ScriptedServer::Address() const { return "127.0.0.1:" + std::to_string(Port()); }

void ScriptedServer::ExpectBytes(const std::string& bytes, int transcript) {
  for (size_t k = 0; k < impl_->transcripts.size(); ++k)
    if (transcript < 0 || static_cast<size_t>(transcript) == k) impl_->transcripts[k].push_back({Step::Expect, bytes});
}

int ScriptedServer::Connections() const { return static_cast<int>(impl_->sessions.size()); }

std::string ScriptedServer::Received(int connection) const {
  const Session* s = impl_->At(connection);
  return s != nullptr ? s->Received() : "";
}

bool ScriptedServer::Finished(int connection) const {
  const Session* s = impl_->At(connection);
  return s != nullptr && s->Finished();
}

std::string ScriptedServer::Failures() const {
  std::string all;
  for (const std::string& f : impl_->failures) all += f + "\n";
  return all;
}

bool ScriptedServer::WaitFinished(int connection, int timeoutMs) const {
  const QDeadlineTimer deadline(timeoutMs);
  while (!Finished(connection) && !deadline.hasExpired())
    WaitForEvents(static_cast<int>(std::max<qint64>(1, deadline.remainingTime())));
  return Finished(connection);
}

std::string ClosedServer() {
  QTcpServer probe;
  probe.listen(QHostAddress::LocalHost, 0);
  const uint16_t port = probe.serverPort();
  probe.close();
  return "127.0.0.1:" + std::to_string(port);
}
