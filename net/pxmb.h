// The base of the mail protocol clients: the published connection properties, and Connect and
// Disconnect built on the protocol's Login and Logout.
#pragma once

#include "net/nksocket.h"

class TpxMailBase : public TnkSocket {
 public:
  using TnkSocket::TnkSocket;
  const char* ClassName() const override { return "TpxMailBase"; }

  // Open and Login, unless a socket is held already.
  void Connect();
  // Logout and Close, when a socket is held.
  void Disconnect();

  void WriteProperties(TPropertyWriter& writer) const override;
  bool ReadProperty(const std::string& name, const TPropValue& value) override;

 protected:
  // The protocol's greeting and farewell; nothing here.
  virtual void Login() {}
  virtual void Logout() {}
};
