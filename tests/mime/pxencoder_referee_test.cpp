// Python's email package (default policy) reads what the composer writes: no defects, the
// text part reads back as the body lines, and every attachment decodes to its very bytes.
#include <gtest/gtest.h>

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include <cstdio>
#include <optional>
#include <random>

#include "mail/pxmsg.h"
#include "mime/pxencoder.h"
#include "platform/tempfiles.h"
#include "support/python_referee.h"
#include "toolkit/streams.h"

namespace {

struct Datum {
  const char* what;
  std::string bytes;
};

const std::vector<Datum>& TrickyData() {
  static const std::vector<Datum> data = [] {
    std::mt19937 random(1);
    std::string bytes(115, '\0'), every, words;
    for (char& c : bytes) c = static_cast<char>(random() & 0xff);
    for (int i = 0; i < 256; ++i) every += static_cast<char>(i);
    while (words.size() < 20000) words += "word= ";
    return std::vector<Datum>{
        {"lone CR", "a\rb\r"},
        {"lone LF", "one\ntwo\n"},
        {"LF LF", "a\n\nb"},
        {"trailing blanks", "a  \r\nb\t\r\nc "},
        {"dot lines", ".\r\n..\r\n.profile\r\n."},
        {"no final line end", "last line"},
        {"CR LF at the end", "x\r\n"},
        {"empty", ""},
        {"57 bytes", bytes.substr(0, 57)},
        {"58 bytes", bytes.substr(57)},
        {"every byte", every},
        {"a 20000-byte line", words.substr(0, 20000)},
    };
  }();
  return data;
}

// Blanks, quotes, backslashes and UTF-8 letters: the bytes stand in the quoted value as they
// are (quotes and backslashes escaped, RFC 5322 3.2.4) and must come back whole.
const char* const kNames[] = {"with blanks.txt", "quo\"ted.txt", "back\\slash.bin",
                              "r\xc3\xa9sum\xc3\xa9 \xe6\x97\xa5.txt"};
constexpr int kNameCount = 4;

// Every datum goes as 7bit text (Base64 when it would not arrive exactly so), as quoted-printable
// text and as Base64 data.
const struct {
  const char* what;
  const char* type;
  int encoding;
} kKinds[] = {{"7bit", "text/plain", kEncoding7Bit},
              {"quoted-printable", "text/plain", kEncodingQuotedPrintable},
              {"Base64", "application/octet-stream", kEncodingBase64}};

struct Part {
  std::string type;
  std::optional<std::string> name;  // none: the part carries no file name
  std::string data;
  bool text = false;  // the body: its text must also read back line by line
};

struct Case {
  std::string what;
  std::string type;
  std::unique_ptr<TpxMessage> message = std::make_unique<TpxMessage>();
  std::vector<Part> parts;  // the leaf parts of a MIME body, or the uuencoded files of one without
};

void Attach(Case& c, const std::string& name, const std::string& type, int encoding, const std::string& data,
            bool bare = false) {
  auto item = std::make_unique<TpxAttItem>();
  item->SetFileName("/some/folder/" + name);
  item->SetContentType(type);
  item->SetTransferEncoding(encoding);
  item->Stream().Data() = data;
  c.message->Attachments().Add(std::move(item));
  c.parts.push_back({type, bare ? std::nullopt : std::optional<std::string>(name), data});
}

void AddBody(Case& c, const std::vector<std::string>& lines, const std::string& type = "text/plain") {
  for (const std::string& line : lines) c.message->Body().Add(line);
  c.parts.push_back({type, std::nullopt, c.message->Body().Text(), true});
}

// Every tricky datum of both kinds, under the tricky names or, bare, under generated ones.
void AttachTrickyData(Case& c, const std::string& prefix = "") {
  int n = 0;
  for (const Datum& d : TrickyData())
    for (const auto& k : kKinds)
      Attach(c, prefix + kNames[n++ % kNameCount], k.type, k.encoding, d.bytes, !prefix.empty());
}

std::vector<Case> Cases() {
  std::vector<Case> cases;
  const auto add = [&cases](std::string what, std::string type) -> Case& {
    Case& c = cases.emplace_back();
    c.what = std::move(what);
    c.type = std::move(type);
    c.message->Sender().SetAddress("sender@example.com");
    c.message->Sender().SetName("Mailcart 1.0.2.0");
    c.message->Recipients().AddAddress("rcpt@example.com", "");
    c.message->SetSubject("Referee");
    return c;
  };
  int n = 0;
  for (const Datum& d : TrickyData())
    for (const auto& k : kKinds)
      Attach(add(std::string("single part, ") + k.what + ": " + d.what, k.type), kNames[n++ % kNameCount], k.type,
             k.encoding, d.bytes);
  Case& mixed = add("multipart/mixed", "multipart/mixed");
  AddBody(mixed, {" ", ".", ".profile", "trailing  "});
  AttachTrickyData(mixed);

  AttachTrickyData(add("multipart/alternative", "multipart/alternative"), "_alt.");

  Case& nested = add("nested alternative", "multipart/mixed");
  AddBody(nested, {"Hello", "."});
  Attach(nested, "_alt.txt", "text/plain", kEncodingQuotedPrintable, "Hello\n.\n", true);
  Attach(nested, "_alt.htm", "text/html", kEncodingQuotedPrintable, "<b>Hello</b>  ", true);
  AttachTrickyData(nested);

  // A message file that is not CR LF text goes as Base64, announced as plain bytes.
  for (const bool single : {false, true}) {
    const std::string layout = single ? "single part, " : "";
    Case& forwarded = add(layout + "message attachment", single ? "message/rfc822" : "multipart/mixed");
    if (!single) AddBody(forwarded, {"Forwarded:"});
    Attach(forwarded, "fwd.eml", "message/rfc822", kEncoding7Bit, "Subject: inner\r\n\r\nline\r\n.\r\nend\r\n");

    Case& unixMessage = add(layout + "message file with Unix line ends and a long line",
                            single ? "application/octet-stream" : "multipart/mixed");
    if (!single) AddBody(unixMessage, {"Forwarded:"});
    Attach(unixMessage, "fwd.eml", "message/rfc822", kEncoding7Bit,
           "Subject: inner\n\nline\n.\n" + std::string(1200, 'x') + "\n");
    unixMessage.parts.back().type = "application/octet-stream";
  }

  AddBody(add("plain text", "text/plain"), {"first", "", ".", "  indented", "last"});
  AddBody(add("plain text with a long line", "text/plain"), {std::string(300, 'x'), "tail "});
  Case& latin = add("plain text in iso-8859-1", "text/plain");
  latin.message->SetCharSet(csISO8859);
  AddBody(latin, {"caf\xe9 = cr\xe8me"});

  Case& html = add("formatted body", "text/html");
  html.message->SetContentType("text/html");
  AddBody(html, {"<html>", "<p class=\"x\">a = b</p>", ".", "</html>"}, "text/html");

  Attach(add("HTML body file", "text/html"), "_htmbody.htm", "text/html", kEncodingQuotedPrintable,
         "<html>\n<p>Hi</p>\n</html>", true);

  Case& uu = add("uuencode", "text/plain");
  uu.message->SetEncoding(meUU);
  uu.message->Body().Add("See below.");
  for (const Datum& d : TrickyData())
    Attach(uu, std::string("file ") + d.what, "application/octet-stream", kEncodingBase64, d.bytes);
  return cases;
}

std::string Hex(const std::string& bytes) { return QByteArray::fromStdString(bytes).toHex().toStdString(); }
std::string Text(const QJsonValue& v) { return v.toString().toStdString(); }

void CheckPart(const Case& c, const Part& expected, const QJsonObject& got) {
  const std::string where = c.what + ", part " + expected.type + " " + expected.name.value_or("(no name)");
  EXPECT_EQ(Text(got["content_type"]), expected.type) << where;
  EXPECT_EQ(got["filename_hex"].isNull() ? "(none)" : Text(got["filename_hex"]),
            expected.name ? Hex(*expected.name) : "(none)")
      << where;
  if (expected.type == "message/rfc822") {
    EXPECT_EQ(Text(got["subject"]), "inner") << where;
    EXPECT_EQ(Text(got["body_hex"]), Hex("line\r\n.\r\nend\r\n")) << where;
    return;
  }
  EXPECT_EQ(Text(got["data_hex"]), Hex(expected.data)) << where;
  if (!expected.text) return;
  QStringList lines = got["text"].toString().split(QRegularExpression("\r?\n"));
  EXPECT_EQ(lines.takeLast(), "") << where << ": the text ends with a line end";
  std::vector<std::string> text;
  for (const QString& line : lines) text.push_back(line.toLatin1().toStdString());
  EXPECT_EQ(text, c.message->Body().Lines()) << where;
}

void CheckReport(const Case& c, const QJsonObject& report) {
  EXPECT_TRUE(report["defects"].toArray().isEmpty())
      << c.what << ": " << QJsonDocument(report["defects"].toArray()).toJson().toStdString();
  // Python notes 8-bit bytes in a header as a defect of that header and still reads them
  // (RFC 6532): expected for the parameters that carry a non-ASCII file name, nowhere else.
  for (const QJsonValue& d : report["header_defects"].toArray()) {
    const std::string defect = Text(d);
    EXPECT_TRUE(defect == "Content-Type: UndecodableBytesDefect" ||
                defect == "Content-Disposition: UndecodableBytesDefect")
        << c.what << ": " << defect;
  }
  EXPECT_EQ(Text(report["content_type"]), c.type) << c.what;
  const bool uu = c.message->Encoding() == meUU;
  const QJsonArray parts = report[uu ? "uu" : "parts"].toArray();
  ASSERT_EQ(parts.size(), static_cast<qsizetype>(c.parts.size())) << c.what;
  for (size_t i = 0; i < c.parts.size(); ++i) {
    const QJsonObject got = parts[static_cast<qsizetype>(i)].toObject();
    if (!uu) {
      CheckPart(c, c.parts[i], got);
      continue;
    }
    EXPECT_EQ(Text(got["name_hex"]), Hex(*c.parts[i].name)) << c.what;
    EXPECT_EQ(Text(got["data_hex"]), Hex(c.parts[i].data)) << c.what << " " << *c.parts[i].name;
  }
}

TEST(ComposerRefereeTest, PythonReadsEveryLayoutBackExactly) {
  const std::vector<Case> cases = Cases();
  std::vector<std::string> files;
  for (const Case& c : cases) {
    files.push_back(GetTempFileName(GetTempPath(), "referee"));
    TFileStream out(files.back(), TFileMode::fmCreate);
    c.message->SaveToStream(out);
  }
  const std::string json = RunPython(E2eScript("mime_referee.py"), files);
  for (const std::string& file : files) std::remove(file.c_str());
  const QJsonArray reports = QJsonDocument::fromJson(QByteArray::fromStdString(json)).array();
  ASSERT_EQ(reports.size(), static_cast<qsizetype>(cases.size())) << json.substr(0, 2000);
  for (size_t i = 0; i < cases.size(); ++i) CheckReport(cases[i], reports[static_cast<qsizetype>(i)].toObject());
}

}  // namespace
