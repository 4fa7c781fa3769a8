// Test entry: every test binary runs inside a Qt application, as the program does, with HOME,
// XDG_CONFIG_HOME and XDG_STATE_HOME in a folder of its own, so no test (nor a program it starts) reads or
// writes the user's real settings.
#include <QApplication>
#include <QTemporaryDir>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  const QTemporaryDir home;
  if (!home.isValid()) return 1;
  qputenv("HOME", home.path().toLocal8Bit());
  qputenv("XDG_CONFIG_HOME", home.filePath(".config").toLocal8Bit());
  qputenv("XDG_STATE_HOME", home.filePath(".local/state").toLocal8Bit());
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
