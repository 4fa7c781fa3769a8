#include "mail/pxmsg.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>

#include "platform/tempfiles.h"
#include "toolkit/componentstream.h"
#include "toolkit/streams.h"
#include "toolkit/strtable.h"

namespace {

void Attach(TpxCustomMessage& message, const std::string& name, const std::string& type = "application/pdf",
            const std::string& data = "") {
  auto item = std::make_unique<TpxAttItem>();
  item->SetFileName(name);
  item->SetContentType(type);
  item->Stream().Data() = data;
  message.Attachments().Add(std::move(item));
}

// A file that exists for the life of the object.
class TempFile {
 public:
  explicit TempFile(const std::string& data) : path_(GetTempFileName(GetTempPath(), "pxmsg")) {
    TMemoryStream(data).SaveToFile(path_);
  }
  ~TempFile() { std::remove(path_.c_str()); }
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

TEST(MessageTest, DerivedContentType) {
  const struct {
    const char* what;
    std::function<void(TpxMessage&)> fill;
    const char* type;
  } cases[] = {
      {"a new message is plain text", [](TpxMessage&) {}, "text/plain"},
      {"body and one file: mixed, as the batch sends",
       [](TpxMessage& m) {
         m.Body().Add(" ");
         Attach(m, "a.pdf");
       },
       "multipart/mixed"},
      {"no body, one file: the file's own type", [](TpxMessage& m) { Attach(m, "report.pdf"); }, "application/pdf"},
      {"no body, two files: mixed",
       [](TpxMessage& m) {
         Attach(m, "a.pdf");
         Attach(m, "b.pdf");
       },
       "multipart/mixed"},
      {"HTML body file in any case and folder",
       [](TpxMessage& m) { Attach(m, "/var/x.y/_HtmBody.HTM", "application/octet-stream"); }, "text/html"},
      {"RTF body file", [](TpxMessage& m) { Attach(m, "_rtfbody.rtf"); }, "text/rtf"},
      {"HTML body file beside a body is an attachment",
       [](TpxMessage& m) {
         m.Body().Add("x");
         Attach(m, "_htmbody.htm");
       },
       "multipart/mixed"},
      {"all files alternatives",
       [](TpxMessage& m) {
         Attach(m, "dir/_ALT.txt");
         Attach(m, "_alt.htm");
       },
       "multipart/alternative"},
      {"one alternative among others: the body rule",
       [](TpxMessage& m) {
         Attach(m, "_alt.txt");
         Attach(m, "b.pdf");
       },
       "multipart/mixed"},
      {"uuencode has no content type",
       [](TpxMessage& m) {
         m.SetEncoding(meUU);
         Attach(m, "a.pdf");
       },
       ""},
      {"a body keeps the stored type, lower-cased",
       [](TpxMessage& m) {
         m.Body().Add("<p>");
         m.SetContentType("Text/HTML");
       },
       "text/html"},
      {"after Clear a body is plain text",
       [](TpxMessage& m) {
         m.SetContentType("text/html");
         m.Clear();
         m.Body().Add("x");
       },
       "text/plain"},
      {"every read stores what it derived",
       [](TpxMessage& m) {
         m.Body().Add("x");
         Attach(m, "a.pdf");
         m.ContentType();
         m.Attachments().Clear();
       },
       "multipart/mixed"},
  };
  for (const auto& c : cases) {
    TpxMessage message;
    c.fill(message);
    EXPECT_EQ(message.ContentType(), c.type) << c.what;
  }
}

TEST(MessageTest, ValidateNamesWhatIsMissing) {
  const struct {
    const char* what;
    std::function<void(TpxMessage&)> fill;
    int error;  // 0: valid
  } cases[] = {
      {"no sender", [](TpxMessage& m) { m.Recipients().AddAddress("r@x", ""); }, sSenderRequired},
      {"no recipient at all", [](TpxMessage& m) { m.Sender().SetAddress("s@x"); }, sRecipientRequired},
      {"only a recipient without address",
       [](TpxMessage& m) {
         m.Sender().SetAddress("s@x");
         m.Recipients().AddAddress("", "Name only");
       },
       sRecipientRequired},
      {"a blind copy is enough",
       [](TpxMessage& m) {
         m.Sender().SetAddress("s@x");
         m.BCC().AddAddress("b@x", "");
       },
       0},
      {"an empty entry beside a copy is allowed",
       [](TpxMessage& m) {
         m.Sender().SetAddress("s@x");
         m.Recipients().AddAddress("", "");
         m.CC().AddAddress("c@x", "");
       },
       0},
  };
  for (const auto& c : cases) {
    TpxMessage message;
    c.fill(message);
    if (c.error == 0) {
      EXPECT_NO_THROW(message.Validate()) << c.what;
      continue;
    }
    try {
      message.Validate();
      ADD_FAILURE() << c.what << ": no error";
    } catch (const EMessageError& e) {
      EXPECT_EQ(e.Message(), LoadStr(c.error)) << c.what;
    }
  }
}

TEST(ArticleTest, ValidateNeedsSenderNewsgroupsAndSubject) {
  TpxArticle article;
  const auto error = [&article]() -> std::string {
    try {
      article.Validate();
      return "";
    } catch (const EMessageError& e) {
      return e.Message();
    }
  };
  EXPECT_EQ(error(), "The address of sender is required");
  article.Sender().SetAddress("s@x");
  EXPECT_EQ(error(), "Newsgroup header is required");
  article.SetNewsGroups("comp.misc");
  EXPECT_EQ(error(), "Subject header is required");
  article.SetSubject("S");
  EXPECT_EQ(error(), "");
}

TEST(MessageTest, ClearEmptiesEverythingButPriorityAndReceipt) {
  TpxMessage message;
  message.Sender().SetAddress("s@x");
  message.Recipients().AddAddress("r@x", "");
  message.CC().AddAddress("c@x", "");
  message.BCC().AddAddress("b@x", "");
  message.SetSubject("S");
  message.Body().Add("b");
  message.Headers().Add("X-A: 1");
  Attach(message, "a.pdf");
  message.SetEncoding(meUU);
  message.SetCharSet(csISO8859);
  message.SetPriority(ptHigh);
  message.SetReturnReceipt(true);
  message.Clear();
  EXPECT_EQ(message.Sender().Address(), "");
  EXPECT_EQ(message.Recipients().Count() + message.CC().Count() + message.BCC().Count(), 0);
  EXPECT_EQ(message.Subject(), "");
  EXPECT_TRUE(message.Body().Empty());
  EXPECT_TRUE(message.Headers().Empty());
  EXPECT_EQ(message.Attachments().Count(), 0);
  EXPECT_EQ(message.Encoding(), meMIME);
  EXPECT_EQ(message.CharSet(), csUSASCII);
  EXPECT_EQ(message.Priority(), ptHigh);
  EXPECT_TRUE(message.ReturnReceipt());
}

TEST(MessageTest, AssignMakesAnIndependentCopy) {
  TpxMessage source;
  source.Sender().SetAddress("s@x");
  source.Recipients().AddAddress("r@x", "R");
  source.BCC().AddAddress("b@x", "");
  source.SetSubject("S");
  source.Body().Add("b");
  source.Headers().Add("X-A: 1");
  source.SetPriority(ptLow);
  source.SetReturnReceipt(true);
  source.SetTag(7);
  source.SetContentType("text/html");
  Attach(source, "a.pdf", "application/pdf", "DATA");

  TpxMessage copy;
  copy.Assign(source);
  source.Clear();
  EXPECT_EQ(copy.Sender().Address(), "s@x");
  EXPECT_EQ(copy.Recipients().Items(0).Name(), "R");
  EXPECT_EQ(copy.BCC().Count(), 1);
  EXPECT_EQ(copy.Subject(), "S");
  EXPECT_EQ(copy.Body()[0], "b");
  EXPECT_EQ(copy.Headers()[0], "X-A: 1");
  EXPECT_EQ(copy.Priority(), ptLow);
  EXPECT_TRUE(copy.ReturnReceipt());
  EXPECT_EQ(copy.Tag(), 7);
  EXPECT_EQ(copy.Attachments().Items(0).Stream().Data(), "DATA");
  EXPECT_EQ(copy.ContentType(), "multipart/mixed");

  copy.Assign(copy);  // a message assigned to itself stays whole
  EXPECT_EQ(copy.Attachments().Count(), 1);

  TpxArticle article;
  article.SetNewsGroups("g");
  article.SetSubject("From an article");
  copy.Assign(article);  // only what they share
  EXPECT_EQ(copy.Subject(), "From an article");
  EXPECT_EQ(copy.Recipients().Count(), 1);

  TpxMailAddress address;
  EXPECT_THROW(copy.Assign(address), EAssignError);
}

TEST(MessageTest, ReadHeadersTakesAddressesSubjectAndFlags) {
  TpxHeaders headers;
  for (const char* line : {"From: \"Doe, Jane\" <jane@example.com>", "To: a@example.com, \"B, b\" <b@example.com>",
                           "Cc: c@example.com", "Bcc: hidden@example.com", "Subject: Hello", "X-Priority: 1",
                           "Return-Receipt-To: <jane@example.com>"})
    headers.Add(line);
  TpxMessage message;
  message.Recipients().AddAddress("first@example.com", "");
  message.SetSubject("kept?");
  message.ReadHeaders(headers);
  EXPECT_EQ(message.Sender().Name(), "Doe, Jane");
  EXPECT_EQ(message.Sender().Address(), "jane@example.com");
  ASSERT_EQ(message.Recipients().Count(), 3);
  EXPECT_EQ(message.Recipients().Items(0).Address(), "first@example.com");
  EXPECT_EQ(message.Recipients().Items(2).Name(), "B, b");
  EXPECT_EQ(message.CC().Items(0).Address(), "c@example.com");
  EXPECT_EQ(message.BCC().Count(), 0);
  EXPECT_EQ(message.Subject(), "Hello");
  EXPECT_EQ(message.Priority(), ptHigh);
  EXPECT_TRUE(message.ReturnReceipt());
  EXPECT_EQ(message.Headers(), headers);

  const struct {
    const char* value;
    TPriority priority;
  } priorities[] = {{"5", ptLow}, {"2", ptNormal}, {"1 (Highest)", ptNormal}};
  for (const auto& p : priorities) {
    TpxHeaders h;
    h.Add(std::string("X-Priority: ") + p.value);
    message.ReadHeaders(h);
    EXPECT_EQ(message.Priority(), p.priority) << p.value;
    EXPECT_EQ(message.Subject(), "Hello") << "an absent subject leaves it";
    EXPECT_TRUE(message.ReturnReceipt()) << "an absent receipt header leaves it";
  }

  TpxHeaders bad;
  bad.Add("From: ok@example.com");
  bad.Add("To: <broken");
  TpxMessage partial;
  EXPECT_THROW(partial.ReadHeaders(bad), Exception);
  EXPECT_EQ(partial.Sender().Address(), "ok@example.com");
}

TEST(ArticleTest, ReadHeadersTakesPathGroupsAndId) {
  TpxHeaders headers;
  for (const char* line : {"From: poster@example.com (A Poster)", "Path: news!not-for-mail", "Newsgroups: comp.misc",
                           "Message-ID: <1@example.com>", "Subject: Q"})
    headers.Add(line);
  TpxArticle article;
  article.ReadHeaders(headers);
  EXPECT_EQ(article.Sender().Name(), "A Poster");
  EXPECT_EQ(article.Path(), "news!not-for-mail");
  EXPECT_EQ(article.NewsGroups(), "comp.misc");
  EXPECT_EQ(article.MessageId(), "<1@example.com>");
  EXPECT_EQ(article.Subject(), "Q");
  EXPECT_EQ(article.Headers(), headers);

  TpxArticle copy;
  copy.Assign(article);
  EXPECT_EQ(copy.NewsGroups(), "comp.misc");
  EXPECT_EQ(copy.MessageId(), "");
  article.Clear();
  EXPECT_EQ(article.NewsGroups(), "");
  EXPECT_EQ(article.MessageId(), "<1@example.com>");
}

TEST(MessageTest, SettingAttachmentsCopiesDataOnlyAtRunTime) {
  TpxAttList files;
  auto item = std::make_unique<TpxAttItem>();
  item->SetFileName("a.txt");
  item->SetContentType("application/x-own");
  item->SetTransferEncoding(kEncodingBase64);
  item->Stream().Data() = "DATA";
  files.Add(std::move(item));

  TpxMessage running;
  running.SetContentType("text/html");
  running.SetAttachments(files);
  EXPECT_EQ(running.Attachments().Items(0).Stream().Data(), "DATA");
  running.SetAttachments(running.Attachments());
  EXPECT_EQ(running.Attachments().Count(), 1);

  TpxMessage designed;
  designed.SetDesigning(true);
  designed.SetAttachments(files);
  const TpxAttItem& copy = designed.Attachments().Items(0);
  EXPECT_EQ(copy.FileName(), "a.txt");
  EXPECT_EQ(copy.ContentType(), "application/x-own");
  EXPECT_EQ(copy.TransferEncoding(), kEncodingBase64);
  EXPECT_EQ(copy.Stream().Data(), "");

  TpxAttList none;
  designed.SetAttachments(none);
  designed.Body().Add("x");
  EXPECT_EQ(designed.ContentType(), "text/plain");
}

TEST(MessageTest, StreamsPublishedPropertiesInOrderAndLoadsFilesAfterwards) {
  TempFile file("file bytes");
  TpxMessage message;
  message.SetName("pxMessage1");
  Attach(message, file.Path(), "text/plain");
  message.Sender().SetAddress("me@example.com");
  message.SetSubject("Hi");
  message.SetCharSet(csISO8859);
  message.Headers().Add("X-A: \"1\"");
  message.Body().Add("line");
  message.Recipients().AddAddress("ann@example.com", "Ann");
  message.SetPriority(ptHigh);
  const std::string text = ComponentToText(message);
  EXPECT_EQ(text, "object pxMessage1: TpxMessage\n"
                  "  Attachments.Items = (\"" + file.Path() + "\" \"text/plain\" 1)\n"
                  "  ContentType = \"multipart/mixed\"\n"
                  "  Sender.Address = \"me@example.com\"\n"
                  "  Subject = \"Hi\"\n"
                  "  CharSet = csISO8859\n"
                  "  Headers = (\"X-A: \\\"1\\\"\")\n"
                  "  Body = (\"line\")\n"
                  "  Recipients.Items = (\"Ann\" \"ann@example.com\")\n"
                  "  ReturnReceipt = False\n"
                  "  Priority = ptHigh\n"
                  "end\n");

  TpxMessage loaded;
  ComponentFromText(text, loaded);
  EXPECT_EQ(ComponentToText(loaded), text);
  EXPECT_EQ(loaded.Attachments().Items(0).Stream().Data(), "file bytes") << "Loaded reads the files";

  TpxMessage defaults;
  EXPECT_EQ(ComponentToText(defaults), "object : TpxMessage\n  ContentType = \"text/plain\"\n  Subject = \"\"\n"
                                       "  Headers = ()\n  Body = ()\n  ReturnReceipt = False\nend\n");
}

TEST(MessageTest, LoadingFailsOnAMissingFileAndSkipsFilesAtDesignTime) {
  const std::string text = "object m: TpxMessage\n  Attachments.Items = (\"/nonexistent/x.pdf\" \"a/b\" 1)\nend\n";
  TpxMessage running;
  EXPECT_THROW(ComponentFromText(text, running), EFOpenError);
  TpxMessage designed;
  designed.SetDesigning(true);
  ComponentFromText(text, designed);
  EXPECT_EQ(designed.Attachments().Items(0).ContentType(), "a/b");

  TpxMessage wrong;
  EXPECT_THROW(ComponentFromText("object m: TpxMessage\n  Encoding = meXX\nend\n", wrong), EReadError);
  EXPECT_THROW(ComponentFromText("object m: TpxMessage\n  Body = \"not a list\"\nend\n", wrong), EReadError);
}

TEST(ArticleTest, StreamsItsNewsgroups) {
  TpxArticle article;
  article.SetNewsGroups("comp.misc");
  article.SetEncoding(meUU);
  const std::string text = ComponentToText(article);
  EXPECT_NE(text.find("  ContentType = \"\"\n  Encoding = meUU\n"), std::string::npos);
  EXPECT_TRUE(EndsStr("  NewsGroups = \"comp.misc\"\nend\n", text));
  TpxArticle loaded;
  ComponentFromText(text, loaded);
  EXPECT_EQ(loaded.NewsGroups(), "comp.misc");
  EXPECT_EQ(loaded.Encoding(), meUU);
}

TEST(MessageTest, TheBaseClassNeitherWritesNorReads) {
  TpxCustomMessage base;
  TMemoryStream stream;
  EXPECT_THROW(base.SaveToStream(stream), EAbstractError);
  EXPECT_THROW(base.LoadFromStream(stream), EAbstractError);
  EXPECT_THROW(base.ReadHeaders(base.Headers()), EAbstractError);
}

}  // namespace
