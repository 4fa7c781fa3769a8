#include "platform/winsockerrors.h"

#include <netdb.h>

#include <cerrno>

#include "platform/winsock.h"

int WsaErrorFromErrno(int error) {
  // Winsock numbers its errors as BSD numbers its errno values, plus 10000.
  static const std::map<int, int> kMap = {
      {EINTR, 10004},
      {EBADF, 10009},
      {EACCES, 10013},
      {EFAULT, 10014},
      {EINVAL, 10022},
      {EMFILE, 10024},
      {ENFILE, 10024},
      {EAGAIN, WSAEWOULDBLOCK},
      {EINPROGRESS, WSAEWOULDBLOCK},
      {EALREADY, 10037},
      {ENOTSOCK, 10038},
      {EDESTADDRREQ, 10039},
      {EMSGSIZE, 10040},
      {EPROTOTYPE, 10041},
      {ENOPROTOOPT, 10042},
      {EPROTONOSUPPORT, 10043},
      {ESOCKTNOSUPPORT, 10044},
      {EOPNOTSUPP, 10045},
      {EPFNOSUPPORT, 10046},
      {EAFNOSUPPORT, 10047},
      {EADDRINUSE, 10048},
      {EADDRNOTAVAIL, 10049},
      {ENETDOWN, 10050},
      {ENETUNREACH, 10051},
      {ENETRESET, 10052},
      {ECONNABORTED, 10053},
      {ECONNRESET, 10054},
      // A send after the peer has reset the connection.
      {EPIPE, 10054},
      {ENOBUFS, 10055},
      {ENOMEM, 10055},
      {EISCONN, 10056},
      {ENOTCONN, 10057},
      {ESHUTDOWN, 10058},
      {ETOOMANYREFS, 10059},
      {ETIMEDOUT, 10060},
      {ECONNREFUSED, 10061},
      {ELOOP, 10062},
      {ENAMETOOLONG, 10063},
      {EHOSTDOWN, 10064},
      {EHOSTUNREACH, 10065},
      {ENOTEMPTY, 10066},
      {EUSERS, 10068},
      {EDQUOT, 10069},
      {ESTALE, 10070},
      {EREMOTE, 10071},
  };
  auto it = kMap.find(error);
  return it == kMap.end() ? WSASYSCALLFAILURE : it->second;
}

int WsaErrorFromLookup(int result) {
  switch (result) {
    case 0: return 0;
    case EAI_NONAME: return WSAHOST_NOT_FOUND;
    case EAI_AGAIN: return WSATRY_AGAIN;
    case EAI_NODATA:
    case EAI_ADDRFAMILY: return WSANO_DATA;
    case EAI_MEMORY: return WSAENOBUFS;
    case EAI_SYSTEM: return WsaErrorFromErrno(errno);
    default: return WSANO_RECOVERY;
  }
}

std::map<int, std::string> WinsockErrorTexts() {
  return {
      {10004, "Interrupted function call"},
      {10009, "Bad file handle"},
      {10013, "Permission denied"},
      {10014, "Bad address"},
      {10022, "Invalid argument"},
      {10024, "Too many open sockets"},
      {10035, "Operation would block"},
      {10036, "Operation now in progress"},
      {10037, "Operation already in progress"},
      {10038, "Not a socket"},
      {10039, "Destination address required"},
      {10040, "Message too long"},
      {10041, "Wrong protocol type for socket"},
      {10042, "Bad protocol option"},
      {10043, "Protocol not supported"},
      {10044, "Socket type not supported"},
      {10045, "Operation not supported"},
      {10046, "Protocol family not supported"},
      {10047, "Address family not supported"},
      {10048, "Address already in use"},
      {10049, "Address not available"},
      {10050, "Network is down"},
      {10051, "Network is unreachable"},
      {10052, "Network dropped the connection"},
      {10053, "Connection aborted"},
      {10054, "Connection reset by the server"},
      {10055, "No buffer space available"},
      {10056, "Socket is already connected"},
      {10057, "Socket is not connected"},
      {10058, "Socket has been shut down"},
      {10059, "Too many references"},
      {10060, "Connection timed out"},
      {10061, "Connection refused"},
      {10062, "Too many levels of symbolic links"},
      {10063, "Name too long"},
      {10064, "Host is down"},
      {10065, "No route to host"},
      {10066, "Directory not empty"},
      {10067, "Too many processes"},
      {10068, "Too many users"},
      {10069, "Disk quota exceeded"},
      {10070, "Stale file handle"},
      {10071, "Remote object"},
      {10091, "Network subsystem is unavailable"},
      {10092, "Socket library version not supported"},
      {10093, "Socket library not started"},
      {10101, "Graceful shutdown in progress"},
      {10107, "System call failure"},
      {11001, "Host not found"},
      {11002, "Host not found, try again"},
      {11003, "Name server failure"},
      {11004, "No data record of the requested type"},
  };
}

namespace {
thread_local int t_lastError = 0;
}

int WsaLastError() { return t_lastError; }

void SetWsaLastError(int error) { t_lastError = error; }
