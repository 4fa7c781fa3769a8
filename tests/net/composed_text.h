// The text the composer writes for the SMTP tests' message (from@example.org to
// to@example.org): given to a FixedMessage, the text is as long as SIZE declares, so the client
// sends it; and the transcript lines that expect it.
#pragma once

#include <string>

#include "support/smtp_transcript.h"
#include "toolkit/streams.h"

inline std::string ComposedText(const std::string& body = "") {
  FixedMessage message;
  message.Sender().SetAddress("from@example.org");
  message.Recipients().AddAddress("to@example.org", "To");
  if (!body.empty()) message.Body().SetText(body);
  TMemoryStream text;
  message.TpxMessage::SaveToStream(text);
  return text.Data();
}

// "C: line" for each line of a text that ends with CR LF.
inline std::string ClientLines(const std::string& text) {
  std::string lines;
  for (size_t at = 0; at < text.size();) {
    const size_t end = text.find("\r\n", at);
    lines += "C: " + text.substr(at, end - at) + "\n";
    at = end + 2;
  }
  return lines;
}
