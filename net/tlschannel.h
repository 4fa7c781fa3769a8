// The socket client's text over a TLS session: the decrypted text not yet read as lines, and a
// stream's small blocks gathered into full records. Like the session it never touches a socket
// or waits: the client hands it what it received and sends the records it takes out.
#pragma once

#include <cstddef>
#include <string>

#include "net/nktls.h"

class TnkTlsChannel {
 public:
  enum class TRead {
    Line,         // a complete line was taken
    NeedRecords,  // the records received so far hold no complete line
    TooLong,      // no line feed within the longest line allowed
    Ended,        // the server has ended the session (close_notify)
  };

  // A record holds up to 16 KiB of text (RFC 8446 5.1).
  static constexpr size_t kRecordSize = 16384;

  // maxLineLength counts the line end; host as for TnkTls. Raises ETlsError.
  TnkTlsChannel(const TnkTlsContext& context, const std::string& host, size_t maxLineLength);

  bool Handshake() { return session_.Handshake(); }
  bool Established() const { return session_.Established(); }
  const TnkTlsOutcome& Outcome() const { return session_.Outcome(); }
  void PutReceived(const char* data, size_t size) { session_.PutReceived(data, size); }

  // Encrypts text. With gather, a stream's small blocks wait until they fill a record, which
  // spares both ends a record per block; without it, what was gathered goes out first.
  void Write(const char* data, size_t size, bool gather);
  // Forgets gathered text whose stream was abandoned.
  void DropGathered() { gathered_.clear(); }
  // Records to send, removed from the channel.
  std::string TakeOutput();
  // The records that end the session (RFC 8446 6.1).
  std::string CloseNotify();

  // Decrypts the records received so far; false once the server has ended the session.
  bool Decrypt() { return session_.Read(text_); }
  // True when decrypted text is waiting to be read.
  bool HasText() const { return textPos_ < text_.size(); }
  // True when received records are waiting to be decrypted (after the handshake, the records
  // that came with its last ones).
  bool HoldsRecords() const { return session_.HoldsReceived(); }
  // The next line with its line feed, decrypting the records received so far as needed.
  TRead NextLine(std::string& raw);

 private:
  bool TakeLine(std::string& raw);

  TnkTls session_;
  size_t maxLineLength_;
  std::string gathered_;
  std::string text_;    // decrypted bytes not yet handed out as lines
  size_t textPos_ = 0;  // where the next line starts in text_
};
