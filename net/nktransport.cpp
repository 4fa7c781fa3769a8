#include "net/nktransport.h"

#include "net/tlschannel.h"

// --- Plain -----------------------------------------------------------------------------------

void TnkPlainTransport::Send(std::string_view text, bool restartCounter) {
  wire_.SendRaw(text.data(), text.size(), restartCounter);
}

TnkTransport::TLine TnkPlainTransport::TakeLine(std::string& raw) {
  if (lines_.TakeLine(raw)) return TLine::Line;
  // The rest of an overlong line would be read as the next reply: the conversation is lost.
  return lines_.Overlong() ? TLine::TooLong : TLine::NeedBytes;
}

// Bytes waiting are only looked at: they are the server's words, read as the next reply.
bool TnkPlainTransport::ServerSpoke() { return Pending() || wire_.ReceiveNow(true).has_value(); }

// --- TLS -------------------------------------------------------------------------------------

TnkTlsTransport::TnkTlsTransport(TnkWire& wire, size_t maxLineLength) : wire_(wire), maxLineLength_(maxLineLength) {}

TnkTlsTransport::~TnkTlsTransport() = default;

template <typename Step>
auto TnkTlsTransport::Guarded(Step step) {
  try {
    return step();
  } catch (const ETlsError& e) {
    throw wire_.TlsFailure(e.what());
  }
}

void TnkTlsTransport::Start(const TnkTlsContext& context, const std::string& host) {
  gathering_ = false;
  channel_ = Guarded([&] { return std::make_unique<TnkTlsChannel>(context, host, maxLineLength_); });
}

void TnkTlsTransport::Handshake() {
  while (!Guarded([this] { return channel_->Handshake(); })) {
    Flush(false);
    if (wire_.Aborted()) return;
    const std::string_view records = wire_.ReceiveRaw();
    if (!records.empty()) {
      channel_->PutReceived(records.data(), records.size());
      continue;
    }
    if (wire_.Aborted()) return;
    throw wire_.TlsFailure("the server closed the connection during the handshake");
  }
  Flush(false);  // the client's Finished
}

std::string TnkTlsTransport::CloseNotify() { return channel_->CloseNotify(); }

void TnkTlsTransport::End() {
  channel_.reset();
  gathering_ = false;
}

bool TnkTlsTransport::Established() const { return channel_ && channel_->Established(); }

const TnkTlsOutcome& TnkTlsTransport::Outcome() const {
  static const TnkTlsOutcome kNone;
  return channel_ ? channel_->Outcome() : kNone;
}

void TnkTlsTransport::Send(std::string_view text, bool restartCounter) {
  Guarded([&] { channel_->Write(text.data(), text.size(), gathering_); });
  Flush(restartCounter);
}

void TnkTlsTransport::Flush(bool restartCounter) {
  const std::string records = channel_->TakeOutput();
  wire_.SendRaw(records.data(), records.size(), restartCounter);
}

void TnkTlsTransport::Receive(std::string_view bytes) { channel_->PutReceived(bytes.data(), bytes.size()); }

TnkTransport::TLine TnkTlsTransport::TakeLine(std::string& raw) {
  switch (Guarded([&] { return channel_->NextLine(raw); })) {
    case TnkTlsChannel::TRead::Line: return TLine::Line;
    case TnkTlsChannel::TRead::TooLong: return TLine::TooLong;
    case TnkTlsChannel::TRead::Ended: return TLine::Ended;
    case TnkTlsChannel::TRead::NeedRecords: break;
  }
  return TLine::NeedBytes;
}

bool TnkTlsTransport::Pending() const { return channel_->HasText() || channel_->HoldsRecords(); }

// Over TLS, records the server sends on its own (session tickets) are no words of its.
bool TnkTlsTransport::ServerSpoke() {
  if (channel_->HasText()) return true;
  const std::optional<std::string_view> records = wire_.ReceiveNow(false);
  if (!records) return false;
  if (records->empty()) return true;
  channel_->PutReceived(records->data(), records->size());
  return !Guarded([this] { return channel_->Decrypt(); }) || channel_->HasText();
}

void TnkTlsTransport::DropGathered() {
  if (channel_) channel_->DropGathered();
}
