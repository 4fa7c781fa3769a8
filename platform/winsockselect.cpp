#include "platform/winsockselect.h"

#include <fcntl.h>
#include <sys/socket.h>

#include <QSocketNotifier>

#include <cerrno>

#include "platform/winsockerrors.h"

SocketEvents::SocketEvents(SOCKET handle, int fd) : handle_(handle), fd_(fd) {}

SocketEvents::~SocketEvents() = default;

void SocketEvents::Select(HWND window, UINT message, long events) {
  window_ = events == 0 ? 0 : window;
  message_ = message;
  events_ = events;
  if (window_ == 0) {
    read_.reset();
    write_.reset();
    return;
  }
  fcntl(fd_, F_SETFL, fcntl(fd_, F_GETFL) | O_NONBLOCK);
  if (!read_) {
    read_ = std::make_unique<QSocketNotifier>(fd_, QSocketNotifier::Read);
    write_ = std::make_unique<QSocketNotifier>(fd_, QSocketNotifier::Write);
    QObject::connect(read_.get(), &QSocketNotifier::activated, [this] { Readable(); });
    QObject::connect(write_.get(), &QSocketNotifier::activated, [this] { Writable(); });
  }
  read_->setEnabled(connected_ && !closed_);
  // Winsock posts FD_WRITE at once when a connected socket is selected.
  write_->setEnabled(connecting_ || connected_);
}

void SocketEvents::ConnectPending() {
  connecting_ = true;
  if (write_) write_->setEnabled(true);
}

void SocketEvents::ConnectDone(int error) {
  connecting_ = false;
  if (write_) write_->setEnabled(false);
  Post(FD_CONNECT, error);
  if (error != 0) return;
  connected_ = true;
  Post(FD_WRITE, 0);
  if (read_) read_->setEnabled(true);
}

void SocketEvents::Received() {
  if (read_ && connected_ && !closed_) read_->setEnabled(true);
}

void SocketEvents::SendBlocked() {
  if (write_) write_->setEnabled(true);
}

void SocketEvents::Readable() {
  read_->setEnabled(false);
  char c;
  const ssize_t n = ::recv(fd_, &c, 1, MSG_PEEK | MSG_DONTWAIT);
  if (n > 0) {
    Post(FD_READ, 0);
  } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
    read_->setEnabled(true);
  } else {
    // End of data (n == 0) or a reset: the connection is over, and said so once.
    closed_ = true;
    Post(FD_CLOSE, n == 0 ? 0 : WsaErrorFromErrno(errno));
  }
}

void SocketEvents::Writable() {
  write_->setEnabled(false);
  if (!connecting_) {
    Post(FD_WRITE, 0);
    return;
  }
  int error = 0;
  socklen_t length = sizeof error;
  getsockopt(fd_, SOL_SOCKET, SO_ERROR, &error, &length);
  ConnectDone(error == 0 ? 0 : WsaErrorFromErrno(error));
}

void SocketEvents::Post(long event, int error) const {
  if (window_ == 0 || (events_ & event) == 0) return;
  PostMessage(window_, message_, handle_, MakeLParam(static_cast<uint16_t>(event), static_cast<uint16_t>(error)));
}
