#include "support/benchsupport.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <random>

void RandomBytes(std::string& data, size_t size) {
  std::mt19937_64 random(42);
  data.resize(size);
  for (size_t i = 0; i + 8 <= size; i += 8) {
    const uint64_t v = random();
    std::memcpy(&data[i], &v, 8);
  }
}

void TextLines(std::string& data, size_t size) {
  static const char* const kWords[] = {"the", "report", "caf\xc3\xa9", "a=b", "mail", "quarterly", "figures", "and"};
  std::mt19937 random(7);
  data.reserve(size + 100);
  size_t lineStart = data.size();
  while (data.size() < size) {
    data += kWords[random() % 8];
    if (data.size() - lineStart > 60 + random() % 30) {
      data += "\r\n";
      lineStart = data.size();
    } else {
      data += ' ';
    }
  }
  data.resize(size);
}

double CpuSeconds(clockid_t clock) {
  timespec t{};
  clock_gettime(clock, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

double PeakRssMB() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

LoopbackListener::LoopbackListener() {
  fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
  ::listen(fd_, 16);
  socklen_t length = sizeof a;
  getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &length);
  port_ = ntohs(a.sin_port);
}

LoopbackListener::~LoopbackListener() { ::close(fd_); }

int LoopbackListener::Accept() const { return ::accept(fd_, nullptr, nullptr); }

void LoopbackListener::Shutdown() const { ::shutdown(fd_, SHUT_RDWR); }
