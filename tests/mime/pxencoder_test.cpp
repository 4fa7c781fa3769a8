#include "mime/pxencoder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "mail/pxmsg.h"
#include "toolkit/streams.h"

namespace {

// Boundaries "11111111", "22222222", ... so that composed texts can be compared whole.
void UseCountingBoundaries() {
  SetBoundarySource([drawn = 0]() mutable { return std::string(8, static_cast<char>('1' + drawn++ % 8)); });
}

class ComposerTest : public ::testing::Test {
 protected:
  void SetUp() override { UseCountingBoundaries(); }
  void TearDown() override { SetBoundarySource(nullptr); }
};

std::string Compose(TpxCustomMessage& message) {
  TMemoryStream out;
  message.SaveToStream(out);
  return out.Data();
}

void Attach(TpxCustomMessage& message, const std::string& name, const std::string& type, int encoding,
            const std::string& data) {
  auto item = std::make_unique<TpxAttItem>();
  item->SetFileName(name);
  item->SetContentType(type);
  item->SetTransferEncoding(encoding);
  item->Stream().Data() = data;
  message.Attachments().Add(std::move(item));
}

// The message the main window sends: sender with a display name, one recipient, one body
// line holding a blank, one file.
void FillTypical(TpxMessage& message) {
  message.Sender().SetAddress("sender@example.com");
  message.Sender().SetName("Mailcart 1.0.2.0 (2026-12-07)");
  message.Recipients().AddAddress("rcpt@example.com", "");
  message.SetSubject("Monthly report");
  message.Body().Add(" ");
  Attach(message, "/home/user/report.pdf", "application/pdf", kEncodingBase64, std::string(60, '\x9c'));
}

std::string Golden(const std::string& name) {
  std::ifstream file(std::string(MAILCART_TEST_DATA) + "/composer/" + name + ".eml", std::ios::binary);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

void ExpectGolden(const std::string& name, const std::string& composed) {
  if (std::getenv("MAILCART_UPDATE_GOLDEN") != nullptr) {
    std::ofstream(std::string(MAILCART_TEST_DATA) + "/composer/" + name + ".eml", std::ios::binary) << composed;
  }
  EXPECT_EQ(composed, Golden(name)) << name;
}

// --- Golden texts of every layout ---------------------------------------------------------

struct GoldenCase {
  const char* name;
  void (*fill)(TpxMessage&);
};

const GoldenCase kGoldenCases[] = {
    {"typical", FillTypical},
    {"plain_7bit_with_8bit_bytes",
     [](TpxMessage& m) {
       m.Sender().SetAddress("a@example.com");
       m.Recipients().AddAddress("b@example.com", "B");
       m.Body().Add("caf\xe9 au lait");
       m.Body().Add(".");
       m.Body().Add(".profile");
     }},
    {"plain_long_line_quoted_printable",
     [](TpxMessage& m) {
       m.Sender().SetAddress("a@example.com");
       m.Body().Add(std::string(200, 'x') + " " + std::string(55, 'y'));
       m.Body().Add("short = line ");
     }},
    {"plain_iso8859",
     [](TpxMessage& m) {
       m.Sender().SetAddress("a@example.com");
       m.SetCharSet(csISO8859);
       m.Body().Add("caf\xe9");
     }},
    {"formatted_html_body",
     [](TpxMessage& m) {
       m.Sender().SetAddress("a@example.com");
       m.Body().Add("<p class=\"x\">Hello</p>");
       m.SetContentType("Text/HTML");
     }},
    {"single_part",
     [](TpxMessage& m) {
       m.Sender().SetAddress("a@example.com");
       Attach(m, "notes.txt", "text/plain", kEncodingQuotedPrintable, "line one\r\nno final line end");
     }},
    {"single_part_html_body_file",
     [](TpxMessage& m) {
       m.Sender().SetAddress("a@example.com");
       Attach(m, "/tmp/_HTMBODY.HTM", "text/html", kEncodingQuotedPrintable, "<html>Hi</html>\r\n");
     }},
    {"single_part_html_file",
     [](TpxMessage& m) {
       m.Sender().SetAddress("a@example.com");
       Attach(m, "page.html", "text/html", kEncodingQuotedPrintable, "<html>Hi</html>\r\n");
     }},
    {"mixed_two_attachments",
     [](TpxMessage& m) {
       m.Sender().SetAddress("a@example.com");
       m.Body().Add("See the files.");
       Attach(m, "a.bin", "application/octet-stream", kEncodingBase64, "abc");
       Attach(m, "b.txt", "text/plain", kEncodingQuotedPrintable, "b\r\n");
     }},
    {"mixed_7bit_message_attachment",
     [](TpxMessage& m) {
       m.Sender().SetAddress("a@example.com");
       m.Body().Add("Forwarded.");
       Attach(m, "fwd.eml", "message/rfc822", kEncoding7Bit, "Subject: hi\nFrom: x@example.com\n\n.\nbody");
     }},
    {"alternative",
     [](TpxMessage& m) {
       m.Sender().SetAddress("a@example.com");
       Attach(m, "_alt.txt", "text/plain", kEncodingQuotedPrintable, "Hello\r\n");
       Attach(m, "_ALT.htm", "text/html", kEncodingQuotedPrintable, "<b>Hello</b>\r\n");
     }},
    {"nested_alternative",
     [](TpxMessage& m) {
       m.Sender().SetAddress("a@example.com");
       m.Body().Add("Hello");
       Attach(m, "_alt.txt", "text/plain", kEncodingQuotedPrintable, "Hello\r\n");
       Attach(m, "_alt.htm", "text/html", kEncodingQuotedPrintable, "<b>Hello</b>\r\n");
       Attach(m, "report.pdf", "application/pdf", kEncodingBase64, "%PDF");
     }},
    {"uuencode",
     [](TpxMessage& m) {
       m.Sender().SetAddress("a@example.com");
       m.SetEncoding(meUU);
       m.SetSubject("uu");
       m.Body().Add("Two files.");
       Attach(m, "forty five.bin", "application/octet-stream", kEncodingBase64, std::string(45, 'A'));
       Attach(m, "one.bin", "application/octet-stream", kEncodingBase64, "\x01");
     }},
    {"header_block",
     [](TpxMessage& m) {
       m.Sender().SetAddress("a@example.com");
       m.Sender().SetName("Doe, Jane");
       m.Recipients().AddAddress("r1@example.com", "J. R. Smith");
       m.Recipients().AddAddress("r2@example.com", "Bob \"the builder\"");
       m.Recipients().AddAddress("r3@example.com", "");
       m.CC().AddAddress("cc@example.com", "Carol");
       m.BCC().AddAddress("hidden@example.com", "Hidden");
       m.SetReturnReceipt(true);
       m.SetPriority(ptLow);
       m.Headers().Add("Subject: from the list");
       m.Headers().Add("X-Custom: kept");
       m.Headers().Add("\tfolded on");
       m.SetSubject("The subject");
       m.Body().Add("Hi");
     }},
};

TEST_F(ComposerTest, EveryLayoutMatchesItsGoldenText) {
  for (const GoldenCase& c : kGoldenCases) {
    UseCountingBoundaries();
    TpxMessage message;
    c.fill(message);
    ExpectGolden(c.name, Compose(message));
  }
}

TEST_F(ComposerTest, ArticleHeaderBlock) {
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

// --- Exact shapes -------------------------------------------------------------------------

// The lines between the part's header block and the closing delimiter.
std::string SinglePartData(const std::string& composed) {
  const size_t start = composed.find("\r\n\r\n", composed.find("Content-Disposition")) + 4;
  return composed.substr(start, composed.find("\r\n--11111111--") - start);
}

TEST_F(ComposerTest, Base64LinesOfAPart) {
  const struct {
    const char* what;
    size_t size;
    std::vector<size_t> lineLengths;
  } cases[] = {
      {"empty file: one empty line", 0, {0}},
      {"57 bytes: a full line and an empty one", 57, {76, 0}},
      {"58 bytes: a full line and four characters", 58, {76, 4}},
      {"114 bytes: two full lines and an empty one", 114, {76, 76, 0}},
  };
  for (const auto& c : cases) {
    UseCountingBoundaries();
    TpxMessage message;
    message.Body().Add("x");
    Attach(message, "f.bin", "application/octet-stream", kEncodingBase64, std::string(c.size, 'z'));
    const std::string data = SinglePartData(Compose(message));
    std::vector<size_t> lengths;
    // Every data line ends in CR LF, and exactly one more CR LF stands before the delimiter.
    ASSERT_TRUE(EndsStr("\r\n", data)) << c.what;
    for (size_t pos = 0; pos < data.size();) {
      const size_t end = data.find("\r\n", pos);
      lengths.push_back(end - pos);
      pos = end + 2;
    }
    EXPECT_EQ(lengths, c.lineLengths) << c.what;
  }
}

TEST_F(ComposerTest, TextIsWrittenAsItIsWithoutDotHandling) {
  TpxMessage message;
  message.Body().Add(".");
  message.Body().Add("..");
  message.Body().Add(".profile");
  Attach(message, "fwd.eml", "message/rfc822", kEncoding7Bit, "a\r\n.\r\nb");
  const std::string composed = Compose(message);
  EXPECT_NE(composed.find("\r\n\r\n.\r\n..\r\n.profile\r\n\r\n--11111111\r\n"), std::string::npos);
  EXPECT_NE(composed.find("\r\n\r\na\r\n.\r\nb\r\n--11111111--\r\n"), std::string::npos);
  // The message's own body is left alone.
  EXPECT_EQ(message.Body().Lines(), (std::vector<std::string>{".", "..", ".profile"}));
}

TEST_F(ComposerTest, ComposingTwiceGivesTheSameTextAndLeavesTheBodyAlone) {
  TpxMessage message;
  message.Sender().SetAddress("a@example.com");
  message.Body().Add("<p>a=b</p>");
  message.SetContentType("text/html");
  const std::string first = Compose(message);
  EXPECT_EQ(message.Body()[0], "<p>a=b</p>");
  EXPECT_EQ(Compose(message), first);
  EXPECT_NE(first.find("\r\n\r\n<p>a=3Db</p>\r\n"), std::string::npos);
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
      {"a name with its own quotes stays as written", "\"Doe, Jane\"", "\"Doe, Jane\""},
      {"a line break cannot end the header", "Jane\r\nBcc: x@y", "\"Jane  Bcc: x@y\""},
      {"empty stays empty", "", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(DisplayName(c.name), c.written) << c.what;
}

TEST(QuotedParameterTest, EscapesQuotesAndBackslashes) {
  EXPECT_EQ(QuotedParameter("my \"best\" file\\v2.txt"), "\"my \\\"best\\\" file\\\\v2.txt\"");
  EXPECT_EQ(QuotedParameter("r\xc3\xa9sum\xc3\xa9.pdf"), "\"r\xc3\xa9sum\xc3\xa9.pdf\"");
}

TEST_F(ComposerTest, HeaderLinesFromOneFieldAreCutAt255) {
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
  EXPECT_EQ(lines[0], "From:     " + std::string(250, 'n') + " <a@example.com>");  // not cut
  EXPECT_EQ(lines[1], ("To:       " + std::string(250, 'r')).substr(0, 255));
  EXPECT_EQ(lines[2], std::string(10, ' ') + std::string(250, 'q') + " <q@example.com>");  // not cut
  EXPECT_EQ(lines[3], "Return-Receipt-To: <a@example.com>");
  EXPECT_EQ(lines[4], ("Subject:  " + std::string(255, 's')).substr(0, 255));
  EXPECT_EQ(lines.IndexOf(("Content-Type: " + std::string(250, 't')).substr(0, 255) + "; name=\"f.bin\""), 17);
}

TEST_F(ComposerTest, ReservedHeadersLeaveTheMessageOthersAreWritten) {
  TpxMessage message;
  message.Headers().Add("subject: old");
  message.Headers().Add(" continued");
  message.Headers().Add("X-Mailer: other");
  message.Headers().Add("Subject: second stays");
  message.Headers().Add("Content-Type: text/html");
  message.SetSubject("new");
  const std::string composed = Compose(message);
  EXPECT_EQ(message.Headers().Lines(), (std::vector<std::string>{"X-Mailer: other", "Subject: second stays"}));
  EXPECT_NE(composed.find("X-Mailer: other\r\nSubject: second stays\r\nSubject:  new\r\nMime-Version: 1.0\r\n"),
            std::string::npos);
}

TEST_F(ComposerTest, OutputStartsAtZeroAndIsNotTruncated) {
  TpxMessage message;
  message.Body().Add("x");
  TMemoryStream out(std::string(1000, '#'));
  out.SetPosition(500);
  message.SaveToStream(out);
  const std::string composed = Compose(message);
  EXPECT_EQ(out.Data().substr(0, composed.size()), composed);
  EXPECT_EQ(out.Data().substr(composed.size()), std::string(1000 - composed.size(), '#'));
  EXPECT_EQ(out.Position(), static_cast<int64_t>(composed.size()));
}

TEST_F(ComposerTest, FailuresReachTheCaller) {
  TpxMessage mixedWithoutFiles;
  mixedWithoutFiles.Body().Add("x");
  mixedWithoutFiles.SetContentType("multipart/mixed");
  EXPECT_THROW(Compose(mixedWithoutFiles), EListError);

  TpxArticle article;
  TMemoryStream out;
  TpxMessageEncoder messageEncoder(article);
  messageEncoder.SetOutput(&out);
  EXPECT_THROW(messageEncoder.Encode(), EInvalidCast);
  TpxMessage message;
  TpxArticleEncoder articleEncoder(message);
  articleEncoder.SetOutput(&out);
  EXPECT_THROW(articleEncoder.Encode(), EInvalidCast);
}

TEST(BoundaryTest, EightDigitsFromZeroToEightAndInnerDiffersFromOuter) {
  SetBoundarySource(nullptr);
  TpxMessage message;
  message.Body().Add("x");
  Attach(message, "_alt.txt", "text/plain", kEncodingQuotedPrintable, "a");
  Attach(message, "z.bin", "application/octet-stream", kEncodingBase64, "b");
  for (int round = 0; round < 20; ++round) {
    const std::string composed = Compose(message);
    std::vector<std::string> boundaries;
    for (size_t pos = 0; (pos = composed.find("boundary=\"", pos)) != std::string::npos;) {
      pos += 10;
      boundaries.push_back(composed.substr(pos, composed.find('"', pos) - pos));
    }
    ASSERT_EQ(boundaries.size(), 2u);
    for (const std::string& b : boundaries) {
      ASSERT_EQ(b.size(), 8u) << b;
      EXPECT_EQ(b.find_first_not_of("012345678"), std::string::npos) << b;
    }
    EXPECT_NE(boundaries[0], boundaries[1]);
  }
}

TEST(BoundaryTest, InnerBoundaryDiffersEvenWhenTheSourceRepeats) {
  SetBoundarySource([] { return std::string("88888888"); });
  TpxMessage message;
  Attach(message, "_alt.txt", "text/plain", kEncodingQuotedPrintable, "a");
  Attach(message, "z.bin", "application/octet-stream", kEncodingBase64, "b");
  message.Body().Add("x");
  const std::string composed = Compose(message);
  SetBoundarySource(nullptr);
  EXPECT_NE(composed.find("multipart/alternative; boundary=\"88888880\""), std::string::npos);
  EXPECT_NE(composed.find("\r\n--88888880--\r\n--88888888\r\n"), std::string::npos);
}

}  // namespace
