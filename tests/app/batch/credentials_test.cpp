#include "app/batch/credentials.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDirIterator>
#include <QProcess>
#include <QTemporaryDir>

#include <string>

#include "support/checks.h"
#include "support/files.h"

namespace {

constexpr char kSecret[] = "Tr0ub4dor-keyring-31337";
constexpr char kInSession[] = "MAILCART_TEST_IN_KEYRING_SESSION";

// HOME and the XDG folders in a fresh folder, so nothing of the real user's is reached.
QProcessEnvironment PrivateHome(const QTemporaryDir& home) {
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("HOME", home.path());
  env.insert("XDG_DATA_HOME", home.filePath("data"));
  env.insert("XDG_CONFIG_HOME", home.filePath("config"));
  env.insert("XDG_RUNTIME_DIR", home.path());
  for (const char* name : {"DBUS_SESSION_BUS_ADDRESS", "DISPLAY", "WAYLAND_DISPLAY", "XDG_CURRENT_DESKTOP"})
    env.remove(name);
  return env;
}

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
  if (!qEnvironmentVariableIsSet(kInSession)) {
    QTemporaryDir home;
    QProcessEnvironment env = PrivateHome(home);
    env.insert(kInSession, "1");
    QProcess child;
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start("timeout", {"90", "dbus-run-session", "--", "sh", "-c",
                            "echo -n keyring-pw | gnome-keyring-daemon --unlock --components=secrets >/dev/null"
                            " && exec \"$0\" --gtest_filter=Credentials.RoundTripThroughARealSecretService",
                            QCoreApplication::applicationFilePath()});
    ASSERT_TRUE(child.waitForFinished(100000));
    const std::string output = child.readAll().toStdString();
    EXPECT_EQ(child.exitCode(), 0) << output;
    EXPECT_NE(output.find("[  PASSED  ] 1 test"), std::string::npos) << output;
    EXPECT_EQ(output.find(kSecret), std::string::npos) << "the password was printed";
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
