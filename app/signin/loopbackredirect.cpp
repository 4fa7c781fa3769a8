#include "app/signin/loopbackredirect.h"

#include <QEventLoop>
#include <QHostAddress>
#include <QTcpSocket>
#include <QUrl>
#include <QUrlQuery>

#include "app/signin/eventwait.h"
#include "toolkit/strutils.h"

namespace {

constexpr qsizetype kMaxRequestBytes = 8192;
constexpr size_t kMaxConnections = 16;

const char* PageOf(int status) {
  switch (status) {
    case 200: return "Signed in. You can close this window.";
    case 400: return "This answer belongs to no sign-in under way.";
    case 403: return "The sign-in did not succeed. You can close this window.";
    case 405: return "Only GET is served here.";
    default: return "Not found.";
  }
}

const char* ReasonOf(int status) {
  switch (status) {
    case 200: return "OK";
    case 400: return "Bad Request";
    case 403: return "Forbidden";
    case 405: return "Method Not Allowed";
    default: return "Not Found";
  }
}

std::string Seconds(int ms) { return std::to_string((ms + 999) / 1000) + " s"; }

}  // namespace

TLoopbackRedirect::TLoopbackRedirect() {
  // RFC 8252 8.3: the loopback address itself, not "localhost", which might resolve elsewhere.
  if (!server_.listen(QHostAddress::LocalHost, 0))
    throw EOAuthError("The sign-in cannot listen for the browser's answer on 127.0.0.1: " +
                          server_.errorString().toStdString(),
                      "");
  QObject::connect(&server_, &QTcpServer::newConnection, &server_, [this] { Accept(); });
}

std::string TLoopbackRedirect::RedirectUri() const {
  return "http://127.0.0.1:" + std::to_string(server_.serverPort()) + "/";
}

void TLoopbackRedirect::Accept() {
  while (QTcpSocket* socket = server_.nextPendingConnection()) {
    if (requests_.size() >= kMaxConnections) {
      socket->abort();
      socket->deleteLater();
      continue;
    }
    requests_[socket];
    QObject::connect(socket, &QTcpSocket::readyRead, &server_, [this, socket] { Read(socket); });
    QObject::connect(socket, &QTcpSocket::disconnected, &server_, [this, socket] {
      requests_.erase(socket);
      socket->deleteLater();
    });
  }
}

void TLoopbackRedirect::Read(QTcpSocket* socket) {
  const auto found = requests_.find(socket);
  if (found == requests_.end()) return;
  QByteArray& request = found->second;
  request += socket->read(kMaxRequestBytes + 1 - request.size());
  const qsizetype end = request.indexOf("\r\n\r\n");
  if (end < 0 && request.size() <= kMaxRequestBytes) return;
  // "GET /?code=...&state=... HTTP/1.1"
  const QList<QByteArray> words = request.left(request.indexOf("\r\n")).split(' ');
  const int status = end < 0 || words.size() != 3 ? 400 : Judge(words[0], words[1]);
  request.fill('\0');
  requests_.erase(found);  // one request a connection; what follows it is not read
  Reply(socket, status);
}

int TLoopbackRedirect::Judge(const QByteArray& method, const QByteArray& target) {
  const QUrl url(QString::fromLatin1(target));
  if (url.path() != "/") return 404;
  if (method != "GET") return 405;
  const QUrlQuery query(url);
  // RFC 6749 10.12: an answer without our state may be forged; it must not end the sign-in.
  if (answer_.ended || query.queryItemValue("state", QUrl::FullyDecoded).toStdString() != state_) return 400;
  answer_.ended = true;
  answer_.iss = query.queryItemValue("iss", QUrl::FullyDecoded).toStdString();
  answer_.error = query.queryItemValue("error", QUrl::FullyDecoded).toStdString();
  answer_.description = query.queryItemValue("error_description", QUrl::FullyDecoded).toStdString();
  answer_.code = TSecret(query.queryItemValue("code", QUrl::FullyDecoded).toStdString());
  return answer_.error.empty() && !answer_.code.Empty() ? 200 : 403;
}

void TLoopbackRedirect::Reply(QTcpSocket* socket, int status) {
  const std::string page = std::string("<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>Mailcart</title>"
                                       "</head><body><p>") +
                           PageOf(status) + "</p></body></html>\n";
  const std::string head = "HTTP/1.1 " + std::to_string(status) + " " + ReasonOf(status) +
                           "\r\nContent-Type: text/html; charset=utf-8\r\nContent-Length: " +
                           std::to_string(page.size()) +
                           "\r\nCache-Control: no-store\r\nConnection: close\r\n\r\n";
  socket->write((head + page).data(), static_cast<qint64>(head.size() + page.size()));
  socket->flush();
  socket->disconnectFromHost();
}

TSecret TLoopbackRedirect::WaitForCode(const std::string& state, const std::string& issuer, const std::string& server,
                                       int timeoutMs, const TCancelled& cancelled) {
  state_ = state;
  QEventLoop loop;
  const TWaitEnd end = WaitInLoop(loop, [this] { return answer_.ended; }, timeoutMs, cancelled);
  if (end == TWaitEnd::Cancelled) throw EOAuthError("The sign-in at " + server + " was cancelled", "");
  if (end == TWaitEnd::TimedOut)
    throw EOAuthError("The sign-in at " + server + " was not completed in the browser within " + Seconds(timeoutMs), "");
  if (!answer_.error.empty()) {
    std::string text = server + " refused the sign-in: " + DisplayText(answer_.error);
    if (!answer_.description.empty()) text += ", \"" + DisplayText(Utf8Prefix(answer_.description, 200)) + "\"";
    throw EOAuthError(text, answer_.error);
  }
  if (!answer_.iss.empty() && answer_.iss != issuer)
    throw EOAuthError("The browser's answer came from the issuer \"" + DisplayText(answer_.iss) + "\", not from " +
                          DisplayText(issuer),
                      "");
  if (answer_.code.Empty()) throw EOAuthError(server + " answered the sign-in without a code", "");
  return std::move(answer_.code);
}
