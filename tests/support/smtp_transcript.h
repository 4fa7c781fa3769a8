// Pieces of SMTP transcripts for the scripted server, shared by the SMTP client's tests.
#pragma once

#include <string>
#include <vector>

#include "mail/pxmsg.h"
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
