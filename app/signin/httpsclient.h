// The sign-in's HTTP requests: HTTPS only (loopback hosts aside), the certificate checked as for
// SMTP (the system's CAs and a CA file, or one pinned certificate), no redirects followed, every
// reply bounded in size and time and cancellable.
#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QSslConfiguration>

#include <string>
#include <string_view>

#include "app/signin/oauthtypes.h"

inline constexpr int kRequestTimeoutMs = 30000;
inline constexpr qsizetype kMaxReplyBytes = 1 << 20;

struct THttpReply {
  THttpReply() = default;
  THttpReply(int status, QByteArray body) : status(status), body(std::move(body)) {}
  ~THttpReply() { body.fill('\0'); }  // token replies: wiped as they go
  THttpReply(THttpReply&&) = default;
  THttpReply& operator=(THttpReply&&) = default;

  int status = 0;
  QByteArray body;
};

// True for "localhost" and the addresses of 127.0.0.0/8 and ::1 (brackets allowed).
bool IsLoopbackHost(std::string_view host);
// Raises EOAuthError naming url and what it is for unless it is an https:// URL with a host, or
// an http:// one on a loopback host.
void RequireSecureUrl(const std::string& url, const std::string& what);
// The host of url, for error texts.
std::string HostOf(const std::string& url);

class THttpsClient {
 public:
  // Raises EOAuthError for a fingerprint that is none or a CA file that cannot be read.
  explicit THttpsClient(const TTlsTrust& trust, TCancelled cancelled = {}, int timeoutMs = kRequestTimeoutMs);

  // what names the request in error texts ("token request"); a reply with any HTTP status is
  // returned, a failure to get one raises EOAuthError with the code "".
  THttpReply Get(const std::string& url, const std::string& what) const;
  // authorization: the Authorization header's value, or empty for none.
  THttpReply Post(const std::string& url, const std::string& what, const char* contentType, std::string_view body,
                  std::string_view authorization = {}) const;

 private:
  THttpReply Send(const std::string& url, const std::string& what, bool post, const char* contentType,
                  std::string_view body, std::string_view authorization) const;

  QSslConfiguration ssl_;
  std::string pin_;
  TCancelled cancelled_;
  int timeoutMs_;
};

// The JSON object of a reply's body; raises EOAuthError ("") naming the host when it is none.
QJsonObject JsonObjectOf(const THttpReply& reply, const std::string& url, const std::string& what);
