// Python's email, quopri, base64 and binascii judge our encoders and feed our decoders, on the
// data that breaks careless codecs.
#include "mime/codecs/pxcodecs.h"

#include <gtest/gtest.h>
#include <QTemporaryDir>

#include <random>
#include <string>
#include <vector>

#include "support/files.h"
#include "support/python_referee.h"
#include "toolkit/streams.h"
#include "toolkit/stringlist.h"

namespace {

struct Case {
  std::string name;  // a file name stem: no dots
  std::string data;
};

std::string LongLine(size_t n) {
  std::mt19937 rng(11);
  std::string s;
  while (s.size() < n) {
    // Mostly words; now and then a run longer than a piece, so cuts fall inside words too.
    const size_t word = rng() % 10 == 0 ? 70 + rng() % 30 : 1 + rng() % 12;
    s.append(word, static_cast<char>('a' + rng() % 26));
    s += ' ';
  }
  s.resize(n);
  return s;
}

std::vector<Case> TrickyCases() {
  std::string all;
  for (int c = 0; c < 512; ++c) all += static_cast<char>(c & 255);
  std::mt19937 rng(3);
  std::string binary(20000, '\0');
  for (char& c : binary) c = static_cast<char>(rng());
  return {
      {"empty", ""},
      {"lone-cr", "a\rb\r\rc\r"},
      {"lone-lf", "one\ntwo\nthree\n"},
      {"lf-lf", "a\n\nb"},
      {"crlf-text", "one\r\n\r\ntwo\r\n"},
      {"no-final-line-end", "one\r\ntwo"},
      {"trailing-blanks-and-tabs", "a \r\nb\t\r\nc \t \r\n \r\nd  "},
      {"dot-lines", ".\r\n.a\r\n..\r\nx\r\n.\r\n.\n.\r."},
      {"line-of-100000-bytes", LongLine(100000) + "\r\n"},
      {"unix-text-with-long-lines", LongLine(300) + "\n" + LongLine(65) + "\n\n" + LongLine(66)},
      {"bytes-0-255", all},
      {"random-binary", binary},
      {"multiple-of-57-and-45", std::string(57 * 45, 'q')},
  };
}

// The encoded lines, each ending in CR LF as on the wire.
std::string QPText(const std::string& data) {
  TMemoryStream stream(data);
  TStringList lines;
  TQuotedPrintable(&stream, &lines).Encode();
  return lines.Text();
}

std::string Base64Lines(const std::string& data) {
  TMemoryStream source(data);
  TMemoryStream output;
  WriteBase64Lines(source, output);
  return output.Data();
}

// 45-byte lines until the first short one, as uuencoded attachments are laid out.
std::string UULines(std::string_view data) {
  std::string text;
  for (;;) {
    const std::string_view group = data.substr(0, kUULineBytes);
    text += UUEncodeLine(group) + "\r\n";
    data.remove_prefix(group.size());
    if (group.size() < kUULineBytes) return text;
  }
}

// A multipart message with the data once as quoted-printable text and once as a Base64
// attachment: each body followed by the blank line before its delimiter.
std::string Message(const std::string& data) {
  return "Mime-Version: 1.0\r\n"
         "Content-Type: multipart/mixed; boundary=\"12345678\"\r\n\r\n"
         "--12345678\r\nContent-Type: text/plain; charset=\"iso-8859-1\"\r\n"
         "Content-Transfer-Encoding: quoted-printable\r\n\r\n" +
         QPText(data) +
         "\r\n--12345678\r\nContent-Type: application/octet-stream; name=\"data.bin\"\r\n"
         "Content-Transfer-Encoding: Base64\r\n\r\n" +
         Base64Lines(data) + "\r\n--12345678--\r\n";
}

// Splits at CR LF only: a lone CR or LF in Python's output stays inside its line.
std::string DecodeQP(const std::string& wire) {
  TStringList lines;
  for (size_t at = 0; at < wire.size();) {
    const size_t end = wire.find("\r\n", at);
    lines.Add(wire.substr(at, end - at));
    at = end == std::string::npos ? wire.size() : end + 2;
  }
  TMemoryStream stream;
  TQuotedPrintable(&stream, &lines).Decode();
  return stream.Data();
}

std::string DecodeUU(const std::string& text) {
  std::string out;
  size_t at = 0;
  for (size_t end; (end = text.find('\n', at)) != std::string::npos; at = end + 1)
    out += UUDecodeLine(text.substr(at, end - at));
  return out;
}

class CodecReferee : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    for (const Case& c : TrickyCases()) WriteFile(Path(c.name, ".bin"), c.data);
  }
  std::string Path(const std::string& name, const std::string& suffix) const {
    return dir_.path().toStdString() + "/" + name + suffix;
  }
  // Runs the referee and checks it reported every case as passed.
  void Referee(const char* mode) {
    int exitCode = -1;
    const std::string report = RunPython(E2eScript("codec_referee.py"), {mode, dir_.path().toStdString()}, &exitCode);
    EXPECT_EQ(exitCode, 0) << report;
    for (const Case& c : TrickyCases())
      EXPECT_NE(report.find("ok " + c.name + "\n"), std::string::npos) << c.name << "\n" << report;
  }

 private:
  QTemporaryDir dir_;
};

TEST_F(CodecReferee, PythonDecodesWhatWeEncode) {
  for (const Case& c : TrickyCases()) {
    WriteFile(Path(c.name, ".qp"), QPText(c.data));
    WriteFile(Path(c.name, ".b64"), Base64Lines(c.data));
    WriteFile(Path(c.name, ".uu"), UULines(c.data));
    WriteFile(Path(c.name, ".eml"), Message(c.data));
  }
  Referee("judge");
}

TEST_F(CodecReferee, WeDecodeWhatPythonEncodes) {
  Referee("write");
  for (const Case& c : TrickyCases()) {
    for (const std::string kind : {".py-qp-text", ".py-qp-binary", ".py-qp-email"})
      EXPECT_EQ(DecodeQP(ReadFile(Path(c.name, kind))), ReadFile(Path(c.name, kind + ".expected"))) << c.name << kind;
    // Binary quoted-printable escapes every line end, so it must give the bytes themselves.
    EXPECT_EQ(DecodeQP(ReadFile(Path(c.name, ".py-qp-binary"))).substr(0, c.data.size()), c.data) << c.name;
    std::string base64;
    AppendBase64DecodedLines(ReadFile(Path(c.name, ".py-b64")), base64);
    EXPECT_EQ(base64, c.data) << c.name;
    for (const std::string kind : {".py-uu", ".py-uu-blank", ".py-uu-stripped"})
      EXPECT_EQ(DecodeUU(ReadFile(Path(c.name, kind))), c.data) << c.name << kind;
  }
}

}  // namespace
