#include "net/nkwinsock.h"

#include <array>

#include "toolkit/strtable.h"
#include "toolkit/strutils.h"

namespace {
const char kLibraryName[] = "wsock32.dll";
const char kErrorTextLibrary[] = "wserr32.dll";

EWinsockDLLError FunctionNotFound(const std::string& name) {
  return EWinsockDLLError(FormatText(LoadStr(sFunctionNotFound), {name}));
}
}  // namespace

TnkWinsock::TnkWinsock() {
  // Registering first also makes the module registry outlive this instance, whose destructor
  // still releases the library.
  RegisterWinsockModules();
}

TnkWinsock::~TnkWinsock() { Unload(); }

void TnkWinsock::Load() {
  if (IsLoaded()) return;
  const unsigned previous = SetErrorMode(SEM_NOOPENFILEERRORBOX);
  module_ = LoadLibrary(kLibraryName);
  SetErrorMode(previous);
  if (module_ < 32) {
    module_ = 0;
    throw EWinsockDLLError(LoadStr(sWinsockNotFound));
  }
}

void TnkWinsock::Unload() {
  if (module_ > 0) FreeLibrary(module_);
  module_ = 0;
}

FARPROC TnkWinsock::LookupFunction(const std::string& name) const {
  if (!IsLoaded()) throw EWinsockDLLError(LoadStr(sWinsockNotLoaded));
  FARPROC f = GetProcAddress(module_, name);
  if (f == nullptr) throw FunctionNotFound(name);
  return f;
}

int TnkWinsock::closesocket(SOCKET s) { return Function<wsock::closesocket_t>("closesocket")(s); }

int TnkWinsock::connect(SOCKET s, const SOCKADDR_IN* name, int nameLength) {
  return Function<wsock::connect_t>("connect")(s, name, nameLength);
}

uint16_t TnkWinsock::htons(uint16_t value) { return Function<wsock::htons_t>("htons")(value); }

uint32_t TnkWinsock::inet_addr(const char* text) {
  auto* f = GetProc<wsock::inet_addr_t>(module_, "inet_addr");
  if (f == nullptr) throw FunctionNotFound("inet_addr");
  return f(text);
}

int TnkWinsock::recv(SOCKET s, char* buffer, int length, int flags) {
  return Function<wsock::recv_t>("recv")(s, buffer, length, flags);
}

int TnkWinsock::send(SOCKET s, const char* buffer, int length, int flags) {
  return Function<wsock::send_t>("send")(s, buffer, length, flags);
}

SOCKET TnkWinsock::socket(int family, int type, int protocol) {
  return Function<wsock::socket_t>("socket")(family, type, protocol);
}

HOSTENT* TnkWinsock::gethostbyname(const char* name) { return Function<wsock::gethostbyname_t>("gethostbyname")(name); }

int TnkWinsock::gethostname(char* name, int nameLength) {
  return Function<wsock::gethostname_t>("gethostname")(name, nameLength);
}

SERVENT* TnkWinsock::getservbyname(const char* name, const char* protocol) {
  return Function<wsock::getservbyname_t>("getservbyname")(name, protocol);
}

int TnkWinsock::WSAStartup(uint16_t versionRequested, WSADATA* data) {
  return Function<wsock::WSAStartup_t>("WSAStartup")(versionRequested, data);
}

int TnkWinsock::WSACleanup() { return Function<wsock::WSACleanup_t>("WSACleanup")(); }

int TnkWinsock::WSAGetLastError() { return Function<wsock::WSAGetLastError_t>("WSAGetLastError")(); }

bool TnkWinsock::WSAIsBlocking() { return Function<wsock::WSAIsBlocking_t>("WSAIsBlocking")() != 0; }

int TnkWinsock::WSACancelBlockingCall() { return Function<wsock::WSACancelBlockingCall_t>("WSACancelBlockingCall")(); }

HANDLE TnkWinsock::WSAAsyncGetServByName(HWND window, UINT message, const char* name, const char* protocol,
                                         char* buffer, int bufferLength) {
  return Function<wsock::WSAAsyncGetServByName_t>("WSAAsyncGetServByName")(window, message, name, protocol, buffer,
                                                                           bufferLength);
}

HANDLE TnkWinsock::WSAAsyncGetHostByName(HWND window, UINT message, const char* name, char* buffer, int bufferLength) {
  return Function<wsock::WSAAsyncGetHostByName_t>("WSAAsyncGetHostByName")(window, message, name, buffer, bufferLength);
}

int TnkWinsock::WSACancelAsyncRequest(HANDLE task) {
  return Function<wsock::WSACancelAsyncRequest_t>("WSACancelAsyncRequest")(task);
}

int TnkWinsock::WSAAsyncSelect(SOCKET s, HWND window, UINT message, long events) {
  return Function<wsock::WSAAsyncSelect_t>("WSAAsyncSelect")(s, window, message, events);
}

TnkWinsock& SharedWinsock() {
  static TnkWinsock instance;
  return instance;
}

std::string WinsockErrorText(uint16_t code) {
  std::string text;
  if (code >= 10000 && code <= 11004) {
    if (const HMODULE texts = LoadLibrary(kErrorTextLibrary)) {
      std::array<char, 255> buffer{};
      LoadString(texts, code, buffer.data(), static_cast<int>(buffer.size()));
      text = buffer.data();
      FreeLibrary(texts);
    }
  } else {
    text = LoadStr(code);
  }
  return text.empty() ? "Error #" + std::to_string(code) : text;
}
