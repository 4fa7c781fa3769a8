// The socket library "wsock32.dll" and its error texts "wserr32.dll": the Winsock 1.1 calls the
// socket client makes, on POSIX sockets, with Winsock's records, results and error numbers.
// Callers reach the exports by name through LoadLibrary/GetProcAddress (platform/modules.h);
// this header gives the records, the constants and the type of each export.
//
// Sockets are used from the application thread. WSAAsyncGetHostByName/WSAAsyncGetServByName
// look up on a worker thread and post their reply to the requesting window (wParam: the task
// handle, lParam: WSAMakeAsyncReply(needed buffer length, error)); WSAAsyncSelect posts
// FD_CONNECT, FD_READ, FD_WRITE and FD_CLOSE (wParam: the socket, lParam: event | error << 16)
// from the event loop.
#pragma once

#include <cstdint>

#include "platform/windows.h"

using SOCKET = uintptr_t;  // handles are never reused within a process
using HANDLE = uintptr_t;  // asynchronous task handle; 0 when none

constexpr SOCKET INVALID_SOCKET = ~SOCKET{0};
constexpr int SOCKET_ERROR = -1;

// Winsock's values for the constants that POSIX headers also define.
constexpr int WS_AF_INET = 2;
constexpr int WS_SOCK_STREAM = 1;
constexpr int WS_SOCK_DGRAM = 2;
constexpr int WS_MSG_PEEK = 2;
constexpr uint32_t WS_INADDR_NONE = 0xFFFFFFFF;

constexpr long FD_READ = 0x01;
constexpr long FD_WRITE = 0x02;
constexpr long FD_CONNECT = 0x10;
constexpr long FD_CLOSE = 0x20;

constexpr int MAXGETHOSTSTRUCT = 1024;

// Error numbers (WSAGetLastError, the high word of notifications).
constexpr int WSAEFAULT = 10014;
constexpr int WSAEINVAL = 10022;
constexpr int WSAEWOULDBLOCK = 10035;
constexpr int WSAEALREADY = 10037;
constexpr int WSAENOTSOCK = 10038;
constexpr int WSAESOCKTNOSUPPORT = 10044;
constexpr int WSAEAFNOSUPPORT = 10047;
constexpr int WSAECONNRESET = 10054;
constexpr int WSAENOBUFS = 10055;
constexpr int WSAECONNREFUSED = 10061;
constexpr int WSAVERNOTSUPPORTED = 10092;
constexpr int WSANOTINITIALISED = 10093;
constexpr int WSASYSCALLFAILURE = 10107;
constexpr int WSAHOST_NOT_FOUND = 11001;
constexpr int WSATRY_AGAIN = 11002;
constexpr int WSANO_RECOVERY = 11003;
constexpr int WSANO_DATA = 11004;

struct WSADATA {
  uint16_t wVersion;
  uint16_t wHighVersion;
  char szDescription[257];
  char szSystemStatus[129];
  uint16_t iMaxSockets;
  uint16_t iMaxUdpDg;
  char* lpVendorInfo;
};

// An IPv4 address record: port and address in network byte order; 16 bytes.
struct SOCKADDR_IN {
  int16_t sin_family;
  uint16_t sin_port;
  uint32_t sin_addr;
  char sin_zero[8];
};
static_assert(sizeof(SOCKADDR_IN) == 16);

// Host and service entries, written into the caller's buffer by the asynchronous look-ups (the
// pointers point into that buffer) or into per-thread storage by the blocking ones.
struct HOSTENT {
  char* h_name;
  char** h_aliases;
  int16_t h_addrtype;
  int16_t h_length;
  char** h_addr_list;  // addresses of h_length bytes in network byte order; ends with nullptr
};

struct SERVENT {
  char* s_name;
  char** s_aliases;
  int16_t s_port;  // network byte order
  char* s_proto;
};

inline LPARAM WSAMakeAsyncReply(uint16_t bufferLength, uint16_t error) { return MakeLParam(bufferLength, error); }

// The exports of "wsock32.dll", by name.
namespace wsock {
using closesocket_t = int(SOCKET s);
using connect_t = int(SOCKET s, const SOCKADDR_IN* name, int nameLength);
using htons_t = uint16_t(uint16_t value);
using inet_addr_t = uint32_t(const char* text);
using recv_t = int(SOCKET s, char* buffer, int length, int flags);
using send_t = int(SOCKET s, const char* buffer, int length, int flags);
using socket_t = SOCKET(int family, int type, int protocol);
using gethostbyname_t = HOSTENT*(const char* name);
using gethostname_t = int(char* name, int nameLength);
using getservbyname_t = SERVENT*(const char* name, const char* protocol);
using WSAStartup_t = int(uint16_t versionRequested, WSADATA* data);
using WSACleanup_t = int();
using WSAGetLastError_t = int();
using WSAIsBlocking_t = int();
using WSACancelBlockingCall_t = int();
using WSAAsyncGetServByName_t = HANDLE(HWND window, UINT message, const char* name, const char* protocol, char* buffer,
                                       int bufferLength);
using WSAAsyncGetHostByName_t = HANDLE(HWND window, UINT message, const char* name, char* buffer, int bufferLength);
using WSACancelAsyncRequest_t = int(HANDLE task);
using WSAAsyncSelect_t = int(SOCKET s, HWND window, UINT message, long events);
}  // namespace wsock

// Registers "wsock32.dll" and "wserr32.dll" with the module registry; later calls do nothing.
// Whoever loads the library calls it first (a static initialiser would be dropped from a static
// library).
void RegisterWinsockModules();

// Counters for tests and benchmarks.
int WinsockStartupCount();     // WSAStartup calls not yet matched by WSACleanup
long long WinsockRecvCalls();  // recv calls made through the library
int WinsockOpenSockets();
