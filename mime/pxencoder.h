// The message composer: turns one mail message or news article into RFC 5322 text with a
// MIME body (RFC 2045/2046) or uuencoded attachments. The text is written as it is; making
// lines safe for the SMTP data phase (dot-stuffing) is the SMTP client's business.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <string_view>

#include "mail/pxmsgcls.h"
#include "mime/partbytes.h"
#include "mime/pxoutbuffer.h"

class TStream;
class TpxCustomMessage;

// Draws the boundary of a multipart body. Tests install a predictable one; an empty function
// restores the default, "=_" and 32 hexadecimal digits from the kernel's random source.
using TBoundarySource = std::function<std::string()>;
void SetBoundarySource(TBoundarySource source);

// How an attachment's bytes stand in the text.
enum class TDataLayout { TextLines, Base64, QuotedPrintable, UULines };

// Holds the whole algorithm; the two composers below differ only in their header block. One
// composer serves one Encode of one message and is then thrown away.
class TpxCustomEncoder {
 public:
  // The headers the composer writes itself leave the message's own header list.
  explicit TpxCustomEncoder(TpxCustomMessage& message);
  virtual ~TpxCustomEncoder() = default;
  TpxCustomEncoder(const TpxCustomEncoder&) = delete;
  TpxCustomEncoder& operator=(const TpxCustomEncoder&) = delete;

  const TpxCustomMessage& Message() const { return message_; }
  TStream* Output() const { return output_; }
  void SetOutput(TStream* output) { output_ = output; }
  // True when a body line is longer than 255 characters: the body then goes quoted-printable.
  bool LongLines() const { return longLines_; }

  // Writes the whole text into Output from position 0 on and leaves it after the last line.
  void Encode();

 protected:
  // Takes the message's own headers from headers, which it changes instead of the message's.
  TpxCustomEncoder(const TpxCustomMessage& message, TpxHeaders& headers);

  virtual void WriteHeaders() = 0;
  // What the part's headers need to know of the item's bytes: from its stream, or from its
  // source, read once for them and kept with it.
  virtual TPartFacts ReadFacts(const TpxAttItem& item);
  // Writes the item's bytes laid out so; true when the last byte written ends a line, or none was.
  virtual bool WriteData(const TpxAttItem& item, TDataLayout layout);
  // Read once per item and Encode.
  const TPartFacts& Facts(const TpxAttItem& item);
  // Of the attachment's bytes: its transfer encoding code, from the item's and its facts.
  int EncodingOf(const TpxAttItem& item);
  TpxHeaders& OwnHeaders() { return headers_; }

  void WriteLine(std::string_view text) { out_.WriteLine(text); }
  std::string NewBoundary();
  std::string InnerBoundary(const std::string& outer);
  // Drops the headers the composer writes itself from the message's own header list.
  void RemoveReservedHeaders();
  void WriteExtraHeaders();
  void WriteAddressLines(std::string_view label, const TpxAddressList& list);
  void WriteSubject();
  // Subject, Date, Message-ID (messageId, or a new one when it is empty) and Mime-Version.
  void WriteSubjectAndVersion(std::string_view messageId);

 private:
  void WriteBody();
  void EncodeBody();
  void WriteBodyLines();
  // The charset parameter of a body that names one: iso-8859-1, or utf-8 for UTF-8 text.
  std::string BodyCharsetParameter() const;
  void WriteQuotedPrintableBody();
  // RFC 2046 4.1.2: a text part names its character set, when its bytes are ASCII or UTF-8.
  std::string CharsetParameter(const TpxAttItem& item, std::string_view type);
  std::string ContentTypeOf(const TpxAttItem& item);
  std::string EncodingLine(const TpxAttItem& item);
  bool WriteAttachmentData(const TpxAttItem& item);
  void WriteAttachmentHeaders(const TpxAttItem& item, bool bare);
  void WritePlainTextHeaders();
  void WritePlainText();
  void WriteSinglePart();
  void WriteFormattedBody();
  void WriteMultipart(bool alternative);
  void WriteUUMessage();
  void WriteUUAttachment(const TpxAttItem& item);

  const TpxCustomMessage& message_;
  TpxHeaders& headers_;
  std::map<const TpxAttItem*, TPartFacts> facts_;
  TStream* output_ = nullptr;
  bool longLines_ = false;
  bool utf8Body_ = false;    // a csUTF8 body that is not plain ASCII
  std::string contentType_;  // the message's, as computed for this Encode
  bool singlePart_ = false;  // the one attachment is the whole body
  TpxOutBuffer out_;
};

// Header block of a mail message (a TpxMessage; another class is an invalid cast).
class TpxMessageEncoder : public TpxCustomEncoder {
 public:
  using TpxCustomEncoder::TpxCustomEncoder;

 protected:
  void WriteHeaders() override;
};

// Header block of a news article (a TpxArticle; another class is an invalid cast).
class TpxArticleEncoder : public TpxCustomEncoder {
 public:
  using TpxCustomEncoder::TpxCustomEncoder;

 protected:
  void WriteHeaders() override;
};

// Header field helpers, shared by the two header blocks.
// A display name as a phrase (RFC 5322 3.2.5): as it stands when it is atoms separated by single
// blanks, else as one quoted string (RFC 5322 3.2.4), so that a reader takes back exactly the
// name and nothing of it for an address or a list separator.
std::string DisplayName(std::string_view name);
// A parameter value in double quotes, with " and \ escaped (RFC 2045 5.1, RFC 5322 3.2.4).
std::string QuotedParameter(std::string_view value);
