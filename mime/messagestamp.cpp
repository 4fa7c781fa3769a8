#include "mime/messagestamp.h"

#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <random>

#include "toolkit/strutils.h"

namespace {

// RFC 5322 3.6.4 asks for a left part unique for all time: 96 random bits make a collision
// among even billions of messages vanishingly unlikely, whatever the clock does.
constexpr size_t kRandomBytes = 12;

constexpr const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                   "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

TClockSource& ClockSource() {
  static TClockSource source;
  return source;
}

TRandomSource& RandomSource() {
  static TRandomSource source;
  return source;
}

TComposeTime SystemTime() {
  TComposeTime time;
  time.utc = std::time(nullptr);
  std::tm local{};
  localtime_r(&time.utc, &local);
  time.offsetMinutes = static_cast<int>(local.tm_gmtoff / 60);
  return time;
}

// std::random_device reads the kernel's random source (getrandom) here.
std::string SystemRandom(size_t bytes) {
  thread_local std::random_device device;
  std::string out;
  while (out.size() < bytes) {
    const uint32_t value = device();
    for (int i = 0; i < 4 && out.size() < bytes; ++i) out += static_cast<char>(value >> (8 * i));
  }
  return out;
}

std::string TwoDigits(int value) { return std::string{static_cast<char>('0' + value / 10), static_cast<char>('0' + value % 10)}; }

std::tm Broken(std::time_t seconds) {
  std::tm fields{};
  gmtime_r(&seconds, &fields);
  return fields;
}

// RFC 5322 3.2.3: dot-atom-text, or a domain literal in brackets.
bool IsIdDomain(std::string_view domain) {
  if (domain.empty()) return false;
  if (domain.front() == '[') return domain.size() > 2 && domain.back() == ']' && domain.find_first_of("[]\\ ", 1) == domain.size() - 1;
  if (domain.front() == '.' || domain.back() == '.' || domain.find("..") != std::string_view::npos) return false;
  return std::all_of(domain.begin(), domain.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           std::string_view(".-!#$%&'*+/=?^_`{|}~").find(c) != std::string_view::npos;
  });
}

std::string HostName() {
  char name[HOST_NAME_MAX + 1] = {};
  if (gethostname(name, sizeof name - 1) != 0 || !IsIdDomain(name)) return "localhost";
  return name;
}

}  // namespace

void SetClockSource(TClockSource source) { ClockSource() = std::move(source); }
void SetRandomSource(TRandomSource source) { RandomSource() = std::move(source); }

TComposeTime ComposeTime() { return ClockSource() ? ClockSource()() : SystemTime(); }

std::string DateHeaderValue(const TComposeTime& time) {
  const std::tm t = Broken(time.utc + static_cast<std::time_t>(time.offsetMinutes) * 60);
  const int offset = time.offsetMinutes < 0 ? -time.offsetMinutes : time.offsetMinutes;
  return std::string(kDays[t.tm_wday]) + ", " + TwoDigits(t.tm_mday) + " " + kMonths[t.tm_mon] + " " +
         std::to_string(t.tm_year + 1900) + " " + TwoDigits(t.tm_hour) + ":" + TwoDigits(t.tm_min) + ":" +
         TwoDigits(t.tm_sec) + " " + (time.offsetMinutes < 0 ? "-" : "+") + TwoDigits(offset / 60) +
         TwoDigits(offset % 60);
}

std::string NewMessageId(std::string_view senderAddress, const TComposeTime& time) {
  const std::tm t = Broken(time.utc);
  const std::string stamp = std::to_string(t.tm_year + 1900) + TwoDigits(t.tm_mon + 1) + TwoDigits(t.tm_mday) +
                            TwoDigits(t.tm_hour) + TwoDigits(t.tm_min) + TwoDigits(t.tm_sec);
  const std::string random = RandomSource() ? RandomSource()(kRandomBytes) : SystemRandom(kRandomBytes);
  std::string hex;
  for (const char c : random.substr(0, kRandomBytes)) hex += IntToHex(static_cast<uint8_t>(c), 2);
  const size_t at = senderAddress.rfind('@');
  const std::string_view domain = at == std::string_view::npos ? std::string_view() : senderAddress.substr(at + 1);
  return "<" + stamp + "." + LowerCase(hex) + "@" + (IsIdDomain(domain) ? std::string(domain) : HostName()) + ">";
}
