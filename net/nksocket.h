// The socket client: a line-oriented TCP client conversation over its connection (nkconnection):
// replies read by their lines, lines and streams written, with progress and a log of the lines.
// Every read and write waits in the connection's one wait, and goes through TLS once it is on.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "net/nkconnection.h"

class TStream;

using TpxProgressEvent = std::function<void(TComponent* Sender, int32_t Perc, int32_t Transferred)>;
using TnkLineEvent = std::function<void(TComponent* Sender, const std::string& Line)>;

class TnkSocket : public TnkConnection {
 public:
  // A reply may hold this many lines; a longer one is an error.
  static constexpr size_t kMaxReplyLines = 1000;
  // WriteStream sends the stream in blocks of this size.
  static constexpr int kBlockSize = 2047;

  using TnkConnection::TnkConnection;
  const char* ClassName() const override { return "TnkSocket"; }

  // The first three characters as a number; -1 when they are not one.
  virtual int ReplyCode(const std::string& line);

  // One line without its line end, and its reply code; -1 and an empty line when the server
  // closed before the line was complete. The time-out covers the line.
  int ReadLine(std::string& line);
  // One reply, single- or multi-line: the code of its first line; LastReply holds its last line.
  // With lines, every line of the reply is kept there too. The time-out covers the whole reply;
  // one of more than kMaxReplyLines lines raises ESocketError and closes the connection.
  int ReadReply(std::vector<std::string>* lines = nullptr);
  void WriteLine(const std::string& line);
  // Sends the lines, each with CR LF, in one write (RFC 2920 pipelining); each is logged.
  void WriteLines(const std::vector<std::string>& lines);
  // Sends the line as given, but the line log and OnLineSent see only "****": for lines that
  // carry a password or a token.
  void WriteSecretLine(std::string_view line);
  // Sends the whole stream from its start in blocks of kBlockSize, with OnProgress after each
  // block; the stream itself is read in larger pieces.
  void WriteStream(TStream& stream);

  const std::string& LastReply() const { return lastReply_; }

  TpxProgressEvent OnProgress;
  TnkLineEvent OnLineSent;
  TnkLineEvent OnLineReceived;

 protected:
  // What the line log holds in place of a message's text.
  static constexpr char kSuppressedBody[] = "Suppressing the message body";
  // OnProgress for position of size bytes.
  void FireProgress(int64_t position, int64_t size);
  // Sends one block of a stream. A writer that transforms the text on its way (SMTP dot
  // stuffing) overrides this and passes its output to SendBuffer.
  virtual void SendBlock(const char* data, size_t size);
  // Sends all bytes (through TLS when it is on) unless canceled or timed out; with
  // restartCounter each send that moves bytes starts the time-out again, so it limits a stall,
  // not the whole buffer.
  void SendBuffer(const char* data, size_t size, bool restartCounter);

 private:
  // A line within the time-out already running.
  int ReadReplyLine(std::string& line);
  // False when the server closed before the line feed, or on cancel or time-out.
  bool ReceiveLine(std::string& raw);
  [[noreturn]] void RaiseLineTooLong();
  // Sends text, a line with its CR LF, and shows it as shown.
  void SendLine(std::string_view text, const std::string& shown);

  std::string lastReply_;
};
