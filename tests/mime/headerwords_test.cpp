#include "mime/headerwords.h"

#include <gtest/gtest.h>

#include <regex>

#include "mime/codecs/pxcodecs.h"
#include "toolkit/strutils.h"

namespace {

const struct {
  const char* what;
  std::string text;
} kTexts[] = {
    {"Latin", "Scans f\xC3\xBCr M\xC3\xA4rz"},
    {"an ASCII text that looks like a word", "see =?x?Q?y?= here"},
    {"Greek words", std::string(30, ' ') + "\xCE\xB1\xCE\xB2\xCE\xB3 \xCE\xB4\xCE\xB5"},
    {"CJK",
     [] {
       std::string s;
       for (int i = 0; i < 80; ++i) s += "\xE6\x9C\x88";
       return s;
     }()},
    {"emoji",
     [] {
       std::string s;
       for (int i = 0; i < 60; ++i) s += "\xF0\x9F\x93\xB7";
       return s;
     }()},
    {"mixed, Q",
     [] {
       std::string s;
       for (int i = 0; i < 20; ++i)
         s += "Gr\xC3\xBC\xC3\x9F"
              "e aus ";
       return s;
     }()},
    {"not UTF-8", "caf\xE9 cr\xE8me"},
    {"two-byte letters, 255 bytes",
     [] {
       std::string s;
       while (s.size() < 254) s += "\xCE\xB1";
       return s + "x";
     }()},
    {"a terminal escape and a bell", "red \x1B[31m alert\x07\ttabbed"},
    {"a backspace and DEL", "back\x08 del \x7F"},
};

// Decoding the words joined as some readers do: the encoded text of adjacent words of one
// charset and encoding put together first, then decoded once.
std::string DecodeJoined(const std::vector<std::string>& words) {
  static const std::regex word(R"(=\?([^?]+)\?([BQ])\?([^?]*)\?=)");
  std::string decoded, key, text;
  const auto flush = [&] {
    if (!key.empty())
      decoded += DecodeHeaderWords("=?" + key.substr(0, key.size() - 1) + "?" + key.back() + "?" + text + "?=",
                                   std::string::npos);
    text.clear();
  };
  for (const std::string& w : words) {
    std::smatch m;
    EXPECT_TRUE(std::regex_match(w, m, word)) << w;
    const std::string next = m[1].str() + m[2].str();
    if (next != key) flush();
    key = next;
    text += m[3].str();
  }
  flush();
  return decoded;
}

TEST(HeaderWords, EncodedWordsReadBackWholeAndStayShort) {
  for (const auto& t : kTexts) {
    ASSERT_TRUE(NeedsEncodedWords(t.text)) << t.what;
    const std::vector<std::string> words = EncodedWords(t.text, 68);
    std::string joined;
    for (size_t i = 0; i < words.size(); ++i) {
      EXPECT_LE(words[i].size(), i == 0 ? 68u : kMaxEncodedWord) << t.what;
      // RFC 2047 5: a word holds whole characters.
      const std::string one = DecodeHeaderWords(words[i], std::string::npos);
      if (IsValidUtf8(t.text)) {
        EXPECT_TRUE(IsValidUtf8(one)) << t.what << ": " << words[i];
      }
      if (i + 1 < words.size() && words[i].find("?B?") != std::string::npos) {
        EXPECT_EQ(words[i].find("=?=", 10), std::string::npos) << t.what << ": padding before the last word";
      }
      joined += (i ? " " : "") + words[i];
    }
    EXPECT_EQ(DecodeHeaderWords(joined, std::string::npos), t.text) << t.what;
    EXPECT_EQ(DecodeJoined(words), t.text) << t.what;
  }
}

TEST(HeaderWords, ShorterEncodingWins) {
  EXPECT_EQ(EncodedWords("Gr\xC3\xBC\xC3\x9F"
                         "e")[0],
            "=?UTF-8?B?R3LDvMOfZQ==?=");
  EXPECT_EQ(EncodedWords("\xE6\x9C\x88\xE6\xAC\xA1")[0], "=?UTF-8?B?5pyI5qyh?=");
  // Safe inside a phrase: no comma or blank stays as it is (RFC 2047 5 (3)).
  EXPECT_EQ(EncodedWords("M\xC3\xBCller, Hans und Familie")[0], "=?UTF-8?Q?M=C3=BCller=2C_Hans_und_Familie?=");
  EXPECT_FALSE(NeedsEncodedWords("Plain subject = fine?"));
  EXPECT_FALSE(NeedsEncodedWords("a tab\tis white space"));
}

TEST(HeaderWords, FoldedLinesStayWithin78) {
  std::vector<std::string> tokens = EncodedWords(kTexts[3].text, kFoldedLineLength - 10);
  tokens.push_back("<someone@example.com>,");
  const std::string header = FoldedHeader("To:       ", tokens);
  size_t lines = 0;
  for (size_t start = 0, end; start <= header.size(); start = end + 2, ++lines) {
    end = std::min(header.find("\r\n", start), header.size());
    EXPECT_LE(end - start, kFoldedLineLength) << header;
    if (start > 0) {
      EXPECT_EQ(header[start], ' ');
    }
  }
  EXPECT_GT(lines, 2u);
}

// Names as they come back through the parser's reader of parameters are checked end to end
// (composer, Python, parser); here the forms and the line lengths.
TEST(HeaderWords, FileNameParameters) {
  const struct {
    const char* what;
    std::string name;
    std::string start;  // what the parameter begins with
  } cases[] = {
      {"short ASCII as today", "report.pdf", "; filename=\"report.pdf\""},
      {"quotes escaped as today", "a \"b\".txt", "; filename=\"a \\\"b\\\".txt\""},
      {"non-ASCII", "Rechnung M\xC3\xA4rz.txt", ";\r\n filename*=UTF-8''Rechnung%20M%C3%A4rz.txt"},
      {"long ASCII continues", std::string(200, 'a') + ".txt", ";\r\n filename*0*=UTF-8''aaaa"},
      {"long UTF-8 continues",
       [] {
         std::string s;
         while (s.size() < 250) s += "\xE6\x9C\x88";
         return s;
       }(),
       ";\r\n filename*0*=UTF-8''%E6%9C%88"},
      {"not UTF-8", "caf\xE9.txt", ";\r\n filename*=unknown-8bit''caf%E9.txt"},
      {"a terminal escape", "red\x1B[31m.txt", ";\r\n filename*=UTF-8''red%1B%5B31m.txt"},
      {"a tab", "a\tb.txt", ";\r\n filename*=UTF-8''a%09b.txt"},
      {"DEL", "a\x7F.txt", ";\r\n filename*=UTF-8''a%7F.txt"},
  };
  for (const auto& c : cases) {
    const std::string param = FileNameParameter("filename", c.name);
    EXPECT_EQ(param.substr(0, c.start.size()), c.start) << c.what;
    if (param.find("*=") == std::string::npos) continue;
    for (size_t start = 0, end; start < param.size(); start = end + 2) {
      end = std::min(param.find("\r\n", start), param.size());
      EXPECT_LE(end - start, kFoldedLineLength) << c.what;
      // RFC 2231 3: a section never ends inside a %XX escape.
      EXPECT_FALSE(std::regex_search(param.substr(start, end - start), std::regex("%[0-9A-F]?;?$"))) << c.what;
    }
  }
}

}  // namespace
