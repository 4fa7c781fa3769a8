// What makes each composed message unique in time and name: its Date (RFC 5322 3.3) and its
// Message-ID (RFC 5322 3.6.4). The clock and the random source can be replaced by tests, as
// the boundary can (SetBoundarySource).
#pragma once

#include <ctime>
#include <functional>
#include <string>
#include <string_view>

// A moment and the offset of local time from UTC at that moment, in minutes.
struct TComposeTime {
  std::time_t utc = 0;
  int offsetMinutes = 0;
};

// The clock; an empty function restores the system's (local time and its offset).
using TClockSource = std::function<TComposeTime()>;
void SetClockSource(TClockSource source);
TComposeTime ComposeTime();

// Fills the given number of bytes; an empty function restores the system's random source.
using TRandomSource = std::function<std::string(size_t bytes)>;
void SetRandomSource(TRandomSource source);

// That many bytes from the kernel's cryptographic random source (getrandom(2)), never from the
// source a test installs. A failure of the kernel's source raises std::system_error.
std::string SystemRandomBytes(size_t bytes);

// "Tue, 08 Dec 2026 14:05:09 +0100": English names whatever the locale.
std::string DateHeaderValue(const TComposeTime& time);

// "<time.random@domain>": 96 random bits after the time, the domain of the sender's address or,
// when it has none that may stand in a message identifier, the host name.
std::string NewMessageId(std::string_view senderAddress, const TComposeTime& time);
