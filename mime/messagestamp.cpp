#include "mime/messagestamp.h"

#include <sys/random.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <system_error>

#include "toolkit/strutils.h"

namespace {

// RFC 5322 3.6.4 asks for a left part unique for all time: 96 random bits make a collision
// among even billions of messages vanishingly unlikely, whatever the clock does.
constexpr size_t kRandomBytes = 12;

constexpr const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

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

std::string TwoDigits(int value) {
  return std::string{static_cast<char>('0' + value / 10), static_cast<char>('0' + value % 10)};
}

std::tm Broken(std::time_t seconds) {
  std::tm fields{};
  gmtime_r(&seconds, &fields);
  return fields;
}

// RFC 5322 3.2.3: dot-atom-text, or a domain literal in brackets.
bool IsIdDomain(std::string_view domain) {
  if (domain.empty()) return false;
  if (domain.front() == '[')
    return domain.size() > 2 && domain.back() == ']' && domain.find_first_of("[]\\ ", 1) == domain.size() - 1;
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

std::string SystemRandomBytes(size_t bytes) {
  std::string out(bytes, '\0');
  for (size_t filled = 0; filled < bytes;) {
    const ssize_t got = getrandom(out.data() + filled, bytes - filled, 0);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) throw std::system_error(errno, std::generic_category(), "getrandom");
    filled += static_cast<size_t>(got);
  }
  return out;
}

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
  const std::string random = RandomSource() ? RandomSource()(kRandomBytes) : SystemRandomBytes(kRandomBytes);
  std::string hex;
  for (const char c : random.substr(0, kRandomBytes)) hex += IntToHex(static_cast<uint8_t>(c), 2);
  const size_t at = senderAddress.rfind('@');
  const std::string_view domain = at == std::string_view::npos ? std::string_view() : senderAddress.substr(at + 1);
  return "<" + stamp + "." + LowerCase(hex) + "@" + (IsIdDomain(domain) ? std::string(domain) : HostName()) + ">";
}
