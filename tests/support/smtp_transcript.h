// Pieces of SMTP transcripts for the scripted server, and a client set up to play them against
// it, shared by the SMTP client's tests.
#pragma once

#include <gtest/gtest.h>

#include <QByteArray>
#include <QDir>
#include <QTemporaryDir>

#include <string>
#include <utility>
#include <vector>

#include "mail/pxmsg.h"
#include "net/pxsmtp.h"
#include "support/scripted_server.h"
#include "toolkit/streams.h"

// A message whose text is fixed, so that a transcript can hold it byte for byte.
class FixedMessage : public TpxMessage {
 public:
  using TpxMessage::TpxMessage;
  void SaveToStream(TStream& stream) override {
    if (failing) throw EStreamError("disk full");
    stream.WriteString(text);
  }
  std::string text = "Subject: t\r\n\r\nbody\r\n";
  bool failing = false;
};

// Replaces every {host} with the name the client gives in EHLO.
std::vector<std::string> WithHost(std::vector<std::string> transcripts);

// Replaces every {server} with address, the "host:port" that error texts name.
std::string WithServer(std::string text, const std::string& address);

std::string Rcpt(const std::string& address, const std::string& reply = "250 ok");

inline const std::string kGreeting = "S: 220 ready\nC: EHLO {host}\nS: 250 hello\n";
inline const std::string kMail = "C: MAIL FROM:<from@example.org>\nS: 250 ok\n";
inline const std::string kEnvelope = kMail + Rcpt("to@example.org");
inline const std::string kData = "C: DATA\nS: 354 go ahead\nC: Subject: t\nC: \nC: body\nC: .\n";
inline const std::string kQuit = "C: QUIT\nS: 221 bye\nclose\n";
inline const std::string kQueued = "S: 250 queued\n" + kQuit;
inline const std::string kDelivery = kGreeting + kEnvelope + kData + kQueued;

// The temporary directory of the process, pointed at a fresh folder for each test so that
// the client's temporary files can be counted.
class SmtpTest : public ::testing::Test {
 protected:
  void SetUp() override {
    oldTmp_ = qgetenv("TMPDIR");
    qputenv("TMPDIR", tmp_.path().toLocal8Bit());
  }
  void TearDown() override { qputenv("TMPDIR", oldTmp_); }

  int TempFiles() const { return static_cast<int>(QDir(tmp_.path()).entryList(QDir::Files).size()); }

  // A client and a message as the window sets them up, with every event recorded, talking to
  // a server that plays the transcripts.
  struct Session {
    Session(SmtpTest& test, const std::vector<std::string>& transcripts) : server(WithHost(transcripts)) {
      smtp.SetWinsockLoaded(true);
      smtp.SetTimeOut(10);  // a safety net; no case waits for it unless it asks
      smtp.SetServer(server.Address());
      smtp.SetMailMessage(&message);
      message.Sender().SetAddress("from@example.org");
      message.Recipients().AddAddress("to@example.org", "To");
      smtp.OnError = [this](TComponent*, std::string& msg) { events.push_back("error: " + msg); };
      smtp.OnSending = [this, &test](TComponent*) { tempFilesWhileSending = test.TempFiles(); };
      smtp.OnMailSent = [this](TComponent*) { ++mailSent; };
      smtp.OnProgress = [this](TComponent*, int perc, int transferred) { progress.push_back({perc, transferred}); };
    }
    ScriptedServer server;
    FixedMessage message;
    TpxSMTP smtp;
    std::vector<std::string> events;
    std::vector<std::pair<int, int>> progress;
    int mailSent = 0;
    int tempFilesWhileSending = -1;
  };

 private:
  QTemporaryDir tmp_;
  QByteArray oldTmp_;
};
