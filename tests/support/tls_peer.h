// TLS test fixtures: throw-away certificates (tests/e2e/make_certs.py) and a TLS line server
// (tests/e2e/tls_peer.py) on 127.0.0.1, both real OpenSSL underneath Python's ssl module.
#pragma once

#include <QTemporaryDir>

#include <memory>
#include <string>
#include <vector>

class PythonServer;

// The CA and the server certificates, made once per test program: "ca", "good" (localhost and
// 127.0.0.1, signed by the CA), "expired", "wrongname" (mail.example.com), "selfsigned".
class TestCerts {
 public:
  static const TestCerts& Get();
  std::string Pem(const std::string& name) const { return Path(name + ".pem"); }
  std::string Key(const std::string& name) const { return Path(name + ".key"); }
  // SHA-256 of the certificate's DER form, "AB:CD:…".
  std::string Fingerprint(const std::string& name) const;

 private:
  TestCerts();
  std::string Path(const std::string& file) const;
  QTemporaryDir dir_;
};

// tls_peer.py serving the named certificate; extra arguments as that script takes them
// ("--starttls", "--inject", "--stall"). Stopped when the object goes.
class TlsPeer {
 public:
  explicit TlsPeer(const std::string& cert, const std::vector<std::string>& extra = {});
  ~TlsPeer();
  int Port() const;
  // "<host>:<port>", for a client's Server property.
  std::string Address(const std::string& host = "127.0.0.1") const;

 private:
  QTemporaryDir log_;
  std::unique_ptr<PythonServer> server_;
};
