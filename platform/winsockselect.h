// Winsock's window-message notifications for one socket (WSAAsyncSelect), driven by Qt socket
// notifiers. Like Winsock, each event is posted once and then waits for the call that re-enables
// it: FD_READ for the next recv, FD_WRITE for a send that would block, FD_CONNECT and FD_CLOSE
// once per connection.
#pragma once

#include <memory>

#include "platform/winsock.h"

class QSocketNotifier;

class SocketEvents {
 public:
  SocketEvents(SOCKET handle, int fd);
  ~SocketEvents();
  SocketEvents(const SocketEvents&) = delete;
  SocketEvents& operator=(const SocketEvents&) = delete;

  // Makes the socket non-blocking and posts the chosen events to window; events 0 stops them.
  void Select(HWND window, UINT message, long events);
  bool Selected() const { return window_ != 0; }

  // A non-blocking connect is under way; FD_CONNECT follows when it completes.
  void ConnectPending();
  // The connect completed, with a Winsock error or 0.
  void ConnectDone(int error);
  // A recv was made: FD_READ may be posted again.
  void Received();
  // A send would have blocked: FD_WRITE follows when there is room.
  void SendBlocked();

 private:
  void Readable();
  void Writable();
  void Post(long event, int error) const;

  SOCKET handle_;
  int fd_;
  HWND window_ = 0;
  UINT message_ = 0;
  long events_ = 0;
  std::unique_ptr<QSocketNotifier> read_;
  std::unique_ptr<QSocketNotifier> write_;
  bool connecting_ = false;
  bool connected_ = false;
  bool closed_ = false;  // FD_CLOSE was posted
};
