#include "support/smtp_transcript.h"

#include <unistd.h>

namespace {
std::string HostName() {
  char name[512] = {};
  gethostname(name, sizeof name - 1);
  return name;
}
}  // namespace

std::vector<std::string> WithHost(std::vector<std::string> transcripts) {
  static const std::string host = HostName();
  for (std::string& t : transcripts)
    for (size_t at = t.find("{host}"); at != std::string::npos; at = t.find("{host}")) t.replace(at, 6, host);
  return transcripts;
}

std::string WithServer(std::string text, const std::string& address) {
  for (size_t at = text.find("{server}"); at != std::string::npos; at = text.find("{server}", at + address.size()))
    text.replace(at, 8, address);
  return text;
}

std::string Rcpt(const std::string& address, const std::string& reply) {
  return "C: RCPT TO:<" + address + ">\nS: " + reply + "\n";
}
