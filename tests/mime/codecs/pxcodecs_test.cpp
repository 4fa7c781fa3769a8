#include "mime/codecs/pxcodecs.h"

#include <gtest/gtest.h>

#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "toolkit/exceptions.h"

namespace {

struct Case {
  const char* name;
  std::string in;
  std::string out;
};

TEST(UUEncode, EncodesAndDecodesKnownLines) {
  const std::vector<Case> cases = {
      {"no bytes give the grave accent alone", "", "`"},
      {"one byte gives two data characters", "a", "!80"},
      {"a full group", "Cat", "#0V%T"},
      {"zero bits are grave accents", std::string(3, '\0'), "#````"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(UUEncodeLine(c.in), c.out) << c.name;
    EXPECT_EQ(UUDecodeLine(c.out), c.in) << c.name;
  }
  const std::string line = UUEncodeLine(std::string(kUULineBytes, 'x'));
  EXPECT_EQ(line.size(), 61u);
  EXPECT_EQ(line[0], 'M');
}

TEST(UUEncode, DecodesOtherEncodersLinesAndRejectsStrangers) {
  const std::vector<Case> cases = {
      {"a line padded to whole groups", "!80``", "a"},
      {"a length beyond the groups is padded with zeros", "&0V%T", std::string("Cat\0\0\0", 6)},
      {"an empty line", "", ""},
      {"blanks for zero", "#    ", std::string(3, '\0')},
      {"a blank length is no bytes", " ", ""},
      {"a blank inside a group", "#0V$ ", std::string("Ca\0", 3)},
      {"its trailing blank lost", "#0V$", std::string("Ca\0", 3)},
      {"a whole line of zeros lost", "M", std::string(45, '\0')},
  };
  for (const Case& c : cases) EXPECT_EQ(UUDecodeLine(c.in), c.out) << c.name;
  for (const char* bad : {"#0V%t", "#0V\t%", "~0V%T"}) {
    try {
      UUDecodeLine(bad);
      ADD_FAILURE() << bad << ": no exception";
    } catch (const EInOutError& e) {
      EXPECT_STREQ(e.what(), "Invalid Character") << bad;
    }
  }
  EXPECT_THROW(UUEncodeLine(std::string(64, 'x')), std::length_error);
}

TEST(UUEncode, RoundTripsEveryLineLengthAndMegabytes) {
  std::mt19937 rng(5);
  auto random = [&rng](size_t n) {
    std::string s(n, '\0');
    for (char& c : s) c = static_cast<char>(rng());
    return s;
  };
  for (size_t n = 0; n <= 63; ++n) {
    const std::string data = random(n);
    ASSERT_EQ(UUDecodeLine(UUEncodeLine(data)), data) << n;
  }
  const std::string data = random(2 * 1024 * 1024 + 5);
  std::string decoded, line;
  for (size_t at = 0; at < data.size(); at += kUULineBytes) {
    line.clear();
    AppendUUEncodedLine(std::string_view(data).substr(at, kUULineBytes), line);
    decoded += UUDecodeLine(line);
  }
  EXPECT_EQ(decoded, data);
}

TEST(UUEncode, RecognisesBeginLinesAndTheirFileNames) {
  const std::vector<std::pair<std::string, bool>> begins = {
      {"begin 644 file.txt", true}, {"BEGIN 600 x", true},          {"begin 0644 report.pdf", true}, {"begin", false},
      {"begin x y z", false},       {"beginning of a line", false},
  };
  for (const auto& [line, expected] : begins) EXPECT_EQ(IsUUBeginLine(line), expected) << line;

  const std::vector<Case> names = {
      {"three-digit mode", "begin 644 report.pdf", "report.pdf"},
      {"four-digit mode", "begin 0644 report.pdf", "report.pdf"},
      {"a quoted name loses its quotes", "begin 644 \"my report.pdf\"", "my report.pdf"},
      {"a quote that does not close", "begin 644 \"my report.pdf", ""},
      {"an unquoted name with blanks", "begin 600 my report.pdf", "my report.pdf"},
      {"no name", "begin 644", ""},
  };
  for (const Case& c : names) EXPECT_EQ(UUFileName(c.in), c.out) << c.name;
}

TEST(HeaderWords, DecodesEncodedWords) {
  const std::vector<Case> cases = {
      {"adjacent B-words lose the blank between them",
       "=?iso-8859-1?B?SGVsbG8=?= =?iso-8859-1?B?V29ybGQ=?=", "HelloWorld"},
      {"_ in Q text is a blank", "=?iso-8859-1?Q?Caf=E9_menu?=", "Caf\xC3\xA9 menu"},
      {"ISO-8859-15 has the euro sign", "=?iso-8859-15?Q?=A4?=", "\xE2\x82\xAC"},
      {"Windows-1252 has curly quotes", "=?windows-1252?Q?=93x=94?=", "\xE2\x80\x9Cx\xE2\x80\x9D"},
      {"an unknown charset keeps its bytes", "=?koi8-r?Q?=E1?=", "\xE1"},
      {"a language after the charset (RFC 2231 5)", "=?UTF-8*de?Q?=C3=A4?=", "\xC3\xA4"},
      {"an escaped underscore stays", "=?iso-8859-1?Q?a=5Fb?=", "a_b"},
      {"underscores outside words stay", "=?us-ascii?Q?John_Doe?= <john_doe@example.com>",
       "John Doe <john_doe@example.com>"},
      {"a value without words is unchanged", "john_doe@example.com", "john_doe@example.com"},
      {"plain text around a word keeps its blanks", "Re: =?x?Q?a?= b", "Re: a b"},
      {"lower-case q and an escaped = first", "=?utf-8?q?=3Dx?=", "=x"},
      {"a word without an end", "=?x", "=?x"},
      {"a word that is not Base64 stays", "=?x?B?no way?=", "=?x?B?no way?="},
      {"an unknown encoding stays", "=?x?X?abc?= =?x?Q?d?=", "=?x?X?abc?= d"},
      {"decoded text is not decoded again", "=?x?B?PT94P1E/ej89?=", "=?x?Q?z?="},
      {"the result is cut at 255", "=?x?Q?" + std::string(300, 'a') + "?=", std::string(255, 'a')},
      {"a long plain value is cut at 255", std::string(300, 'b'), std::string(255, 'b')},
  };
  for (const Case& c : cases) EXPECT_EQ(DecodeHeaderWords(c.in), c.out) << c.name;
}

}  // namespace
