// The binding of the socket library: "wsock32.dll" is loaded at run time and each function is
// looked up by name at the moment it is called, so the library can be unloaded and loaded again
// without re-binding. One shared instance serves every socket component of the process.
#pragma once

#include <cstdint>
#include <string>

#include "platform/modules.h"
#include "platform/winsock.h"
#include "toolkit/exceptions.h"

// The library or one of its functions is missing, or the library is not loaded.
MAILCART_EXCEPTION(EWinsockDLLError, Exception);

class TnkWinsock {
 public:
  TnkWinsock();
  ~TnkWinsock();
  TnkWinsock(const TnkWinsock&) = delete;
  TnkWinsock& operator=(const TnkWinsock&) = delete;

  bool IsLoaded() const { return module_ > 32; }
  // Raises EWinsockDLLError "Winsock not found" when the library cannot be loaded.
  void Load();
  void Unload();
  FARPROC LookupFunction(const std::string& name) const;

  int closesocket(SOCKET s);
  int connect(SOCKET s, const SOCKADDR_IN* name, int nameLength);
  uint16_t htons(uint16_t value);
  // Looked up without the loaded check: unloaded, it reports the function as not found.
  uint32_t inet_addr(const char* text);
  int recv(SOCKET s, char* buffer, int length, int flags);
  int send(SOCKET s, const char* buffer, int length, int flags);
  SOCKET socket(int family, int type, int protocol);
  HOSTENT* gethostbyname(const char* name);
  int gethostname(char* name, int nameLength);
  SERVENT* getservbyname(const char* name, const char* protocol);
  int WSAStartup(uint16_t versionRequested, WSADATA* data);
  int WSACleanup();
  int WSAGetLastError();
  bool WSAIsBlocking();
  int WSACancelBlockingCall();
  HANDLE WSAAsyncGetServByName(HWND window, UINT message, const char* name, const char* protocol, char* buffer,
                               int bufferLength);
  HANDLE WSAAsyncGetHostByName(HWND window, UINT message, const char* name, char* buffer, int bufferLength);
  int WSACancelAsyncRequest(HANDLE task);
  int WSAAsyncSelect(SOCKET s, HWND window, UINT message, long events);

 private:
  template <typename F>
  F* Function(const char* name) const {
    return reinterpret_cast<F*>(LookupFunction(name));
  }

  HMODULE module_ = 0;
};

// The process's one instance; the library is released when the process ends.
TnkWinsock& SharedWinsock();

// The text of a library error number, from "wserr32.dll"; other numbers are the program's own
// strings. "Error #n" when there is no text.
std::string WinsockErrorText(uint16_t code);

// The two halves of a notification's lParam.
inline uint16_t WSAGetSelectError(LPARAM lParam) { return HiWord(static_cast<uintptr_t>(lParam)); }
inline uint16_t WSAGetSelectEvent(LPARAM lParam) { return LoWord(static_cast<uintptr_t>(lParam)); }
