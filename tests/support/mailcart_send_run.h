// Runs the mailcart-send of this build as a user runs it from a shell: without a display or a
// secret service, and waits for its end (a minute at most).
#pragma once

#include <QProcess>
#include <QString>

#include <string>
#include <utility>
#include <vector>

inline constexpr int kRunTimeoutMs = 60000;

struct SendRun {
  int exitCode = -1;  // -1: it was killed, or ended by a signal
  std::vector<std::string> lines;  // standard output
  std::string errors;
};

using Variables = std::vector<std::pair<QString, QString>>;

std::string Program();
// The lines of what a program printed, without their line ends; empty lines left out.
std::vector<std::string> Lines(const QByteArray& output);
// Starts it with args, the environment less DISPLAY, WAYLAND_DISPLAY, QT_QPA_PLATFORM,
// DBUS_SESSION_BUS_ADDRESS and MAILCART_PASSWORD, plus more.
void StartWithoutDisplay(QProcess& process, const std::vector<std::string>& args, const Variables& more = {});
SendRun Finish(QProcess& process);
SendRun RunSend(const std::vector<std::string>& args, const Variables& more = {});
