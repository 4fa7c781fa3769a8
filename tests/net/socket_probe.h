// A client of the socket client's tests: a mail client whose protocol only connects, recording
// its events, and one connected to a TLS peer with the test CA trusted.
#pragma once

#include <string>
#include <vector>

#include "net/nktls.h"
#include "net/pxmb.h"
#include "support/tls_peer.h"

// A mail client whose protocol only connects, counting its hooks.
class Probe : public TpxMailBase {
 public:
  Probe() {
    SetWinsockLoaded(true);
    SetTimeOut(10);  // a safety net: no test below should reach it unless it asks for it
    SetServiceName("smtp");
    SetDefaultPort(25);
    OnError = [this](TComponent*, std::string& msg) {
      events.push_back("error:" + msg);
      if (rewrite) msg = "rewritten: " + msg;
    };
    OnCancel = [this](TComponent*) { events.push_back("cancel"); };
    OnClosing = [this](TComponent*) { events.push_back("closing"); };
    OnClosed = [this](TComponent*) { events.push_back("closed"); };
  }
  void ConnectTo(const std::string& server) {
    SetServer(server);
    Open();
    ConnectSocket();
  }
  std::vector<std::string> events;
  bool rewrite = false;
  int logins = 0;
  int logouts = 0;

 protected:
  void Login() override {
    ++logins;
    ConnectSocket();
  }
  void Logout() override { ++logouts; }
};

// Connected to a TLS peer with the test CA trusted.
class TlsProbe : public Probe {
 public:
  explicit TlsProbe(const TlsPeer& peer) : context_({TnkTlsPolicy::Checked, TestCerts::Get().Pem("ca"), ""}) {
    ConnectTo(peer.Address());
  }
  void Start() { StartTls(context_); }

 private:
  TnkTlsContext context_;
};
