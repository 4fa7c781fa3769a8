#include "mime/messagesize.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <memory>

#include "mail/pxmsg.h"
#include "mime/messagestamp.h"
#include "mime/pxencoder.h"
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

// Bytes handed over in blocks of a chosen size, counting its reads.
class TBlockSource : public TAttSource {
 public:
  TBlockSource(std::string bytes, size_t block) : bytes_(std::move(bytes)), block_(block) {}
  uint64_t Size() const override { return bytes_.size(); }
  void Read(const std::function<void(std::string_view)>& take) override {
    ++reads;
    for (size_t pos = 0; pos < bytes_.size(); pos += block_) take(std::string_view(bytes_).substr(pos, block_));
  }
  int reads = 0;

 private:
  std::string bytes_;
  size_t block_;
};
}  // namespace

// The size found from the file, and from the bytes in memory, is that of the composed text; the
// text composed from a source, in blocks of any size, is byte for byte the one composed from
// memory, and its size is found with it in as few reads: one for a Base64 part, which the send
// makes, and one more where every byte decides the part (text, a message, a charset).
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
  // The same boundaries, date and Message-ID in every text, so that texts compare whole.
  SetBoundarySource([] { return std::string("=_boundary"); });
  SetClockSource([] { return TComposeTime{1796648709, 60}; });
  SetRandomSource([](size_t n) { return std::string(n, 'r'); });
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
      const bool readForFacts = row.encoding != kB64 || StartsText("text/", row.type);
      for (const size_t block : {size_t{1}, size_t{4099}, size_t{64 * 1024}}) {
        TpxMessage streamed;
        Fill(streamed, text);
        streamed.SetEncoding(row.layout);
        Attach(streamed, path, row.type, row.encoding, "");
        auto source = std::make_shared<TBlockSource>(row.bytes, block);
        streamed.Attachments().Items(0).SetSource(source);
        EXPECT_EQ(ComposedSize(streamed), composed.Data().size()) << row.name << " / " << text << " / " << block;
        TMemoryStream fromSource;
        streamed.SaveToStream(fromSource);
        EXPECT_TRUE(fromSource.Data() == composed.Data()) << row.name << " / " << text << " / " << block;
        EXPECT_EQ(source->reads, readForFacts ? 2 : 1) << row.name << " / " << text << " / " << block;
      }
    }
  SetBoundarySource(nullptr);
  SetClockSource(nullptr);
  SetRandomSource(nullptr);
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
