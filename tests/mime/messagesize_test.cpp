#include "mime/messagesize.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include "mail/pxmsg.h"
#include "support/files.h"
#include "support/samples.h"
#include "toolkit/streams.h"

namespace {
constexpr int k7Bit = kEncoding7Bit, kB64 = kEncodingBase64, kQP = kEncodingQuotedPrintable;

// A message as a batch fills it, the file its one attachment; no text at all makes the file the
// whole body.
void Fill(TpxMessage& message, const char* text) {
  message.Sender().SetAddress("me@example.com");
  message.Sender().SetName("Mailcart 1.0 (2026-12-07)");
  message.Recipients().AddAddress("you@example.com", "");
  message.SetSubject("Fichier n\xc2\xb0 1");
  message.SetCharSet(IsAscii(text) ? csUSASCII : csUTF8);
  if (*text != '\0') message.Body().SetText(text);
}
}  // namespace

// The size found from the file, and from the bytes in memory, is that of the composed text.
TEST(ComposedSizeTest, EqualsTheComposedTextForEveryKindOfFile) {
  const std::string longLine = std::string(2000, 'a') + " \r\n.\r\n..x \n.\r\n";
  const std::string eml = "From: a@example.com\r\nSubject: x\r\n\r\nbody\r\n.\r\n";
  std::string bigEml;
  while (bigEml.size() < 200000) bigEml += "Line of a long message, with a dot next:\r\n.\r\n";
  const std::string cutCharacter = std::string(65535, 'a') + "\xc3\xa9" + std::string(70000, '\n');
  const struct {
    const char* name;
    const char* type;
    int encoding;
    std::string bytes;
    TMsgEncoding layout = meMIME;
  } rows[] = {
      {"empty.bin", "application/octet-stream", kB64, ""},
      {"binary.bin", "application/octet-stream", kB64, RandomBytes(1000)},
      {"lines-1.bin", "application/octet-stream", kB64, RandomBytes(57 * 100 - 1)},
      {"lines.bin", "application/octet-stream", kB64, RandomBytes(57 * 100)},
      {"lines+1.bin", "application/octet-stream", kB64, RandomBytes(57 * 100 + 1)},
      {"ascii.txt", "text/plain", kQP, "hello\r\nworld\n"},
      {"long.txt", "text/plain", kQP, longLine + longLine},
      {"utf8.txt", "text/plain", kQP, "caf\xc3\xa9 \xe2\x98\x95\n"},
      {"latin1.txt", "text/plain", kQP, "caf\xe9\n"},
      {"cut.txt", "text/plain", kQP, cutCharacter},
      {"data.csv", "text/csv", kB64, "caf\xc3\xa9;1\n"},
      {"mail.eml", "message/rfc822", k7Bit, eml},
      {"big.eml", "message/rfc822", k7Bit, bigEml},
      {"lone-lf.eml", "message/rfc822", k7Bit, "From: a@example.com\n\nbody\n"},
      {"no-end.eml", "message/rfc822", k7Bit, "From: a@example.com\r\n\r\nbody"},
      {"Gr\xc3\xbc\xc3\x9f"
       "e \xe6\x96\x87\xe4\xbb\xb6.pdf",
       "application/pdf", kB64, RandomBytes(300)},
      {"old.bin", "application/octet-stream", kB64, RandomBytes(46 * 45), meUU},
  };
  QTemporaryDir dir;
  for (const auto& row : rows)
    for (const char* text : {"", " ", "Hello,\nthe file \xc3\xa0 keep.\n"}) {
      const std::string path = dir.filePath(QString::fromUtf8(row.name)).toStdString();
      WriteFile(path, row.bytes);
      TpxMessage message;
      Fill(message, text);
      message.SetEncoding(row.layout);
      Attach(message, path, row.type, row.encoding, row.bytes);
      const uint64_t inMemory = ComposedSize(message);
      TpxMessage fromFile;
      Fill(fromFile, text);
      fromFile.SetEncoding(row.layout);
      Attach(fromFile, path, row.type, row.encoding, "");
      const uint64_t inFile = ComposedSize(fromFile, TAttachmentBytes::InFile);
      TMemoryStream composed;
      message.SaveToStream(composed);
      EXPECT_EQ(inMemory, composed.Data().size()) << row.name << " / " << text;
      EXPECT_EQ(inFile, composed.Data().size()) << row.name << " / " << text;
    }
}

TEST(ComposedSizeTest, AFileThatCannotBeReadIsNamed) {
  TpxMessage message;
  Fill(message, "");
  Attach(message, "/nonexistent/notes.txt", "text/plain", kQP, "");
  try {
    ComposedSize(message, TAttachmentBytes::InFile);
    FAIL() << "no error";
  } catch (const EInOutError& error) {
    EXPECT_NE(std::string(error.what()).find("notes.txt"), std::string::npos) << error.what();
  }
}
