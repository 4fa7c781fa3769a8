// The main window under Qt's offscreen platform, for its tests: a window of its own with its
// settings file beside a program path in a temporary folder, its controls by name, a server to
// send to, and the message boxes recorded instead of shown.
#pragma once

#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>

#include <optional>
#include <string>
#include <vector>

#include "app/window/mainf.h"
#include "app/window/numericedit.h"
#include "support/fast_clock.h"
#include "support/files.h"
#include "support/recording_msgbox.h"
#include "support/smtp_capture.h"

class MainFormTest : public ::testing::Test {
 protected:
  // The window keeps its settings beside the program, as a portable copy does.
  MainFormTest() { WriteFile(Ini(), ""); }

  std::string Program() const { return Path("mailcart"); }
  std::string Ini() const { return Path("mailcart.ini"); }
  std::string Path(const std::string& name) const { return dir_.filePath(QString::fromStdString(name)).toStdString(); }

  TForm1& Form() {
    if (!form_) {
      form_.emplace(Program());
      if (fastClock_) form_->SetBatchClock(clock_);
      form_->show();
    }
    return *form_;
  }
  template <typename T = QWidget>
  T* Control(const char* name) {
    T* control = Form().findChild<T*>(name);
    EXPECT_NE(control, nullptr) << name;
    return control;
  }
  QString Text(const char* name) { return Control<QLabel>(name)->text(); }
  void Click(const char* name) { Control<QPushButton>(name)->click(); }

  // A server and a form set up to send to it, with files chosen.
  SmtpCapture& StartServer() {
    server_.emplace();
    Control<QLineEdit>("MailServerE")->setText(QString("127.0.0.1:%1").arg(server_->Port()));
    Control<QLineEdit>("EMailFromE")->setText("me@example.com");
    Control<QLineEdit>("AddrE")->setText("you@example.com");
    return *server_;
  }
  std::vector<std::string> ChooseFiles(int count) {
    std::vector<std::string> files;
    QStringList chosen;
    for (int i = 1; i <= count; ++i) {
      files.push_back(Path("file" + std::to_string(i) + ".txt"));
      WriteFile(files.back(), "line " + std::to_string(i) + "\r\n");
      chosen << QString::fromStdString(files.back());
    }
    Form().OpenDialog1().SetChooser([chosen](QWidget*, const QString&) { return chosen; });
    Click("SelFilesB");
    return files;
  }
  void SetPause(double seconds) { Control<TNumericEdit>("TimeWaitE")->SetValue(seconds); }

  QTemporaryDir dir_;
  RecordingMessageBoxes boxes_;
  std::optional<SmtpCapture> server_;
  FastClock clock_;
  bool fastClock_ = true;  // the batches' pauses and count-downs on clock_, else on the real clock
  std::optional<TForm1> form_;
};
