#include "mime/pxencoder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <regex>
#include <set>

#include "mail/pxmsg.h"
#include "mime/codecs/base64.h"
#include "mime/messagestamp.h"
#include "support/files.h"
#include "support/samples.h"
#include "toolkit/streams.h"

namespace {

// Boundaries "11111111", "22222222", ... so that composed texts can be compared whole.
void UseCountingBoundaries() {
  SetBoundarySource([drawn = 0]() mutable { return std::string(8, static_cast<char>('1' + drawn++ % 8)); });
}

// 7 Dec 2026 13:05:09 UTC, an hour ahead of it, and random bytes 0, 1, 2, ...: composed texts
// are the same on every run.
void UseFixedStamps() {
  SetClockSource([] { return TComposeTime{1796648709, 60}; });
  SetRandomSource([](size_t n) {
    std::string bytes;
    for (size_t i = 0; i < n; ++i) bytes += static_cast<char>(i);
    return bytes;
  });
}

class ComposerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    UseCountingBoundaries();
    UseFixedStamps();
  }
  void TearDown() override {
    SetBoundarySource(nullptr);
    SetClockSource(nullptr);
    SetRandomSource(nullptr);
  }
};

std::string Compose(TpxCustomMessage& message) {
  TMemoryStream out;
  message.SaveToStream(out);
  return out.Data();
}

constexpr const char* kBinary = "application/octet-stream";

// Compares with tests/data/composer/<name>.eml; MAILCART_UPDATE_GOLDEN=1 writes the file
// instead (then read the difference before committing it).
void ExpectGolden(const std::string& name, const std::string& composed) {
  const std::string path = std::string(MAILCART_TEST_DATA) + "/composer/" + name + ".eml";
  if (std::getenv("MAILCART_UPDATE_GOLDEN") != nullptr) WriteFile(path, composed);
  EXPECT_EQ(composed, ReadFile(path)) << name;
}

const struct {
  const char* name;
  void (*fill)(TpxMessage&);
} kGoldenCases[] = {
    // The message the main window sends: a display name, one recipient, a blank body line, one file.
    {"typical",
     [](TpxMessage& m) {
       m.Sender().SetName("Mailcart 1.1.0 (2026-12-07)");
       m.Recipients().AddAddress("rcpt@example.com", "");
       m.SetSubject("Monthly report");
       m.Body().Add(" ");
       Attach(m, "/home/user/report.pdf", "application/pdf", kEncodingBase64, std::string(60, '\x9c'));
     }},
    {"plain_7bit_with_8bit_bytes",
     [](TpxMessage& m) {
       m.Recipients().AddAddress("b@example.com", "B");
       for (const char* line : {"caf\xe9 au lait", ".", ".profile"}) m.Body().Add(line);
     }},
    // RFC 5322 2.3: a line break inside a body line goes as CR LF, never as a bare LF.
    {"plain_line_breaks",
     [](TpxMessage& m) {
       for (const char* line : {"one\ntwo", "", ".", "From here"}) m.Body().Add(line);
     }},
    {"plain_long_line_quoted_printable",
     [](TpxMessage& m) {
       m.Body().Add(std::string(200, 'x') + " " + std::string(55, 'y'));
       m.Body().Add("short = line ");
     }},
    {"plain_iso8859",
     [](TpxMessage& m) {
       m.SetCharSet(csISO8859);
       m.Body().Add("caf\xe9");
     }},
    {"formatted_html_body",
     [](TpxMessage& m) {
       m.Body().Add("<p class=\"x\">Hello</p>");
       m.SetContentType("Text/HTML");
     }},
    {"single_part",
     [](TpxMessage& m) {
       Attach(m, "notes.txt", "text/plain", kEncodingQuotedPrintable, "line one\r\nno final line end");
     }},
    {"single_part_html_body_file",
     [](TpxMessage& m) {
       Attach(m, "/tmp/_HTMBODY.HTM", "text/html", kEncodingQuotedPrintable, "<html>Hi</html>\r\n");
     }},
    {"single_part_html_file",
     [](TpxMessage& m) { Attach(m, "page.html", "text/html", kEncodingQuotedPrintable, "<html>Hi</html>\r\n"); }},
    {"mixed_two_attachments",
     [](TpxMessage& m) {
       m.Body().Add("See the files.");
       Attach(m, "a.bin", kBinary, kEncodingBase64, "abc");
       Attach(m, "b.txt", "text/plain", kEncodingQuotedPrintable, "b\r\n");
     }},
    {"mixed_7bit_message_attachment",
     [](TpxMessage& m) {
       m.Body().Add("Forwarded.");
       Attach(m, "fwd.eml", "message/rfc822", kEncoding7Bit, "Subject: hi\r\nFrom: x@example.com\r\n\r\n.\r\nbody");
     }},
    {"mixed_message_file_with_unix_line_ends",
     [](TpxMessage& m) {
       m.Body().Add("Forwarded.");
       Attach(m, "fwd.eml", "message/rfc822", kEncoding7Bit, "Subject: hi\nFrom: x@example.com\n\n.\nbody");
     }},
    {"alternative",
     [](TpxMessage& m) {
       Attach(m, "_alt.txt", "text/plain", kEncodingQuotedPrintable, "Hello\r\n");
       Attach(m, "_ALT.htm", "text/html", kEncodingQuotedPrintable, "<b>Hello</b>\r\n");
     }},
    {"nested_alternative",
     [](TpxMessage& m) {
       m.Body().Add("Hello");
       Attach(m, "_alt.txt", "text/plain", kEncodingQuotedPrintable, "Hello\r\n");
       Attach(m, "_alt.htm", "text/html", kEncodingQuotedPrintable, "<b>Hello</b>\r\n");
       Attach(m, "report.pdf", "application/pdf", kEncodingBase64, "%PDF");
     }},
    {"uuencode",
     [](TpxMessage& m) {
       m.SetEncoding(meUU);
       m.SetSubject("uu");
       m.Body().Add("Two files.");
       Attach(m, "forty five.bin", kBinary, kEncodingBase64, std::string(45, 'A'));
       Attach(m, "one.bin", kBinary, kEncodingBase64, "\x01");
     }},
    {"header_block",
     [](TpxMessage& m) {
       m.Sender().SetName("Doe, Jane");
       m.Recipients().AddAddress("r1@example.com", "J. R. Smith");
       m.Recipients().AddAddress("r2@example.com", "Bob \"the builder\"");
       m.Recipients().AddAddress("r3@example.com", "");
       m.CC().AddAddress("cc@example.com", "Carol");
       m.BCC().AddAddress("hidden@example.com", "Hidden");
       m.SetReturnReceipt(true);
       m.SetPriority(ptLow);
       for (const char* line : {"Subject: from the list", "X-Custom: kept", "\tfolded on"}) m.Headers().Add(line);
       m.SetSubject("The subject");
       m.Body().Add("Hi");
     }},
};

TEST_F(ComposerTest, EveryLayoutMatchesItsGoldenText) {
  for (const auto& c : kGoldenCases) {
    UseCountingBoundaries();
    TpxMessage message;
    message.Sender().SetAddress("a@example.com");
    c.fill(message);
    ExpectGolden(c.name, Compose(message));
  }
  TpxArticle article;
  article.Sender().SetAddress("poster@example.com");
  article.Sender().SetName("A. Poster");
  article.SetNewsGroups("comp.mail.misc");
  article.SetSubject("Question");
  article.Headers().Add("Newsgroups: old.group");
  article.Headers().Add("Organization: none");
  article.Body().Add("Text");
  ExpectGolden("article", Compose(article));
}

// The part holds the line encoder's layout (an empty file gives one empty line, a multiple of 57
// bytes ends with one) and then the line end that belongs to the closing delimiter.
TEST_F(ComposerTest, Base64LinesOfAPart) {
  const std::string line = Base64Encode(std::string(57, 'z')) + "\r\n";
  const std::pair<size_t, std::string> cases[] = {
      {0, "\r\n"}, {57, line + "\r\n"}, {58, line + "eg==\r\n"}, {114, line + line + "\r\n"}};
  for (const auto& [size, lines] : cases) {
    UseCountingBoundaries();
    TpxMessage message;
    message.Body().Add("x");
    Attach(message, "f.bin", kBinary, kEncodingBase64, std::string(size, 'z'));
    EXPECT_TRUE(EndsStr("filename=\"f.bin\"\r\n\r\n" + lines + "\r\n--11111111--\r\n", Compose(message))) << size;
  }
}

TEST_F(ComposerTest, TheMessageBodyIsNeverChanged) {
  TpxMessage message;
  for (const char* line : {".", "<p>a=b</p>"}) message.Body().Add(line);
  message.SetContentType("text/html");
  const std::string first = Compose(message);
  EXPECT_EQ(message.Body().Lines(), (std::vector<std::string>{".", "<p>a=b</p>"}));
  EXPECT_EQ(Compose(message), first) << "a second send is the same";
  EXPECT_TRUE(EndsStr("\r\n<p>a=3Db</p>\r\n", first));
}

TEST(DisplayNameTest, QuotingOfPhrases) {
  const struct {
    const char* what;
    const char* name;
    const char* written;
  } cases[] = {
      {"plain name stays bare", "Jane Doe", "Jane Doe"},
      {"a dot is quoted", "J. Doe", "\"J. Doe\""},
      {"a comma is quoted, or it would split the list", "Doe, Jane", "\"Doe, Jane\""},
      {"angle brackets and at signs are quoted", "x <y@z>", "\"x <y@z>\""},
      {"a backslash is escaped inside the quotes", "a\\b.c", "\"a\\\\b.c\""},
      {"its own quotes are escaped, or they would end the quoted string", "\"Doe, Jane\"", "\"\\\"Doe, Jane\\\"\""},
      {"a quote that would start a second mailbox", "Boss <boss@corp.example>, \"\"",
       "\"Boss <boss@corp.example>, \\\"\\\"\""},
      {"atom characters other than letters stay bare", "O'Neil-Smith #1", "O'Neil-Smith #1"},
      {"blanks in a row, which a reader folds into one, are quoted", "Jane  Doe", "\"Jane  Doe\""},
      {"a blank at an end is quoted", "Jane ", "\"Jane \""},
      {"a tab is quoted", "Jane\tDoe", "\"Jane\tDoe\""},
      {"a line break cannot end the header", "Jane\r\nBcc: x@y", "\"Jane  Bcc: x@y\""},
  };
  for (const auto& c : cases) EXPECT_EQ(DisplayName(c.name), c.written) << c.what;
  EXPECT_EQ(QuotedParameter("my \"best\" file\\v2.txt"), "\"my \\\"best\\\" file\\\\v2.txt\"");
}

// A mailbox is never cut, or the address would be lost: a long name folds before it.
TEST_F(ComposerTest, HeaderLinesFromOneFieldAreCutAt255ButNoMailbox) {
  TpxMessage message;
  message.Sender().SetAddress("a@example.com");
  message.Sender().SetName(std::string(250, 'n'));
  message.SetSubject(std::string(255, 's'));
  message.Recipients().AddAddress("r@example.com", std::string(250, 'r'));
  message.Recipients().AddAddress("q@example.com", std::string(250, 'q'));
  message.SetReturnReceipt(true);
  message.Body().Add("x");
  Attach(message, "f.bin", std::string(250, 't'), kEncodingBase64, "x");
  TStringList lines;
  lines.SetText(Compose(message));
  const std::vector<std::string> mailboxes = {"From:     " + std::string(250, 'n'),         " <a@example.com>",
                                              "To:       " + std::string(250, 'r'),         " <r@example.com>,",
                                              std::string(10, ' ') + std::string(250, 'q'), " <q@example.com>"};
  EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + 6), mailboxes);
  EXPECT_EQ(lines[7], ("Subject:  " + std::string(255, 's')).substr(0, 255));
  EXPECT_EQ(lines[22], ("Content-Type: " + std::string(250, 't')).substr(0, 255) + "; name=\"f.bin\"");
}

// The header lines of every part, each without its line end.
std::vector<std::string> HeaderLines(const std::string& text) {
  std::vector<std::string> lines;
  bool inHeaders = true;
  for (size_t start = 0, end; start < text.size(); start = end + 2) {
    end = std::min(text.find("\r\n", start), text.size());
    const std::string line = text.substr(start, end - start);
    if (inHeaders && line.empty())
      inHeaders = false;
    else if (inHeaders)
      lines.push_back(line);
    else if (line.rfind("--", 0) == 0)
      inHeaders = true;
  }
  return lines;
}

// RFC 5322 2.1.1: no line passes 998 characters whatever the fields hold, and lines of
// headers with encoded words or RFC 2231 parameters stay within 78.
TEST_F(ComposerTest, HeaderLinesStayWithinTheirLimitsForAnyLength) {
  const std::string utf8 = "\xc3\xa4\xe6\x9c\x88\xf0\x9f\x93\xb7 ";
  for (const size_t length : {0, 1, 77, 200, 255, 300, 1200, 5000}) {
    std::string ascii, quoted, international, words;
    while (ascii.size() < length) ascii += 'x';
    while (quoted.size() < length) quoted += "\"\\";
    while (international.size() < length) international += utf8;
    while (words.size() < length) words += "word, ";
    TpxMessage message;
    TpxArticle article;
    for (TpxCustomMessage* m : {static_cast<TpxCustomMessage*>(&message), static_cast<TpxCustomMessage*>(&article)}) {
      m->Sender().SetAddress(ascii + "@example.com");
      m->Sender().SetName(quoted);
      m->SetSubject(international);
      m->Headers().Add("X-Long: " + words);
      m->Headers().Add("X-Solid: " + ascii);
      m->Body().Add("x");
      Attach(*m, "/x/" + international, ascii, kEncodingBase64, "x");
      Attach(*m, "/x/" + quoted, "text/plain", kEncodingBase64, "x");
      Attach(*m, "/x/" + ascii, "text/plain", kEncodingBase64, "x");
    }
    message.Recipients().AddAddress("r@example.com", international);
    message.Recipients().AddAddress("q@example.com", quoted);
    article.SetNewsGroups(words);
    for (TpxCustomMessage* m : {static_cast<TpxCustomMessage*>(&message), static_cast<TpxCustomMessage*>(&article)}) {
      std::string field;
      bool encoded = false;
      const std::vector<std::string> lines = HeaderLines(Compose(*m));
      for (size_t i = 0; i < lines.size(); ++i) {
        const std::string& line = lines[i];
        EXPECT_LE(line.size(), 998u) << length << ": " << line.substr(0, 40);
        if (line[0] != ' ' && line[0] != '\t') {
          field.clear();
          for (size_t j = i; j < lines.size() && (j == i || lines[j][0] == ' ' || lines[j][0] == '\t'); ++j)
            field += lines[j];
          encoded = field.find("=?") != std::string::npos || field.find("*=") != std::string::npos;
        }
        // Only what cannot be folded may pass 78 there: a mailbox's address, a word of a name
        // and a media type, ASCII tokens as long as the user made them.
        const bool folded = line[0] == ' ' || line[0] == '\t';
        const size_t text = folded ? line.find_first_not_of(" \t") : line.find(": ") + 2;
        const bool oneToken = line.find(' ', text) == std::string::npos;
        if (encoded && line.find('@') == std::string::npos && !oneToken) {
          EXPECT_LE(line.size(), 78u) << length << ": " << line;
        }
      }
    }
  }
}

TEST_F(ComposerTest, ReservedHeadersLeaveTheMessageOthersStay) {
  TpxMessage message;
  for (const char* line : {"Bcc: hidden@x", "subject: old", " continued", "X-Mailer: other", "bcc : second@x",
                           " third@x", "fourth@x", "Subject: second stays", "Content-Type: a/b"})
    message.Headers().Add(line);
  message.SetSubject("new");
  const std::string composed = Compose(message);
  EXPECT_EQ(message.Headers().Lines(), (std::vector<std::string>{"X-Mailer: other", "Subject: second stays"}));
  EXPECT_NE(composed.find("\r\nX-Mailer: other\r\nSubject: second stays\r\nSubject:  new\r\nDate: "),
            std::string::npos);
}

TEST_F(ComposerTest, OutputStartsAtZeroAndIsNotTruncated) {
  TpxMessage message;
  message.Body().Add("x");
  const std::string composed = Compose(message);
  TMemoryStream out(std::string(1000, '#'));
  out.SetPosition(500);
  message.SaveToStream(out);
  EXPECT_EQ(out.Data(), composed + std::string(1000 - composed.size(), '#'));
  EXPECT_EQ(out.Position(), static_cast<int64_t>(composed.size()));
}

TEST_F(ComposerTest, FailuresReachTheCaller) {
  TpxMessage mixedWithoutFiles;
  mixedWithoutFiles.Body().Add("x");
  mixedWithoutFiles.SetContentType("multipart/mixed");
  EXPECT_THROW(Compose(mixedWithoutFiles), EListError);

  TpxArticle article;
  TpxMessage message;
  TMemoryStream out;
  TpxMessageEncoder messageEncoder(article);
  messageEncoder.SetOutput(&out);
  EXPECT_THROW(messageEncoder.Encode(), EInvalidCast);
  TpxArticleEncoder articleEncoder(message);
  articleEncoder.SetOutput(&out);
  EXPECT_THROW(articleEncoder.Encode(), EInvalidCast);
}

std::vector<std::string> Boundaries(const std::string& composed) {
  std::vector<std::string> boundaries;
  for (size_t pos = 0; (pos = composed.find("boundary=\"", pos)) != std::string::npos; pos += 10)
    boundaries.push_back(composed.substr(pos + 10, composed.find('"', pos + 10) - pos - 10));
  return boundaries;
}

// RFC 2046 5.1.1: at most 70 bchars. "=_" keeps encoded lines off it and 128 random bits keep
// raw ones off it; no two boundaries of many messages are alike.
TEST(BoundaryTest, RandomWithEqualsUnderscoreInnerAndOuterDiffer) {
  TpxMessage message;
  message.Body().Add("x");
  Attach(message, "_alt.txt", "text/plain", kEncodingQuotedPrintable, "a");
  Attach(message, "z.bin", kBinary, kEncodingBase64, "b");
  const std::regex shape("=_[0-9a-f]{32}");
  std::set<std::string> seen;
  for (int round = 0; round < 50; ++round) {
    const std::string composed = Compose(message);
    const std::vector<std::string> drawn = Boundaries(composed);
    ASSERT_EQ(drawn.size(), 2u);
    for (const std::string& b : drawn) {
      EXPECT_TRUE(std::regex_match(b, shape)) << b;
      EXPECT_NE(composed.find("\r\n--" + b + "--\r\n"), std::string::npos) << b;
      seen.insert(b);
    }
  }
  EXPECT_EQ(seen.size(), 100u);
  // Even a source that repeats itself cannot nest a boundary inside an equal one.
  SetBoundarySource([] { return std::string("88888888"); });
  const std::string composed = Compose(message);
  SetBoundarySource(nullptr);
  EXPECT_EQ(Boundaries(composed), (std::vector<std::string>{"88888888", "88888880"}));
  EXPECT_NE(composed.find("\r\n--88888880--\r\n--88888888\r\n"), std::string::npos);
}

}  // namespace
