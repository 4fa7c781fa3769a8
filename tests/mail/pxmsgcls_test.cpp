#include "mail/pxmsgcls.h"

#include <QTemporaryDir>

#include <fstream>

#include <gtest/gtest.h>

#include "platform/contenttypes.h"
#include "toolkit/componentstream.h"
#include "toolkit/exceptions.h"
#include "support/files.h"

namespace {

// A component that publishes one list of each kind, as a message does.
class ListHolder : public TComponent {
 public:
  const char* ClassName() const override { return "TListHolder"; }
  void WriteProperties(TPropertyWriter& writer) const override {
    TComponent::WriteProperties(writer);
    writer.Object("Recipients", recipients);
    writer.Object("Attachments", attachments);
  }
  TPersistent* SubObject(const std::string& name) override {
    if (name == "Recipients") return &recipients;
    if (name == "Attachments") return &attachments;
    return nullptr;
  }
  TpxAddressList recipients;
  TpxAttList attachments;
};

TpxHeaders Lines(std::initializer_list<const char*> lines) {
  TpxHeaders headers;
  for (const char* line : lines) headers.Add(line);
  return headers;
}

std::vector<std::string> Items(const TStringList& list) { return list.Lines(); }

}  // namespace

TEST(ParseAddress, SplitsNameAndMailbox) {
  struct Case {
    const char* what;
    std::string text, address, name;
  };
  const Case cases[] = {
      {"quoted name keeps its comma", "\"Doe, Jane\" <jane@example.com>", "jane@example.com", "Doe, Jane"},
      {"name after the brackets", "<jane@example.com> Jane", "jane@example.com", "Jane"},
      {"blanks inside brackets trimmed", "Jane < jane@example.com >", "jane@example.com", "Jane"},
      {"comment is the name", "jane@example.com (Jane Doe)", "jane@example.com", "Jane Doe"},
      {"unclosed comment keeps its last letter", "jane@example.com (Jane Doe", "jane@example.com", "Jane Doe"},
      {"blank after comment", "jane@example.com (Jane) ", "jane@example.com", "Jane"},
      {"bare mailbox kept as it is", " jane@example.com", " jane@example.com", ""},
      {"empty text", "", "", ""},
      {"long values cut", std::string(300, 'n') + " <" + std::string(300, 'a') + ">", std::string(255, 'a'),
       std::string(255, 'n')},
  };
  for (const Case& c : cases) {
    TpxMailAddress address;
    address.SetName("old");
    ParseAddress(c.text, address);
    EXPECT_EQ(address.Address(), c.address) << c.what;
    EXPECT_EQ(address.Name(), c.name) << c.what;
  }
}

TEST(ParseAddress, UnclosedBracketFailsAndLeavesAddress) {
  for (const char* text : {"Jane <jane@example.com", "Jane > x <jane@example.com"}) {
    TpxMailAddress address;
    address.SetAddress("kept@example.com");
    try {
      ParseAddress(text, address);
      ADD_FAILURE() << text;
    } catch (const Exception& e) {
      EXPECT_STREQ(e.what(), "Unable to parse email address");
    }
    EXPECT_EQ(address.Address(), "kept@example.com") << text;
  }
}

TEST(StripQuotes, RemovesOuterQuotesAndBlanks) {
  EXPECT_EQ(StripQuotes("\"\"\""), "");
  EXPECT_EQ(StripQuotes("  \"\"Jane\"  "), "Jane");
  EXPECT_EQ(StripQuotes("\" Jane \""), " Jane ");  // blanks inside the quotes stay
  EXPECT_EQ(StripQuotes("Ja\"ne"), "Ja\"ne");
}

TEST(TpxAddressList, AssignMakesIndependentCopies) {
  TpxAddressList source, copy;
  source.AddAddress("a@example.com", "A");
  auto b = std::make_unique<TpxMailAddress>();
  b->SetAddress("b@example.com");
  EXPECT_EQ(source.Add(std::move(b)), 1);
  copy.AddAddress("old@example.com", "");
  copy.Assign(source);
  source.Items(0).SetName("changed");
  source.Clear();
  ASSERT_EQ(copy.Count(), 2);
  EXPECT_EQ(copy.Items(0).Name(), "A");
  EXPECT_EQ(copy.Items(1).Address(), "b@example.com");
  EXPECT_THROW(copy.Items(2), EListError);
  EXPECT_THROW(copy.Items(-1), EListError);

  copy.Assign(copy);
  EXPECT_EQ(copy.Count(), 2);
  TpxAttList other;
  EXPECT_THROW(copy.Assign(other), EAssignError);
  EXPECT_THROW(copy.Items(0).Assign(other), EAssignError);
}

TEST(ItemsStreaming, RoundTripsBothLists) {
  QTemporaryDir dir;
  const std::string path = dir.filePath("report.pdf").toStdString();
  WriteFile(path, "%PDF");
  ListHolder source;
  source.recipients.AddAddress("a@example.com", "Doe, \"Jane\"");
  source.recipients.AddAddress("b@example.com", "");
  source.attachments.AddFile(path);
  source.attachments.Items(0).SetContentType("application/x-custom");
  source.attachments.Items(0).SetTransferEncoding(2);
  const std::string text = ComponentToText(source);
  EXPECT_EQ(text.find("%PDF"), std::string::npos) << "attachment data is never streamed";

  ListHolder target;
  target.recipients.AddAddress("old@example.com", "Old");
  target.attachments.AddFile(path);
  target.attachments.AddFile(path);
  ComponentFromText(text, target);
  ASSERT_EQ(target.recipients.Count(), 2);
  EXPECT_EQ(target.recipients.Items(0).Name(), "Doe, \"Jane\"");
  EXPECT_EQ(target.recipients.Items(0).Address(), "a@example.com");
  EXPECT_EQ(target.recipients.Items(1).Address(), "b@example.com");
  ASSERT_EQ(target.attachments.Count(), 1);
  const TpxAttItem& item = target.attachments.Items(0);
  EXPECT_EQ(item.FileName(), path);
  EXPECT_EQ(item.ContentType(), "application/x-custom");  // the stored type wins
  EXPECT_EQ(item.TransferEncoding(), 2);
  EXPECT_EQ(item.Stream().Data(), "");
}

TEST(ItemsStreaming, EmptyListsAreNotWritten) {
  ListHolder empty;
  EXPECT_EQ(ComponentToText(empty).find("Items"), std::string::npos);
}

TEST(ItemsStreaming, MalformedItemsFailAndKeepTheList) {
  const char* bad[] = {
      "Recipients.Items = (\"Ann\")",
      "Recipients.Items = (\"Ann\" 5)",
      "Recipients.Items = \"Ann\"",
      "Attachments.Items = (\"a.txt\" \"text/plain\" 3)",
      "Attachments.Items = (\"a.txt\" \"text/plain\")",
  };
  for (const char* line : bad) {
    ListHolder target;
    target.recipients.AddAddress("kept@example.com", "");
    auto item = std::make_unique<TpxAttItem>();
    item->SetContentType("kept/type");
    target.attachments.Add(std::move(item));
    EXPECT_THROW(ComponentFromText(std::string("object x: TListHolder\n  ") + line + "\nend\n", target),
                 EReadError)
        << line;
    EXPECT_EQ(target.recipients.Count(), 1) << line;
    EXPECT_EQ(target.attachments.Items(0).ContentType(), "kept/type") << line;
  }
}

struct TypeCase {
  const char* name;
  const char* type;
  int code;
};

class Attachments : public ::testing::Test {
 protected:
  void TearDown() override { SetMimeTypesFile(""); }
  std::string File(const char* name, const std::string& data = "data") {
    const std::string path = dir_.filePath(QString::fromUtf8(name)).toStdString();
    WriteFile(path, data);
    return path;
  }
  QTemporaryDir dir_;
};

TEST_F(Attachments, SystemTypesAndEncodings) {
  const TypeCase cases[] = {
      {"notes.txt", "text/plain", 2},
      {"NOTES.TXT", "text/plain", 2},
      {"page.htm", "text/html", 2},
      {"mail.eml", "message/rfc822", 0},
      {"data.unknown-ext", "application/octet-stream", 1},
      {"noextension", "application/octet-stream", 1},
  };
  for (const TypeCase& c : cases) {
    TpxAttList list;
    const std::string path = File(c.name, std::string("a\0b\r\n", 5));
    list.AddFile(path);
    ASSERT_EQ(list.Count(), 1);
    const TpxAttItem& item = list.Items(0);
    EXPECT_EQ(item.FileName(), path) << c.name;
    EXPECT_EQ(item.ContentType(), c.type) << c.name;
    EXPECT_EQ(item.TransferEncoding(), c.code) << c.name;
    EXPECT_EQ(item.Stream().Data(), std::string("a\0b\r\n", 5)) << c.name;
  }
}

TEST_F(Attachments, TypeTableDecidesTheEncoding) {
  SetMimeTypesFile(File("mime.types",
                        "text/xml xml\n"
                        "text/plain;charset=x cfg\n"
                        "TEXT/HTML htx\n"
                        "text/rtf rtf\n"));
  const TypeCase cases[] = {
      {"a.xml", "text/xml", 1},
      {"a.cfg", "text/plain;charset=x", 1},  // parameters make it no plain text type
      {"a.htx", "TEXT/HTML", 2},
      {"a.rtf", "text/rtf", 2},
      {"/dir.xml/file", "application/octet-stream", 1},
      {"a.xml.", "application/octet-stream", 1},
  };
  for (const TypeCase& c : cases) {
    TpxAttItem item;
    item.SetFileName(c.name);
    EXPECT_EQ(item.ContentType(), c.type) << c.name;
    EXPECT_EQ(item.TransferEncoding(), c.code) << c.name;
  }
  EXPECT_EQ(ContentTypeOfFile("dir/A.XML"), "text/xml");
}

TEST_F(Attachments, SetFileNameKeepsTypeForEmptyNameAndCutsLongNames) {
  TpxAttItem item;
  item.SetFileName("a.txt");
  item.SetFileName("");
  EXPECT_EQ(item.FileName(), "");
  EXPECT_EQ(item.ContentType(), "text/plain");
  EXPECT_EQ(item.TransferEncoding(), 2);
  item.SetFileName(std::string(300, 'x') + ".eml");
  EXPECT_EQ(item.FileName().size(), 255u);
  EXPECT_EQ(item.ContentType(), "message/rfc822");
  EXPECT_THROW(item.SetTransferEncoding(3), EConvertError);
  EXPECT_THROW(item.SetTransferEncoding(-1), EConvertError);
  EXPECT_EQ(item.TransferEncoding(), 0);
}

TEST_F(Attachments, UnreadableFileRaisesNamingItAndLeavesList) {
  TpxAttList list;
  list.AddFile(File("first.txt"));
  const std::string missing = dir_.filePath("missing.txt").toStdString();
  for (const std::string& path : {missing, dir_.path().toStdString()}) {
    try {
      list.AddFile(path);
      ADD_FAILURE() << path;
    } catch (const EStreamError& e) {
      EXPECT_NE(e.Message().find(path), std::string::npos) << e.Message();
    }
    EXPECT_EQ(list.Count(), 1);
  }
}

TEST_F(Attachments, AssignCopiesTheData) {
  TpxAttList source, copy;
  source.AddFile(File("a.bin", "first"));
  source.AddFile(File("b.txt", "second"));
  source.Items(1).SetContentType("custom/type");
  copy.Assign(source);
  source.Items(0).Stream().Data() = "changed";
  source.Clear();
  ASSERT_EQ(copy.Count(), 2);
  EXPECT_EQ(copy.Items(0).Stream().Data(), "first");
  EXPECT_EQ(copy.Items(1).Stream().Data(), "second");
  EXPECT_EQ(copy.Items(1).ContentType(), "custom/type");
  EXPECT_EQ(copy.Items(1).TransferEncoding(), 2);
  EXPECT_THROW(copy.Items(2), EListError);
  copy.Assign(copy);
  EXPECT_EQ(copy.Count(), 2);
}

TEST(GetHeaderValue, FindsUnfoldsAndDecodes) {
  const std::string long300(300, 'x');
  struct Case {
    const char* what;
    TpxHeaders headers;
    std::string name, value;
  };
  const Case cases[] = {
      {"blank after colon dropped", Lines({"Subject: Hello"}), "Subject", "Hello"},
      {"no blank: nothing lost", Lines({"Subject:Hello"}), "Subject", "Hello"},
      {"tab after colon dropped", Lines({"Subject:\tHello"}), "Subject", "Hello"},
      {"name with colon, any case", Lines({"SUBJECT: Hello"}), "subject:", "Hello"},
      {"folded line joined by one blank", Lines({"Subject: a", "\tb", "  c ", "X: y"}), "Subject", "a b c"},
      {"first of two", Lines({"From: one", "From: two"}), "From", "one"},
      {"absent", Lines({"From: one"}), "To", ""},
      {"prefix of another name", Lines({"Subject-Extra: no"}), "Subject", ""},
      {"encoded word decoded", Lines({"Subject: =?ISO-8859-1?Q?Andr=E9?="}), "Subject", "Andr\xE9"},
      {"X-UIDL not decoded", Lines({"X-UIDL: =?us-ascii?Q?a?="}), "X-UIDL", "=?us-ascii?Q?a?="},
      {"long subject cut", Lines({("Subject: " + long300).c_str()}), "Subject", long300.substr(0, 255)},
      {"long content type whole", Lines({("Content-Type: " + long300).c_str()}), "Content-Type", long300},
  };
  for (const Case& c : cases) EXPECT_EQ(GetHeaderValue(c.headers, c.name), c.value) << c.what;
}

TEST(GetHeaderAddresses, CollectsItemsOfWholeNamedHeaders) {
  using V = std::vector<std::string>;
  struct Case {
    const char* what;
    TpxHeaders headers;
    V items;
  };
  const Case cases[] = {
      {"quoted comma stays", Lines({"To: \"Doe, Jane\" <j@x.org>, b@x.org"}), V{"\"Doe, Jane\" <j@x.org>", "b@x.org"}},
      {"no blank after colon", Lines({"To:a@x.org"}), V{"a@x.org"}},
      {"continuation and second header",
       Lines({"To: a@x.org,", "  b@x.org", "Subject: s", "to: c@x.org"}), V{"a@x.org", "b@x.org", "c@x.org"}},
      {"folded quoted name", Lines({"To: \"Doe,", "\t Jane\" <j@x.org>, b@x.org"}),
       V{"\"Doe, Jane\" <j@x.org>", "b@x.org"}},
      {"Topic is not To", Lines({"Topic: t@x.org", "TO : a@x.org"}), V{"a@x.org"}},
      {"folded line of another header", Lines({"Subject: s", "\tTo: t@x.org"}), V{}},
      {"empty piece kept, trailing comma not", Lines({"To: a@x.org,,b@x.org,"}), V{"a@x.org", "", "b@x.org"}},
      {"byte 255 comes back as a comma", Lines({"To: a@x.org\xFF" "b@x.org"}), V{"a@x.org,b@x.org"}},
      {"escaped quote inside name", Lines({"To: \"a\\\", b\" <a@x.org>"}), V{"\"a\\\", b\" <a@x.org>"}},
      {"encoded word decoded", Lines({"To: =?ISO-8859-1?Q?Andr=E9?= <a@x.org>"}), V{"Andr\xE9 <a@x.org>"}},
  };
  for (const Case& c : cases) {
    TStringList items;
    items.Add("stale");
    GetHeaderAddresses(c.headers, "To", items);
    EXPECT_EQ(Items(items), c.items) << c.what;
  }
}

TEST(RemoveHeader, RemovesFirstHeaderWithItsContinuation) {
  TpxHeaders headers = Lines({"From: a", "X-Priority: 1", "\tmore", " more", "To: b", "x-priority: 3"});
  RemoveHeader(headers, "X-Priority");
  EXPECT_EQ(Items(headers), (std::vector<std::string>{"From: a", "To: b", "x-priority: 3"}));
  RemoveHeader(headers, "Absent");
  EXPECT_EQ(headers.Count(), 3);
}

TEST(GetHeaderParam, FindsWholeParameterNames) {
  struct Case {
    const char* what;
    const char* name;
    const char* value;
    const char* result;
  };
  const Case cases[] = {
      {"quoted", "boundary", "multipart/mixed; boundary=\"abc\"", "abc"},
      {"token before another", "boundary", "multipart/mixed; boundary=abc; charset=x", "abc"},
      {"absent", "boundary", "text/plain; charset=x", ""},
      {"not inside filename", "name", "attachment; filename=\"a.txt\"", ""},
      {"after filename", "name", "attachment; filename=\"a.txt\"; name=b.txt", "b.txt"},
      {"at the start", "charset", "charset=us-ascii", "us-ascii"},
      {"any case, blanks around", "NAME", "x;  Name = \"b c\" ;", "b c"},
      {"escapes in quotes", "filename", "a; filename=\"say \\\"hi\\\" \\\\ me\"", "say \"hi\" \\ me"},
      {"other backslashes kept", "filename", "a; filename=\"C:\\dir\\a.txt\"", "C:\\dir\\a.txt"},
      {"semicolon inside quotes", "name", "a; x=\"p; name=q\"; name=r", "r"},
      {"unterminated quote", "name", "a; name=\"b c", "b c"},
  };
  for (const Case& c : cases) EXPECT_EQ(GetHeaderParam(c.name, c.value), c.result) << c.what;
}

TEST(FirstToken, TakesTheType) {
  EXPECT_EQ(FirstToken("text/plain; charset=us-ascii"), "text/plain");
  EXPECT_EQ(FirstToken("text/plain;charset=x"), "text/plain");
  EXPECT_EQ(FirstToken(" text/html x"), "text/html");
  EXPECT_EQ(FirstToken(std::string(400, 'a')), std::string(400, 'a'));
  EXPECT_EQ(FirstToken(""), "");
}

TEST(SaveLinesToFile, WritesCrLfLinesAndRaisesInOutError) {
  QTemporaryDir dir;
  const std::string path = dir.filePath("log.txt").toStdString();
  WriteFile(path, "old contents that are longer");
  SaveLinesToFile(Lines({"one", "", "three"}), path);
  TMemoryStream written;
  written.LoadFromFile(path);
  EXPECT_EQ(written.Data(), "one\r\n\r\nthree\r\n");
  EXPECT_THROW(SaveLinesToFile(Lines({"x"}), dir.filePath("no/such/dir").toStdString()), EInOutError);
}
