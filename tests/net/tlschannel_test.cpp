#include "net/tlschannel.h"

#include <gtest/gtest.h>
#include <openssl/ssl.h>

#include <string>
#include <vector>

#include "support/tls_peer.h"

namespace {

// The server's end of a session in memory, so that records reach the channel cut as a test
// wants them.
class MemoryServer {
 public:
  MemoryServer() : ctx_(SSL_CTX_new(TLS_server_method())) {
    SSL_CTX_use_certificate_chain_file(ctx_, TestCerts::Get().Pem("good").c_str());
    SSL_CTX_use_PrivateKey_file(ctx_, TestCerts::Get().Key("good").c_str(), SSL_FILETYPE_PEM);
    ssl_ = SSL_new(ctx_);
    in_ = BIO_new(BIO_s_mem());
    out_ = BIO_new(BIO_s_mem());
    BIO_set_mem_eof_return(in_, -1);
    SSL_set_bio(ssl_, in_, out_);
    SSL_set_accept_state(ssl_);
  }
  ~MemoryServer() {
    SSL_free(ssl_);
    SSL_CTX_free(ctx_);
  }

  // Runs the handshake with the channel; true once both ends have finished it.
  bool Connect(TnkTlsChannel& channel) {
    for (int round = 0; round < 10 && !channel.Handshake(); ++round) {
      Put(channel.TakeOutput());
      SSL_do_handshake(ssl_);
      const std::string records = Take();
      channel.PutReceived(records.data(), records.size());
    }
    Put(channel.TakeOutput());
    SSL_do_handshake(ssl_);
    return channel.Established() && SSL_is_init_finished(ssl_);
  }
  // Sends text as one record; what the channel gets is taken out with Take.
  void Send(const std::string& text) { SSL_write(ssl_, text.data(), static_cast<int>(text.size())); }
  void Close() { SSL_shutdown(ssl_); }
  std::string Take() {
    std::string bytes(BIO_ctrl_pending(out_), '\0');
    BIO_read(out_, bytes.data(), static_cast<int>(bytes.size()));
    return bytes;
  }
  // The text of the records put in so far.
  std::string Receive(const std::string& records) {
    Put(records);
    std::string text(1 << 20, '\0');
    size_t n = 0;
    std::string all;
    while (SSL_read_ex(ssl_, text.data(), text.size(), &n) == 1) all.append(text, 0, n);
    return all;
  }

 private:
  void Put(const std::string& bytes) {
    if (!bytes.empty()) BIO_write(in_, bytes.data(), static_cast<int>(bytes.size()));
  }

  SSL_CTX* ctx_;
  SSL* ssl_ = nullptr;
  BIO* in_ = nullptr;
  BIO* out_ = nullptr;
};

constexpr size_t kLongest = 64;

class TlsChannelTest : public ::testing::Test {
 protected:
  TlsChannelTest()
      : context_({TnkTlsPolicy::Checked, TestCerts::Get().Pem("ca"), ""}), channel_(context_, "localhost", kLongest) {
    EXPECT_TRUE(server_.Connect(channel_));
  }
  // Hands the server's records to the channel.
  void Deliver() {
    const std::string records = server_.Take();
    channel_.PutReceived(records.data(), records.size());
  }

  TnkTlsContext context_;
  TnkTlsChannel channel_;
  MemoryServer server_;
};

using TRead = TnkTlsChannel::TRead;

// Records cut anywhere: every line comes out whole, and the longest-line rule counts the line
// end.
TEST_F(TlsChannelTest, HandsOutWholeLines) {
  const std::string longest = std::string(kLongest - 2, 'x') + "\r\n";
  server_.Send("250-one\r\n250-t");
  server_.Send("wo\r\n");
  server_.Send(longest);
  server_.Send(std::string(kLongest, 'y'));
  Deliver();
  std::string line;
  struct Step {
    const char* name;
    TRead read;
    std::string line;
  } steps[] = {
      {"first of a record", TRead::Line, "250-one\r\n"},
      {"split across records", TRead::Line, "250-two\r\n"},
      {"the longest line", TRead::Line, longest},
      {"a line feed beyond the longest line", TRead::TooLong, ""},
  };
  for (const Step& s : steps) {
    SCOPED_TRACE(s.name);
    line.clear();
    EXPECT_EQ(channel_.NextLine(line), s.read);
    EXPECT_EQ(line, s.line);
  }
}

TEST_F(TlsChannelTest, WaitsForRecordsThenSeesTheEnd) {
  std::string line;
  EXPECT_EQ(channel_.NextLine(line), TRead::NeedRecords);
  server_.Send("221 bye");
  Deliver();
  EXPECT_EQ(channel_.NextLine(line), TRead::NeedRecords) << "no line feed yet";
  EXPECT_TRUE(channel_.HasText());
  server_.Send("\r\n");
  server_.Close();
  Deliver();
  EXPECT_EQ(channel_.NextLine(line), TRead::Line) << "the last line comes before the end it arrived with";
  EXPECT_EQ(line, "221 bye\r\n");
  EXPECT_EQ(channel_.NextLine(line), TRead::Ended);
}

// A stream's blocks go out in full records; the text of a plain write follows what was gathered.
TEST_F(TlsChannelTest, GathersBlocksIntoFullRecords) {
  const std::string block(2047, 'b');
  std::string sent;
  for (size_t i = 0; i < 8; ++i, sent += block) {
    channel_.Write(block.data(), block.size(), true);
    EXPECT_TRUE(channel_.TakeOutput().empty()) << "block " << i;
  }
  channel_.Write(block.data(), block.size(), true);
  sent += block;
  EXPECT_EQ(server_.Receive(channel_.TakeOutput()), sent) << "a record's worth";
  channel_.Write(block.data(), 10, true);
  channel_.Write("QUIT\r\n", 6, false);
  EXPECT_EQ(server_.Receive(channel_.TakeOutput()), block.substr(0, 10) + "QUIT\r\n");
}

}  // namespace
