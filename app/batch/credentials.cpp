#include "app/batch/credentials.h"

#include <qt6keychain/keychain.h>

#include <QDeadlineTimer>

#include <memory>

#include "toolkit/hostport.h"
#include "toolkit/pump.h"

namespace {

// The namespace of our entries in the secret service.
const char kService[] = "mailcart";

// What a finished job left; shared with the job's handler, which may run after a wait gave up.
struct Outcome {
  bool finished = false;
  QKeychain::Error error = QKeychain::NoError;
  std::string errorText;
  TSecret data;
};

// QtKeychain reports "no service" in two ways: no backend at all, or a backend whose D-Bus
// call finds no session bus or nobody answering at the Secret Service's name.
bool NoService(const Outcome& o) {
  if (o.error == QKeychain::NoBackendAvailable) return true;
  if (o.error != QKeychain::OtherError) return false;
  for (const char* sign : {"org.freedesktop.secrets", "D-Bus", "DBus", "dbus"})
    if (o.errorText.find(sign) != std::string::npos) return true;
  return false;
}

std::shared_ptr<Outcome> Run(QKeychain::Job* job, const std::string& key, int timeoutMs) {
  auto outcome = std::make_shared<Outcome>();
  job->setAutoDelete(true);
  job->setInsecureFallback(false);
  job->setKey(QString::fromStdString(key));
  QObject::connect(job, &QKeychain::Job::finished, [outcome](QKeychain::Job* done) {
    outcome->finished = true;
    outcome->error = done->error();
    outcome->errorText = done->errorString().toStdString();
    if (auto* read = qobject_cast<QKeychain::ReadPasswordJob*>(done); read && done->error() == QKeychain::NoError) {
      // QtKeychain's own copies are beyond our reach; ours is wiped when it goes.
      const QByteArray bytes = read->binaryData();
      outcome->data = TSecret(std::string(bytes.constData(), static_cast<size_t>(bytes.size())));
    }
  });
  job->start();
  const QDeadlineTimer deadline(timeoutMs);
  while (!outcome->finished && !deadline.hasExpired()) WaitForEvents(static_cast<int>(deadline.remainingTime()));
  if (!outcome->finished)
    throw ECredentialsError("The secret service did not answer within " + std::to_string(timeoutMs / 1000) + " s");
  if (NoService(*outcome))
    throw ENoSecretService("No secret service runs in this session, so the password cannot be kept (" +
                           outcome->errorText + ")");
  return outcome;
}

[[noreturn]] void Fail(const char* what, const std::string& key, const Outcome& o) {
  throw ECredentialsError(std::string("The secret service could not ") + what + " the password of " + key + ": " +
                          o.errorText);
}

}  // namespace

std::string CredentialKey(const std::string& user, const std::string& host, int port) {
  return user + "@" + host + ":" + std::to_string(port);
}

std::optional<TSecret> TCredentialStore::Read(const std::string& key) const {
  const auto o = Run(new QKeychain::ReadPasswordJob(kService), key, timeoutMs_);
  if (o->error == QKeychain::EntryNotFound) return std::nullopt;
  if (o->error != QKeychain::NoError) Fail("read", key, *o);
  return std::move(o->data);
}

void TCredentialStore::Write(const std::string& key, std::string_view password) const {
  auto* job = new QKeychain::WritePasswordJob(kService);
  job->setBinaryData(QByteArray(password.data(), static_cast<qsizetype>(password.size())));
  const auto o = Run(job, key, timeoutMs_);
  if (o->error != QKeychain::NoError) Fail("store", key, *o);
}

void TCredentialStore::Remove(const std::string& key) const {
  const auto o = Run(new QKeychain::DeletePasswordJob(kService), key, timeoutMs_);
  if (o->error != QKeychain::NoError && o->error != QKeychain::EntryNotFound) Fail("remove", key, *o);
}

namespace {
constexpr int kKeeperTimeoutMs = 30000;
}  // namespace

std::optional<TSecret> TSecretServiceKeeper::Read(const std::string& key) {
  return TCredentialStore(kKeeperTimeoutMs).Read(key);
}
void TSecretServiceKeeper::Write(const std::string& key, std::string_view password) {
  TCredentialStore(kKeeperTimeoutMs).Write(key, password);
}
void TSecretServiceKeeper::Remove(const std::string& key) { TCredentialStore(kKeeperTimeoutMs).Remove(key); }

std::string AccountKey(const std::string& user, const std::string& server, int defaultPort) {
  try {
    const THostPort target = ParseHostPort(server);
    return CredentialKey(user, target.host, target.port.value_or(defaultPort));
  } catch (const EConvertError&) {
    // No server the client would connect to: the key still names what was typed.
    return CredentialKey(user, server, defaultPort);
  }
}
