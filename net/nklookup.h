// The socket client's look-ups: a server's IPv4 address and its port, through the socket
// library's asynchronous calls, whose replies come to the client's hidden window. They wait in
// the client's one wait, so a cancel or the time-out ends them, and raise its errors.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "platform/winsock.h"

class TnkConnection;

constexpr UINT WM_HOSTLOOKUP = WM_USER + 148;
constexpr UINT WM_SERVICELOOKUP = WM_USER + 149;

class TnkLookup {
 public:
  explicit TnkLookup(TnkConnection& client) : client_(client) {}
  TnkLookup(const TnkLookup&) = delete;
  TnkLookup& operator=(const TnkLookup&) = delete;

  // The address of host, dotted or a name to look up (network byte order); dotted gets its
  // dotted form. Raises when there is none or the look-up fails, is canceled or times out.
  uint32_t Address(const std::string& host, std::string& dotted);
  // The port given; else the one the services database names for service, or defaultPort when
  // it names none or the look-up cannot be had in time. An empty service is an error.
  uint16_t Port(std::optional<uint16_t> given, const std::string& service, uint16_t defaultPort);

  // Takes the reply to the pending request, posted as message; replies to requests given up
  // (canceled, timed out) may still have been queued and are left.
  void Answer(UINT message, WPARAM request, LPARAM lParam);
  // Gives up the pending request, so that its reply can no longer be written or posted.
  void Cancel();

 private:
  // Waits for the reply; a request without one is given up.
  void WaitForReply(const bool& done);

  TnkConnection& client_;
  HANDLE pending_ = 0;
  bool hostDone_ = false;
  bool serviceDone_ = false;
  uint16_t error_ = 0;  // carried by the last reply
  // Replies are written here by the library; aligned for its records.
  alignas(8) std::array<char, MAXGETHOSTSTRUCT> hostEntry_{};
  alignas(8) std::array<char, MAXGETHOSTSTRUCT> serviceEntry_{};
};
