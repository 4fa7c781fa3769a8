#include "mime/pxdecoder.h"

#include <gtest/gtest.h>

#include <vector>

#include "mail/pxmsg.h"
#include "mime/codecs/pxcodecs.h"
#include "support/files.h"
#include "support/samples.h"
#include "toolkit/streams.h"
#include "toolkit/strtable.h"

using namespace std::string_literals;

namespace {

using Lines = std::vector<std::string>;

std::string ParserData(const std::string& name) {
  return ReadFile(std::string(MAILCART_TEST_DATA) + "/parser/" + name + ".eml");
}

// The parser reads the whole stream wherever it stands: every load starts at its end.
void Load(TpxCustomMessage& message, const std::string& text) {
  TMemoryStream stream(text);
  stream.Seek(0, TSeekOrigin::soEnd);
  message.LoadFromStream(stream);
}

// Composes original and parses the text into read.
void ReadBack(TpxCustomMessage& original, TpxCustomMessage& read) {
  TMemoryStream text;
  original.SaveToStream(text);
  Load(read, text.Data());
}

TStringList ListOf(const Lines& lines) {
  TStringList list;
  for (const std::string& line : lines) list.Add(line);
  return list;
}

struct Att {
  std::string name;
  std::string type;
  int code;
  std::string data;
};

void ExpectAttachments(const TpxAttList& list, const std::vector<Att>& expected) {
  ASSERT_EQ(list.Count(), static_cast<int>(expected.size()));
  for (int i = 0; i < list.Count(); ++i) {
    SCOPED_TRACE("attachment " + std::to_string(i));
    const TpxAttItem& item = list.Items(i);
    EXPECT_EQ(item.FileName(), expected[i].name);
    EXPECT_EQ(item.ContentType(), expected[i].type);
    EXPECT_EQ(item.TransferEncoding(), expected[i].code);
    EXPECT_EQ(item.Stream().Data(), expected[i].data);
  }
}

// --- Messages as files: one per case -----------------------------------------------------

struct FileCase {
  const char* file;
  Lines body;
  std::vector<Att> attachments;
  const char* error = nullptr;  // the parser error the note in the body names
  const char* contentType = nullptr;
};

const std::string kPng = "\x89PNG\r\n\x1a\n\x00\x01"s;
const std::string kPdf = "%PDF-1.4\n%\xe2\xe3";
const std::string k012 = "\x00\x01\x02"s;
const std::string kUU = "Hello, uu world!\r\n";
const std::string kLongAccented = [] {
  std::string name;
  for (int i = 0; i < 100; ++i) name += "\xc3\xa9";
  return name + ".txt";
}();

const FileCase kFileCases[] = {
    {"empty", {}, {}},
    {"mime_version_with_comment", {"--b1", "Content-Type: text/plain", "", "hello", "--b1--"}, {}},
    {"boundary_never_occurs", {}, {}, "Cannot find boundary"},
    {"mixed_two_unnamed_base64",
     {"The text."},
     {{"att.0", "image/png", 1, kPng}, {"att.1", "application/pdf", 1, kPdf}}},
    {"alternative_text_html", {"Plain words."}, {{"_alt.0", "text/html", 2, "<p>Plain words=</p>"}}},
    {"nested_alternative_then_file",
     {"Plain words."},
     {{"_alt.0", "text/html", 0, "<p>Plain words</p>"}, {"report.pdf", "application/pdf", 1, kPdf}}},
    {"nested_alternative_only", {"Plain words."}, {{"_alt.0", "text/html", 0, "<p>Plain words</p>"}}},
    {"only_one_part", {"Only part."}, {}, nullptr, "text/plain; charset=us-ascii"},
    {"base64_first_part", {}, {{"att.0", "text/plain", 1, "first part bytes"}, {"att.1", "image/gif", 1, "GIF"}}},
    {"related_first_part",
     {"--r", "Content-Type: text/html", "", "<p>x</p>", "--r--"},
     {{"att.0", "multipart/mixed", 0, "--q\r\nContent-Type: text/plain\r\n\r\ninner\r\n--q--"}}},
    {"empty_first_part", {""}, {{"notes.txt", "text/plain", 0, "note"}}},
    {"padded_delimiters",
     {"body", "--b1 ", "still body"},
     {{"att.0", "image/png", 1, k012}, {"att.1", "image/gif", 1, "\x03\x04\x05"}}},
    {"named_parts_take_extension_type",
     {"body"},
     {{"photo.png", "image/png", 1, k012}, {"att.1", "image/x-odd", 1, "\x03\x04\x05"}}},
    {"single_part_named_keeps_declared_type", {}, {{"data.png", "application/x-custom", 1, k012}}},
    {"disposition_names_part", {"body"}, {{"table.txt", "text/plain", 1, k012}}},
    {"disposition_names_single_part", {}, {{"table.txt", "application/octet-stream", 1, k012}}},
    {"single_part_base64_ends_at_dot", {}, {{"a.bin", "application/octet-stream", 1, "\x00\x01\x02\x03\x04\x05"s}}},
    {"x_uue_part", {"body"}, {{"hello.txt", "text/plain", 1, kUU}}},
    {"uuencoded_plain", {"See the file."}, {{"hello.txt", "text/plain", 2, kUU}}},
    {"uuencoded_without_name", {}, {{"att.0", "application/octet-stream", 1, kUU}}},
    {"quoted_printable_text", {"caf\xe9 au lait, a long line cut with a soft break, and 1+1=2", "second line"}, {}},
    {"html_single_part", {"<html>", "<p>Hi</p>", "</html>"}, {}, nullptr, "text/html"},
    {"truncated_attachment",
     {"body"},
     {{"cut.bin", "application/octet-stream", 1, "\x00\x01\x02\x03\x04\x05\x06\x07\x08"s}},
     "Cannot find closing boundary"},
    {"nested_alternative_without_outer_close",
     {"Plain words."},
     {{"_alt.0", "text/html", 0, "<p>Plain words</p>"}},
     "Cannot find closing boundary"},
    {"bad_base64_attachment", {"body"}, {{"good.png", "image/png", 1, k012}}, "Error decoding the attachment"},
    {"end_mark_in_part_headers", {"body"}, {}, "Unable to retrieve headers"},
    {"quoted_name_with_escapes", {"body"}, {{"say \"hi\" \\ now.txt", "text/plain", 0, "hi"}}},
    {"encoded_names",
     {"body"},
     {{"na\xc3\xafve r\xc3\xa9sum\xc3\xa9.txt", "text/plain", 1, k012},
      {"two sections.txt", "text/plain", 1, k012},
      {"na\xc3\xafve.txt", "text/plain", 1, k012}}},
    // RFC 2231 sections in ISO-8859-1, an encoded word in Windows-1252, and a character set
    // without a table, whose bytes stay.
    {"charset_names",
     {"body"},
     {{"caf\xc3\xa9 cr\xc3\xa8me.txt", "text/plain", 1, k012},
      {"\xe2\x82\xac \xe2\x80\x9cq\xe2\x80\x9d.txt", "text/plain", 1, k012},
      {"\xe1.txt", "text/plain", 1, k012}}},
    {"lf_line_ends", {"line one", "line two"}, {{"unix.txt", "text/plain", 0, "a\r\nb\r\n"}}},
    {"quoted_printable_nul", {"before\0after"s, "second line"}, {}},
    // Sections past the 255th character, an encoded name longer than that, and an encoded word
    // that decodes to "; filename=" inside another parameter.
    {"long_parameters",
     {"body"},
     {{std::string(90, 'a') + std::string(90, 'b') + std::string(40, 'c') + ".txt", "text/plain", 1, k012},
      {kLongAccented, "text/plain", 1, k012},
      {"good.txt", "text/plain", 1, k012}}},
};

TEST(ParserTest, MessageFiles) {
  for (const FileCase& c : kFileCases) {
    SCOPED_TRACE(c.file);
    const std::string text = ParserData(c.file);
    TpxMessage message;
    Load(message, text);
    Lines body = c.body;
    std::vector<Att> attachments = c.attachments;
    if (c.error != nullptr) {
      body.insert(body.end(), {LoadStr(sParserErrorNote), c.error, LoadStr(sOriginalStoredNote)});
      attachments.push_back({"original.eml", "message/rfc822", 0, text});
    }
    EXPECT_EQ(message.Body().Lines(), body);
    ExpectAttachments(message.Attachments(), attachments);
    if (c.contentType != nullptr) {
      EXPECT_EQ(message.ContentType(), c.contentType);
    }
  }
}

TEST(ParserTest, MessageFieldsFromTheText) {
  TpxMessage uu;
  Load(uu, ParserData("uuencoded_plain"));
  EXPECT_EQ(uu.Encoding(), meUU);
  EXPECT_EQ(uu.Subject(), "uu");

  TpxMessage quoted;
  Load(quoted, ParserData("quoted_printable_text"));
  EXPECT_EQ(quoted.CharSet(), csISO8859);

  // The text is read a second time as a plain body; the header block is applied only once.
  TpxMessage mime;
  Load(mime, ParserData("mime_text_with_uuencoded_block"));
  EXPECT_EQ(mime.Body().Lines(), std::vector<std::string>{"See the file."});
  EXPECT_EQ(mime.Recipients().Count(), 2);
  EXPECT_EQ(mime.Encoding(), meUU);
  ExpectAttachments(mime.Attachments(), {{"hello.txt", "text/plain", 2, kUU}});
}

// --- Exactness: lines of any length, part ends -------------------------------------------

const char* kHeader = "From: ann@example.com\r\nTo: bob@example.com\r\nMIME-Version: 1.0\r\n";

// A multipart message whose second part has the given headers and text (after its empty line).
std::string WithPart(const std::string& headers, const std::string& text) {
  return std::string(kHeader) + "Content-Type: multipart/mixed; boundary=\"b\"\r\n\r\n--b\r\n\r\nbody\r\n--b\r\n" +
         headers + "\r\n\r\n" + text + "--b--\r\n";
}

std::string SinglePart(const std::string& headers, const std::string& text) {
  return std::string(kHeader) + headers + "\r\n\r\n" + text;
}

// The data of the message's one attachment; "(error)" when the parser stored the original.
std::string AttachmentData(const std::string& text) {
  TpxMessage message;
  Load(message, text);
  const TpxAttList& list = message.Attachments();
  if (list.Count() > 0 && list.Items(list.Count() - 1).FileName() == "original.eml") return "(error)";
  EXPECT_EQ(list.Count(), 1);
  return list.Count() == 1 ? list.Items(0).Stream().Data() : "(none)";
}

std::string LongLine() {
  std::string line;
  for (int i = 0; line.size() < 100000; ++i) line += "word" + std::to_string(i) + ' ';
  return line;
}

std::string Base64Lines(const std::string& bytes, size_t lineLength) {
  std::string encoded;
  AppendBase64(bytes, encoded);
  std::string lines;
  for (size_t pos = 0; pos < encoded.size(); pos += lineLength) lines += encoded.substr(pos, lineLength) + "\r\n";
  return lines;
}

// Lines are read whole, and the line end before a delimiter belongs to the delimiter. Base64
// data is read in blocks; what the block reader refuses goes line by line.
TEST(ParserTest, PartDataComesOutExactly) {
  const std::string sevenBit = "Content-Type: application/x-text\r\nContent-Transfer-Encoding: 7bit";
  const std::string quoted = "Content-Type: application/x-text\r\nContent-Transfer-Encoding: quoted-printable";
  const std::string base64 = "Content-Type: image/png\r\nContent-Transfer-Encoding: base64";
  std::string bytes;
  for (int i = 0; i < 300000; ++i) bytes += static_cast<char>((i * 131) >> 3);
  const std::string nine = "\x00\x01\x02\x03\x04\x05\x06\x07\x08"s;
  const struct {
    const char* name;
    std::string text;
    std::string data;
  } cases[] = {
      {"7bit part: the line end before the delimiter is not data", WithPart(sevenBit, "a\r\nb\r\n"), "a\r\nb"},
      {"7bit part: an empty line before the delimiter is a line end", WithPart(sevenBit, "a\r\nb\r\n\r\n"),
       "a\r\nb\r\n"},
      {"7bit part: no lines", WithPart(sevenBit, ""), ""},
      {"7bit part: a line of 100 KB", WithPart(sevenBit, LongLine() + "\r\n\r\n"), LongLine() + "\r\n"},
      {"7bit part: lone LF and CR become line ends", WithPart(sevenBit, "a\nb\rc\r\n"), "a\r\nb\r\nc"},
      {"quoted-printable part ending in a soft break", WithPart(quoted, "abc=\r\n\r\n"), "abc"},
      {"quoted-printable part ending in a hard break", WithPart(quoted, "abc\r\n\r\n"), "abc\r\n"},
      {"quoted-printable part without the empty line", WithPart(quoted, "abc\r\n"), "abc"},
      {"quoted-printable part: a line of 100 KB", WithPart(quoted, LongLine() + "=3D\r\n"), LongLine() + "="},
      {"single 7bit part: the text's last line end is data", SinglePart(sevenBit, "a\r\nb\r\n"), "a\r\nb\r\n"},
      {"single 7bit part without a last line end", SinglePart(sevenBit, "a\r\nb"), "a\r\nb"},
      {"single quoted-printable part ending in a soft break", SinglePart(quoted, "abc=\r\n"), "abc"},
      {"single quoted-printable part ending in a hard break", SinglePart(quoted, "abc\r\n"), "abc\r\n"},
      {"Base64: many blocks of 76-character lines", WithPart(base64, Base64Lines(bytes, 76)), bytes},
      {"Base64: one line longer than a block", WithPart(base64, Base64Lines(bytes, 1000000)), bytes},
      {"Base64: LF line ends", WithPart(base64, "AAEC\nAwQF\nBgcI\n"), nine},
      {"Base64: padding blanks and a lone CR", WithPart(base64, "AAEC \r\nAwQF\rBgcI\t\r\n"), nine},
      {"Base64: a delimiter inside a line is data", WithPart(base64, "AAEC--b\r\n\r\n"), "(error)"},
      {"single Base64 part in many blocks", SinglePart(base64, Base64Lines(bytes, 76)), bytes},
      {"single Base64 part up to the line \".\"", SinglePart(base64, "AAEC\r\nAwQF\r\n.\r\nBgcI\r\n"),
       nine.substr(0, 6)},
      {"single Base64 part with padding up to \".\"", SinglePart(base64, "AAEC \r\n.\r\nBgcI\r\n"), nine.substr(0, 3)},
      {"single Base64 part: a dot ending a line is no end", SinglePart(base64, "AAEC.\r\nAwQF\r\n"), "(error)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(AttachmentData(c.text), c.data);
  }
}

// --- Failures ------------------------------------------------------------------------------

TEST(ParserTest, HeaderAndTextBodyFailuresReachTheCaller) {
  const struct {
    const char* name;
    std::string text;
    const char* message;  // nullptr: any EInOutError
  } cases[] = {
      {"end mark inside the message's header block",
       "From: a@example.com\r\n\xFF\xFF\xFF\xFF\r\nSubject: x\r\n\r\nbody\r\n", "Unable to retrieve headers"},
      {"unparsable sender", "From: Ann <ann@example.com\r\n\r\nbody\r\n", "Unable to parse email address"},
      {"invalid Base64 in a text body",
       SinglePart("Content-Type: text/plain\r\nContent-Transfer-Encoding: base64", "QQ!!\r\n"), nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TpxMessage message;
    try {
      Load(message, c.text);
      ADD_FAILURE() << "no exception";
    } catch (const EInOutError&) {
      EXPECT_EQ(c.message, nullptr);
    } catch (const Exception& e) {
      EXPECT_EQ(e.Message(), c.message != nullptr ? c.message : "(an input/output error)");
    }
    EXPECT_EQ(message.Attachments().Count(), 0);
  }
}

TEST(ParserTest, ParserAndMessageClassMustMatch) {
  TMemoryStream stream("From: a@example.com\r\n\r\nbody\r\n"s);
  TpxArticle article;
  TpxMessageDecoder messageDecoder(stream);
  messageDecoder.SetMessage(&article);
  EXPECT_THROW(messageDecoder.Decode(), EInvalidCast);
  TpxMessage message;
  TpxArticleDecoder articleDecoder(stream);
  articleDecoder.SetMessage(&message);
  EXPECT_THROW(articleDecoder.Decode(), EInvalidCast);
}

TEST(ParserTest, PartsAreBounded) {
  std::string text = std::string(kHeader) + "Content-Type: multipart/mixed; boundary=\"b\"\r\n\r\n--b\r\n\r\nbody\r\n";
  for (int i = 0; i <= kMaxAttachmentParts; ++i) text += "--b\r\n\r\n";
  text += "--b--\r\n";
  TpxMessage message;
  Load(message, text);
  ASSERT_EQ(message.Attachments().Count(), kMaxAttachmentParts + 1);
  EXPECT_EQ(message.Attachments().Items(kMaxAttachmentParts).FileName(), "original.eml");
  EXPECT_EQ(message.Body()[2], "Error decoding the attachment");
}

// --- What the parser adds to ---------------------------------------------------------------

TEST(ParserTest, AddsToWhatTheMessageHolds) {
  TpxMessage message;
  message.Recipients().AddAddress("first@example.com", "");
  Attach(message, "old.bin", "", 0, "");
  Load(message, ParserData("mixed_two_unnamed_base64"));
  ASSERT_EQ(message.Recipients().Count(), 2);
  EXPECT_EQ(message.Recipients().Items(1).Address(), "bob@example.com");
  ASSERT_EQ(message.Attachments().Count(), 3);
  EXPECT_EQ(message.Attachments().Items(1).FileName(), "att.1");
  EXPECT_EQ(message.Attachments().Items(2).FileName(), "att.2");
}

TEST(ParserTest, ArticleHeaders) {
  TpxArticle article;
  Load(article,
       "From: Ann <ann@example.com>\r\nNewsgroups: comp.misc\r\nPath: news!ann\r\nMessage-ID: <1@example.com>\r\n"
       "Subject: hello\r\n\r\nbody\r\n");
  EXPECT_EQ(article.Sender().Address() + "|" + article.NewsGroups() + "|" + article.Path() + "|" + article.MessageId() +
                "|" + article.Subject(),
            "ann@example.com|comp.misc|news!ann|<1@example.com>|hello");
  EXPECT_EQ(article.Body().Lines(), std::vector<std::string>{"body"});
}

// --- Round trip through the composer ------------------------------------------------------

struct Tricky {
  const char* name;
  std::string data;
};

std::vector<Tricky> TrickyData() {
  std::string binary;
  for (int i = 0; i < 600; ++i) binary += static_cast<char>((i * 7) & 0xFF);
  return {{"lone CR", "one\rtwo\r"},
          {"lone LF", "one\ntwo\n\n"},
          {"trailing blanks", "one  \r\ntwo\t\r\nthree "},
          {"dot lines", ".\r\n..\r\n.hidden\r\n."},
          {"empty", ""},
          {"no final line end", "first\r\nlast line"},
          {"binary", binary},
          {"45 bytes", std::string(45, 'z')},
          {"57 bytes", std::string(57, 'x')},
          {"58 bytes", std::string(58, 'y')}};
}

const Lines kBody = {"Hello,", ".", ".hidden", "  indented", ""};
const char* const kBin = "application/octet-stream";

struct File {
  const char* path;
  const char* type;
  int code;
};

struct Layout {
  const char* name;
  bool body;
  TMsgEncoding encoding;
  std::vector<File> files;
  Lines names = {};  // the names read back; empty: as the composer wrote them
};

const Layout kLayouts[] = {
    {"multipart/mixed, Base64 and quoted-printable parts",
     true,
     meMIME,
     {{"/tmp/data.bin", kBin, kEncodingBase64},
      {"/tmp/data.txt", "text/plain", kEncodingQuotedPrintable},
      {"/tmp/a \"quoted\" \\ name.bin", kBin, kEncodingBase64}}},
    {"single Base64 part", false, meMIME, {{"/tmp/data.bin", kBin, kEncodingBase64}}},
    {"single quoted-printable part", false, meMIME, {{"/tmp/data.txt", "text/plain", kEncodingQuotedPrintable}}},
    {"multipart/alternative",
     true,
     meMIME,
     {{"_alt.html", "text/html", kEncodingQuotedPrintable}, {"_alt.bin", kBin, kEncodingBase64}},
     {"_alt.0", "_alt.1"}},
    {"nested alternative and a file",
     true,
     meMIME,
     {{"_alt.html", "text/html", kEncodingQuotedPrintable},
      {"_alt.bin", kBin, kEncodingBase64},
      {"file.bin", kBin, kEncodingBase64}},
     {"_alt.0", "_alt.1", "file.bin"}},
    {"uuencoded", true, meUU, {{"first.bin", kBin, kEncodingBase64}, {"second file.bin", kBin, kEncodingBase64}}},
};

TEST(ParserTest, ReadsBackWhatTheComposerWrites) {
  for (const Layout& layout : kLayouts) {
    for (const Tricky& tricky : TrickyData()) {
      SCOPED_TRACE(std::string(layout.name) + ", " + tricky.name);
      TpxMessage original, read;
      original.Sender().SetAddress("ann@example.com");
      original.Recipients().AddAddress("bob@example.com", "Bob");
      if (layout.body) original.SetBody(ListOf(kBody));
      original.SetEncoding(layout.encoding);
      for (const File& file : layout.files) Attach(original, file.path, file.type, file.code, tricky.data);
      ReadBack(original, read);
      EXPECT_EQ(read.Body().Lines(), original.Body().Lines());
      EXPECT_EQ(read.Encoding(), original.Encoding());
      ASSERT_EQ(read.Attachments().Count(), original.Attachments().Count());
      for (int i = 0; i < read.Attachments().Count(); ++i) {
        const std::string name = layout.names.empty() ? FileNamePart(layout.files[static_cast<size_t>(i)].path)
                                                      : layout.names[static_cast<size_t>(i)];
        EXPECT_EQ(read.Attachments().Items(i).FileName(), name);
        EXPECT_EQ(read.Attachments().Items(i).Stream().Data(), tricky.data) << name;
      }
    }
  }
}

// Subject, display names and file names in any script, or holding control characters, come
// back as they were, and the Date and Message-ID the composer adds are there to read.
TEST(ParserTest, ReadsBackInternationalHeaders) {
  const std::string greek = "\xce\x95\xce\xbb\xce\xbb\xce\xb7\xce\xbd\xce\xb9\xce\xba\xce\xac ";
  std::string longSubject, longName;
  while (longSubject.size() < 230) longSubject += greek;
  while (longName.size() < 240) longName += "\xe6\x9c\x88 ";
  longName += ".txt";
  const struct {
    const char* what;
    std::string subject, senderName, recipientName;
    Lines fileNames;
  } cases[] = {
      {"scripts", longSubject, "M\xc3\xbcller, Ann", "\xf0\x9f\x93\xb7 Bob", {longName, "Rechnung M\xc3\xa4rz.txt"}},
      {"control characters",
       "red \x1b[31m alert\x07\tand a tab",
       "Ann\x1b[2J Boss",
       "Bob\x7f\x08 B",
       {"esc\x1b[1m.txt", "tab\there.txt", "del\x7f.txt"}},
      {"quotes and backslashes in names", "x", "Bob \"the builder\" \\o/", "\"Doe, Jane\"", {"a.txt"}},
      {"specials in encoded names",
       "x",
       "M\xc3\xbcller, \"Boss\" <boss@example.com>",
       "\xc3\x89 <evil@example.com>, x",
       {"a.txt"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TpxMessage original, read;
    original.Sender().SetAddress("ann@example.com");
    original.Sender().SetName(c.senderName);
    original.Recipients().AddAddress("bob@example.com", c.recipientName);
    original.SetSubject(c.subject);
    original.Body().Add("x");
    for (const std::string& name : c.fileNames) Attach(original, "/tmp/" + name, "text/plain", 1, "data");
    ReadBack(original, read);
    EXPECT_EQ(read.Subject(), c.subject);
    EXPECT_EQ(read.Sender().Name(), c.senderName);
    EXPECT_EQ(read.Recipients().Items(0).Name(), c.recipientName);
    ASSERT_EQ(read.Attachments().Count(), static_cast<int>(c.fileNames.size()));
    for (int i = 0; i < read.Attachments().Count(); ++i)
      EXPECT_EQ(read.Attachments().Items(i).FileName(), c.fileNames[static_cast<size_t>(i)]);
    EXPECT_NE(GetHeaderValue(read.Headers(), "Date").find(" +"), std::string::npos);
    EXPECT_EQ(GetHeaderValue(read.Headers(), "Message-ID").substr(0, 1), "<");
  }
}

// Text bodies and 7bit parts carry lines: CR LF text comes back as it was written.
TEST(ParserTest, ReadsBackTextLayouts) {
  const struct {
    const char* name;
    Lines body;
    TCharSet charSet;
    const char* contentType;
  } cases[] = {
      {"7bit text with 8-bit bytes and a dot line", {"caf\xe9", ".", " both ends ", ""}, csUSASCII, "text/plain"},
      {"quoted-printable text: a line over 255 characters",
       {std::string(300, 'w'), "=", "tail "},
       csUSASCII,
       "text/plain"},
      {"quoted-printable text: iso-8859-1", {"caf\xe9 ", "", "x"}, csISO8859, "text/plain"},
      {"quoted-printable text: a line of 100 KB", {LongLine(), "x"}, csUSASCII, "text/plain"},
      {"HTML body", {"<p>", "  caf\xe9", "</p>"}, csUSASCII, "text/html"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TpxMessage original, read;
    original.SetBody(ListOf(c.body));
    original.SetCharSet(c.charSet);
    original.SetContentType(c.contentType);
    ReadBack(original, read);
    EXPECT_EQ(read.Body().Lines(), c.body);
    EXPECT_EQ(read.ContentType(), c.contentType);
  }
  TpxMessage mixed, read;
  mixed.Body().Add("body");
  const Lines texts = {"line\r\n.\r\n", "no final line end", "", "\r\n\r\n"};
  for (const std::string& data : texts) Attach(mixed, "m.eml", "message/rfc822", kEncoding7Bit, data);
  ReadBack(mixed, read);
  ASSERT_EQ(read.Attachments().Count(), 4);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(read.Attachments().Items(i).Stream().Data(), texts[static_cast<size_t>(i)]);
}

// A UTF-8 body goes labelled utf-8 in quoted-printable lines of at most 76 characters and reads
// back the same.
TEST(ParserTest, ReadsBackAUtf8Body) {
  std::string paragraph;
  while (paragraph.size() < 300) paragraph += "Gr\xc3\xbc\xc3\x9fli aus K\xc3\xb6ln \xe2\x80\x94 \xe6\x97\xa5 ";
  const Lines body = {paragraph, "", ".", "From the start", " both ends "};
  TpxMessage original, read;
  original.SetBody(ListOf(body));
  original.SetCharSet(csUTF8);
  TMemoryStream text;
  original.SaveToStream(text);
  EXPECT_NE(text.Data().find("\r\nContent-Type: text/plain; charset=\"utf-8\"\r\n"
                             "Content-Transfer-Encoding: quoted-printable\r\n"),
            std::string::npos);
  TStringList lines;
  lines.SetText(text.Data());
  for (const std::string& line : lines) EXPECT_LE(line.size(), 76u) << line;
  Load(read, text.Data());
  EXPECT_EQ(read.Body().Lines(), body);
  EXPECT_EQ(read.CharSet(), csUTF8);
}

}  // namespace
