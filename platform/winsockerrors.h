// Winsock error numbers for POSIX failures, and the short texts of "wserr32.dll".
#pragma once

#include <map>
#include <string>

// The Winsock number for a POSIX errno value; WSASYSCALLFAILURE for one without a counterpart.
int WsaErrorFromErrno(int error);
// The Winsock number for a getaddrinfo result (EAI_*).
int WsaErrorFromLookup(int result);
// Texts for the Winsock error numbers, by number.
std::map<int, std::string> WinsockErrorTexts();

// The calling thread's last Winsock error (WSAGetLastError).
int WsaLastError();
void SetWsaLastError(int error);
