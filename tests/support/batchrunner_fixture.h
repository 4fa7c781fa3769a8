// The batch runner against a real SMTP server (aiosmtpd), driven through a recording front end
// whose pauses pass at once: the fixture of the runner's tests.
#pragma once

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <filesystem>
#include <string>
#include <vector>

#include "app/batch/batchrunner.h"
#include "app/batch/mailcomponents.h"
#include "support/fast_clock.h"
#include "support/files.h"
#include "support/recording_frontend.h"
#include "support/smtp_capture.h"

inline constexpr char kSenderName[] = "Mailcart 9.8.7.6 (1/2/34)";
inline constexpr char kRefused[] = "refused@example.com";

class BatchRunnerTest : public ::testing::Test {
 protected:
  BatchRunnerTest() : server_(SmtpCapture::Options{{kRefused}}) {
    frontEnd_.server = "127.0.0.1:" + std::to_string(server_.Port());
    frontEnd_.activeProbe = [this] { return runner_.SendingActive(); };
    runner_.SetClock(clock_);
    components_.pxSMTP1.OnLineSent = [this](TComponent*, const std::string& line) {
      if (line == "QUIT") ++quits_;
    };
  }

  std::string MakeFile(const std::string& name, const std::string& data = "some bytes\r\n") {
    const std::string path = dir_.filePath(QString::fromStdString(name)).toStdString();
    WriteFile(path, data);
    return path;
  }
  std::vector<std::string> MakeFiles(int count) {
    std::vector<std::string> paths;
    for (int i = 1; i <= count; ++i) paths.push_back(MakeFile("file" + std::to_string(i) + ".txt"));
    return paths;
  }
  static bool Exists(const std::string& path) { return std::filesystem::exists(path); }
  // The attachment file names of the stored messages, in the order they arrived.
  std::vector<std::string> SentNames() const {
    std::vector<std::string> names;
    for (const std::string& message : server_.Messages()) {
      const size_t at = message.find("filename=\"");
      names.push_back(at == std::string::npos ? "" : message.substr(at + 10, message.find('"', at + 10) - at - 10));
    }
    return names;
  }

  QTemporaryDir dir_;
  SmtpCapture server_;
  int quits_ = 0;
  TMailComponents components_;
  RecordingFrontEnd frontEnd_;
  FastClock clock_;
  TBatchRunner runner_{components_.pxSMTP1, components_.pxMessage1, frontEnd_.Parts(), kSenderName};
};
