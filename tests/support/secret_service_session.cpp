#include "support/secret_service_session.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QProcess>

namespace {
constexpr char kInSession[] = "MAILCART_TEST_IN_KEYRING_SESSION";
constexpr int kSessionSeconds = 150;
}  // namespace

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

std::optional<std::string> RerunInSecretService(const std::string& testName) {
  if (qEnvironmentVariableIsSet(kInSession)) return std::nullopt;
  QTemporaryDir home;
  QProcessEnvironment env = PrivateHome(home);
  env.insert(kInSession, "1");
  QProcess child;
  child.setProcessEnvironment(env);
  child.setProcessChannelMode(QProcess::MergedChannels);
  child.start("timeout", {QString::number(kSessionSeconds), "dbus-run-session", "--", "sh", "-c",
                          "echo -n keyring-pw | gnome-keyring-daemon --unlock --components=secrets >/dev/null"
                          " && exec \"$0\" --gtest_filter=\"$1\"",
                          QCoreApplication::applicationFilePath(), QString::fromStdString(testName)});
  const bool ended = child.waitForFinished((kSessionSeconds + 10) * 1000);
  const std::string output = child.readAll().toStdString();
  EXPECT_TRUE(ended) << output;
  EXPECT_EQ(child.exitCode(), 0) << output;
  EXPECT_NE(output.find("[  PASSED  ] 1 test"), std::string::npos) << output;
  return output;
}
