#include "mail/pxmsgcls.h"

#include "mime/codecs/pxcodecs.h"
#include "platform/contenttypes.h"
#include "toolkit/componentstream.h"
#include "toolkit/exceptions.h"
#include "toolkit/strtable.h"

namespace {

const char* const kItems = "Items";

[[noreturn]] void BadPropertyValue(const std::string& name) {
  throw EReadError(FormatText(LoadStr(sInvalidPropertyValue), {name}));
}

// The records of a streamed "Items" list: its values, checked to come in groups of width.
const std::vector<TPropValue>& StreamedRecords(const TPropValue& value, size_t width) {
  if (value.kind != TPropValue::Kind::List || value.list.size() % width != 0) BadPropertyValue(kItems);
  return value.list;
}

const std::string& StreamedString(const TPropValue& value, const std::string& name) {
  if (value.kind != TPropValue::Kind::String) BadPropertyValue(name);
  return value.text;
}

template <class T>
T& ItemAt(const std::vector<std::unique_ptr<T>>& items, int index) {
  if (index < 0 || index >= static_cast<int>(items.size())) throw ListIndexError(index);
  return *items[static_cast<size_t>(index)];
}

TAddressEditService* g_addressEditor = nullptr;

template <class T>
void ClearLastToFirst(std::vector<std::unique_ptr<T>>& items) {
  while (!items.empty()) items.pop_back();
}

}  // namespace

// ---- Addresses ----

void TpxMailAddress::Assign(const TPersistent& source) {
  if (const auto* other = dynamic_cast<const TpxMailAddress*>(&source)) {
    name_ = other->name_;
    address_ = other->address_;
    return;
  }
  TPersistent::Assign(source);
}

void TpxMailAddress::Clear() {
  name_ = ShortString();
  address_ = ShortString();
}

TAddressEditService* SetAddressEditService(TAddressEditService* service) {
  TAddressEditService* previous = g_addressEditor;
  g_addressEditor = service;
  return previous;
}

bool TpxMailAddress::Edit() { return g_addressEditor != nullptr && g_addressEditor->Edit(*this); }

void TpxMailAddress::WriteProperties(TPropertyWriter& writer) const {
  if (!name_.empty()) writer.Property("Name", TPropValue::Str(name_));
  if (!address_.empty()) writer.Property("Address", TPropValue::Str(address_));
}

bool TpxMailAddress::ReadProperty(const std::string& name, const TPropValue& value) {
  if (name == "Name") {
    SetName(StreamedString(value, name));
  } else if (name == "Address") {
    SetAddress(StreamedString(value, name));
  } else {
    return false;
  }
  return true;
}

TpxMailAddress& TpxAddressList::Items(int index) { return ItemAt(items_, index); }

const TpxMailAddress& TpxAddressList::Items(int index) const { return ItemAt(items_, index); }

int TpxAddressList::Add(std::unique_ptr<TpxMailAddress> address) {
  items_.push_back(std::move(address));
  return Count() - 1;
}

void TpxAddressList::AddAddress(std::string_view address, std::string_view name) {
  auto entry = std::make_unique<TpxMailAddress>();
  entry->SetAddress(address);
  entry->SetName(name);
  Add(std::move(entry));
}

void TpxAddressList::Clear() { ClearLastToFirst(items_); }

void TpxAddressList::Assign(const TPersistent& source) {
  const auto* other = dynamic_cast<const TpxAddressList*>(&source);
  if (other == nullptr) return TPersistent::Assign(source);
  if (other == this) return;
  Clear();
  for (const auto& entry : other->items_) {
    auto copy = std::make_unique<TpxMailAddress>();
    copy->Assign(*entry);
    Add(std::move(copy));
  }
}

void TpxAddressList::WriteProperties(TPropertyWriter& writer) const {
  if (items_.empty()) return;
  std::vector<TPropValue> pairs;
  for (const auto& entry : items_) {
    pairs.push_back(TPropValue::Str(entry->Name()));
    pairs.push_back(TPropValue::Str(entry->Address()));
  }
  writer.Property(kItems, TPropValue::List(std::move(pairs)));
}

bool TpxAddressList::ReadProperty(const std::string& name, const TPropValue& value) {
  if (name != kItems) return false;
  // Check the whole value first, so that a malformed stream leaves the list as it was.
  const auto& pairs = StreamedRecords(value, 2);
  for (const TPropValue& v : pairs) StreamedString(v, kItems);
  Clear();
  for (size_t i = 0; i < pairs.size(); i += 2) AddAddress(pairs[i + 1].text, pairs[i].text);
  return true;
}

std::string StripQuotes(std::string_view text) {
  const std::string s = Trim(text);
  size_t begin = 0, end = s.size();
  while (begin < end && s[begin] == '"') ++begin;
  while (end > begin && s[end - 1] == '"') --end;
  return s.substr(begin, end - begin);
}

namespace {

// A display name written as one quoted string (RFC 5322 3.2.4), as the composer writes any name
// that is not plain atoms, loses its quotes and the backslashes of its quoted pairs; any other
// name only its outer quotes and blanks.
std::string DisplayNameOf(std::string_view text) {
  const std::string trimmed = Trim(text);
  if (trimmed.size() < 2 || trimmed.front() != '"') return StripQuotes(text);
  std::string name;
  for (size_t i = 1; i < trimmed.size(); ++i) {
    if (trimmed[i] == '"') return i + 1 == trimmed.size() ? name : StripQuotes(text);
    if (trimmed[i] == '\\' && i + 1 < trimmed.size()) ++i;
    name += trimmed[i];
  }
  return StripQuotes(text);
}

}  // namespace

void ParseAddress(std::string_view text, TpxMailAddress& address) {
  // RFC 5322 3.4: the angle address ends the mailbox; an earlier "<" belongs to the name (quoted,
  // or decoded from encoded words) and must not pass for the address.
  const size_t open = text.rfind('<');
  if (open != std::string_view::npos) {
    const size_t close = text.find('>', open);
    if (close == std::string_view::npos) throw Exception(LoadStr(sUnableToParseAddress));
    std::string name(text.substr(0, open));
    name += text.substr(close + 1);
    address.SetAddress(StripQuotes(text.substr(open + 1, close - open - 1)));
    address.SetName(DisplayNameOf(name));
    return;
  }
  const size_t paren = text.find('(');
  if (paren != std::string_view::npos) {
    // "mailbox (comment)": the comment is the display name. Only a closing parenthesis that is
    // really there is dropped, so an unclosed comment keeps its last character.
    std::string comment = TrimRight(text.substr(paren + 1));
    if (EndsStr(")", comment)) comment.pop_back();
    address.SetAddress(StripQuotes(text.substr(0, paren)));
    address.SetName(StripQuotes(comment));
    return;
  }
  address.SetAddress(text);
  address.SetName("");
}

// ---- Attachments ----

std::string ContentTypeOfFile(std::string_view fileName) {
  // Only the last path component can hold the extension: "/a.b/c" has none.
  const size_t slash = fileName.rfind('/');
  const std::string_view base = slash == std::string_view::npos ? fileName : fileName.substr(slash + 1);
  const size_t dot = base.rfind('.');
  std::string type;
  if (dot != std::string_view::npos) type = RegistryContentType(std::string(base.substr(dot)));
  return type.empty() ? "application/octet-stream" : type;
}

namespace {

// Readable text goes quoted-printable, a whole message as it is, everything else as Base64.
// Only the bare type counts: "text/plain; charset=x" gets Base64.
uint8_t TransferEncodingFor(const std::string& contentType) {
  const std::string type = UpperCase(contentType);
  if (type == "TEXT/PLAIN" || type == "TEXT/RTF" || type == "TEXT/HTML") return kEncodingQuotedPrintable;
  if (type == "MESSAGE/RFC822") return kEncoding7Bit;
  return kEncodingBase64;
}

}  // namespace

void TpxAttItem::SetFileName(std::string_view fileName) {
  fileName_ = Utf8Prefix(fileName, kMaxPathBytes);
  if (fileName.empty()) return;
  contentType_ = std::string_view(ContentTypeOfFile(fileName));
  transferEncoding_ = TransferEncodingFor(contentType_);
}

void TpxAttItem::SetTransferEncoding(int code) {
  if (code < kEncoding7Bit || code > kEncodingQuotedPrintable)
    throw EConvertError(FormatText(LoadStr(sInvalidTransferEncoding), {std::to_string(code)}));
  transferEncoding_ = static_cast<uint8_t>(code);
}

void TpxAttItem::SetSource(std::shared_ptr<TAttSource> source) {
  source_ = std::move(source);
  std::string().swap(stream_.Data());  // its memory goes too
  stream_.SetPosition(0);
}

uint64_t TpxAttItem::ByteCount() const { return source_ ? source_->Size() : stream_.Data().size(); }

void TpxAttItem::ReadBlocks(size_t block, const std::function<void(std::string_view)>& take) const {
  if (source_) return source_->Read(take);
  const std::string_view data = stream_.Data();
  for (size_t pos = 0; pos < data.size(); pos += block) take(data.substr(pos, block));
}

void TpxAttItem::Assign(const TPersistent& source) {
  const auto* other = dynamic_cast<const TpxAttItem*>(&source);
  if (other == nullptr) return TPersistent::Assign(source);
  if (other == this) return;
  stream_.Data() = other->stream_.Data();
  stream_.SetPosition(0);
  source_ = other->source_;
  contentType_ = other->contentType_;
  transferEncoding_ = other->transferEncoding_;
  fileName_ = other->fileName_;
}

TpxAttItem& TpxAttList::Items(int index) { return ItemAt(items_, index); }

const TpxAttItem& TpxAttList::Items(int index) const { return ItemAt(items_, index); }

int TpxAttList::Add(std::unique_ptr<TpxAttItem> item) {
  items_.push_back(std::move(item));
  return Count() - 1;
}

void TpxAttList::AddFile(const std::string& fileName) {
  auto item = std::make_unique<TpxAttItem>();
  item->SetFileName(fileName);
  item->Stream().LoadFromFile(fileName);  // the full name: only the stored one is cut
  Add(std::move(item));
}

void TpxAttList::Clear() { ClearLastToFirst(items_); }

void TpxAttList::Assign(const TPersistent& source) {
  const auto* other = dynamic_cast<const TpxAttList*>(&source);
  if (other == nullptr) return TPersistent::Assign(source);
  if (other == this) return;
  Clear();
  for (const auto& item : other->items_) {
    auto copy = std::make_unique<TpxAttItem>();
    copy->Assign(*item);
    Add(std::move(copy));
  }
}

void TpxAttList::WriteProperties(TPropertyWriter& writer) const {
  if (items_.empty()) return;
  std::vector<TPropValue> triples;
  for (const auto& item : items_) {
    triples.push_back(TPropValue::Str(item->FileName()));
    triples.push_back(TPropValue::Str(item->ContentType()));
    triples.push_back(TPropValue::Int(item->TransferEncoding()));
  }
  writer.Property(kItems, TPropValue::List(std::move(triples)));
}

bool TpxAttList::ReadProperty(const std::string& name, const TPropValue& value) {
  if (name != kItems) return false;
  // Check the whole value first, so that a malformed stream leaves the list as it was.
  const auto& triples = StreamedRecords(value, 3);
  for (size_t i = 0; i < triples.size(); i += 3) {
    StreamedString(triples[i], kItems);
    StreamedString(triples[i + 1], kItems);
    const TPropValue& code = triples[i + 2];
    if (code.kind != TPropValue::Kind::Integer || code.integer < kEncoding7Bit ||
        code.integer > kEncodingQuotedPrintable)
      BadPropertyValue(kItems);
  }
  Clear();
  for (size_t i = 0; i < triples.size(); i += 3) {
    // The name is set first, as a user would; the stored type and code then win over the
    // system's current idea of them.
    auto item = std::make_unique<TpxAttItem>();
    item->SetFileName(triples[i].text);
    item->SetContentType(triples[i + 1].text);
    item->SetTransferEncoding(static_cast<int>(triples[i + 2].integer));
    Add(std::move(item));
  }
  return true;
}

// ---- Header list ----

namespace {

bool IsBlankOrTab(char c) { return c == ' ' || c == '\t'; }

// RFC 5322 2.2.3: a line that begins with white space continues the header before it.
bool IsContinuation(const std::string& line) { return !line.empty() && IsBlankOrTab(line[0]); }

std::string WithColon(std::string_view name) {
  std::string key(name);
  if (!EndsStr(":", key)) key += ':';
  return key;
}

int FindHeader(const TpxHeaders& headers, const std::string& key) {
  for (int i = 0; i < headers.Count(); ++i)
    if (StartsText(key, headers[i])) return i;
  return -1;
}

// The value after the colon of the header at index, joined with its continuation lines by one
// blank each; index moves past them. continues tells which lines continue the header.
template <class Continues>
std::string UnfoldedValue(const TpxHeaders& headers, int& index, Continues continues) {
  const std::string& line = headers[index++];
  std::string value = Trim(std::string_view(line).substr(line.find(':') + 1));
  for (; index < headers.Count() && continues(headers[index]); ++index) {
    value += ' ';
    value += Trim(headers[index]);
  }
  return value;
}

// A comma inside a quoted display name must not split the list, so it is hidden as the byte
// 255 until the items are cut apart. A quoted-pair (RFC 5322 3.2.1) does not end the quotes.
void HideQuotedCommas(std::string& value) {
  bool quoted = false;
  for (size_t i = 0; i < value.size(); ++i) {
    if (value[i] == '"') {
      quoted = !quoted;
    } else if (quoted && value[i] == '\\') {
      ++i;
    } else if (quoted && value[i] == ',') {
      value[i] = '\xFF';
    }
  }
}

std::string AddressItem(std::string_view piece) {
  std::string item = Trim(DecodeHeaderWords(Trim(piece)));
  for (char& c : item)
    if (c == '\xFF') c = ',';
  return item;
}

void AddAddressItems(std::string value, TStringList& items) {
  HideQuotedCommas(value);
  size_t start = 0;
  for (size_t comma; (comma = value.find(',', start)) != std::string::npos; start = comma + 1)
    items.Add(AddressItem(std::string_view(value).substr(start, comma - start)));
  const std::string_view rest = std::string_view(value).substr(start);
  if (!Trim(rest).empty()) items.Add(AddressItem(rest));
}

}  // namespace

std::string GetRawHeaderValue(const TpxHeaders& headers, std::string_view name) {
  int index = FindHeader(headers, WithColon(name));
  return index < 0 ? std::string() : UnfoldedValue(headers, index, IsContinuation);
}

std::string GetHeaderValue(const TpxHeaders& headers, std::string_view name) {
  std::string value = GetRawHeaderValue(headers, name);
  // These two are machine-read and may be long; they are never encoded words.
  const std::string key = WithColon(name);
  if (SameText(key, "Content-Type:") || SameText(key, "X-UIDL:")) return value;
  // Decoded first and then cut: a cut through the encoded text would lose a whole word.
  return DecodeHeaderWords(value);
}

void GetHeaderAddresses(const TpxHeaders& headers, std::string_view name, TStringList& items) {
  items.Clear();
  const std::string_view key = EndsStr(":", name) ? name.substr(0, name.size() - 1) : name;
  // Besides folded lines, a line without a colon cannot start a header, so it continues one.
  const auto continues = [](const std::string& line) {
    return IsContinuation(line) || line.find(':') == std::string::npos;
  };
  for (int index = 0; index < headers.Count();) {
    const std::string& line = headers[index];
    const size_t colon = line.find(':');
    if (IsContinuation(line) || colon == std::string::npos || !SameText(Trim(line.substr(0, colon)), key)) {
      ++index;
      continue;
    }
    AddAddressItems(UnfoldedValue(headers, index, continues), items);
  }
}

void RemoveHeader(TpxHeaders& headers, std::string_view name) {
  const int index = FindHeader(headers, WithColon(name));
  if (index < 0) return;
  headers.Delete(index);
  while (index < headers.Count() && IsContinuation(headers[index])) headers.Delete(index);
}

void RemoveEveryHeader(TpxHeaders& headers, std::string_view name) {
  const std::string_view key = EndsStr(":", name) ? name.substr(0, name.size() - 1) : name;
  TStringList kept;
  bool dropping = false;
  for (const std::string& line : headers) {
    const size_t colon = line.find(':');
    if (!IsContinuation(line) && colon != std::string::npos) dropping = SameText(Trim(line.substr(0, colon)), key);
    if (!dropping) kept.Add(line);
  }
  headers.Assign(kept);
}

namespace {

// A quoted parameter value (RFC 2045 5.1) from the quote at pos; pos moves past its end.
// \" and \\ stand for themselves; any other backslash is kept, as in a Windows path.
std::string QuotedParamValue(std::string_view s, size_t& pos) {
  std::string value;
  for (++pos; pos < s.size() && s[pos] != '"'; ++pos) {
    if (s[pos] == '\\' && pos + 1 < s.size() && (s[pos + 1] == '"' || s[pos + 1] == '\\')) ++pos;
    value += s[pos];
  }
  if (pos < s.size()) ++pos;
  return value;
}

std::string TokenParamValue(std::string_view s, size_t& pos) {
  const size_t start = pos;
  while (pos < s.size() && s[pos] != ';' && static_cast<unsigned char>(s[pos]) > ' ') ++pos;
  return std::string(s.substr(start, pos - start));
}

}  // namespace

std::string GetHeaderParam(std::string_view paramName, std::string_view value) {
  // Walks "type; name=value; name="value"": the type, or any piece without "=", is skipped.
  size_t pos = 0;
  while (pos < value.size()) {
    const size_t stop = value.find_first_of("=;", pos);
    if (stop == std::string_view::npos) break;
    if (value[stop] == ';') {
      pos = stop + 1;
      continue;
    }
    const std::string name = Trim(value.substr(pos, stop - pos));
    pos = stop + 1;
    while (pos < value.size() && IsBlankOrTab(value[pos])) ++pos;
    const bool quoted = pos < value.size() && value[pos] == '"';
    const std::string param = quoted ? QuotedParamValue(value, pos) : TokenParamValue(value, pos);
    if (SameText(name, paramName)) return Trim(param);
    pos = value.find(';', pos);
    if (pos == std::string_view::npos) break;
    ++pos;
  }
  return {};
}

std::string FirstToken(std::string_view text) {
  const std::string s = TrimLeft(text);
  return Trim(std::string_view(s).substr(0, s.find_first_of(" ;")));
}
