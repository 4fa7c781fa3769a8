// The browser flow's redirect listener (RFC 8252 7.3): a plain HTTP server on 127.0.0.1 at a
// port the system picks, for as long as the object lives, that waits for the authorization
// response of one sign-in.
#pragma once

#include <QByteArray>
#include <QTcpServer>

#include <map>
#include <string>

#include "app/signin/oauthtypes.h"

class QTcpSocket;

class TLoopbackRedirect {
 public:
  // Raises EOAuthError ("") when no port can be had.
  TLoopbackRedirect();
  TLoopbackRedirect(const TLoopbackRedirect&) = delete;
  TLoopbackRedirect& operator=(const TLoopbackRedirect&) = delete;

  // "http://127.0.0.1:PORT/".
  std::string RedirectUri() const;

  // Serves the browser until a request for "/" carries state (anything else is answered 404,
  // a foreign state 400, and the wait goes on): the code it carries. Its error (RFC 6749
  // 4.1.2.1), or an "iss" other than issuer (RFC 9207), raises EOAuthError with the server's code;
  // timeoutMs passing or cancelled() raises EOAuthError(""). server names the server in texts.
  TSecret WaitForCode(const std::string& state, const std::string& issuer, const std::string& server, int timeoutMs,
                      const TCancelled& cancelled);

 private:
  struct TAnswer {
    bool ended = false;
    TSecret code;
    std::string error, description, iss;
  };

  void Accept();
  void Read(QTcpSocket* socket);
  // The status of the reply to one request line's target; fills answer_ when it is the one.
  int Judge(const QByteArray& method, const QByteArray& target);
  static void Reply(QTcpSocket* socket, int status);

  QTcpServer server_;
  std::map<QTcpSocket*, QByteArray> requests_;
  std::string state_;
  TAnswer answer_;
};
