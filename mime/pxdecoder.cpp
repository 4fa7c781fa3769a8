#include "mime/pxdecoder.h"

#include <algorithm>
#include <utility>

#include "mail/pxmsg.h"
#include "mime/codecs/charsets.h"
#include "mime/codecs/pxcodecs.h"
#include "toolkit/pump.h"
#include "toolkit/streams.h"
#include "toolkit/strutils.h"

namespace {

constexpr std::string_view kAttachmentPrefix = "att.";
constexpr std::string_view kAlternativePrefix = "_alt.";
constexpr const char* kOriginalName = "original.eml";
// RFC 2231 3: a parameter may come in numbered sections; a name needs no more than these.
constexpr int kMaxParamSections = 64;
// Lines of part data between two calls of the (rate-limited) pump.
constexpr int kLinesPerPump = 256;
// Base64 text decoded in one go; the decoder pumps once per block.
constexpr size_t kBase64Block = 64 * 1024;

bool Contains(std::string_view text, std::string_view part) { return text.find(part) != std::string_view::npos; }

bool IsBlankOrTab(char c) { return c == ' ' || c == '\t'; }

std::string LowerValue(const TpxHeaders& headers, std::string_view name) {
  return LowerCase(GetHeaderValue(headers, name));
}

// A text body labelled utf-8 is UTF-8; quoted-printable text of any other label has always been
// taken for ISO-8859-1.
void ReadBodyCharSet(const TpxHeaders& headers, std::string_view encoding, TpxCustomMessage& message) {
  const std::string charset = LowerCase(GetHeaderParam("charset", GetRawHeaderValue(headers, "Content-Type")));
  if (charset == "utf-8" || charset == "utf8") {
    message.SetCharSet(csUTF8);
  } else if (encoding == "quoted-printable") {
    message.SetCharSet(csISO8859);
  }
}

// RFC 2231 4: an extended value starts with charset'language'.
struct TExtendedStart {
  std::string_view charset;
  std::string_view text;
};

TExtendedStart SplitCharset(std::string_view text) {
  const size_t first = text.find('\'');
  const size_t second = first == std::string_view::npos ? first : text.find('\'', first + 1);
  if (second == std::string_view::npos) return {{}, text};
  return {text.substr(0, first), text.substr(second + 1)};
}

// RFC 2231 4: "%" and two hex digits stand for one byte; anything else stays as it is.
std::string PercentDecoded(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    uint64_t value = 0;
    if (text[i] == '%' && i + 2 < text.size() && TryHexToInt(text.substr(i + 1, 2), value)) {
      out += static_cast<char>(value);
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

// A file-name parameter as mailers write it: plain, quoted with backslash escapes, holding
// RFC 2047 encoded words, or in the RFC 2231 forms name*=charset''text and name*0, name*1*, ...
// value is the header as written: the parameters are found first and then each is decoded, so
// that no decoded text can end a value or add a parameter, and none is cut.
std::string MimeParam(std::string_view name, std::string_view value) {
  std::string plain = GetHeaderParam(name, value);
  if (!plain.empty()) return Contains(plain, "=?") ? DecodeHeaderWords(plain, std::string::npos) : plain;
  const std::string key = std::string(name) + "*";
  if (const std::string extended = GetHeaderParam(key, value); !extended.empty()) {
    const TExtendedStart start = SplitCharset(extended);
    return ToUtf8(PercentDecoded(start.text), start.charset);
  }
  // The sections are joined as bytes first: a character may be split across two of them.
  std::string joined;
  std::string charset;
  for (int i = 0; i < kMaxParamSections; ++i) {
    const std::string section = key + std::to_string(i);
    if (const std::string piece = GetHeaderParam(section + "*", value); !piece.empty()) {
      TExtendedStart start{{}, piece};
      if (i == 0) {
        start = SplitCharset(piece);
        charset = start.charset;
      }
      joined += PercentDecoded(start.text);
    } else if (const std::string quoted = GetHeaderParam(section, value); !quoted.empty()) {
      joined += quoted;
    } else {
      break;
    }
  }
  return ToUtf8(joined, charset);
}

// Base64 lines, with trailing blanks taken as transport padding.
void AppendBase64Line(std::string_view line, std::string& out) {
  while (!line.empty() && IsBlankOrTab(line.back())) line.remove_suffix(1);
  if (!line.empty()) AppendBase64Decoded(line, out);
}

// Turns the lines of one part back into its bytes, line by line. The line end before a
// delimiter belongs to the delimiter (RFC 2046 5.1.1): text and quoted-printable data get a
// line end after their last line only when Finish is told that the input had one there.
class TPartWriter {
 public:
  TPartWriter(int code, bool uuencoded, std::string& out)
      : kind_(code == kEncodingBase64            ? (uuencoded ? Kind::uu : Kind::base64)
              : code == kEncodingQuotedPrintable ? Kind::quotedPrintable
                                                 : Kind::text),
        out_(out) {}

  void Add(std::string_view line) {
    switch (kind_) {
      case Kind::base64: AppendBase64Line(line, out_); break;
      case Kind::uu:
        if (!line.empty() && line != "`" && line != "end" && !IsUUBeginLine(line)) out_ += UUDecodeLine(line);
        break;
      case Kind::quotedPrintable:
        if (pendingBreak_) out_ += "\r\n";
        pendingBreak_ = !TQuotedPrintable::DecodeLine(line, out_);
        break;
      case Kind::text:
        if (pendingBreak_) out_ += "\r\n";
        out_ += line;
        pendingBreak_ = true;
        break;
    }
    if (++lines_ % kLinesPerPump == 0) ProcessMessages();
  }

  void Finish(bool lineEnd) {
    if (pendingBreak_ && lineEnd) out_ += "\r\n";
  }

 private:
  enum class Kind { base64, uu, quotedPrintable, text };
  Kind kind_;
  std::string& out_;
  bool pendingBreak_ = false;
  unsigned lines_ = 0;
};

// The text of quoted-printable lines, as the next step reloads it into lines.
std::string DecodedQuotedPrintable(const TStringList& lines) {
  std::string text;
  TPartWriter writer(kEncodingQuotedPrintable, false, text);
  for (const std::string& line : lines) writer.Add(line);
  return text;
}

}  // namespace

TpxCustomDecoder::TpxCustomDecoder(TStream& source) {
  lines_.LoadFromStream(source);
  lines_.Reset();
}

void TpxCustomDecoder::Decode() {
  ReadHeaderBlock(messageHeaders_);
  ApplyHeaders();
  try {
    if (GetHeaderValue(messageHeaders_, "MIME-VERSION") == "1.0") {
      ReadMimeBody();
    } else {
      ReadPlainBody();
    }
  } catch (const EMessageParserError& e) {
    StoreOriginal(e.Message());
  }
}

void TpxCustomDecoder::RaiseParserError(StringId text) { throw EMessageParserError(LoadStr(text)); }

// RFC 5322 2.1: the header block ends at the first empty line. A text without one is all
// header; a line that looks like the reader's end mark while text remains is not.
void TpxCustomDecoder::ReadHeaderBlock(TpxHeaders& headers) {
  headers.Clear();
  std::string line;
  for (lines_.ReadLine(line); !line.empty() && !lines_.Eof() && line != TLineStream::kLineStreamEnd;
       lines_.ReadLine(line))
    headers.Add(line);
  if (line == TLineStream::kLineStreamEnd && !lines_.Eof()) RaiseParserError(sUnableToRetrieveHeaders);
}

void TpxCustomDecoder::StoreOriginal(const std::string& error) {
  TStringList& body = message_->Body();
  body.Add(LoadStr(sParserErrorNote));
  body.Add(error);
  body.Add(LoadStr(sOriginalStoredNote));
  try {
    auto item = std::make_unique<TpxAttItem>();
    item->SetFileName(kOriginalName);
    item->SetTransferEncoding(kEncoding7Bit);
    item->SetContentType("message/rfc822");
    item->Stream().Data() = lines_.Data();
    message_->Attachments().Add(std::move(item));
  } catch (const std::exception&) {
    // The note already tells the reader; the message is worth more than the copy.
  }
}

// A message without MIME: text lines up to the first uuencoded block, which takes the rest.
void TpxCustomDecoder::ReadPlainBody() {
  TStringList& body = message_->Body();
  std::string line;
  bool afterEmptyLine = false;
  while (!lines_.Eof()) {
    lines_.ReadLine(line);
    if (!lines_.Eof() && IsUUBeginLine(line)) {
      // The empty line that sets a block off from the text belongs to the block.
      if (afterEmptyLine) body.Delete(body.Count() - 1);
      ReadUUBlocks(line);
      message_->SetEncoding(meUU);
    }
    if (!lines_.Eof()) body.Add(line);
    afterEmptyLine = line.empty();
  }
}

void TpxCustomDecoder::ReadUUBlocks(std::string beginLine) {
  std::string line;
  while (!lines_.Eof()) {
    try {
      CountPart();
      auto item = std::make_unique<TpxAttItem>();
      item->SetFileName(UUFileName(beginLine));
      if (item->FileName().empty()) item->SetFileName(GeneratedName(kAttachmentPrefix));
      std::string& data = item->Stream().Data();
      for (lines_.ReadLine(line); !lines_.Eof() && line != "`" && !SameText(line, "end"); lines_.ReadLine(line))
        if (!line.empty()) data += UUDecodeLine(line);
      message_->Attachments().Add(std::move(item));
      do lines_.ReadLine(line);
      while (!lines_.Eof() && !IsUUBeginLine(line));
      beginLine = line;
    } catch (const EMessageParserError&) {
      throw;
    } catch (const std::exception&) {
      RaiseParserError(sErrorDecodingAttachment);
    }
  }
}

void TpxCustomDecoder::ReadMimeBody() {
  const std::string type = LowerValue(messageHeaders_, "Content-type");
  if (Contains(type, "multipart/alternative")) return ReadAlternative();
  if (Contains(type, "multipart")) return ReadMultipart();
  if ((!type.empty() && !Contains(type, "text/")) || !MimeParam("name", type).empty())
    return ReadSinglePartAttachment();
  ReadSinglePartText();
}

void TpxCustomDecoder::ReadAlternative() {
  isAlternative_ = true;
  ReadMultipart();
}

void TpxCustomDecoder::ReadMultipart() {
  delimiter_ = "--" + GetHeaderParam("Boundary", GetHeaderValue(messageHeaders_, "Content-Type"));
  SkipToDelimiter(sCannotFindBoundary);
  ReadFirstPart();
  ReadAttachmentParts();
}

// Before the first part of a set only a line that is exactly the delimiter counts.
void TpxCustomDecoder::SkipToDelimiter(StringId error) {
  std::string line;
  do lines_.ReadLine(line);
  while (!lines_.Eof() && line != delimiter_);
  if (lines_.Eof()) RaiseParserError(error);
}

// The first part is the body, unless it is Base64: then it is the first attachment.
void TpxCustomDecoder::ReadFirstPart() {
  ReadHeaderBlock(partHeaders_);
  const std::string type = GetHeaderValue(partHeaders_, "Content-Type");
  if (Contains(LowerCase(type), "multipart/alternative")) {
    inNestedAlternative_ = true;
    outerDelimiter_ = delimiter_;
    // The boundary keeps its case: RFC 2046 5.1.1 compares it exactly.
    delimiter_ = "--" + GetHeaderParam("boundary", type);
    SkipToDelimiter(sCannotFindBoundary);
    ReadHeaderBlock(partHeaders_);
  }
  const std::string encoding = LowerValue(partHeaders_, "Content-Transfer-Encoding");
  if (encoding == "base64") {
    firstPartPending_ = true;
    return;
  }
  TStringList& body = message_->Body();
  body.Clear();
  ReadBodyCharSet(partHeaders_, encoding, *message_);
  std::string line;
  for (lines_.ReadLine(line); !lines_.Eof() && line != delimiter_ && !IsCloseDelimiter(line, true);
       lines_.ReadLine(line))
    body.Add(line);
  if (encoding == "quoted-printable") {
    body.SetWholeText(DecodedQuotedPrintable(body));
  } else if (!body.Empty() && body[body.Count() - 1].empty()) {
    body.Delete(body.Count() - 1);  // the line end of the last line belongs to the delimiter
  }
  if (body.Empty()) body.Add("");
  if (IsCloseDelimiter(line, true)) {
    message_->SetContentType(GetHeaderValue(partHeaders_, "Content-Type"));
    while (!lines_.Eof()) lines_.ReadLine(line);
  } else if (lines_.Eof()) {
    RaiseParserError(sCannotFindBoundary);
  }
}

void TpxCustomDecoder::ReadAttachmentParts() {
  if (lines_.Eof()) return;
  while (ReadAttachmentPart()) {
  }
}

// Reads one attachment part; true when another part of the message follows.
bool TpxCustomDecoder::ReadAttachmentPart() {
  ProcessMessages();
  if (firstPartPending_) {
    firstPartPending_ = false;
  } else {
    ReadHeaderBlock(partHeaders_);
  }
  CountPart();
  auto item = std::make_unique<TpxAttItem>();
  const TDataEncoding encoding = EncodingOf(partHeaders_);
  NamePart(*item, encoding);  // a failing content-type lookup is not a decoding error
  TPartEnd end = TPartEnd::endOfInput;
  try {
    end = ReadPartData(*item, encoding);
  } catch (const EMessageParserError&) {
    throw;
  } catch (const std::exception&) {
    RaiseParserError(sErrorDecodingAttachment);
  }
  message_->Attachments().Add(std::move(item));
  if (end == TPartEnd::delimiter) return true;
  if (inNestedAlternative_) return CloseNestedAlternative();
  // A multipart text cut short: what was read stays, and the reader learns that it is partial.
  if (end == TPartEnd::endOfInput) RaiseParserError(sCannotFindClosingBoundary);
  return false;
}

// Names an attachment part: the declared type's name, else the disposition's filename, else a
// generated name. A named part takes the content type its extension gives.
void TpxCustomDecoder::NamePart(TpxAttItem& item, TDataEncoding encoding) {
  const std::string value = GetHeaderValue(partHeaders_, "Content-type");
  const std::string declared = value.empty() ? "text/plain" : ShortString::Cut(value);  // RFC 2045 5.2
  item.SetContentType(FirstToken(declared));
  // The name comes from the whole value: only the name itself is cut, when it is stored.
  item.SetFileName(MimeParam("name", value));
  item.SetTransferEncoding(encoding.code);
  if (!item.FileName().empty()) return;
  item.SetFileName(MimeParam("filename", GetRawHeaderValue(partHeaders_, "Content-Disposition")));
  item.SetTransferEncoding(encoding.code);
  if (!item.FileName().empty()) return;
  const std::string type = item.ContentType();
  const bool alternative = isAlternative_ || inNestedAlternative_;
  item.SetFileName(GeneratedName(alternative ? kAlternativePrefix : kAttachmentPrefix));
  item.SetTransferEncoding(encoding.code);
  if (!type.empty()) item.SetContentType(type);
}

TpxCustomDecoder::TPartEnd TpxCustomDecoder::ReadPartData(TpxAttItem& item, TDataEncoding encoding) {
  std::string& data = item.Stream().Data();
  std::string line;
  const bool base64 = encoding.code == kEncodingBase64 && !encoding.uuencoded;
  if (!base64 || !DecodeBase64Block(data, FindLine(delimiter_, false))) {
    TPartWriter writer(encoding.code, encoding.uuencoded, data);
    for (lines_.ReadLine(line); !lines_.Eof() && !IsDelimiter(line); lines_.ReadLine(line)) writer.Add(line);
  } else {
    lines_.ReadLine(line);
  }
  if (lines_.Eof()) return TPartEnd::endOfInput;
  return IsCloseDelimiter(line, false) ? TPartEnd::closeDelimiter : TPartEnd::delimiter;
}

// The nested alternative set is over; the walk goes on in the enclosing set.
bool TpxCustomDecoder::CloseNestedAlternative() {
  inNestedAlternative_ = false;
  delimiter_ = outerDelimiter_;
  std::string line;
  do lines_.ReadLine(line);
  while (!lines_.Eof() && !IsDelimiter(line));
  if (lines_.Eof()) RaiseParserError(sCannotFindClosingBoundary);
  return !IsCloseDelimiter(line, false);
}

void TpxCustomDecoder::ReadSinglePartText() {
  const std::string type = LowerCase(FirstToken(ShortString::Cut(GetHeaderValue(messageHeaders_, "Content-Type"))));
  if (type == "text/html" || type == "text/rtf") message_->SetContentType(type);
  TStringList& body = message_->Body();
  body.Clear();
  const std::string encoding = LowerValue(messageHeaders_, "Content-Transfer-Encoding");
  ReadBodyCharSet(messageHeaders_, encoding, *message_);
  std::string line;
  if (encoding == "base64") {
    std::string text;
    for (lines_.ReadLine(line); !lines_.Eof(); lines_.ReadLine(line)) AppendBase64Line(line, text);
    body.SetWholeText(text);
    return;
  }
  for (lines_.ReadLine(line); !lines_.Eof(); lines_.ReadLine(line)) {
    body.Add(line);
    if (IsUUBeginLine(line)) {
      // Uuencoded data inside a MIME text: read the text again, as a message without MIME.
      // The fields taken from the header block stay; the block is only stepped over.
      lines_.Reset();
      body.Clear();
      ReadHeaderBlock(messageHeaders_);
      return ReadPlainBody();
    }
  }
  if (encoding == "quoted-printable") body.SetWholeText(DecodedQuotedPrintable(body));
}

void TpxCustomDecoder::ReadSinglePartAttachment() {
  try {
    CountPart();
    auto item = std::make_unique<TpxAttItem>();
    const TDataEncoding encoding = EncodingOf(messageHeaders_);
    NameSinglePart(*item, encoding);
    ReadSinglePartData(*item, encoding);
    message_->Attachments().Add(std::move(item));
  } catch (const EMessageParserError&) {
    throw;
  } catch (const std::exception&) {
    RaiseParserError(sErrorDecodingAttachment);
  }
}

// Named as a part is, except that the attachment always keeps the declared media type.
void TpxCustomDecoder::NameSinglePart(TpxAttItem& item, TDataEncoding encoding) {
  const std::string value = GetHeaderValue(messageHeaders_, "Content-type");
  item.SetFileName(MimeParam("name", value));
  if (item.FileName().empty())
    item.SetFileName(MimeParam("filename", GetRawHeaderValue(messageHeaders_, "Content-Disposition")));
  if (item.FileName().empty()) item.SetFileName(GeneratedName(kAttachmentPrefix));
  item.SetTransferEncoding(encoding.code);
  item.SetContentType(FirstToken(ShortString::Cut(value)));
}

// The data runs to the end of the text, whose last line end is the data's own. Base64 data
// also ends at a line ".": a message saved with the SMTP end-of-data line still carries it
// (RFC 5321 4.1.1.4).
void TpxCustomDecoder::ReadSinglePartData(TpxAttItem& item, TDataEncoding encoding) {
  std::string& data = item.Stream().Data();
  const bool base64 = encoding.code == kEncodingBase64 && !encoding.uuencoded;
  if (base64 && DecodeBase64Block(data, FindLine(".", true))) return;
  TPartWriter writer(encoding.code, encoding.uuencoded, data);
  std::string line;
  for (lines_.ReadLine(line); !lines_.Eof(); lines_.ReadLine(line)) {
    if (encoding.code == kEncodingBase64 && line == ".") return;
    writer.Add(line);
  }
  writer.Finish(EndsWithLineEnd());
}

TpxCustomDecoder::TDataEncoding TpxCustomDecoder::EncodingOf(const TpxHeaders& headers) {
  const std::string value = LowerValue(headers, "Content-Transfer-Encoding");
  if (value == "base64") return {kEncodingBase64, false};
  if (StartsStr("x-uue", value)) return {kEncodingBase64, true};
  if (value == "quoted-printable") return {kEncodingQuotedPrintable, false};
  return {};
}

// An attachment part ends at a line that begins with the delimiter.
bool TpxCustomDecoder::IsDelimiter(std::string_view line) const { return StartsStr(delimiter_, line); }

// The delimiter and "--". After an attachment part blanks may follow it (RFC 2046 5.1.1:
// transport padding); the first part takes it only as it stands.
bool TpxCustomDecoder::IsCloseDelimiter(std::string_view line, bool exact) const {
  if (!StartsStr(delimiter_, line) || line.substr(delimiter_.size(), 2) != "--") return false;
  const std::string_view rest = line.substr(delimiter_.size() + 2);
  if (exact) return rest.empty();
  for (char c : rest)
    if (!IsBlankOrTab(c)) return false;
  return true;
}

bool TpxCustomDecoder::EndsWithLineEnd() const {
  const std::string& text = lines_.Data();
  return !text.empty() && (text.back() == '\n' || text.back() == '\r');
}

bool IsGeneratedPartName(std::string_view name) {
  for (const std::string_view prefix : {kAttachmentPrefix, kAlternativePrefix}) {
    if (!StartsStr(prefix, name) || name.size() == prefix.size()) continue;
    const std::string_view number = name.substr(prefix.size());
    return std::all_of(number.begin(), number.end(), [](char c) { return c >= '0' && c <= '9'; });
  }
  return false;
}

std::string TpxCustomDecoder::GeneratedName(std::string_view prefix) const {
  return std::string(prefix) + std::to_string(message_->Attachments().Count());
}

void TpxCustomDecoder::CountPart() {
  if (++partsRead_ > kMaxAttachmentParts) RaiseParserError(sErrorDecodingAttachment);
}

// Where the first line from the reading position on that begins with prefix (or, when whole, is
// exactly prefix) starts; the end of the text when there is none.
size_t TpxCustomDecoder::FindLine(std::string_view prefix, bool whole) {
  const std::string_view text = lines_.Data();
  const size_t from = static_cast<size_t>(lines_.Position());
  for (size_t at = text.find(prefix, from); at != std::string_view::npos; at = text.find(prefix, at + 1)) {
    const bool lineStart = at == from || text[at - 1] == '\n' || text[at - 1] == '\r';
    const size_t after = at + prefix.size();
    if (lineStart && (!whole || after == text.size() || text[after] == '\r' || text[after] == '\n')) return at;
  }
  return text.size();
}

// Decodes the Base64 lines from the reading position up to end (a line start) a block at a
// time, many times faster than line by line, and moves the reader there. Reserving three
// quarters of the text up front keeps a large attachment from being moved, and held twice, as
// its buffer grows. Lines the block decoder refuses (padding blanks, a lone CR) leave data and
// reader as they were and return false: the line-by-line path takes those.
bool TpxCustomDecoder::DecodeBase64Block(std::string& data, size_t end) {
  const std::string_view text = lines_.Data();
  const size_t start = static_cast<size_t>(lines_.Position());
  const size_t kept = data.size();
  // The block decoder asks for room for a whole block of text before it decodes it.
  data.reserve(kept + (end - start) / 4 * 3 + std::min(end - start, kBase64Block) + 1);
  try {
    for (size_t pos = start; pos < end;) {
      size_t stop = std::min(end, pos + kBase64Block);
      if (stop < end) {
        const size_t lf = text.find('\n', stop - 1);
        stop = lf < end ? lf + 1 : end;
      }
      AppendBase64DecodedLines(text.substr(pos, stop - pos), data);
      pos = stop;
    }
  } catch (const EInOutError&) {
    data.resize(kept);
    return false;
  }
  lines_.SetPosition(static_cast<int64_t>(end));
  return true;
}

// --- The two parsers ----------------------------------------------------------------------

void TpxMessageDecoder::ApplyHeaders() {
  auto* message = dynamic_cast<TpxMessage*>(Message());
  if (message == nullptr) throw InvalidCastError();
  message->ReadHeaders(MessageHeaders());
}

void TpxArticleDecoder::ApplyHeaders() {
  auto* article = dynamic_cast<TpxArticle*>(Message());
  if (article == nullptr) throw InvalidCastError();
  article->ReadHeaders(MessageHeaders());
}
