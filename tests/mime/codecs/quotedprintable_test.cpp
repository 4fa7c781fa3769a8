#include "mime/codecs/quotedprintable.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "toolkit/streams.h"
#include "toolkit/stringlist.h"

namespace {

using Lines = std::vector<std::string>;

Lines Encode(const std::string& data) {
  TMemoryStream stream(data);
  stream.SetPosition(stream.Size());  // Encode starts at 0 whatever the position
  TStringList lines;
  TQuotedPrintable(&stream, &lines).Encode();
  return lines.Lines();
}

std::string Decode(const Lines& encoded) {
  TStringList lines;
  for (const std::string& l : encoded) lines.Add(l);
  TMemoryStream stream;
  TQuotedPrintable(&stream, &lines).Decode();
  return stream.Data();
}

std::string EncodeInChunks(std::string_view data, size_t chunk) {
  TQPEncoder encoder;
  std::string out;
  for (size_t i = 0; i < data.size(); i += chunk) encoder.Add(data.substr(i, chunk), out);
  encoder.Finish(out);
  return out;
}

// Text that is mostly line-end, blank, escape and dot trouble.
std::string TrickyBytes(size_t n, std::mt19937& rng) {
  static const char kChars[] = "ab .=\t\r\n\r\n\xE9\x00xyz";
  static const std::string kAlphabet(kChars, sizeof kChars - 1);
  std::string s(n, '\0');
  for (char& c : s) c = kAlphabet[rng() % kAlphabet.size()];
  return s;
}

void ExpectRoundTrip(const std::string& data, const std::string& what) {
  const Lines lines = Encode(data);
  ASSERT_EQ(Decode(lines), data) << what;
  for (const std::string& l : lines) {
    ASSERT_EQ(l.find_first_of("\r\n"), std::string::npos) << what;
    ASSERT_NE(l, ".") << what;
    ASSERT_LE(l.size(), 76u) << what;  // RFC 2045 6.7 rule 5
    const char last = l.empty() ? 'x' : l.back();
    ASSERT_TRUE(last != ' ' && last != '\t') << what;
  }
}

struct EncodeCase {
  const char* name;
  std::string source;
  Lines lines;
};

TEST(QuotedPrintable, EncodesExactly) {
  const std::string x65(65, 'x');
  const std::string e9x6 = "=E9=E9=E9=E9=E9=E9";
  const std::vector<EncodeCase> cases = {
      {"empty data gives no lines", "", {}},
      {"CR LF ends a line with nothing after it", "abc\r\n", {"abc"}},
      {"data without CR LF ends with a soft break", "abc", {"abc="}},
      {"a LF LF b keeps both line ends", "a\n\nb", {"a=0A=", "=0A=", "b="}},
      {"a blank line is kept", "a\r\n\r\nb\r\n", {"a", "", "b"}},
      {"a lone CR is escaped", "a\rb\r\n", {"a=0Db"}},
      {"a final lone LF is escaped", "abc\n", {"abc=0A="}},
      {"LF CR is no line break", "a\n\rb\r\n", {"a=0A=", "=0Db"}},
      {"a blank before a hard break is escaped", "a \r\n", {"a=20"}},
      {"a blank at the end of the data is escaped", "a ", {"a=20="}},
      {"TAB and inner blanks", "a b\t\r\n", {"a b=09"}},
      {"= and 8-bit bytes are escaped, DEL is not", "1=1 \xE9\x7F\r\n", {"1=3D1 =E9\x7F"}},
      {"a lone dot line is escaped", "a\r\n.\r\n", {"a", "=2E"}},
      {"a line beginning with a dot stays", ".a\r\n", {".a"}},
      {"70 bytes without blanks are cut hard at 65", std::string(70, 'x') + "\r\n", {x65 + "=", "xxxxx"}},
      {"exactly 65 bytes end with an empty line", x65 + "\r\n", {x65 + "=", ""}},
      {"escaped bytes cut the line before it passes 76",
       std::string(30, '\xE9') + " \r\n",
       {e9x6 + e9x6 + e9x6 + e9x6 + "=", e9x6 + "=20"}},
      {"a LF inside a long line ends its encoded line",
       std::string(40, 'x') + "\n" + std::string(40, 'y') + "\r\n",
       {std::string(40, 'x') + "=0A=", std::string(40, 'y')}},
  };
  for (const EncodeCase& c : cases) {
    EXPECT_EQ(Encode(c.source), c.lines) << c.name;
    EXPECT_EQ(Decode(c.lines), c.source) << c.name;
  }
}

TEST(QuotedPrintable, CutsWordsAtTheLastBlank) {
  std::string text;
  while (text.size() < 100) text += "word" + std::to_string(text.size()) + " ";
  const Lines lines = Encode(text + "\r\n");
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].back(), '=');
  EXPECT_LE(lines[0].size(), 66u);
  EXPECT_EQ(lines[1].front(), ' ');
  EXPECT_EQ(lines[0].substr(0, lines[0].size() - 1) + lines[1], text.substr(0, text.size() - 1) + "=20");
}

struct DecodeCase {
  const char* name;
  Lines lines;
  std::string bytes;
};

TEST(QuotedPrintable, DecodesLines) {
  const std::vector<DecodeCase> cases = {
      {"a soft break joins lines", {"abc=", "def"}, "abcdef\r\n"},
      {"an empty line is a line end", {""}, "\r\n"},
      {"no lines give no bytes", {}, ""},
      {"escapes in either case", {"a=3Db=e9"}, "a=b\xE9\r\n"},
      {"a broken escape stays", {"a=ZZb= c"}, "a=ZZb= c\r\n"},
      {"an escaped = at the end is no soft break", {"a=3D", "b"}, "a=\r\nb\r\n"},
      {"Ctrl-Z keeps its line end", {"x=1A", "y"}, "x\x1A\r\ny\r\n"},
      {"blanks after a soft break are transport padding", {"abc= \t", "d"}, "abcd\r\n"},
      {"trailing blanks are transport padding", {"abc \t"}, "abc\r\n"},
      {"an escape cut short by the line end", {"a=4"}, "a\x04\r\n"},
      {"a last soft break writes no line end", {"a=", "b="}, "ab"},
  };
  for (const DecodeCase& c : cases) EXPECT_EQ(Decode(c.lines), c.bytes) << c.name;
}

TEST(QuotedPrintable, LongLinesAndParagraphsHaveNoLimit) {
  const std::string line(200000, 'a');
  EXPECT_EQ(Decode({line}), line + "\r\n");
  std::string html;
  while (html.size() < 200000) html += "<p class=x>text\t</p> ";
  ExpectRoundTrip(html, "one paragraph of 200 KB");
  ExpectRoundTrip(std::string(100000, '\n'), "100,000 LFs");
}

TEST(QuotedPrintable, RoundTripsEveryLengthUpTo300) {
  std::mt19937 rng(1);
  for (size_t n = 0; n <= 300; ++n) {
    for (int round = 0; round < 4; ++round) {
      ExpectRoundTrip(TrickyBytes(n, rng), "length " + std::to_string(n));
    }
  }
  std::string all;
  for (int c = 0; c < 256; ++c) all += static_cast<char>(c);
  ExpectRoundTrip(all, "bytes 0-255");
}

TEST(QuotedPrintable, RoundTripsMegabytesFedInAnyChunks) {
  std::mt19937 rng(2);
  std::string data = TrickyBytes(3 * 1024 * 1024, rng);
  data.replace(1000000, 70000, std::string(70000, 'z'));  // a paragraph across block borders
  ExpectRoundTrip(data, "3 MB");
  const std::string_view head = std::string_view(data).substr(0, 300000);
  for (size_t chunk : {size_t{1}, size_t{16}, size_t{66}, size_t{67}, size_t{1024}})
    ASSERT_EQ(EncodeInChunks(head, chunk), EncodeInChunks(head, head.size())) << chunk;
  EXPECT_EQ(EncodeInChunks(data, 65536), EncodeInChunks(data, data.size()));
}

TEST(QuotedPrintable, DecodesShortTextsForHeaderWords) {
  EXPECT_EQ(QPDecodeText("a=3Db"), "a=b");
  EXPECT_EQ(QPDecodeText("abc="), "abc");
  EXPECT_EQ(QPDecodeText("a=3D"), "a=");
  EXPECT_EQ(QPDecodeText("one=0Dtwo"), "one");
  EXPECT_EQ(QPDecodeText("one=00two"), "one");
  EXPECT_EQ(QPDecodeText(std::string(300, 'q')).size(), 255u);
  EXPECT_EQ(QPDecodeText("abcdef", 3), "abc");
}

}  // namespace
