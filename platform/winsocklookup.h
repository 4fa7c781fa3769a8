// Host and service look-ups of the socket library: the asynchronous ones run on a worker thread
// and post their reply; the blocking ones return per-thread records.
#pragma once

#include "platform/winsock.h"

// 0, with the last error set, when the request cannot be started.
HANDLE StartHostLookup(HWND window, UINT message, const char* name, char* buffer, int length);
HANDLE StartServiceLookup(HWND window, UINT message, const char* name, const char* protocol, char* buffer, int length);
// After a successful cancel nothing is posted for the task and its buffer is not written.
// 0, or SOCKET_ERROR with the last error set (WSAEALREADY when the reply was already posted).
int CancelLookup(HANDLE task);

// nullptr, with the last error set, when the look-up fails.
HOSTENT* LookupHost(const char* name);
SERVENT* LookupService(const char* name, const char* protocol);
