// Python's email package (default policy) reads what the composer writes: no defects, the
// text part reads back as the body lines, and every attachment decodes to its very bytes.
#include <gtest/gtest.h>

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <ctime>
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
    c.message->Sender().SetName("Mailcart 1.1.0");
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
  EXPECT_TRUE(report["header_defects"].toArray().isEmpty())
      << c.what << ": " << QJsonDocument(report["header_defects"].toArray()).toJson().toStdString();
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

// Composes every case into a file and returns the referee's report of each.
QJsonArray Judge(const std::vector<Case>& cases) {
  std::vector<std::string> files;
  for (const Case& c : cases) {
    files.push_back(GetTempFileName(GetTempPath(), "referee"));
    TFileStream out(files.back(), TFileMode::fmCreate);
    c.message->SaveToStream(out);
  }
  const std::string json = RunPython(E2eScript("mime_referee.py"), files);
  for (const std::string& file : files) std::remove(file.c_str());
  const QJsonArray reports = QJsonDocument::fromJson(QByteArray::fromStdString(json)).array();
  EXPECT_EQ(reports.size(), static_cast<qsizetype>(cases.size())) << json.substr(0, 2000);
  return reports;
}

TEST(ComposerRefereeTest, PythonReadsEveryLayoutBackExactly) {
  const std::vector<Case> cases = Cases();
  const QJsonArray reports = Judge(cases);
  ASSERT_EQ(reports.size(), static_cast<qsizetype>(cases.size()));
  for (size_t i = 0; i < cases.size(); ++i) CheckReport(cases[i], reports[static_cast<qsizetype>(i)].toObject());
}

// Texts in many scripts, as subjects and display names; a comma makes the display name a
// phrase that needs care. A subject long enough to need many encoded words comes on top:
// Python 3.11 keeps the blank between encoded words of a display name, against RFC 2047 6.2,
// so a name that needs several words cannot read back exactly there.
const struct {
  const char* what;
  const char* text;
} kInternational[] = {
    {"ASCII", "Monthly report"},
    {"Latin", "Scans f\xC3\xBCr M\xC3\xA4rz, M\xC3\xBCller"},
    {"Greek",
     "\xCE\x95\xCE\xBB\xCE\xBB\xCE\xB7\xCE\xBD\xCE\xB9\xCE\xBA\xCE\xAC "
     "\xCE\xB1\xCF\x81\xCF\x87\xCE\xB5\xCE\xAF\xCE\xB1"},
    {"CJK", "\xE6\x9C\x88\xE6\xAC\xA1\xE5\xA0\xB1\xE5\x91\x8A\xE6\x9B\xB8\xE3\x81\xAE\xE9\x80\x81\xE4\xBB\x98"},
    {"emoji", "Fotos \xF0\x9F\x93\xB7\xF0\x9F\x8E\x89 vom Fest"},
};

// A name of exactly bytes bytes ending in ".txt", made of unit (repeated) and ASCII filler.
std::string NameOfLength(size_t bytes, const std::string& unit) {
  std::string name;
  while (name.size() + unit.size() + 4 <= bytes) name += unit;
  name.resize(bytes - 4, 'x');
  return name + ".txt";
}

std::string LongGreek() {
  std::string text;
  while (text.size() < 220) text += std::string(kInternational[2].text) + " ";
  return text;
}

// The Date parses to the time of composing in any locale, and every header of messages in
// many scripts reads back exactly, with no defect and no folded line over 78 characters.
TEST(ComposerRefereeTest, InternationalHeadersAndNamesReadBackExactly) {
  std::vector<std::string> texts;
  for (const auto& t : kInternational) texts.push_back(t.text);
  const size_t nameCount = texts.size();
  texts.push_back(LongGreek());
  std::vector<std::string> names;
  for (const size_t bytes : {1, 60, 200, 255}) {
    names.push_back(bytes == 1 ? "a" : NameOfLength(bytes, "y"));
    if (bytes > 1) names.push_back(NameOfLength(bytes, "\xC3\xA4\xCE\xB1\xE6\x9C\x88\xF0\x9F\x93\xB7 "));
  }
  const char* const oldTz = std::getenv("TZ");
  const std::string savedTz = oldTz ? oldTz : "";
  setenv("TZ", "CET-1", 1);  // an hour ahead of UTC: the offset must be right too
  tzset();
  for (const char* locale : {"C", "de_DE.UTF-8"}) {
    ASSERT_NE(std::setlocale(LC_ALL, locale), nullptr) << locale << " (scripts/install-deps makes it)";
    std::vector<Case> cases;
    for (size_t i = 0; i < std::max(texts.size(), names.size()); ++i) {
      Case& c = cases.emplace_back();
      const std::string& text = texts[i % texts.size()];
      c.what = std::string(locale) + ": text " + text + ", name " + names[i % names.size()];
      c.type = "multipart/mixed";
      c.message->Sender().SetAddress("sender@example.com");
      c.message->Sender().SetName(texts[i % nameCount]);
      c.message->Recipients().AddAddress("rcpt@example.com", texts[(i + 1) % nameCount]);
      c.message->SetSubject(text);
      AddBody(c, {"Hello"});
      Attach(c, names[i % names.size()], "text/plain", kEncodingQuotedPrintable, "caf\xC3\xA9\r\n");
    }
    const double composed = static_cast<double>(std::time(nullptr));
    const QJsonArray reports = Judge(cases);
    std::setlocale(LC_ALL, "C");
    ASSERT_EQ(reports.size(), static_cast<qsizetype>(cases.size()));
    for (size_t i = 0; i < cases.size(); ++i) {
      const Case& c = cases[i];
      const QJsonObject report = reports[static_cast<qsizetype>(i)].toObject();
      CheckReport(c, report);
      EXPECT_EQ(Text(report["subject"]), c.message->Subject()) << c.what;
      EXPECT_EQ(Text(report["from_name"]), c.message->Sender().Name()) << c.what;
      EXPECT_EQ(Text(report["to_names"].toArray().at(0)), c.message->Recipients().Items(0).Name()) << c.what;
      EXPECT_NEAR(report["date"].toDouble(), composed, 1.0) << c.what;
      EXPECT_TRUE(QRegularExpression("^<[0-9]{14}\\.[0-9a-f]{24}@example\\.com>$")
                      .match(report["message_id"].toString())
                      .hasMatch())
          << c.what << ": " << Text(report["message_id"]);
      EXPECT_TRUE(report["long_lines"].toArray().isEmpty())
          << c.what << ": " << QJsonDocument(report["long_lines"].toArray()).toJson().toStdString();
    }
  }
  if (oldTz)
    setenv("TZ", savedTz.c_str(), 1);
  else
    unsetenv("TZ");
  tzset();
}

// Lines shaped like delimiters, of the old eight-digit boundaries and of ours, in the body, a
// quoted-printable and a 7bit part: a reader still finds exactly the parts composed.
TEST(ComposerRefereeTest, LinesLikeDelimitersStayInTheirPart) {
  const std::vector<std::string> lines = {"--12345678",
                                          "--12345678--",
                                          "--88888888",
                                          "--=_",
                                          "--=_--",
                                          "--=_0123456789abcdef0123456789abcdef",
                                          "--=_0123456789abcdef0123456789abcdef--",
                                          "--",
                                          "",
                                          "Content-Type: text/html",
                                          ""};
  std::string data;
  for (const std::string& line : lines) data += line + "\r\n";
  std::vector<Case> cases;
  for (const char* type : {"multipart/mixed", "multipart/alternative"}) {
    Case& c = cases.emplace_back();
    c.what = std::string("delimiter-like lines, ") + type;
    c.type = type;
    c.message->Sender().SetAddress("sender@example.com");
    c.message->Recipients().AddAddress("rcpt@example.com", "");
    const bool alternative = c.type == "multipart/alternative";
    if (!alternative) AddBody(c, lines);
    const std::string prefix = alternative ? "_alt." : "";
    Attach(c, prefix + "lines.txt", "text/plain", kEncodingQuotedPrintable, data, alternative);
    Attach(c, prefix + "raw.txt", "text/plain", kEncoding7Bit, data, alternative);
  }
  const QJsonArray reports = Judge(cases);
  ASSERT_EQ(reports.size(), static_cast<qsizetype>(cases.size()));
  for (size_t i = 0; i < cases.size(); ++i) CheckReport(cases[i], reports[static_cast<qsizetype>(i)].toObject());
}

// Names with RFC 5322 specials, quotes, backslashes and control characters: each reads back
// as exactly one mailbox with its very name, and as the subject and the file name too; no
// control character but the tab reaches the text as it is.
TEST(ComposerRefereeTest, AwkwardNamesReadBackAsOneMailboxEach) {
  const struct {
    const char* what;
    std::string name;
  } kNames[] = {
      {"a quote", "Say \"hi\" now"},
      {"a lone quote", "\""},
      {"a backslash", "back\\slash"},
      {"a backslash at the end", "end\\"},
      {"a comma", "Doe, Jane"},
      {"angle brackets", "x <y@z.example>"},
      {"a second mailbox", "Boss <boss@corp.example>, \"\""},
      {"non-ASCII with specials", "M\xC3\xBCller, \"Boss\" <boss@corp.example>"},
      {"control characters", "Boss\x1B[31m red\x07\x7F"},
      {"a tab", "Jane\tDoe"},
      {"blanks in a row", "Jane  Doe"},
  };
  std::vector<Case> cases;
  for (const auto& n : kNames) {
    Case& c = cases.emplace_back();
    c.what = n.what;
    c.type = "multipart/mixed";
    c.message->Sender().SetAddress("sender@example.com");
    c.message->Sender().SetName(n.name);
    c.message->Recipients().AddAddress("r1@example.com", n.name);
    c.message->Recipients().AddAddress("r2@example.com", "Next");
    c.message->SetSubject(n.name);
    AddBody(c, {"Hello"});
    Attach(c, n.name + ".txt", "text/plain", kEncodingQuotedPrintable, "x\r\n");
  }
  const QJsonArray reports = Judge(cases);
  ASSERT_EQ(reports.size(), static_cast<qsizetype>(cases.size()));
  // [[name, address], ...] as JSON text, which a failure shows readably.
  const auto json = [](const QJsonArray& array) {
    return QJsonDocument(array).toJson(QJsonDocument::Compact).toStdString();
  };
  const auto mailboxes = [&json](const std::vector<std::pair<std::string, std::string>>& list) {
    QJsonArray array;
    for (const auto& [name, address] : list)
      array.append(QJsonArray{QString::fromStdString(name), QString::fromStdString(address)});
    return json(array);
  };
  for (size_t i = 0; i < cases.size(); ++i) {
    const Case& c = cases[i];
    QJsonObject report = reports[static_cast<qsizetype>(i)].toObject();
    // Python notes the control characters it decoded, as it should: they are the name's own.
    QJsonArray defects;
    for (const QJsonValue& d : report["header_defects"].toArray())
      if (!d.toString().endsWith("NonPrintableDefect")) defects.append(d);
    report["header_defects"] = defects;
    CheckReport(c, report);
    const std::string& name = c.message->Sender().Name();
    EXPECT_EQ(json(report["from_mailboxes"].toArray()), mailboxes({{name, "sender@example.com"}})) << c.what;
    EXPECT_EQ(json(report["to_mailboxes"].toArray()), mailboxes({{name, "r1@example.com"}, {"Next", "r2@example.com"}}))
        << c.what;
    EXPECT_EQ(Text(report["subject"]), name) << c.what;
    TMemoryStream composed;
    c.message->SaveToStream(composed);
    for (const char byte : composed.Data())
      EXPECT_FALSE(HasControlCharacter({&byte, 1}) && byte != '\r' && byte != '\n' && byte != '\t')
          << c.what << ": byte " << static_cast<int>(byte);
  }
}

// Several recipients, long names among them, make one To and one CC header folded after each
// comma and within a name too long for a line: no line passes 78, every mailbox reads back
// whole, and the blind copy shows nowhere.
TEST(ComposerRefereeTest, SeveralRecipientsReadBackFromFoldedHeaders) {
  std::vector<Case> cases(1);
  Case& c = cases[0];
  c.what = "several recipients";
  c.type = "text/plain";
  c.message->Sender().SetAddress("sender@example.com");
  QJsonArray to;
  for (const auto& [name, address] : std::vector<std::pair<std::string, std::string>>{
           {"Alexandra Maria Theodora Konstantinopoulou-Weatherby of Thessaloniki", "alexandra@department.example.org"},
           {"Dr. Bartholomew Fitzgerald Montgomery Worthington Ashby, Junior, Esq.", "bart@example.com"},
           {"M\xC3\xBCller-Sch\xC3\xB6nh\xC3\xA4user, J\xC3\xBCrgen \xF0\x9F\x93\xB7", "j.mueller@example.de"},
           {"", "plain@example.com"}}) {
    c.message->Recipients().AddAddress(address, name);
    to.append(QJsonArray{QString::fromStdString(name), QString::fromStdString(address)});
  }
  c.message->CC().AddAddress("carol@example.com", "Carol \"CC\" Copy");
  c.message->CC().AddAddress("dave@example.com", "Dave");
  c.message->BCC().AddAddress("hidden@example.com", "Hidden Person");
  AddBody(c, {"Hello"});
  const QJsonArray reports = Judge(cases);
  ASSERT_EQ(reports.size(), 1);
  CheckReport(c, reports[0].toObject());
  EXPECT_EQ(reports[0]["to_mailboxes"].toArray(), to);
  EXPECT_EQ(reports[0]["cc_mailboxes"].toArray(),
            (QJsonArray{QJsonArray{"Carol \"CC\" Copy", "carol@example.com"}, QJsonArray{"Dave", "dave@example.com"}}));
  TMemoryStream composed;
  c.message->SaveToStream(composed);
  EXPECT_EQ(composed.Data().find("hidden"), std::string::npos);
  TStringList headers;
  headers.SetText(composed.Data().substr(0, composed.Data().find("\r\n\r\n")));
  for (const std::string& line : headers) EXPECT_LE(line.size(), 78u) << line;
}

}  // namespace
