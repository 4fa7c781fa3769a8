#include "platform/winsock.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>

#include "platform/modules.h"
#include "platform/winsockerrors.h"
#include "platform/winsocklookup.h"
#include "platform/winsockselect.h"

namespace {

struct Socket {
  int fd;
  std::unique_ptr<SocketEvents> events;
};

// Sockets belong to the application thread; only the counters are read from elsewhere.
std::map<SOCKET, Socket> g_sockets;
SOCKET g_nextSocket = 0x100;
std::atomic<int> g_startups{0};
std::atomic<long long> g_recvCalls{0};

int Fail(int error) {
  SetWsaLastError(error);
  return SOCKET_ERROR;
}

// The socket for a call, or nullptr with the last error set.
Socket* Find(SOCKET s) {
  if (g_startups == 0) {
    SetWsaLastError(WSANOTINITIALISED);
    return nullptr;
  }
  auto it = g_sockets.find(s);
  if (it == g_sockets.end()) {
    SetWsaLastError(WSAENOTSOCK);
    return nullptr;
  }
  return &it->second;
}

void CloseAll() {
  for (auto& [handle, socket] : g_sockets) {
    socket.events.reset();  // a notifier must go before its descriptor
    ::close(socket.fd);
  }
  g_sockets.clear();
}

int WsClosesocket(SOCKET s) {
  Socket* socket = Find(s);
  if (socket == nullptr) return SOCKET_ERROR;
  const int fd = socket->fd;
  g_sockets.erase(s);
  ::close(fd);
  return 0;
}

// Errors that describe the connect call itself; every other failure is the connection's.
bool CallError(int error) {
  return error == EALREADY || error == EISCONN || error == EINVAL || error == EAFNOSUPPORT || error == EFAULT ||
         error == EBADF || error == ENOTSOCK;
}

int WsConnect(SOCKET s, const SOCKADDR_IN* name, int nameLength) {
  Socket* socket = Find(s);
  if (socket == nullptr) return SOCKET_ERROR;
  if (name == nullptr || nameLength < static_cast<int>(sizeof(SOCKADDR_IN))) return Fail(WSAEFAULT);
  if (name->sin_family != WS_AF_INET) return Fail(WSAEAFNOSUPPORT);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = name->sin_port;
  address.sin_addr.s_addr = name->sin_addr;
  const int rc = ::connect(socket->fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
  const int error = rc == 0 ? 0 : errno;
  if (CallError(error)) return Fail(WsaErrorFromErrno(error));
  if (!socket->events->Selected()) {
    if (error == 0) socket->events->ConnectDone(0);
    return error == 0 ? 0 : Fail(WsaErrorFromErrno(error));
  }
  // A non-blocking connect reports its outcome only through FD_CONNECT, as Winsock's does,
  // also when the system knew it at once (a refused loopback connection).
  if (error == EINPROGRESS)
    socket->events->ConnectPending();
  else
    socket->events->ConnectDone(error == 0 ? 0 : WsaErrorFromErrno(error));
  return Fail(WSAEWOULDBLOCK);
}

uint16_t WsHtons(uint16_t value) { return htons(value); }

uint32_t WsInetAddr(const char* text) { return text == nullptr ? WS_INADDR_NONE : inet_addr(text); }

int WsRecv(SOCKET s, char* buffer, int length, int flags) {
  Socket* socket = Find(s);
  if (socket == nullptr) return SOCKET_ERROR;
  ++g_recvCalls;
  const ssize_t n = ::recv(socket->fd, buffer, static_cast<size_t>(length), flags & (MSG_OOB | MSG_PEEK));
  const int error = errno;
  socket->events->Received();
  return n < 0 ? Fail(WsaErrorFromErrno(error)) : static_cast<int>(n);
}

int WsSend(SOCKET s, const char* buffer, int length, int flags) {
  Socket* socket = Find(s);
  if (socket == nullptr) return SOCKET_ERROR;
  // MSG_NOSIGNAL: a peer that has gone is an error number, as on Winsock, not a signal.
  const ssize_t n =
      ::send(socket->fd, buffer, static_cast<size_t>(length), MSG_NOSIGNAL | (flags & (MSG_OOB | MSG_DONTROUTE)));
  if (n >= 0) return static_cast<int>(n);
  const int error = errno;
  if (error == EAGAIN) socket->events->SendBlocked();
  return Fail(WsaErrorFromErrno(error));
}

SOCKET WsSocket(int family, int type, int protocol) {
  if (g_startups == 0) return Fail(WSANOTINITIALISED), INVALID_SOCKET;
  if (family != WS_AF_INET) return Fail(WSAEAFNOSUPPORT), INVALID_SOCKET;
  if (type != WS_SOCK_STREAM && type != WS_SOCK_DGRAM) return Fail(WSAESOCKTNOSUPPORT), INVALID_SOCKET;
  const int fd = ::socket(AF_INET, (type == WS_SOCK_STREAM ? SOCK_STREAM : SOCK_DGRAM) | SOCK_CLOEXEC, protocol);
  if (fd < 0) return Fail(WsaErrorFromErrno(errno)), INVALID_SOCKET;
  // The mail clients send a command and wait for its reply: with Nagle's algorithm the last
  // small segment of a message would wait for the peer's delayed ACK, 40 ms per message.
  if (type == WS_SOCK_STREAM) {
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  }
  const SOCKET handle = g_nextSocket++;
  g_sockets[handle] = Socket{fd, std::make_unique<SocketEvents>(handle, fd)};
  return handle;
}

HOSTENT* WsGethostbyname(const char* name) {
  if (g_startups == 0) return Fail(WSANOTINITIALISED), nullptr;
  return LookupHost(name);
}

int WsGethostname(char* name, int nameLength) {
  if (g_startups == 0) return Fail(WSANOTINITIALISED);
  if (name == nullptr || nameLength <= 0) return Fail(WSAEFAULT);
  char host[256] = {};
  if (::gethostname(host, sizeof host - 1) != 0) return Fail(WsaErrorFromErrno(errno));
  if (std::strlen(host) >= static_cast<size_t>(nameLength)) return Fail(WSAEFAULT);
  std::strcpy(name, host);
  return 0;
}

SERVENT* WsGetservbyname(const char* name, const char* protocol) {
  if (g_startups == 0) return Fail(WSANOTINITIALISED), nullptr;
  return LookupService(name, protocol);
}

int WsStartup(uint16_t versionRequested, WSADATA* data) {
  if (data == nullptr) return WSAEFAULT;
  const uint8_t major = versionRequested & 0xFF;
  const uint8_t minor = versionRequested >> 8;
  if (major < 1) return WSAVERNOTSUPPORTED;
  // This library speaks 1.1; a caller asking for more gets 1.1 and decides.
  *data = WSADATA{};
  data->wVersion = (major == 1 && minor == 0) ? 0x0001 : 0x0101;
  data->wHighVersion = 0x0101;
  std::strcpy(data->szDescription, "Mailcart sockets on POSIX");
  std::strcpy(data->szSystemStatus, "Running");
  data->iMaxSockets = 1024;
  data->iMaxUdpDg = 65467;
  ++g_startups;
  return 0;
}

int WsCleanup() {
  if (g_startups == 0) return Fail(WSANOTINITIALISED);
  // The last clean-up releases every socket the process still holds, as Winsock does.
  if (--g_startups == 0) CloseAll();
  return 0;
}

int WsGetLastError() { return WsaLastError(); }

// Nothing here blocks inside the library while the caller could run: no call is ever "in
// progress" from the caller's point of view.
int WsIsBlocking() { return 0; }

int WsCancelBlockingCall() { return Fail(WSAEINVAL); }

HANDLE WsAsyncGetServByName(HWND window, UINT message, const char* name, const char* protocol, char* buffer,
                            int length) {
  if (g_startups == 0) return Fail(WSANOTINITIALISED), 0;
  return StartServiceLookup(window, message, name, protocol, buffer, length);
}

HANDLE WsAsyncGetHostByName(HWND window, UINT message, const char* name, char* buffer, int length) {
  if (g_startups == 0) return Fail(WSANOTINITIALISED), 0;
  return StartHostLookup(window, message, name, buffer, length);
}

int WsCancelAsyncRequest(HANDLE task) {
  if (g_startups == 0) return Fail(WSANOTINITIALISED);
  return CancelLookup(task);
}

int WsAsyncSelect(SOCKET s, HWND window, UINT message, long events) {
  Socket* socket = Find(s);
  if (socket == nullptr) return SOCKET_ERROR;
  if (events != 0 && !IsWindow(window)) return Fail(WSAEINVAL);
  socket->events->Select(window, message, events);
  return 0;
}

template <typename F>
FARPROC Export(F* function) {
  return reinterpret_cast<FARPROC>(function);
}

}  // namespace

void RegisterWinsockModules() {
  static std::once_flag once;
  std::call_once(once, [] {
    ModuleDefinition sockets;
    sockets.exports = {
        {"closesocket", Export(WsClosesocket)},
        {"connect", Export(WsConnect)},
        {"htons", Export(WsHtons)},
        {"inet_addr", Export(WsInetAddr)},
        {"recv", Export(WsRecv)},
        {"send", Export(WsSend)},
        {"socket", Export(WsSocket)},
        {"gethostbyname", Export(WsGethostbyname)},
        {"gethostname", Export(WsGethostname)},
        {"getservbyname", Export(WsGetservbyname)},
        {"WSAStartup", Export(WsStartup)},
        {"WSACleanup", Export(WsCleanup)},
        {"WSAGetLastError", Export(WsGetLastError)},
        {"WSAIsBlocking", Export(WsIsBlocking)},
        {"WSACancelBlockingCall", Export(WsCancelBlockingCall)},
        {"WSAAsyncGetServByName", Export(WsAsyncGetServByName)},
        {"WSAAsyncGetHostByName", Export(WsAsyncGetHostByName)},
        {"WSACancelAsyncRequest", Export(WsCancelAsyncRequest)},
        {"WSAAsyncSelect", Export(WsAsyncSelect)},
    };
    RegisterModule("wsock32.dll", std::move(sockets));
    ModuleDefinition texts;
    texts.strings = WinsockErrorTexts();
    RegisterModule("wserr32.dll", std::move(texts));
  });
}

int WinsockStartupCount() { return g_startups; }

long long WinsockRecvCalls() { return g_recvCalls; }

int WinsockOpenSockets() { return static_cast<int>(g_sockets.size()); }
