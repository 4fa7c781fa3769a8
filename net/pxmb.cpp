#include "net/pxmb.h"

namespace {
constexpr int kDefaultTimeOut = 60;
}

void TpxMailBase::Connect() {
  if (Connected()) return;
  Open();
  Login();
}

void TpxMailBase::Disconnect() {
  if (!Connected()) return;
  Logout();
  Close();
}

void TpxMailBase::WriteProperties(TPropertyWriter& writer) const {
  TnkSocket::WriteProperties(writer);
  if (!Server().empty()) writer.Property("Server", TPropValue::Str(Server()));
  writer.Property("DefaultPort", TPropValue::Int(DefaultPort()));
  if (TimeOut() != kDefaultTimeOut) writer.Property("TimeOut", TPropValue::Int(TimeOut()));
}

bool TpxMailBase::ReadProperty(const std::string& name, const TPropValue& value) {
  if (name == "Server")
    SetServer(value.text);
  else if (name == "DefaultPort")
    SetDefaultPort(static_cast<uint16_t>(value.integer));
  else if (name == "TimeOut")
    SetTimeOut(static_cast<int>(value.integer));
  else
    return TnkSocket::ReadProperty(name, value);
  return true;
}
