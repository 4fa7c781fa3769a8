#include "net/nksocket.h"

#include <algorithm>
#include <climits>
#include <cmath>

#include "toolkit/secret.h"
#include "toolkit/streams.h"
#include "toolkit/strtable.h"
#include "toolkit/strutils.h"

namespace {
const char kMaskedLine[] = "****";

// RFC 5321 4.2.1: the last line of a reply has a blank or nothing after its code.
bool EndsReply(const std::string& line) { return line.size() == 3 || line.find(' ') == 3; }
}  // namespace

// --- Reading ---------------------------------------------------------------------------------

int TnkSocket::ReplyCode(const std::string& line) {
  long long code = 0;
  return TryStrToInt(line.substr(0, 3), code) ? static_cast<int>(code) : -1;
}

int TnkSocket::ReadLine(std::string& line) {
  const TTimedSpan span(Counter());
  return ReadReplyLine(line);
}

int TnkSocket::ReadReplyLine(std::string& line) {
  if (!Connected()) RaiseSocketError(LoadStr(sConnectFirst));
  AwaitReadable();
  line.clear();
  int code = -1;
  try {
    std::string raw;
    if (ReceiveLine(raw)) {
      raw.erase(raw.find_last_not_of("\r\n") + 1);
      line = raw;
      code = ReplyCode(line);
    }
    RaiseIfInterrupted(TInterrupt::TimeOutFirst);
  } catch (...) {
    Log(line);
    if (OnLineReceived) OnLineReceived(this, line);
    throw;
  }
  Log(line);
  if (OnLineReceived) OnLineReceived(this, line);
  return code;
}

bool TnkSocket::ReceiveLine(std::string& raw) {
  for (;;) {
    switch (Transport().TakeLine(raw)) {
      case TnkTransport::TLine::Line: return true;
      case TnkTransport::TLine::TooLong: RaiseLineTooLong();
      case TnkTransport::TLine::Ended: MarkClosed(); return false;
      case TnkTransport::TLine::NeedBytes: break;
    }
    const std::string_view bytes = ReceiveRaw();
    if (bytes.empty()) return false;
    Transport().Receive(bytes);
  }
}

void TnkSocket::RaiseLineTooLong() { ReportAndRaise(FormatText(LoadStr(sReplyLineTooLong), {ServerName()}), true, 0); }

// RFC 5321 4.5.3.2: a time-out is for the reply to a command, so one runs over the whole reply,
// and a server that keeps sending continuation lines cannot hold the client for ever.
int TnkSocket::ReadReply(std::vector<std::string>* lines) {
  auto keep = [&] {
    if (lines != nullptr) lines->push_back(lastReply_);
  };
  if (lines != nullptr) lines->clear();
  const TTimedSpan span(Counter());
  const int code = ReadReplyLine(lastReply_);
  keep();
  if (code <= 0 || lastReply_.find('-') != 3) return code;
  for (size_t count = 1;; ++count) {
    // What is left of the reply would be read as the next one: the conversation is lost.
    if (count == kMaxReplyLines)
      ReportAndRaise(FormatText(LoadStr(sReplyTooLong), {ServerName(), std::to_string(kMaxReplyLines)}), true, 0);
    const int next = ReadReplyLine(lastReply_);
    keep();
    if (CloseSeen() || (next == code && EndsReply(lastReply_))) return code;
  }
}

// --- Writing ---------------------------------------------------------------------------------

void TnkSocket::WriteLine(const std::string& line) { SendLine(line + "\r\n", line); }

void TnkSocket::WriteLines(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\r\n";
  SendLine(text, {});
  for (const std::string& line : lines) {
    Log(line);
    if (OnLineSent) OnLineSent(this, line);
  }
}

// The one place where a secret is kept out of the log and the events; its copy with the line
// end is wiped once sent.
void TnkSocket::WriteSecretLine(std::string_view line) {
  TSecret text;
  text.Text().reserve(line.size() + 2);
  text.Text().append(line).append("\r\n");
  SendLine(text.View(), kMaskedLine);
}

void TnkSocket::SendLine(std::string_view text, const std::string& shown) {
  if (!Connected()) RaiseSocketError(LoadStr(sConnectFirst));
  {
    const TTimedSpan span(Counter());
    SendBuffer(text.data(), text.size(), false);
  }
  RaiseIfInterrupted(TInterrupt::TimeOutFirst);
  if (shown.empty()) return;  // the caller shows the lines itself
  Log(shown);
  if (OnLineSent) OnLineSent(this, shown);
}

void TnkSocket::SendBuffer(const char* data, size_t size, bool restartCounter) {
  Transport().Send({data, size}, restartCounter);
}

void TnkSocket::SendBlock(const char* data, size_t size) { SendBuffer(data, size, true); }

void TnkSocket::WriteStream(TStream& stream) {
  if (!Connected()) RaiseSocketError(LoadStr(sConnectFirst));
  stream.SetPosition(0);
  Log(kSuppressedBody);
  const int64_t size = stream.Size();
  // Whole blocks per read: one system call per 64 KiB, while progress keeps its block steps.
  std::vector<char> piece(static_cast<size_t>(kBlockSize) * 32);
  int64_t position = 0;
  // Over TLS, blocks are gathered into full records; a stream given up leaves none behind.
  struct TGathering {
    TnkTransport& transport;
    explicit TGathering(TnkTransport& t) : transport(t) { transport.Gather(true); }
    ~TGathering() {
      transport.Gather(false);
      transport.DropGathered();
    }
  } gathering(Transport());
  int64_t n = 0;
  do {
    n = stream.Read(piece.data(), static_cast<int64_t>(piece.size()));
    for (int64_t at = 0; (at < n || position == 0) && !Aborted(); at += kBlockSize) {
      const int64_t block = std::min<int64_t>(kBlockSize, n - at);
      {
        const TTimedSpan span(Counter());
        SendBlock(piece.data() + at, static_cast<size_t>(block));
      }
      position += block;
      FireProgress(position, size);
      if (position == 0) break;  // an empty stream still reports its progress once
    }
  } while (n == static_cast<int64_t>(piece.size()) && !Aborted());
  gathering.transport.Gather(false);
  if (!Aborted()) {
    const TTimedSpan span(Counter());
    SendBuffer(nullptr, 0, true);  // over TLS, the blocks gathered last
  }
  RaiseIfInterrupted(TInterrupt::TimeOutFirst);
  if (OnProgress) OnProgress(this, 0, 0);
}

void TnkSocket::FireProgress(int64_t position, int64_t size) {
  if (!OnProgress) return;
  // Half to even, the default rounding mode; an empty stream counts as complete.
  const double perc =
      size > 0 ? std::min(100.0, std::nearbyint(static_cast<double>(position) * 100.0 / static_cast<double>(size)))
               : 100.0;
  OnProgress(this, static_cast<int32_t>(perc), static_cast<int32_t>(std::min<int64_t>(position, INT32_MAX)));
}
