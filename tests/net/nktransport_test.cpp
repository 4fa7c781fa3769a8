// Text over TLS, through the socket client.
#include "net/nktransport.h"

#include <gtest/gtest.h>

#include <openssl/evp.h>

#include <string>

#include "socket_probe.h"
#include "toolkit/streams.h"

namespace {

std::string Sha256Hex(const std::string& data) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  EVP_Digest(data.data(), data.size(), digest, &size, EVP_sha256(), nullptr);
  static const char kHex[] = "0123456789abcdef";
  std::string hex;
  for (unsigned int i = 0; i < size; ++i) hex += {kHex[digest[i] >> 4], kHex[digest[i] & 15]};
  return hex;
}

// Lines many to a record and records split across reads, both ways, a few megabytes: every
// byte arrives and every line is handed up whole.
TEST(SocketClientTls, CarriesLinesAndStreamsWithoutLoss) {
  TlsPeer peer("good");
  TlsProbe client(peer);
  client.Start();
  EXPECT_TRUE(client.Encrypted());
  EXPECT_EQ(client.ReadReply(), 220);
  const int lines = 30000;  // about 3 MB
  client.WriteLine("SEND " + std::to_string(lines));
  std::string line;
  for (int i = 0; i < lines; ++i) {
    client.ReadLine(line);
    ASSERT_EQ(line,
              std::to_string(i) + " " + std::string(static_cast<size_t>(i % 200), static_cast<char>('a' + i % 26)));
  }
  EXPECT_EQ(client.ReadReply(), 250);
  std::string body;
  for (int i = 0; body.size() < (4u << 20); ++i)
    body += "line " + std::to_string(i) + std::string(static_cast<size_t>(i % 97), 'x') + "\r\n";
  client.WriteLine("DATA");
  TMemoryStream stream(body);
  client.WriteStream(stream);
  client.WriteLine(".");
  EXPECT_EQ(client.ReadReply(), 250);
  EXPECT_EQ(client.LastReply(), "250 " + Sha256Hex(body) + " " + std::to_string(body.size()));
  client.WriteLine("QUIT");
  EXPECT_EQ(client.ReadReply(), 221);
  client.Close();
  EXPECT_FALSE(client.Encrypted());
}

}  // namespace
