#include "net/nklookup.h"

#include "net/nkconnection.h"
#include "net/nkwinsock.h"
#include "toolkit/pump.h"
#include "toolkit/strtable.h"

namespace {

TnkWinsock& Ws() { return SharedWinsock(); }

std::string DottedText(const void* address) {
  const auto* bytes = static_cast<const unsigned char*>(address);
  return std::to_string(bytes[0]) + "." + std::to_string(bytes[1]) + "." + std::to_string(bytes[2]) + "." +
         std::to_string(bytes[3]);
}

}  // namespace

uint32_t TnkLookup::Address(const std::string& host, std::string& dotted) {
  uint32_t address = Ws().inet_addr(host.c_str());
  if (address != WS_INADDR_NONE) {
    dotted = DottedText(&address);
    return address;
  }
  hostDone_ = false;
  pending_ = Ws().WSAAsyncGetHostByName(client_.window_, WM_HOSTLOOKUP, host.c_str(), hostEntry_.data(),
                                        static_cast<int>(hostEntry_.size()));
  if (pending_ == 0) {
    // A look-up that cannot start must not leave the caller waiting for the time-out.
    const int error = Ws().WSAGetLastError();
    client_.RaiseSocketError(static_cast<uint16_t>(error != 0 ? error : WSAHOST_NOT_FOUND));
  }
  WaitForReply(hostDone_);
  if (hostDone_ && error_ != 0) client_.RaiseSocketError(error_);
  client_.RaiseIfInterrupted(TnkConnection::TInterrupt::TimeOutFirst);
  ProcessMessagesNow();
  const auto* entry = reinterpret_cast<const HOSTENT*>(hostEntry_.data());
  if (entry->h_addr_list[0] == nullptr) client_.ReportAndRaise(LoadStr(sErrorResolvingHost), false, 0, true);
  dotted = DottedText(entry->h_addr_list[0]);
  address = Ws().inet_addr(dotted.c_str());
  if (address == WS_INADDR_NONE) client_.ReportAndRaise(LoadStr(sErrorResolvingHost), false, 0, true);
  return address;
}

uint16_t TnkLookup::Port(std::optional<uint16_t> given, const std::string& service, uint16_t defaultPort) {
  if (given) return *given;
  if (service.empty()) client_.RaiseSocketError(LoadStr(sServiceNameRequired));
  client_.RaiseIfInterrupted(TnkConnection::TInterrupt::CancelOnly);
  serviceDone_ = false;
  pending_ = Ws().WSAAsyncGetServByName(client_.window_, WM_SERVICELOOKUP, service.c_str(), "tcp", serviceEntry_.data(),
                                        static_cast<int>(serviceEntry_.size()));
  if (pending_ == 0) return defaultPort;
  WaitForReply(serviceDone_);
  if ((serviceDone_ && error_ != 0) || client_.counter_.TimedOut()) return defaultPort;
  client_.RaiseIfInterrupted(TnkConnection::TInterrupt::CancelOnly);
  const auto* entry = reinterpret_cast<const SERVENT*>(serviceEntry_.data());
  return Ws().htons(static_cast<uint16_t>(entry->s_port));
}

void TnkLookup::Answer(UINT message, WPARAM request, LPARAM lParam) {
  if (request == 0 || request != pending_) return;
  (message == WM_HOSTLOOKUP ? hostDone_ : serviceDone_) = true;
  error_ = WSAGetSelectError(lParam);
}

void TnkLookup::Cancel() {
  if (pending_ == 0) return;
  const HANDLE request = pending_;
  pending_ = 0;
  Ws().WSACancelAsyncRequest(request);
}

void TnkLookup::WaitForReply(const bool& done) {
  {
    const TTimedSpan span(client_.counter_);
    client_.Wait([&done] { return done; });
  }
  if (!done) Cancel();
  pending_ = 0;
}
