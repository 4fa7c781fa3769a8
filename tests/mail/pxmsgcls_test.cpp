#include "mail/pxmsgcls.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "platform/contenttypes.h"
#include "support/files.h"
#include "toolkit/componentstream.h"
#include "toolkit/exceptions.h"

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

// "address|name" as ParseAddress leaves them, or its error and the address it kept.
std::string Parsed(const std::string& text) {
  TpxMailAddress address;
  address.SetName("old");
  address.SetAddress("kept@example.com");
  try {
    ParseAddress(text, address);
  } catch (const Exception& e) {
    return std::string(e.what()) + ", kept " + address.Address();
  }
  return address.Address() + "|" + address.Name();
}

std::string TypeOf(const TpxAttItem& item) {
  return item.ContentType() + " as " + TransferEncodingNames[item.TransferEncoding()];
}

struct TypeCase {
  const char* name;
  const char* type;
};

}  // namespace

TEST(ParseAddress, SplitsNameAndMailbox) {
  const std::string kUnclosed = "Unable to parse email address, kept kept@example.com";
  const std::string a300(300, 'a'), n300(300, 'n');
  const struct {
    const char* what;
    std::string text, parsed;
  } cases[] = {
      {"quoted name keeps its comma", "\"Doe, Jane\" <jane@example.com>", "jane@example.com|Doe, Jane"},
      {"a quoted name loses the backslashes of its quoted pairs", "\"Say \\\"hi\\\" \\\\o/\" <a@example.com>",
       "a@example.com|Say \"hi\" \\o/"},
      {"angle brackets in the name are not the address", "\"x <evil@example.com>\" <jane@example.com>",
       "jane@example.com|x <evil@example.com>"},
      {"name after the brackets", "<jane@example.com> Jane", "jane@example.com|Jane"},
      {"blanks inside brackets trimmed", "Jane < jane@example.com >", "jane@example.com|Jane"},
      {"comment is the name", "jane@example.com (Jane Doe)", "jane@example.com|Jane Doe"},
      {"unclosed comment keeps its last letter", "jane@example.com (Jane Doe", "jane@example.com|Jane Doe"},
      {"blank after comment", "jane@example.com (Jane) ", "jane@example.com|Jane"},
      {"bare mailbox kept as it is", " jane@example.com", " jane@example.com|"},
      {"empty text", "", "|"},
      {"long values cut", n300 + " <" + a300 + ">", a300.substr(0, 255) + "|" + n300.substr(0, 255)},
      {"unclosed bracket fails", "Jane <jane@example.com", kUnclosed},
      {"a bracket closed before it opens fails", "Jane > x <jane@example.com", kUnclosed},
  };
  for (const auto& c : cases) EXPECT_EQ(Parsed(c.text), c.parsed) << c.what;
}

TEST(StripQuotes, RemovesOuterQuotesAndBlanks) {
  EXPECT_EQ(StripQuotes("\"\"\""), "");
  EXPECT_EQ(StripQuotes("  \"\"Jane\"  "), "Jane");
  EXPECT_EQ(StripQuotes("\" Jane \""), " Jane ");  // blanks inside the quotes stay
  EXPECT_EQ(StripQuotes("Ja\"ne"), "Ja\"ne");
}

namespace {
// An editor that answers as told and records what it was shown.
class ScriptedEditor : public TAddressEditService {
 public:
  bool Edit(TpxMailAddress& address) override {
    shown = address.Address();
    if (ok) address.SetAddress("edited@example.com");
    return ok;
  }
  bool ok = false;
  std::string shown;
};
}  // namespace

TEST(TpxMailAddress, EditGoesThroughTheInstalledEditorOnly) {
  TpxMailAddress address;
  address.SetAddress("old@example.com");
  EXPECT_FALSE(address.Edit()) << "no editor installed";
  EXPECT_EQ(address.Address(), "old@example.com");

  ScriptedEditor editor;
  TAddressEditService* const previous = SetAddressEditService(&editor);
  EXPECT_FALSE(address.Edit());
  EXPECT_EQ(editor.shown, "old@example.com");
  EXPECT_EQ(address.Address(), "old@example.com");
  editor.ok = true;
  EXPECT_TRUE(address.Edit());
  EXPECT_EQ(address.Address(), "edited@example.com");
  EXPECT_EQ(SetAddressEditService(previous), &editor);
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
  EXPECT_EQ(text,
            "object : TListHolder\n"
            "  Recipients.Items = (\"Doe, \\\"Jane\\\"\" \"a@example.com\" \"\" \"b@example.com\")\n"
            "  Attachments.Items = (\"" +
                path + "\" \"application/x-custom\" 2)\nend\n");  // never the data

  ListHolder target;
  target.recipients.AddAddress("old@example.com", "Old");
  target.attachments.AddFile(path);
  target.attachments.AddFile(path);
  ComponentFromText(text, target);
  // The lists are replaced whole; the stored type wins over the one the name suggests.
  EXPECT_EQ(ComponentToText(target), text);
  ASSERT_EQ(target.attachments.Count(), 1);
  EXPECT_EQ(target.attachments.Items(0).Stream().Data(), "");
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
    EXPECT_THROW(ComponentFromText(std::string("object x: TListHolder\n  ") + line + "\nend\n", target), EReadError)
        << line;
    EXPECT_EQ(target.recipients.Count(), 1) << line;
    EXPECT_EQ(target.attachments.Items(0).ContentType(), "kept/type") << line;
  }
}

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
  const std::string bytes("a\0b\r\n", 5);
  const TypeCase cases[] = {
      {"notes.txt", "text/plain as Quoted-Printable"},
      {"NOTES.TXT", "text/plain as Quoted-Printable"},
      {"page.htm", "text/html as Quoted-Printable"},
      {"mail.eml", "message/rfc822 as 7bit"},
      {"data.unknown-ext", "application/octet-stream as Base64"},
      {"noextension", "application/octet-stream as Base64"},
  };
  for (const TypeCase& c : cases) {
    TpxAttList list;
    const std::string path = File(c.name, bytes);
    list.AddFile(path);
    ASSERT_EQ(list.Count(), 1);
    EXPECT_EQ(list.Items(0).FileName(), path);
    EXPECT_EQ(TypeOf(list.Items(0)), c.type);
    EXPECT_EQ(list.Items(0).Stream().Data(), bytes) << c.name;
  }
}

TEST_F(Attachments, TypeTableDecidesTheEncoding) {
  SetMimeTypesFile(File("mime.types", "text/xml xml\ntext/plain;charset=x cfg\nTEXT/HTML htx\ntext/rtf rtf\n"));
  const TypeCase cases[] = {
      {"a.xml", "text/xml as Base64"},
      {"a.cfg", "text/plain;charset=x as Base64"},  // parameters make it no plain text type
      {"a.htx", "TEXT/HTML as Quoted-Printable"},
      {"a.rtf", "text/rtf as Quoted-Printable"},
      {"/dir.xml/file", "application/octet-stream as Base64"},
      {"a.xml.", "application/octet-stream as Base64"},
  };
  for (const TypeCase& c : cases) {
    TpxAttItem item;
    item.SetFileName(c.name);
    EXPECT_EQ(TypeOf(item), c.type) << c.name;
  }
  EXPECT_EQ(ContentTypeOfFile("dir/A.XML"), "text/xml");
}

TEST_F(Attachments, SetFileNameKeepsTypeForEmptyNameAndCutsLongNames) {
  TpxAttItem item;
  item.SetFileName("a.txt");
  item.SetFileName("");
  EXPECT_EQ(item.FileName(), "");
  EXPECT_EQ(TypeOf(item), "text/plain as Quoted-Printable");
  // A name of 255 bytes stays whole behind its folders; only a path beyond PATH_MAX is cut.
  item.SetFileName(std::string(300, 'x') + "/" + std::string(251, 'y') + ".eml");
  EXPECT_EQ(item.FileName().size(), 556u);
  item.SetFileName(std::string(5000, 'x') + ".eml");
  EXPECT_EQ(item.FileName().size(), kMaxPathBytes);
  EXPECT_THROW(item.SetTransferEncoding(3), EConvertError);
  EXPECT_THROW(item.SetTransferEncoding(-1), EConvertError);
  EXPECT_EQ(TypeOf(item), "message/rfc822 as 7bit");
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
  EXPECT_EQ(TypeOf(copy.Items(1)), "custom/type as Quoted-Printable");
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
      {"Latin-1 encoded word decoded into UTF-8", Lines({"Subject: =?ISO-8859-1?Q?Andr=E9?="}), "Subject",
       "Andr\xC3\xA9"},
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
      {"continuation and second header", Lines({"To: a@x.org,", "  b@x.org", "Subject: s", "to: c@x.org"}),
       V{"a@x.org", "b@x.org", "c@x.org"}},
      {"folded quoted name", Lines({"To: \"Doe,", "\t Jane\" <j@x.org>, b@x.org"}),
       V{"\"Doe, Jane\" <j@x.org>", "b@x.org"}},
      {"Topic is not To", Lines({"Topic: t@x.org", "TO : a@x.org"}), V{"a@x.org"}},
      {"folded line of another header", Lines({"Subject: s", "\tTo: t@x.org"}), V{}},
      {"empty piece kept, trailing comma not", Lines({"To: a@x.org,,b@x.org,"}), V{"a@x.org", "", "b@x.org"}},
      {"byte 255 comes back as a comma",
       Lines({"To: a@x.org\xFF"
              "b@x.org"}),
       V{"a@x.org,b@x.org"}},
      {"escaped quote inside name", Lines({"To: \"a\\\", b\" <a@x.org>"}), V{"\"a\\\", b\" <a@x.org>"}},
      {"Latin-1 encoded word decoded into UTF-8", Lines({"To: =?ISO-8859-1?Q?Andr=E9?= <a@x.org>"}),
       V{"Andr\xC3\xA9 <a@x.org>"}},
  };
  for (const Case& c : cases) {
    TStringList items;
    items.Add("stale");
    GetHeaderAddresses(c.headers, "To", items);
    EXPECT_EQ(items.Lines(), c.items) << c.what;
  }
}

TEST(RemoveHeader, RemovesFirstHeaderWithItsContinuation) {
  TpxHeaders headers = Lines({"From: a", "X-Priority: 1", "\tmore", " more", "To: b", "x-priority: 3"});
  RemoveHeader(headers, "X-Priority");
  EXPECT_EQ(headers.Lines(), (std::vector<std::string>{"From: a", "To: b", "x-priority: 3"}));
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
