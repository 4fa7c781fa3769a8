#include "mail/pxmsg.h"

#include <gtest/gtest.h>

#include <cstdio>

#include "platform/tempfiles.h"
#include "toolkit/componentstream.h"
#include "toolkit/streams.h"
#include "toolkit/strtable.h"

namespace {

void Attach(TpxCustomMessage& message, const std::string& name, const std::string& data = "") {
  auto item = std::make_unique<TpxAttItem>();
  item->SetFileName(name);
  item->SetContentType("application/pdf");
  item->Stream().Data() = data;
  message.Attachments().Add(std::move(item));
}

std::string ValidateError(TpxCustomMessage& message) {
  try {
    message.Validate();
    return "";
  } catch (const EMessageError& e) {
    return e.Message();
  }
}

TEST(MessageTest, DerivedContentType) {
  const struct {
    const char* what;
    bool body;
    std::vector<std::string> files;
    const char* stored;
    TMsgEncoding encoding;
    const char* type;
  } cases[] = {
      {"a new message is plain text", false, {}, nullptr, meMIME, "text/plain"},
      {"body and one file, as the batch sends", true, {"a.pdf"}, nullptr, meMIME, "multipart/mixed"},
      {"no body, one file: the file's own type", false, {"report.pdf"}, nullptr, meMIME, "application/pdf"},
      {"no body, two files", false, {"a.pdf", "b.pdf"}, nullptr, meMIME, "multipart/mixed"},
      {"HTML body file in any case and folder", false, {"/x.y/_HtmBody.HTM"}, nullptr, meMIME, "text/html"},
      {"RTF body file", false, {"_rtfbody.rtf"}, nullptr, meMIME, "text/rtf"},
      {"HTML body file beside a body", true, {"_htmbody.htm"}, nullptr, meMIME, "multipart/mixed"},
      {"all files alternatives", false, {"d/_ALT.txt", "_alt.htm"}, nullptr, meMIME, "multipart/alternative"},
      {"one alternative among others", false, {"_alt.txt", "b.pdf"}, nullptr, meMIME, "multipart/mixed"},
      {"uuencode has none", false, {"a.pdf"}, nullptr, meUU, ""},
      {"a body keeps the stored type, lower-cased", true, {}, "Text/HTML", meMIME, "text/html"},
      {"a body with an emptied stored type", true, {}, "", meMIME, "text/plain"},
      {"files override the stored type", true, {"a.pdf"}, "text/html", meMIME, "multipart/mixed"},
  };
  for (const auto& c : cases) {
    TpxMessage message;
    if (c.body) message.Body().Add("x");
    for (const std::string& file : c.files) Attach(message, file);
    if (c.stored != nullptr) message.SetContentType(c.stored);
    message.SetEncoding(c.encoding);
    EXPECT_EQ(message.ContentType(), c.type) << c.what;
  }
  TpxMessage message;  // every read stores what it derived
  message.Body().Add("x");
  Attach(message, "a.pdf");
  message.ContentType();
  message.Attachments().Clear();
  EXPECT_EQ(message.ContentType(), "multipart/mixed");
}

TEST(MessageTest, ValidateNamesWhatIsMissing) {
  TpxMessage message;
  message.Recipients().AddAddress("r@x", "");
  EXPECT_EQ(ValidateError(message), LoadStr(sSenderRequired));
  message.Sender().SetAddress("s@x");
  message.Recipients().Items(0).SetAddress("");
  EXPECT_EQ(ValidateError(message), LoadStr(sRecipientRequired)) << "an entry without address does not count";
  message.BCC().AddAddress("b@x", "");
  EXPECT_EQ(ValidateError(message), "") << "a blind copy is enough";
  message.SetCharSet(csUTF8);
  for (const char* line : {"K\xc3\xb6ln", "caf\xe9"}) message.Body().Add(line);
  EXPECT_EQ(ValidateError(message), "The message text is to go as UTF-8, but its line 2 is not UTF-8");

  TpxArticle article;
  EXPECT_EQ(ValidateError(article), "The address of sender is required");
  article.Sender().SetAddress("s@x");
  EXPECT_EQ(ValidateError(article), "Newsgroup header is required");
  article.SetNewsGroups("comp.misc");
  EXPECT_EQ(ValidateError(article), "Subject header is required");
  article.SetSubject("S");
  EXPECT_EQ(ValidateError(article), "");
}

// Without SMTPUTF8 an address is ASCII: any other is refused before a server is asked, and the
// text shows it escaped. Display names may hold anything.
TEST(MessageTest, ValidateRefusesAddressesThatAreNotAscii) {
  const char* const kUmlaut = "j\xc3\xbcrgen@example.de";
  const struct {
    const char* what;
    void (*place)(TpxMessage&, const char*);
  } cases[] = {
      {"sender", [](TpxMessage& m, const char* a) { m.Sender().SetAddress(a); }},
      {"recipient", [](TpxMessage& m, const char* a) { m.Recipients().AddAddress(a, ""); }},
      {"copy", [](TpxMessage& m, const char* a) { m.CC().AddAddress(a, ""); }},
      {"blind copy", [](TpxMessage& m, const char* a) { m.BCC().AddAddress(a, ""); }},
  };
  for (const auto& c : cases) {
    TpxMessage message;
    message.Sender().SetAddress("s@x");
    message.Sender().SetName("J\xc3\xbcrgen");
    message.Recipients().AddAddress("r@x", "\xe6\x9c\x88");
    EXPECT_EQ(ValidateError(message), "") << c.what;
    c.place(message, kUmlaut);
    EXPECT_EQ(ValidateError(message), "The address j\xc3\xbcrgen@example.de holds characters other than ASCII")
        << c.what;
  }
  TpxArticle article;
  article.Sender().SetAddress("\xff@x");
  EXPECT_EQ(ValidateError(article), "The address \\xFF@x holds characters other than ASCII");
}

void Fill(TpxMessage& message) {
  message.Sender().SetAddress("s@x");
  message.Recipients().AddAddress("r@x", "R");
  message.CC().AddAddress("c@x", "");
  message.BCC().AddAddress("b@x", "");
  message.SetSubject("S");
  message.Body().Add("b");
  message.Headers().Add("X-A: 1");
  Attach(message, "a.pdf", "DATA");
  message.SetCharSet(csISO8859);
  message.SetPriority(ptHigh);
  message.SetReturnReceipt(true);
  message.SetTag(7);
}

TEST(MessageTest, ClearEmptiesAllButPriorityAndReceipt) {
  TpxMessage message;
  Fill(message);
  message.SetEncoding(meUU);
  message.Clear();
  TpxMessage fresh;
  fresh.SetPriority(ptHigh);
  fresh.SetReturnReceipt(true);
  fresh.SetTag(7);
  fresh.SetContentType("");
  EXPECT_EQ(ComponentToText(message), ComponentToText(fresh));
}

TEST(MessageTest, AssignMakesAnIndependentCopy) {
  TpxMessage source;
  Fill(source);
  TpxMessage copy;
  copy.Assign(source);
  const std::string text = ComponentToText(source);
  source.Clear();
  EXPECT_EQ(ComponentToText(copy), text);
  EXPECT_EQ(copy.Attachments().Items(0).Stream().Data(), "DATA");

  copy.Assign(copy);
  EXPECT_EQ(copy.Attachments().Count(), 1) << "assigned to itself it stays whole";
  TpxArticle article;
  article.SetSubject("From an article");
  copy.Assign(article);
  EXPECT_EQ(copy.Subject(), "From an article");
  EXPECT_EQ(copy.Recipients().Count(), 1) << "only what both have";
  EXPECT_THROW(copy.Assign(TpxMailAddress()), EAssignError);
}

TpxHeaders Headers(std::initializer_list<const char*> lines) {
  TpxHeaders headers;
  for (const char* line : lines) headers.Add(line);
  return headers;
}

TEST(MessageTest, ReadHeadersTakesAddressesSubjectAndFlags) {
  const TpxHeaders headers =
      Headers({"From: \"Doe, Jane\" <jane@x>", "To: a@x, \"B, b\" <b@x>", "Cc: c@x", "Bcc: hidden@x", "Subject: Hello",
               "X-Priority: 1", "Return-Receipt-To: <jane@x>"});
  TpxMessage message;
  message.Recipients().AddAddress("first@x", "");
  message.ReadHeaders(headers);
  EXPECT_EQ(message.Sender().Name() + "|" + message.Sender().Address(), "Doe, Jane|jane@x");
  ASSERT_EQ(message.Recipients().Count(), 3) << "appended after the entries there were";
  EXPECT_EQ(message.Recipients().Items(2).Name(), "B, b");
  EXPECT_EQ(message.CC().Items(0).Address(), "c@x");
  EXPECT_EQ(message.BCC().Count(), 0);
  EXPECT_EQ(message.Subject(), "Hello");
  EXPECT_EQ(message.Priority(), ptHigh);
  EXPECT_TRUE(message.ReturnReceipt());
  EXPECT_EQ(message.Headers(), headers);

  for (const auto& [value, priority] : {std::pair{"5", ptLow}, {"2", ptNormal}, {"1 (Highest)", ptNormal}}) {
    message.ReadHeaders(Headers({(std::string("X-Priority: ") + value).c_str()}));
    EXPECT_EQ(message.Priority(), priority) << value;
  }
  EXPECT_EQ(message.Subject(), "Hello") << "an absent subject leaves it";
  EXPECT_TRUE(message.ReturnReceipt()) << "an absent receipt request leaves it";

  TpxMessage partial;
  EXPECT_THROW(partial.ReadHeaders(Headers({"From: ok@x", "To: <broken"})), Exception);
  EXPECT_EQ(partial.Sender().Address(), "ok@x");
}

TEST(ArticleTest, ReadHeadersAssignAndClear) {
  const TpxHeaders headers = Headers({"From: poster@x (A Poster)", "Path: news!not-for-mail", "Newsgroups: comp.misc",
                                      "Message-ID: <1@x>", "Subject: Q"});
  TpxArticle article;
  article.ReadHeaders(headers);
  EXPECT_EQ(article.Sender().Name(), "A Poster");
  EXPECT_EQ(article.Path() + "|" + article.NewsGroups() + "|" + article.MessageId() + "|" + article.Subject(),
            "news!not-for-mail|comp.misc|<1@x>|Q");
  EXPECT_EQ(article.Headers(), headers);
  TpxArticle copy;
  copy.Assign(article);
  EXPECT_EQ(copy.NewsGroups() + "|" + copy.MessageId(), "comp.misc|");
  article.Clear();
  EXPECT_EQ(article.NewsGroups() + "|" + article.MessageId(), "|<1@x>");
}

TEST(MessageTest, SettingAttachmentsCopiesDataOnlyAtRunTime) {
  TpxMessage source;
  Attach(source, "a.txt", "DATA");
  source.Attachments().Items(0).SetTransferEncoding(kEncodingBase64);
  TpxMessage running, designed;
  designed.SetDesigning(true);
  running.SetAttachments(source.Attachments());
  designed.SetAttachments(source.Attachments());
  EXPECT_EQ(running.Attachments().Items(0).Stream().Data(), "DATA");
  const TpxAttItem& named = designed.Attachments().Items(0);
  EXPECT_EQ(named.FileName() + "|" + named.ContentType() + "|" + named.Stream().Data(), "a.txt|application/pdf|");
  EXPECT_EQ(named.TransferEncoding(), kEncodingBase64);

  running.Body().Add("x");
  running.SetAttachments(TpxAttList());
  EXPECT_EQ(running.ContentType(), "text/plain");
}

TEST(MessageTest, StreamsPublishedPropertiesInOrderAndLoadsFilesAfterwards) {
  const std::string path = GetTempFileName(GetTempPath(), "pxmsg");
  TMemoryStream(std::string("file bytes")).SaveToFile(path);
  TpxMessage message;
  message.SetName("pxMessage1");
  Attach(message, path);
  message.Sender().SetAddress("me@x");
  message.SetCharSet(csISO8859);
  message.Headers().Add("X-A: \"1\"");
  message.Recipients().AddAddress("ann@x", "Ann");
  message.SetPriority(ptHigh);
  const std::string text = ComponentToText(message);
  EXPECT_EQ(text, "object pxMessage1: TpxMessage\n  Attachments.Items = (\"" + path +
                      "\" \"application/pdf\" 1)\n  ContentType = \"application/pdf\"\n  Sender.Address = \"me@x\"\n"
                      "  Subject = \"\"\n  CharSet = csISO8859\n  Headers = (\"X-A: \\\"1\\\"\")\n  Body = ()\n"
                      "  Recipients.Items = (\"Ann\" \"ann@x\")\n  ReturnReceipt = False\n  Priority = ptHigh\nend\n");
  TpxMessage loaded;
  ComponentFromText(text, loaded);
  EXPECT_EQ(ComponentToText(loaded), text);
  EXPECT_EQ(loaded.Attachments().Items(0).Stream().Data(), "file bytes") << "Loaded reads the files";
  std::remove(path.c_str());

  EXPECT_THROW(ComponentFromText(text, loaded), EFOpenError) << "a file that is gone";
  TpxMessage designed;
  designed.SetDesigning(true);
  ComponentFromText(text, designed);
  EXPECT_EQ(designed.Attachments().Items(0).Stream().Data(), "") << "no files at design time";
  EXPECT_THROW(ComponentFromText("object m: TpxMessage\n  Encoding = meXX\nend\n", designed), EReadError);
  EXPECT_THROW(ComponentFromText("object m: TpxMessage\n  Body = \"no list\"\nend\n", designed), EReadError);

  TpxArticle article;
  article.SetNewsGroups("comp.misc");
  article.SetEncoding(meUU);
  TpxArticle article2;
  ComponentFromText(ComponentToText(article), article2);
  EXPECT_EQ(ComponentToText(article2), ComponentToText(article));
  EXPECT_NE(ComponentToText(article).find("  Encoding = meUU\n"), std::string::npos);
}

TEST(MessageTest, TheBaseClassNeitherWritesNorReads) {
  TpxCustomMessage base;
  TMemoryStream stream;
  EXPECT_THROW(base.SaveToStream(stream), EAbstractError);
  EXPECT_THROW(base.LoadFromStream(stream), EAbstractError);
  EXPECT_THROW(base.ReadHeaders(base.Headers()), EAbstractError);
}

}  // namespace
