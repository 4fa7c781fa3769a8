#include "mime/messagestamp.h"

#include <gtest/gtest.h>

#include <regex>
#include <set>

#include "mail/pxmsg.h"
#include "toolkit/streams.h"

namespace {

TEST(MessageStamp, DateInEnglishWithItsOffset) {
  const struct {
    const char* what;
    TComposeTime time;
    const char* date;
  } cases[] = {
      {"an hour ahead", {1796648709, 60}, "Mon, 07 Dec 2026 14:05:09 +0100"},
      {"behind UTC across midnight", {1796601600, -330}, "Sun, 06 Dec 2026 18:30:00 -0530"},
      {"UTC, a single-digit day", {1772323200, 0}, "Sun, 01 Mar 2026 00:00:00 +0000"},
  };
  for (const auto& c : cases) EXPECT_EQ(DateHeaderValue(c.time), c.date) << c.what;
}

std::string Compose(TpxCustomMessage& message) {
  TMemoryStream out;
  message.SaveToStream(out);
  return out.Data();
}

TEST(MessageStamp, TenThousandComposedMessagesHaveDistinctWellFormedIds) {
  const std::regex shape(R"(<\d{14}\.[0-9a-f]{24}@example\.org>)");
  std::set<std::string> ids;
  TpxMessage message;
  message.Sender().SetAddress("Someone@example.org");
  message.Body().Add("x");
  for (int i = 0; i < 10000; ++i) {
    const std::string text = Compose(message);
    const size_t start = text.find("\r\nMessage-ID: ") + 14;
    const std::string id = text.substr(start, text.find("\r\n", start) - start);
    ASSERT_TRUE(std::regex_match(id, shape)) << id;
    ids.insert(id);
  }
  EXPECT_EQ(ids.size(), 10000u);
  // Without a domain of its own the host's name stands in, still a dot-atom.
  const std::regex hostId(R"(<[^@<>]+@[A-Za-z0-9.-]+>)");
  EXPECT_TRUE(std::regex_match(NewMessageId("nobody", ComposeTime()), hostId));
  EXPECT_TRUE(std::regex_match(NewMessageId("a@bad domain>", ComposeTime()), hostId));
}

TEST(MessageStamp, OwnDateAndIdAreKeptInMessagesAndArticles) {
  SetClockSource([] { return TComposeTime{1796648709, 60}; });
  SetRandomSource([](size_t n) { return std::string(n, '\x11'); });
  TpxMessage plain;
  plain.Sender().SetAddress("me@example.org");
  plain.SetSubject("s");
  EXPECT_NE(Compose(plain).find("Subject:  s\r\nDate: Mon, 07 Dec 2026 14:05:09 +0100\r\n"
                                "Message-ID: <20261207130509.111111111111111111111111@example.org>\r\n"
                                "Mime-Version: 1.0\r\n"),
            std::string::npos);
  TpxMessage own;
  own.Headers().Add("Date: Fri, 04 Dec 2026 10:00:00 +0000");
  own.Headers().Add("Message-ID: <mine@example.org>");
  const std::string text = Compose(own);
  EXPECT_EQ(text.find("Date: Mon"), std::string::npos);
  EXPECT_NE(text.find("Message-ID: <mine@example.org>\r\nMime-Version"), std::string::npos);
  TpxArticle article;
  article.Sender().SetAddress("me@example.org");
  TMemoryStream in;
  in.Data() = "From: me@example.org\r\nMessage-ID: <art@example.org>\r\n\r\nx\r\n";
  article.LoadFromStream(in);
  article.Headers().Clear();
  EXPECT_NE(Compose(article).find("Date: Mon, 07 Dec 2026 14:05:09 +0100\r\nMessage-ID: <art@example.org>\r\n"),
            std::string::npos);
  SetClockSource(nullptr);
  SetRandomSource(nullptr);
}

}  // namespace
