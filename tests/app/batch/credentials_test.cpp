#include "app/batch/credentials.h"

#include <gtest/gtest.h>

#include <QDirIterator>
#include <QTemporaryDir>

#include <string>

#include "support/checks.h"
#include "support/files.h"
#include "support/secret_service_session.h"

namespace {

constexpr char kSecret[] = "Tr0ub4dor-keyring-31337";

// Every file under dir that holds text.
std::string FilesHolding(const QString& dir, const std::string& text) {
  std::string found;
  QDirIterator it(dir, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
  while (it.hasNext()) {
    const std::string path = it.next().toStdString();
    if (ReadFile(path).find(text) != std::string::npos) found += path + "\n";
  }
  return found;
}

TEST(Credentials, KeyNamesUserServerAndPort) {
  EXPECT_EQ(CredentialKey("ann", "mail.example.com", 587), "ann@mail.example.com:587");
}

// The body runs again inside a private D-Bus session with a fresh keyring unlocked by
// gnome-keyring-daemon, so the real Secret Service keeps the password.
TEST(Credentials, RoundTripThroughARealSecretService) {
  if (const auto output = RerunInSecretService("Credentials.RoundTripThroughARealSecretService")) {
    EXPECT_EQ(output->find(kSecret), std::string::npos) << "the password was printed";
    return;
  }
  const TCredentialStore store(30000);
  const std::string key = CredentialKey("ann", "mail.example.com", 587);
  EXPECT_FALSE(store.Read(key)) << "a fresh keyring";
  store.Write(key, "first");
  store.Write(key, kSecret);
  const auto read = store.Read(key);
  ASSERT_TRUE(read);
  EXPECT_TRUE(read->View() == kSecret) << "the second write replaces the first";
  EXPECT_FALSE(store.Read(CredentialKey("ann", "mail.example.com", 465))) << "another port is another entry";
  store.Remove(key);
  EXPECT_FALSE(store.Read(key));
  EXPECT_EQ(Raised([&] { store.Remove(key); }), "") << "removing what is not there";
}

TEST(Credentials, WithoutASecretServiceTheCallerIsToldAndNothingIsWritten) {
  QTemporaryDir home;
  const QProcessEnvironment env = PrivateHome(home);
  for (const QString& name : QProcessEnvironment::systemEnvironment().keys())
    if (!env.contains(name)) qunsetenv(name.toLocal8Bit().constData());
  for (const QString& name : env.keys()) qputenv(name.toLocal8Bit().constData(), env.value(name).toLocal8Bit());
  const TCredentialStore store(30000);
  const std::string key = CredentialKey("ann", "mail.example.com", 587);
  const std::string prefix = "ENoSecretService: No secret service runs in this session";
  EXPECT_EQ(Raised([&] { store.Write(key, kSecret); }).substr(0, prefix.size()), prefix);
  EXPECT_EQ(Raised([&] { store.Read(key); }).substr(0, prefix.size()), prefix);
  EXPECT_EQ(FilesHolding(home.path(), kSecret), "") << "no plain-file fallback";
}

}  // namespace
