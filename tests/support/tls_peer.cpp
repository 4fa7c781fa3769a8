#include "tls_peer.h"

#include <stdexcept>

#include "files.h"
#include "python_referee.h"
#include "python_server.h"

TestCerts::TestCerts() {
  if (!dir_.isValid()) throw std::runtime_error("cannot create a folder for the test certificates");
  RunPython(E2eScript("make_certs.py"), {dir_.path().toStdString()});
}

const TestCerts& TestCerts::Get() {
  static const TestCerts certs;
  return certs;
}

std::string TestCerts::Path(const std::string& file) const {
  return dir_.filePath(QString::fromStdString(file)).toStdString();
}

std::string TestCerts::Fingerprint(const std::string& name) const { return ReadFile(Path(name + ".sha256")); }

TlsPeer::TlsPeer(const std::string& cert, const std::vector<std::string>& extra) {
  const TestCerts& certs = TestCerts::Get();
  std::vector<std::string> args{"--cert", certs.Pem(cert), "--key", certs.Key(cert)};
  args.insert(args.end(), extra.begin(), extra.end());
  server_ = std::make_unique<PythonServer>(E2eScript("tls_peer.py"), args, log_.filePath("peer.log").toStdString());
}

TlsPeer::~TlsPeer() = default;

int TlsPeer::Port() const { return server_->Port(); }

std::string TlsPeer::Address(const std::string& host) const { return host + ":" + std::to_string(Port()); }
