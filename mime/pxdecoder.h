// The message parser: reads the text of one Internet message (RFC 5322 header block, then a
// body with or without MIME structure, RFC 2045/2046, or with uuencoded blocks) back into a
// message object. It is lenient: a body it cannot follow becomes a note in the body and the
// whole original text as the attachment "original.eml".
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "mail/pxmsgcls.h"
#include "toolkit/exceptions.h"
#include "toolkit/linestream.h"
#include "toolkit/strtable.h"

class TStream;
class TpxCustomMessage;

MAILCART_EXCEPTION(EMessageParserError, Exception);

// Holds the whole algorithm; the two parsers below differ only in how they apply the message's
// header block. One parser serves one Decode of one message and is then thrown away. It never
// clears the message: what it reads is added to what the message holds.
class TpxCustomDecoder {
 public:
  // Copies the whole of source, from its start, into memory.
  explicit TpxCustomDecoder(TStream& source);
  virtual ~TpxCustomDecoder() = default;
  TpxCustomDecoder(const TpxCustomDecoder&) = delete;
  TpxCustomDecoder& operator=(const TpxCustomDecoder&) = delete;

  TpxCustomMessage* Message() const { return message_; }
  void SetMessage(TpxCustomMessage* message) { message_ = message; }

  // Fills Message. Failures of the header block and of applying it reach the caller, and so do
  // failures of a text body that are not the parser's own; a parser error in the body becomes
  // the note and "original.eml".
  void Decode();

 protected:
  virtual void ApplyHeaders() = 0;
  const TpxHeaders& MessageHeaders() const { return messageHeaders_; }

 private:
  // How the data of an attachment part is written; uuencoded lines travel as code 1.
  struct TDataEncoding {
    int code = kEncoding7Bit;
    bool uuencoded = false;
  };
  enum class TPartEnd { delimiter, closeDelimiter, endOfInput };

  [[noreturn]] static void RaiseParserError(StringId text);
  void ReadHeaderBlock(TpxHeaders& headers);
  void StoreOriginal(const std::string& error);
  void ReadPlainBody();
  void ReadUUBlocks(std::string beginLine);
  void ReadMimeBody();
  void ReadAlternative();
  void ReadMultipart();
  void SkipToDelimiter(StringId error);
  void ReadFirstPart();
  void ReadAttachmentParts();
  bool ReadAttachmentPart();
  void NamePart(TpxAttItem& item, TDataEncoding encoding);
  TPartEnd ReadPartData(TpxAttItem& item, TDataEncoding encoding);
  bool CloseNestedAlternative();
  void ReadSinglePartText();
  void ReadSinglePartAttachment();
  void NameSinglePart(TpxAttItem& item, TDataEncoding encoding);
  void ReadSinglePartData(TpxAttItem& item, TDataEncoding encoding);

  static TDataEncoding EncodingOf(const TpxHeaders& headers);
  bool IsDelimiter(std::string_view line) const;
  bool IsCloseDelimiter(std::string_view line, bool exact) const;
  bool EndsWithLineEnd() const;
  std::string GeneratedName(std::string_view prefix) const;
  void CountPart();
  size_t FindLine(std::string_view prefix, bool whole);
  bool DecodeBase64Block(std::string& data, size_t end);

  TLineStream lines_;
  TpxHeaders messageHeaders_;
  TpxHeaders partHeaders_;
  TpxCustomMessage* message_ = nullptr;
  std::string delimiter_;
  bool inNestedAlternative_ = false;
  std::string outerDelimiter_;
  bool isAlternative_ = false;
  // The first part is Base64: its headers are read, and it becomes the first attachment.
  bool firstPartPending_ = false;
  int partsRead_ = 0;
};

// Reads a mail message (a TpxMessage; another class is an invalid cast).
class TpxMessageDecoder : public TpxCustomDecoder {
 public:
  using TpxCustomDecoder::TpxCustomDecoder;

 protected:
  void ApplyHeaders() override;
};

// Reads a news article (a TpxArticle; another class is an invalid cast).
class TpxArticleDecoder : public TpxCustomDecoder {
 public:
  using TpxCustomDecoder::TpxCustomDecoder;

 protected:
  void ApplyHeaders() override;
};

// True for a name the parser made up for a part that came without one ("att.3", "_alt.0").
bool IsGeneratedPartName(std::string_view name);

// The most attachment parts one message may hold: each part costs an object, so a text of
// many empty parts could otherwise grow far beyond its own size in memory.
inline constexpr int kMaxAttachmentParts = 10000;
