#include "mail/pxmsg.h"

#include "mime/pxdecoder.h"
#include "mime/pxencoder.h"
#include "toolkit/componentstream.h"
#include "toolkit/strtable.h"

namespace {

constexpr std::initializer_list<const char*> kEncodingNames = {"meMIME", "meUU"};
constexpr std::initializer_list<const char*> kCharSetNames = {"csUSASCII", "csISO8859", "csUTF8"};
constexpr std::initializer_list<const char*> kPriorityNames = {"ptLow", "ptNormal", "ptHigh"};

const char* NameOf(std::initializer_list<const char*> names, int value) { return names.begin()[value]; }

// The ordinal of an enumeration value read from a component stream.
int IdentValue(std::initializer_list<const char*> names, const std::string& property, const TPropValue& value) {
  const int index = IdentIndex(value.text, names);
  if (value.kind != TPropValue::Kind::Ident || index < 0)
    throw EReadError("Invalid value " + value.text + " for property " + property);
  return index;
}

// A streamed value of the kind the property needs; another kind is a malformed stream.
const TPropValue& Expect(const TPropValue& value, TPropValue::Kind kind, const std::string& property) {
  if (value.kind != kind) throw EReadError("Invalid value for property " + property);
  return value;
}

TPropValue LinesValue(const TStringList& lines) {
  std::vector<TPropValue> items;
  items.reserve(static_cast<size_t>(lines.Count()));
  for (const std::string& line : lines) items.push_back(TPropValue::Str(line));
  return TPropValue::List(std::move(items));
}

void ReadLines(const TPropValue& value, const std::string& property, TStringList& lines) {
  for (const TPropValue& item : Expect(value, TPropValue::Kind::List, property).list)
    Expect(item, TPropValue::Kind::String, property);
  lines.Clear();
  for (const TPropValue& item : value.list) lines.Add(item.text);
}

const std::string& StringValue(const TPropValue& value, const std::string& property) {
  return Expect(value, TPropValue::Kind::String, property).text;
}

bool HasAddress(const TpxAddressList& list) {
  for (int i = 0; i < list.Count(); ++i)
    if (!list.Items(i).Address().empty()) return true;
  return false;
}

// RFC 5321 4.1.2 and RFC 5322 3.4.1: without SMTPUTF8 an address is ASCII; a server would
// refuse any other, and only after the connection is made.
void CheckAscii(const std::string& address) {
  if (!IsAscii(address)) throw EMessageError(FormatText(LoadStr(sAddressNotAscii), {DisplayText(address)}));
}

void CheckAscii(const TpxAddressList& list) {
  for (int i = 0; i < list.Count(); ++i) CheckAscii(list.Items(i).Address());
}

// A body labelled utf-8 must be UTF-8: a reader would show other bytes as replacement marks.
void CheckUtf8(const TStringList& body) {
  for (int i = 0; i < body.Count(); ++i)
    if (!IsValidUtf8(body[i])) throw EMessageError(FormatText(LoadStr(sBodyNotUtf8), {std::to_string(i + 1)}));
}

// Every item of an address header, each parsed into a new entry appended to list.
void ReadAddressHeader(const TpxHeaders& headers, std::string_view name, TpxAddressList& list) {
  TStringList items;
  GetHeaderAddresses(headers, name, items);
  for (const std::string& item : items) {
    auto address = std::make_unique<TpxMailAddress>();
    ParseAddress(item, *address);
    list.Add(std::move(address));
  }
}

void ReadSubject(const TpxHeaders& headers, TpxCustomMessage& message) {
  const std::string subject = GetHeaderValue(headers, "Subject");
  if (!subject.empty()) message.SetSubject(subject);
}

}  // namespace

std::string FileNamePart(std::string_view path) {
  const size_t slash = path.rfind('/');
  // NAME_MAX: no file system takes a longer name, and a reader may refuse one.
  return std::string(
      Utf8Prefix(slash == std::string_view::npos ? path : path.substr(slash + 1), ShortString::kMaxLength));
}

// --- TpxCustomMessage ---------------------------------------------------------------------

TpxCustomMessage::TpxCustomMessage(TComponent* owner)
    : TComponent(owner),
      sender_(std::make_unique<TpxMailAddress>()),
      headers_(std::make_unique<TpxHeaders>()),
      body_(std::make_unique<TStringList>()),
      attachments_(std::make_unique<TpxAttList>()) {}

TpxCustomMessage::~TpxCustomMessage() = default;

void TpxCustomMessage::SetSender(const TpxMailAddress& sender) { sender_->Assign(sender); }
void TpxCustomMessage::SetHeaders(const TStringList& headers) { headers_->Assign(headers); }
void TpxCustomMessage::SetBody(const TStringList& body) { body_->Assign(body); }

void TpxCustomMessage::SetAttachments(const TpxAttList& attachments) {
  if (&attachments != attachments_.get()) {
    attachments_->Clear();
    for (int i = 0; i < attachments.Count(); ++i) {
      const TpxAttItem& source = attachments.Items(i);
      auto item = std::make_unique<TpxAttItem>();
      if (Designing()) {
        // At design time the files are named, not read: Loaded reads them at run time.
        item->SetFileName(source.FileName());
        item->SetContentType(source.ContentType());
        item->SetTransferEncoding(source.TransferEncoding());
      } else {
        item->Assign(source);
      }
      attachments_->Add(std::move(item));
    }
  }
  contentType_ = ShortString(attachments_->Count() == 0 ? "text/plain" : "multipart/mixed");
}

std::string TpxCustomMessage::ContentType() const {
  contentType_ = ShortString(DeriveContentType());
  return contentType_;
}

void TpxCustomMessage::SetContentType(std::string_view contentType) {
  contentType_ = ShortString(LowerCase(contentType));
}

std::string TpxCustomMessage::DeriveContentType() const {
  if (encoding_ == meUU) return "";
  const int count = attachments_->Count();
  bool allAlternatives = count > 0;
  for (int i = 0; i < count && allAlternatives; ++i)
    allAlternatives = StartsStr("_alt.", LowerCase(FileNamePart(attachments_->Items(i).FileName())));
  if (allAlternatives) return "multipart/alternative";
  if (body_->Empty()) {
    if (count == 0) return "text/plain";
    if (count > 1) return "multipart/mixed";
    const std::string name = LowerCase(FileNamePart(attachments_->Items(0).FileName()));
    if (name == "_rtfbody.rtf") return "text/rtf";
    if (name == "_htmbody.htm") return "text/html";
    return attachments_->Items(0).ContentType();
  }
  if (count > 0) return "multipart/mixed";
  return contentType_.empty() ? "text/plain" : contentType_.str();
}

void TpxCustomMessage::Validate() {
  if (sender_->Address().empty()) throw EMessageError(LoadStr(sSenderRequired));
  CheckAscii(sender_->Address());
  if (charSet_ == csUTF8) CheckUtf8(*body_);
}

void TpxCustomMessage::SaveToStream(TStream&) { throw AbstractError(); }
void TpxCustomMessage::LoadFromStream(TStream&) { throw AbstractError(); }
void TpxCustomMessage::ReadHeaders(const TpxHeaders&) { throw AbstractError(); }

void TpxCustomMessage::Clear() {
  body_->Clear();
  attachments_->Clear();
  sender_->Clear();
  headers_->Clear();
  subject_ = ShortString();
  encoding_ = meMIME;
  charSet_ = csUSASCII;
  contentType_ = ShortString();
}

void TpxCustomMessage::Assign(const TPersistent& source) {
  const auto* message = dynamic_cast<const TpxCustomMessage*>(&source);
  if (message == nullptr) return TComponent::Assign(source);
  if (message == this) return;
  sender_->Assign(*message->sender_);
  subject_ = message->subject_;
  encoding_ = message->encoding_;
  charSet_ = message->charSet_;
  headers_->Assign(*message->headers_);
  body_->Assign(*message->body_);
  attachments_->Assign(*message->attachments_);
  contentType_ = ShortString(message->ContentType());
  SetTag(message->Tag());
}

void TpxCustomMessage::Loaded() {
  TComponent::Loaded();
  if (Designing()) return;
  for (int i = 0; i < attachments_->Count(); ++i) {
    TpxAttItem& item = attachments_->Items(i);
    item.Stream().LoadFromFile(item.FileName());
  }
}

void TpxCustomMessage::WriteProperties(TPropertyWriter& writer) const {
  TComponent::WriteProperties(writer);
  writer.Object("Attachments", *attachments_);
  writer.Property("ContentType", TPropValue::Str(DeriveContentType()));
  if (encoding_ != meMIME) writer.Property("Encoding", TPropValue::Ident(NameOf(kEncodingNames, encoding_)));
  writer.Object("Sender", *sender_);
  writer.Property("Subject", TPropValue::Str(subject_));
  if (charSet_ != csUSASCII) writer.Property("CharSet", TPropValue::Ident(NameOf(kCharSetNames, charSet_)));
  writer.Property("Headers", LinesValue(*headers_));
  writer.Property("Body", LinesValue(*body_));
}

bool TpxCustomMessage::ReadProperty(const std::string& name, const TPropValue& value) {
  if (name == "ContentType") {
    SetContentType(StringValue(value, name));
  } else if (name == "Encoding") {
    encoding_ = static_cast<TMsgEncoding>(IdentValue(kEncodingNames, name, value));
  } else if (name == "Subject") {
    SetSubject(StringValue(value, name));
  } else if (name == "CharSet") {
    charSet_ = static_cast<TCharSet>(IdentValue(kCharSetNames, name, value));
  } else if (name == "Headers") {
    ReadLines(value, name, *headers_);
  } else if (name == "Body") {
    ReadLines(value, name, *body_);
  } else {
    return TComponent::ReadProperty(name, value);
  }
  return true;
}

TPersistent* TpxCustomMessage::SubObject(const std::string& name) {
  if (name == "Sender") return sender_.get();
  if (name == "Attachments") return attachments_.get();
  return TComponent::SubObject(name);
}

// --- TpxMessage ---------------------------------------------------------------------------

TpxMessage::TpxMessage(TComponent* owner)
    : TpxCustomMessage(owner),
      recipients_(std::make_unique<TpxAddressList>()),
      cc_(std::make_unique<TpxAddressList>()),
      bcc_(std::make_unique<TpxAddressList>()) {}

TpxMessage::~TpxMessage() = default;

void TpxMessage::SetRecipients(const TpxAddressList& list) { recipients_->Assign(list); }
void TpxMessage::SetCC(const TpxAddressList& list) { cc_->Assign(list); }
void TpxMessage::SetBCC(const TpxAddressList& list) { bcc_->Assign(list); }

void TpxMessage::Validate() {
  TpxCustomMessage::Validate();
  if (!HasAddress(*recipients_) && !HasAddress(*cc_) && !HasAddress(*bcc_))
    throw EMessageError(LoadStr(sRecipientRequired));
  for (const TpxAddressList* list : {recipients_.get(), cc_.get(), bcc_.get()}) CheckAscii(*list);
}

void TpxMessage::SaveToStream(TStream& stream) {
  TpxMessageEncoder encoder(*this);
  encoder.SetOutput(&stream);
  encoder.Encode();
}

void TpxMessage::LoadFromStream(TStream& stream) {
  TpxMessageDecoder decoder(stream);
  decoder.SetMessage(this);
  decoder.Decode();
}

void TpxMessage::Clear() {
  TpxCustomMessage::Clear();
  cc_->Clear();
  bcc_->Clear();
  recipients_->Clear();
}

void TpxMessage::ReadHeaders(const TpxHeaders& headers) {
  ParseAddress(GetHeaderValue(headers, "FROM"), Sender());
  ReadAddressHeader(headers, "TO", *recipients_);
  ReadAddressHeader(headers, "CC", *cc_);
  ReadSubject(headers, *this);
  const std::string priority = GetHeaderValue(headers, "X-Priority");
  priority_ = priority == "1" ? ptHigh : priority == "5" ? ptLow : ptNormal;
  if (!GetHeaderValue(headers, "Return-receipt-to").empty()) returnReceipt_ = true;
  Headers().Assign(headers);
}

void TpxMessage::Assign(const TPersistent& source) {
  if (const auto* message = dynamic_cast<const TpxMessage*>(&source); message != nullptr && message != this) {
    recipients_->Assign(*message->recipients_);
    cc_->Assign(*message->cc_);
    bcc_->Assign(*message->bcc_);
    priority_ = message->priority_;
    returnReceipt_ = message->returnReceipt_;
  }
  TpxCustomMessage::Assign(source);
}

void TpxMessage::WriteProperties(TPropertyWriter& writer) const {
  TpxCustomMessage::WriteProperties(writer);
  writer.Object("Recipients", *recipients_);
  writer.Property("ReturnReceipt", TPropValue::Bool(returnReceipt_));
  if (priority_ != ptNormal) writer.Property("Priority", TPropValue::Ident(NameOf(kPriorityNames, priority_)));
  writer.Object("CC", *cc_);
  writer.Object("BCC", *bcc_);
}

bool TpxMessage::ReadProperty(const std::string& name, const TPropValue& value) {
  if (name == "ReturnReceipt") {
    returnReceipt_ = Expect(value, TPropValue::Kind::Boolean, name).boolean;
  } else if (name == "Priority") {
    priority_ = static_cast<TPriority>(IdentValue(kPriorityNames, name, value));
  } else {
    return TpxCustomMessage::ReadProperty(name, value);
  }
  return true;
}

TPersistent* TpxMessage::SubObject(const std::string& name) {
  if (name == "Recipients") return recipients_.get();
  if (name == "CC") return cc_.get();
  if (name == "BCC") return bcc_.get();
  return TpxCustomMessage::SubObject(name);
}

// --- TpxArticle ---------------------------------------------------------------------------

TpxArticle::TpxArticle(TComponent* owner) : TpxCustomMessage(owner) {}

void TpxArticle::Validate() {
  TpxCustomMessage::Validate();
  if (newsGroups_.empty()) throw EMessageError(LoadStr(sNewsgroupRequired));
  if (Subject().empty()) throw EMessageError(LoadStr(sSubjectRequired));
}

void TpxArticle::SaveToStream(TStream& stream) {
  TpxArticleEncoder encoder(*this);
  encoder.SetOutput(&stream);
  encoder.Encode();
}

void TpxArticle::LoadFromStream(TStream& stream) {
  TpxArticleDecoder decoder(stream);
  decoder.SetMessage(this);
  decoder.Decode();
}

void TpxArticle::Clear() {
  newsGroups_.clear();
  TpxCustomMessage::Clear();
}

void TpxArticle::ReadHeaders(const TpxHeaders& headers) {
  ParseAddress(GetHeaderValue(headers, "FROM"), Sender());
  path_ = GetHeaderValue(headers, "PATH");
  newsGroups_ = GetHeaderValue(headers, "NEWSGROUPS");
  messageId_ = GetHeaderValue(headers, "MESSAGE-ID");
  ReadSubject(headers, *this);
  Headers().Assign(headers);
}

void TpxArticle::Assign(const TPersistent& source) {
  if (const auto* article = dynamic_cast<const TpxArticle*>(&source); article != nullptr)
    newsGroups_ = article->newsGroups_;
  TpxCustomMessage::Assign(source);
}

void TpxArticle::WriteProperties(TPropertyWriter& writer) const {
  TpxCustomMessage::WriteProperties(writer);
  writer.Property("NewsGroups", TPropValue::Str(newsGroups_));
}

bool TpxArticle::ReadProperty(const std::string& name, const TPropValue& value) {
  if (name != "NewsGroups") return TpxCustomMessage::ReadProperty(name, value);
  newsGroups_ = StringValue(value, name);
  return true;
}
