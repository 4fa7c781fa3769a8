#include "mime/pxencoder.h"

#include <algorithm>

#include "mail/mailbox.h"
#include "mail/pxmsg.h"
#include "mime/codecs/pxcodecs.h"
#include "mime/headerwords.h"
#include "mime/messagestamp.h"
#include "toolkit/exceptions.h"
#include "toolkit/pump.h"
#include "toolkit/streams.h"

namespace {

constexpr const char* kPreamble = "This is a multipart message in MIME format";
constexpr std::string_view kHtmlBodyFile = "_htmbody.htm";
constexpr std::string_view kRtfBodyFile = "_rtfbody.rtf";
constexpr std::string_view kAlternativePrefix = "_alt.";
// Source bytes handed to an encoder at a time: whole Base64 lines, about 80 KB of output.
constexpr size_t kDataBlock = kBase64LineBytes * 1024;

TBoundarySource& BoundarySource() {
  static TBoundarySource source;
  return source;
}

// 128 random bits, so that no file, however made, can hold a line that ends our parts early
// or starts one of its own. RFC 2045 6.7 and 6.8: no quoted-printable or Base64 line can hold
// "=_", so encoded data cannot come near it whatever the bits are. 34 characters, all of them
// bchars (RFC 2046 5.1.1), written in quotes since "=" is a tspecial.
constexpr size_t kBoundaryRandomBytes = 16;

std::string RandomBoundary() {
  std::string boundary = "=_";
  for (const char c : SystemRandomBytes(kBoundaryRandomBytes))
    boundary += LowerCase(IntToHex(static_cast<uint8_t>(c), 2));
  return boundary;
}

// RFC 5322 2.2: a field body holds no CR or LF of its own; a stray one would end the header.
std::string HeaderText(std::string_view text) {
  std::string result(text);
  for (char& c : result)
    if (c == '\r' || c == '\n') c = ' ';
  return result;
}

// Atoms with one blank between each two: a phrase that reads back as it stands. Anything else
// (a special, a quote, a control character, blanks at an end or in a row that a reader would
// fold into one) needs quotes.
bool IsAtomSequence(std::string_view text) {
  for (size_t i = 0; i < text.size(); ++i) {
    const bool joiningBlank = text[i] == ' ' && i > 0 && i + 1 < text.size() && text[i + 1] != ' ';
    if (!IsAtomText(text[i]) && !joiningBlank) return false;
  }
  return true;
}

// The header lines built from one short field stay within 255 characters.
std::string CutLine(std::string line) { return ShortString::Cut(line); }

// The words of a phrase, split at the blanks that stand alone: folding there (CR LF before the
// blank) unfolds to the same phrase, in quotes too, and never leaves a line of blanks only.
std::vector<std::string> PhraseWords(std::string_view phrase) {
  std::vector<std::string> words(1);
  for (size_t i = 0; i < phrase.size(); ++i) {
    const bool lone =
        phrase[i] == ' ' && i > 0 && i + 1 < phrase.size() && phrase[i - 1] != ' ' && phrase[i + 1] != ' ';
    if (lone) {
      words.emplace_back();
    } else {
      words.back() += phrase[i];
    }
  }
  return words;
}

// "head name <address>after", folded where it would pass 78 characters (RFC 5322 2.1.1): the
// name as encoded words when it is not plain ASCII, else as a phrase folded at its blanks.
// Nothing is cut: a cut line would lose the address.
std::string MailboxLine(std::string_view head, std::string_view name, std::string_view address,
                        std::string_view after) {
  const std::string text = HeaderText(name);
  std::string mailbox = "<" + HeaderText(address) + ">" + std::string(after);
  if (text.empty()) return std::string(head) + " " + mailbox;
  std::vector<std::string> tokens =
      NeedsEncodedWords(text) ? EncodedWords(text, kFoldedLineLength - head.size()) : PhraseWords(DisplayName(text));
  tokens.push_back(std::move(mailbox));
  return FoldedHeader(head, tokens);
}

std::string LowerFileName(const TpxAttItem& item) { return LowerCase(FileNamePart(item.FileName())); }

bool IsAlternative(const TpxAttItem& item) { return StartsStr(kAlternativePrefix, LowerFileName(item)); }

// Feeds an item's bytes to a block encoder (Base64 or quoted-printable lines) as they are read.
template <class Encoder>
void EncodeBlocks(const TpxAttItem& item, TpxOutBuffer& out) {
  Encoder encoder;
  item.ReadBlocks(kDataBlock, [&](std::string_view block) {
    encoder.Add(block, out.Pending());
    out.Written();
    ProcessMessages();
  });
  encoder.Finish(out.Pending());
  out.Written();
}

void WriteTextBlock(TTextLineWriter& writer, std::string_view block, TpxOutBuffer& out) {
  writer.Add(block, out.Pending());
  out.Written();
  ProcessMessages();
}

void WriteTextLines(std::string_view data, TpxOutBuffer& out) {
  TTextLineWriter writer;
  for (size_t pos = 0; pos < data.size(); pos += kDataBlock) WriteTextBlock(writer, data.substr(pos, kDataBlock), out);
}

void WriteTextLines(const TpxAttItem& item, TpxOutBuffer& out) {
  TTextLineWriter writer;
  item.ReadBlocks(kDataBlock, [&](std::string_view block) { WriteTextBlock(writer, block, out); });
}

void WriteUULine(std::string_view bytes, TpxOutBuffer& out) {
  AppendUUEncodedLine(bytes, out.Pending());
  out.Pending().append("\r\n");
  out.Written();
}

// Lines of 45 bytes; the line of fewer (none, when the length is a multiple of 45) ends it. A
// line cut by a block's end waits for the rest of its bytes.
void WriteUULines(const TpxAttItem& item, TpxOutBuffer& out) {
  std::string carry;
  item.ReadBlocks(kDataBlock, [&](std::string_view block) {
    if (!carry.empty()) {
      const size_t taken = std::min(kUULineBytes - carry.size(), block.size());
      carry.append(block.substr(0, taken));
      block.remove_prefix(taken);
      if (carry.size() < kUULineBytes) return;
      WriteUULine(carry, out);
      carry.clear();
    }
    for (; block.size() >= kUULineBytes; block.remove_prefix(kUULineBytes))
      WriteUULine(block.substr(0, kUULineBytes), out);
    carry.assign(block);
    ProcessMessages();
  });
  WriteUULine(carry, out);
}

}  // namespace

void SetBoundarySource(TBoundarySource source) { BoundarySource() = std::move(source); }

std::string DisplayName(std::string_view name) {
  const std::string text = HeaderText(name);
  return text.empty() || IsAtomSequence(text) ? text : QuotedParameter(text);
}

std::string QuotedParameter(std::string_view value) {
  std::string quoted = "\"";
  for (char c : HeaderText(value)) {
    if (c == '"' || c == '\\') quoted += '\\';
    quoted += c;
  }
  return quoted + '"';
}

// --- TpxCustomEncoder ---------------------------------------------------------------------

TpxCustomEncoder::TpxCustomEncoder(TpxCustomMessage& message) : TpxCustomEncoder(message, message.Headers()) {}

TpxCustomEncoder::TpxCustomEncoder(const TpxCustomMessage& message, TpxHeaders& headers)
    : message_(message), headers_(headers) {
  for (const std::string& line : message.Body()) {
    longLines_ = longLines_ || line.size() > 255;
    utf8Body_ = utf8Body_ || (message.CharSet() == csUTF8 && !IsAscii(line));
  }
}

void TpxCustomEncoder::Encode() {
  output_->SetPosition(0);
  out_.SetStream(output_);
  WriteHeaders();
  WriteBody();
  out_.Flush();
}

void TpxCustomEncoder::WriteBody() {
  if (message_.Encoding() == meUU) return WriteUUMessage();
  contentType_ = message_.ContentType();
  // A text type with attachments means the single attachment is the whole body: sending the
  // message's (empty) body instead would lose the file.
  const bool noAttachments = message_.Attachments().Count() == 0;
  if (contentType_ == "multipart/mixed") {
    WriteMultipart(false);
  } else if (contentType_ == "multipart/alternative") {
    WriteMultipart(true);
  } else if (contentType_ == "text/plain" && noAttachments) {
    WritePlainText();
  } else if ((contentType_ == "text/html" || contentType_ == "text/rtf") && noAttachments) {
    WriteFormattedBody();
  } else {
    WriteSinglePart();
  }
}

std::string TpxCustomEncoder::NewBoundary() { return BoundarySource() ? BoundarySource()() : RandomBoundary(); }

void TpxCustomEncoder::RemoveReservedHeaders() {
  // RFC 5322 3.6.3: the blind copies go in the envelope only; no Bcc of the message's own headers,
  // however many, goes out with the text.
  RemoveEveryHeader(headers_, "BCC");
  for (const char* name : {"From", "To", "CC", "Return-Receipt-To", "X-Priority", "Subject", "Mime-Version",
                           "Content-Type", "X-Encoding", "Content-Transfer-Encoding"})
    RemoveHeader(headers_, name);
}

void TpxCustomEncoder::WriteExtraHeaders() {
  for (const std::string& line : headers_) WriteLine(FoldedLongLine(line));
}

// One header for the whole list, folded after each comma: every mailbox starts a line of its own.
void TpxCustomEncoder::WriteAddressLines(std::string_view label, const TpxAddressList& list) {
  std::string first(label);
  if (!EndsStr(":", first)) first += ':';
  first.resize(std::max<size_t>(first.size(), 10), ' ');
  const std::string indent(10, ' ');
  for (int i = 0; i < list.Count(); ++i) {
    const TpxMailAddress& address = list.Items(i);
    const std::string_view after = i + 1 == list.Count() ? "" : ",";
    WriteLine(MailboxLine(i == 0 ? first : indent, address.Name(), address.Address(), after));
  }
}

void TpxCustomEncoder::WriteSubject() {
  constexpr std::string_view kHead = "Subject:  ";
  const std::string subject = HeaderText(message_.Subject());
  if (subject.empty()) return;
  if (!NeedsEncodedWords(subject)) return WriteLine(CutLine(std::string(kHead) + subject));
  // The text is cut where the line would have been, before a whole character, and then encoded:
  // a cut through the encoded line would split a word.
  const std::string_view text = Utf8Prefix(subject, ShortString::kMaxLength - kHead.size());
  WriteLine(FoldedHeader(kHead, EncodedWords(text, kFoldedLineLength - kHead.size())));
}

// A Date or Message-ID the message already holds in its own headers stays, and is written
// with them.
void TpxCustomEncoder::WriteSubjectAndVersion(std::string_view messageId) {
  WriteSubject();
  const TComposeTime now = ComposeTime();
  const TpxHeaders& own = headers_;
  if (GetRawHeaderValue(own, "Date").empty()) WriteLine("Date: " + DateHeaderValue(now));
  if (GetRawHeaderValue(own, "Message-ID").empty())
    WriteLine("Message-ID: " +
              (messageId.empty() ? NewMessageId(message_.Sender().Address(), now) : HeaderText(messageId)));
  if (message_.Encoding() == meMIME) WriteLine("Mime-Version: 1.0");
}

void TpxCustomEncoder::WritePlainTextHeaders() {
  if (message_.CharSet() == csISO8859 || utf8Body_) {
    WriteLine("Content-Type: text/plain" + BodyCharsetParameter());
    WriteLine("Content-Transfer-Encoding: quoted-printable");
  } else {
    WriteLine("Content-Type: text/plain; charset=\"us-ascii\"");
    WriteLine(longLines_ ? "Content-Transfer-Encoding: quoted-printable" : "Content-Transfer-Encoding: 7bit");
  }
}

std::string TpxCustomEncoder::BodyCharsetParameter() const {
  if (message_.CharSet() == csISO8859) return "; charset=\"iso-8859-1\"";
  return utf8Body_ ? "; charset=\"utf-8\"" : "";
}

// Only a body in a character set of its own, or with lines too long for 7bit, needs encoding.
void TpxCustomEncoder::EncodeBody() {
  if (message_.CharSet() == csISO8859 || longLines_ || utf8Body_) return WriteQuotedPrintableBody();
  WriteBodyLines();
}

// RFC 5322 2.3: CR and LF occur only together; a line break inside a body line goes as CR LF.
void TpxCustomEncoder::WriteBodyLines() {
  for (const std::string& line : message_.Body()) {
    WriteTextLines(line, out_);
    WriteLine("");
  }
}

void TpxCustomEncoder::WriteQuotedPrintableBody() {
  TQPEncoder encoder;
  for (const std::string& line : message_.Body()) {
    encoder.Add(line, out_.Pending());
    encoder.Add("\r\n", out_.Pending());
    out_.Written();
  }
  encoder.Finish(out_.Pending());
  out_.Written();
}

void TpxCustomEncoder::WritePlainText() {
  WritePlainTextHeaders();
  WriteLine("");
  EncodeBody();
}

void TpxCustomEncoder::WriteFormattedBody() {
  std::string type = contentType_ == "text/html" ? "Content-Type: text/html" : "Content-Type: text/rtf";
  WriteLine(type + BodyCharsetParameter());
  WriteLine("Content-Transfer-Encoding: quoted-printable");
  WriteLine("");
  // The message's Body keeps its own text: encoding it in place would encode it again on the
  // next send.
  WriteQuotedPrintableBody();
}

TPartFacts TpxCustomEncoder::ReadFacts(const TpxAttItem& item) {
  TAttSource* source = item.Source();
  if (source == nullptr) return PartFactsOf(item.Stream().Data());
  if (!source->KnownFacts()) {
    TPartFactsReader reader;
    item.ReadBlocks(kDataBlock, [&](std::string_view block) {
      reader.Add(block);
      ProcessMessages();
    });
    source->KnownFacts() = reader.Facts();
  }
  return *source->KnownFacts();
}

const TPartFacts& TpxCustomEncoder::Facts(const TpxAttItem& item) {
  const auto known = facts_.find(&item);
  if (known != facts_.end()) return known->second;
  return facts_[&item] = ReadFacts(item);
}

// A 7bit attachment whose data is not such text goes as Base64, so that it arrives exactly. As
// the whole body of a single part it must also end in CR LF: no delimiter follows to take the
// last line end, so a reader counts the one the text needs to end as data.
int TpxCustomEncoder::EncodingOf(const TpxAttItem& item) {
  const int code = item.TransferEncoding();
  if (code != kEncoding7Bit) return code;
  const TPartFacts& facts = Facts(item);
  const bool endsAsText = !singlePart_ || facts.size == 0 || facts.endsWithCrLf;
  return facts.travelsAsLines && endsAsText ? code : kEncodingBase64;
}

// The bytes travel as they are; a text that is neither ASCII nor UTF-8 gets no charset, as no
// label could be trusted.
std::string TpxCustomEncoder::CharsetParameter(const TpxAttItem& item, std::string_view type) {
  if (!StartsText("text/", type) || type.find(';') != std::string_view::npos) return {};
  const TPartFacts& facts = Facts(item);
  if (facts.ascii) return "; charset=us-ascii";
  return facts.utf8 ? "; charset=utf-8" : "";
}

// RFC 2046 5.2.1: the body of a message/rfc822 part may not be encoded, so a message file that
// must go as Base64 is announced as plain bytes.
std::string TpxCustomEncoder::ContentTypeOf(const TpxAttItem& item) {
  if (EncodingOf(item) != item.TransferEncoding() && SameText(item.ContentType(), "message/rfc822"))
    return "application/octet-stream";
  return item.ContentType();
}

std::string TpxCustomEncoder::EncodingLine(const TpxAttItem& item) {
  return std::string("Content-Transfer-Encoding: ") + TransferEncodingNames[EncodingOf(item)];
}

void TpxCustomEncoder::WriteAttachmentHeaders(const TpxAttItem& item, bool bare) {
  const std::string mediaType = ContentTypeOf(item);
  const std::string type = CutLine("Content-Type: " + HeaderText(mediaType));
  const std::string typeLine = type + CharsetParameter(item, mediaType);
  const std::string name = HeaderText(FileNamePart(item.FileName()));
  WriteLine(bare ? typeLine : typeLine + FileNameParameter("name", name));
  WriteLine(EncodingLine(item));
  constexpr std::string_view kDisposition = "Content-Disposition: attachment";
  if (!bare) WriteLine(std::string(kDisposition) + FileNameParameter("filename", name));
}

bool TpxCustomEncoder::WriteData(const TpxAttItem& item, TDataLayout layout) {
  switch (layout) {
    case TDataLayout::Base64: EncodeBlocks<TBase64LineEncoder>(item, out_); break;
    case TDataLayout::QuotedPrintable: EncodeBlocks<TQPEncoder>(item, out_); break;
    case TDataLayout::TextLines: WriteTextLines(item, out_); break;
    case TDataLayout::UULines: WriteUULines(item, out_); break;
  }
  return out_.AtLineStart();
}

bool TpxCustomEncoder::WriteAttachmentData(const TpxAttItem& item) {
  switch (EncodingOf(item)) {
    case kEncodingBase64: return WriteData(item, TDataLayout::Base64);
    case kEncodingQuotedPrintable: return WriteData(item, TDataLayout::QuotedPrintable);
    default: return WriteData(item, TDataLayout::TextLines);
  }
}

void TpxCustomEncoder::WriteSinglePart() {
  singlePart_ = true;
  const TpxAttList& attachments = message_.Attachments();
  const TpxAttItem& item = attachments.Items(0);
  const std::string name = LowerFileName(item);
  if (attachments.Count() == 1 && (name == kHtmlBodyFile || name == kRtfBodyFile)) {
    // The file is the message's body: no name, no disposition.
    const std::string type = name == kHtmlBodyFile ? "text/html" : "text/rtf";
    WriteLine("Content-Type: " + type + CharsetParameter(item, type));
    WriteLine(EncodingLine(item));
  } else {
    WriteAttachmentHeaders(item, false);
  }
  WriteLine("");
  if (!WriteAttachmentData(item)) WriteLine("");
}

void TpxCustomEncoder::WriteMultipart(bool alternative) {
  const TpxAttList& attachments = message_.Attachments();
  // Without attachments this fails here, before anything of the body is written.
  const std::string firstName = LowerFileName(attachments.Items(0));
  const bool hasBody = !message_.Body().Empty();
  const bool bodyFile = !hasBody && (firstName == kHtmlBodyFile || firstName == kRtfBodyFile);
  std::string boundary = NewBoundary();
  WriteLine("Content-Type: " + contentType_ + "; boundary=" + QuotedParameter(boundary));
  WriteLine("");
  WriteLine(kPreamble);
  WriteLine("");
  WriteLine("--" + boundary);
  bool inAlternative = alternative || StartsStr(kAlternativePrefix, firstName);
  bool inner = inAlternative && !alternative;
  const std::string outer = boundary;
  if (inner) {
    boundary = InnerBoundary(outer);
    WriteLine("Content-Type:  multipart/alternative; boundary=" + QuotedParameter(boundary));
    WriteLine("Content-Transfer-Encoding: 7bit");
    WriteLine("");
    WriteLine("--" + boundary);
  }
  if (hasBody) {
    WritePlainTextHeaders();
    WriteLine("");
    EncodeBody();
    WriteLine("");  // RFC 2046 5.1.1: the line end before a delimiter belongs to the delimiter
    WriteLine("--" + boundary);
  }
  for (int i = 0; i < attachments.Count(); ++i) {
    const TpxAttItem& item = attachments.Items(i);
    WriteAttachmentHeaders(item, inAlternative || (i == 0 && bodyFile));
    WriteLine("");
    WriteAttachmentData(item);
    WriteLine("");
    const bool last = i + 1 == attachments.Count();
    if (last || (inner && !IsAlternative(attachments.Items(i + 1)))) {
      WriteLine("--" + boundary + "--");
      if (last) return;
      inner = inAlternative = false;
      boundary = outer;
    }
    WriteLine("--" + boundary);
  }
}

// The boundary of a nested alternative. RFC 2046 5.1.1: no boundary may be the same as an
// enclosing one, so a draw that equals the outer one (only an installed source repeats itself)
// ends in another digit.
std::string TpxCustomEncoder::InnerBoundary(const std::string& outer) {
  std::string boundary = NewBoundary();
  if (boundary == outer && !boundary.empty()) boundary.back() = boundary.back() == '0' ? '1' : '0';
  return boundary;
}

void TpxCustomEncoder::WriteUUMessage() {
  WriteLine("");
  WriteBodyLines();
  for (int i = 0; i < message_.Attachments().Count(); ++i) WriteUUAttachment(message_.Attachments().Items(i));
}

void TpxCustomEncoder::WriteUUAttachment(const TpxAttItem& item) {
  WriteLine("");
  WriteLine("begin 600 " + HeaderText(FileNamePart(item.FileName())));
  WriteData(item, TDataLayout::UULines);
  WriteLine("`");
  WriteLine("end");
}

// --- Header blocks ------------------------------------------------------------------------

void TpxMessageEncoder::WriteHeaders() {
  const auto* message = dynamic_cast<const TpxMessage*>(&Message());
  if (message == nullptr) throw InvalidCastError();
  const TpxMailAddress& sender = message->Sender();
  WriteLine(MailboxLine("From:     ", sender.Name(), sender.Address(), ""));
  WriteAddressLines("To", message->Recipients());
  WriteAddressLines("CC", message->CC());
  if (message->ReturnReceipt()) WriteLine(CutLine("Return-Receipt-To: <" + HeaderText(sender.Address()) + ">"));
  if (message->Priority() == ptLow) WriteLine("X-Priority: 5");
  if (message->Priority() == ptHigh) WriteLine("X-Priority: 1");
  RemoveReservedHeaders();
  WriteExtraHeaders();
  WriteSubjectAndVersion({});
}

void TpxArticleEncoder::WriteHeaders() {
  const auto* article = dynamic_cast<const TpxArticle*>(&Message());
  if (article == nullptr) throw InvalidCastError();
  const TpxMailAddress& sender = article->Sender();
  WriteLine(MailboxLine("From:     ", sender.Name(), sender.Address(), ""));
  WriteLine(FoldedLongLine("Newsgroups: " + HeaderText(article->NewsGroups())));
  RemoveReservedHeaders();
  // RFC 5536 3.1.4: one Newsgroups header, the one just written.
  RemoveHeader(OwnHeaders(), "Newsgroups");
  WriteExtraHeaders();
  WriteSubjectAndVersion(article->MessageId());
}
