// The small classes a mail message is built from: addresses and address lists, attachments,
// and the raw header list with the functions that read values out of it.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "mail/attsource.h"
#include "toolkit/components.h"
#include "toolkit/streams.h"
#include "toolkit/stringlist.h"
#include "toolkit/strutils.h"

// One mailbox with an optional display name.
class TpxMailAddress : public TPersistent {
 public:
  const char* ClassName() const override { return "TpxMailAddress"; }
  const std::string& Name() const { return name_; }
  void SetName(std::string_view name) { name_ = name; }
  const std::string& Address() const { return address_; }
  void SetAddress(std::string_view address) { address_ = address; }

  void Assign(const TPersistent& source) override;
  void Clear();
  // Lets the user edit the address through the installed editor (the address dialog in the
  // window program); true when it closed with OK. Without an editor nothing changes.
  virtual bool Edit();

  void WriteProperties(TPropertyWriter& writer) const override;
  bool ReadProperty(const std::string& name, const TPropValue& value) override;

 private:
  ShortString name_;
  ShortString address_;
};

// The editor TpxMailAddress::Edit opens. The model has no widgets: the window program installs
// the address dialog, tests a double; by default there is none and Edit returns false.
class TAddressEditService {
 public:
  virtual ~TAddressEditService() = default;
  // Shows address for editing and returns once the editor is closed; stores the edited address
  // into it and returns true on OK, leaves it as it was otherwise.
  virtual bool Edit(TpxMailAddress& address) = 0;
};

// Installs service (not owned) and returns the previous one; nullptr removes it.
TAddressEditService* SetAddressEditService(TAddressEditService* service);

// An ordered list of addresses that owns its entries; duplicates are allowed.
class TpxAddressList : public TPersistent {
 public:
  TpxAddressList() = default;
  ~TpxAddressList() override { Clear(); }
  TpxAddressList(const TpxAddressList&) = delete;
  TpxAddressList& operator=(const TpxAddressList&) = delete;
  const char* ClassName() const override { return "TpxAddressList"; }

  // Index outside 0..Count-1 raises EListError.
  TpxMailAddress& Items(int index);
  const TpxMailAddress& Items(int index) const;
  int Count() const { return static_cast<int>(items_.size()); }
  int Add(std::unique_ptr<TpxMailAddress> address);
  void AddAddress(std::string_view address, std::string_view name);
  void Clear();
  void Assign(const TPersistent& source) override;

  // "Items": the Name and Address of every entry in turn, only when there are entries.
  void WriteProperties(TPropertyWriter& writer) const override;
  bool ReadProperty(const std::string& name, const TPropValue& value) override;

 private:
  std::vector<std::unique_ptr<TpxMailAddress>> items_;
};

// Removes blanks and control characters at both ends, then every double quote at either end.
std::string StripQuotes(std::string_view text);
// Splits "Name <mailbox>", "mailbox (Name)" or a bare mailbox into address; the mailbox is in
// the last pair of angle brackets. A last "<" without a ">" after it raises Exception "Unable to
// parse email address" and leaves address alone.
void ParseAddress(std::string_view text, TpxMailAddress& address);

// The longest path a file name may hold (PATH_MAX).
inline constexpr size_t kMaxPathBytes = 4096;

// Transfer-encoding codes of an attachment, and the names written for them.
enum : uint8_t { kEncoding7Bit = 0, kEncodingBase64 = 1, kEncodingQuotedPrintable = 2 };
inline constexpr const char* TransferEncodingNames[3] = {"7bit", "Base64", "Quoted-Printable"};

// The MIME type the system associates with the file's extension, else
// "application/octet-stream".
std::string ContentTypeOfFile(std::string_view fileName);

// One attachment: its bytes, held whole in memory or read from a source, and how the composer
// is to announce them.
class TpxAttItem : public TPersistent {
 public:
  const char* ClassName() const override { return "TpxAttItem"; }
  // The bytes held in memory; empty while the item has a source.
  TMemoryStream& Stream() { return stream_; }
  const TMemoryStream& Stream() const { return stream_; }
  // From now on the bytes are read from source (shared with the item's copies) and the stream is
  // emptied; nullptr goes back to the stream, empty.
  void SetSource(std::shared_ptr<TAttSource> source);
  TAttSource* Source() const { return source_.get(); }
  // The number of bytes: the source's, or the stream's.
  uint64_t ByteCount() const;
  // Hands the bytes to take in order: the source's blocks as it reads them, or the stream's cut
  // into blocks of block bytes. Nothing for no bytes.
  void ReadBlocks(size_t block, const std::function<void(std::string_view)>& take) const;
  // A path: its last component, the name a message carries, is at most 255 bytes, and the
  // folders before it must not cut that short, so the path holds up to PATH_MAX bytes.
  const std::string& FileName() const { return fileName_; }
  // Also derives ContentType and TransferEncoding from the name's extension, unless it is empty.
  void SetFileName(std::string_view fileName);
  const std::string& ContentType() const { return contentType_; }
  void SetContentType(std::string_view contentType) { contentType_ = contentType; }
  uint8_t TransferEncoding() const { return transferEncoding_; }
  // A code outside 0..2 raises EConvertError: the composer indexes TransferEncodingNames by it.
  void SetTransferEncoding(int code);

  void Assign(const TPersistent& source) override;

 private:
  TMemoryStream stream_;
  std::shared_ptr<TAttSource> source_;
  std::string fileName_;
  ShortString contentType_;
  uint8_t transferEncoding_ = kEncoding7Bit;
};

// An ordered list of attachments that owns its items.
class TpxAttList : public TPersistent {
 public:
  TpxAttList() = default;
  ~TpxAttList() override { Clear(); }
  TpxAttList(const TpxAttList&) = delete;
  TpxAttList& operator=(const TpxAttList&) = delete;
  const char* ClassName() const override { return "TpxAttList"; }

  // Index outside 0..Count-1 raises EListError.
  TpxAttItem& Items(int index);
  const TpxAttItem& Items(int index) const;
  int Count() const { return static_cast<int>(items_.size()); }
  int Add(std::unique_ptr<TpxAttItem> item);
  // Appends the whole file as a new item. A file that cannot be read raises the toolkit's file
  // error naming it, and the list stays as it was.
  void AddFile(const std::string& fileName);
  void Clear();
  void Assign(const TPersistent& source) override;

  // "Items": FileName, ContentType and TransferEncoding of every item in turn (never the
  // data), only when there are items.
  void WriteProperties(TPropertyWriter& writer) const override;
  bool ReadProperty(const std::string& name, const TPropValue& value) override;

 private:
  std::vector<std::unique_ptr<TpxAttItem>> items_;
};

// The header section of a message as raw lines, continuation lines included, without line ends.
using TpxHeaders = TStringList;

// The value of the first header of that name (a trailing colon optional), unfolded. Values
// other than Content-Type and X-UIDL have their encoded words decoded (into UTF-8) and are then
// cut to 255 bytes, before a character that would not fit.
std::string GetHeaderValue(const TpxHeaders& headers, std::string_view name);
// The same value whole and as written: for a reader of its parameters, which decodes each one
// on its own (a decoded word could otherwise add a parameter).
std::string GetRawHeaderValue(const TpxHeaders& headers, std::string_view name);
// The comma-separated items of every header of that name, in order, each trimmed, decoded and
// cut to 255 bytes. Commas inside double quotes do not split.
void GetHeaderAddresses(const TpxHeaders& headers, std::string_view name, TStringList& items);
// Deletes the first header of that name with its continuation lines.
void RemoveHeader(TpxHeaders& headers, std::string_view name);
// Deletes every header of that name, blanks before its colon or not, with the lines that
// continue it (folded ones, and any without a colon, as GetHeaderAddresses reads them).
void RemoveEveryHeader(TpxHeaders& headers, std::string_view name);
// The value of parameter paramName in a header value such as
// `attachment; filename="a.txt"`, unquoted; empty when absent.
std::string GetHeaderParam(std::string_view paramName, std::string_view value);
// The text before the first blank or semicolon, trimmed: the type of a Content-Type value.
std::string FirstToken(std::string_view text);
