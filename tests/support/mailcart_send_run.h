// Runs the mailcart-send of this build as a user runs it from a shell: without a display or a
// secret service, and waits for its end (a minute at most).
#pragma once

#include <gtest/gtest.h>

#include <QProcess>
#include <QString>
#include <QTemporaryDir>

#include <string>
#include <utility>
#include <vector>

#include "support/smtp_capture.h"

inline constexpr int kRunTimeoutMs = 60000;

struct SendRun {
  int exitCode = -1;               // -1: it was killed, or ended by a signal
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

// A folder of the test's own and a capture server, with the options every run shares: that
// server, an empty settings file of the folder ("none.ini"), a sender and a recipient.
class MailcartSendFixture : public ::testing::Test {
 protected:
  explicit MailcartSendFixture(const SmtpCapture::Options& options = {});

  std::string Path(const std::string& name) const;
  std::string Server() const { return "127.0.0.1:" + std::to_string(server_.Port()); }
  std::vector<std::string> Args(std::vector<std::string> more) const;
  std::string MakeFile(const std::string& name, const std::string& data = "text\r\n");

  QTemporaryDir dir_;
  SmtpCapture server_;
};
