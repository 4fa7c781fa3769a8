// Message and article objects: the components that carry one piece of mail between the
// window, the composer, the parser and the protocol clients.
#pragma once

#include <memory>
#include <string>

#include "mail/pxmsgcls.h"
#include "toolkit/components.h"
#include "toolkit/exceptions.h"
#include "toolkit/strutils.h"

class TStream;

MAILCART_EXCEPTION(EMessageError, Exception);

// The last component of an attachment's path, cut to 255 bytes before a whole UTF-8
// character: what a message announces as its file name.
std::string FileNamePart(std::string_view path);

enum TMsgEncoding { meMIME, meUU };
// csUTF8: a body that is not plain ASCII goes as UTF-8 text; a plain ASCII one as csUSASCII.
enum TCharSet { csUSASCII, csISO8859, csUTF8 };
enum TPriority { ptLow, ptNormal, ptHigh };

class TpxCustomMessage : public TComponent {
 public:
  explicit TpxCustomMessage(TComponent* owner = nullptr);
  ~TpxCustomMessage() override;
  const char* ClassName() const override { return "TpxCustomMessage"; }

  TpxMailAddress& Sender() { return *sender_; }
  const TpxMailAddress& Sender() const { return *sender_; }
  void SetSender(const TpxMailAddress& sender);
  const std::string& Subject() const { return subject_; }
  void SetSubject(std::string_view subject) { subject_ = subject; }
  TMsgEncoding Encoding() const { return encoding_; }
  void SetEncoding(TMsgEncoding encoding) { encoding_ = encoding; }
  TCharSet CharSet() const { return charSet_; }
  void SetCharSet(TCharSet charSet) { charSet_ = charSet; }
  TpxHeaders& Headers() { return *headers_; }
  const TpxHeaders& Headers() const { return *headers_; }
  void SetHeaders(const TStringList& headers);
  TStringList& Body() { return *body_; }
  const TStringList& Body() const { return *body_; }
  void SetBody(const TStringList& body);
  TpxAttList& Attachments() { return *attachments_; }
  const TpxAttList& Attachments() const { return *attachments_; }
  void SetAttachments(const TpxAttList& attachments);

  // Reading derives the content type from encoding, attachments and body, and stores it.
  std::string ContentType() const;
  void SetContentType(std::string_view contentType);  // stored in lower case, cut to 255

  virtual void Validate();
  virtual void SaveToStream(TStream& stream);    // the composer writes this message
  virtual void LoadFromStream(TStream& stream);  // the parser fills this message
  virtual void Clear();
  virtual void ReadHeaders(const TpxHeaders& headers);

  void Assign(const TPersistent& source) override;
  void Loaded() override;
  void WriteProperties(TPropertyWriter& writer) const override;
  bool ReadProperty(const std::string& name, const TPropValue& value) override;
  TPersistent* SubObject(const std::string& name) override;

 private:
  std::string DeriveContentType() const;

  std::unique_ptr<TpxMailAddress> sender_;
  ShortString subject_;
  TMsgEncoding encoding_ = meMIME;
  TCharSet charSet_ = csUSASCII;
  std::unique_ptr<TpxHeaders> headers_;
  std::unique_ptr<TStringList> body_;
  std::unique_ptr<TpxAttList> attachments_;
  // Written by every read of ContentType, which is const to its callers.
  mutable ShortString contentType_ = "text/plain";
};

class TpxMessage : public TpxCustomMessage {
 public:
  explicit TpxMessage(TComponent* owner = nullptr);
  ~TpxMessage() override;
  const char* ClassName() const override { return "TpxMessage"; }

  TpxAddressList& Recipients() { return *recipients_; }
  const TpxAddressList& Recipients() const { return *recipients_; }
  void SetRecipients(const TpxAddressList& list);
  TpxAddressList& CC() { return *cc_; }
  const TpxAddressList& CC() const { return *cc_; }
  void SetCC(const TpxAddressList& list);
  TpxAddressList& BCC() { return *bcc_; }
  const TpxAddressList& BCC() const { return *bcc_; }
  void SetBCC(const TpxAddressList& list);
  bool ReturnReceipt() const { return returnReceipt_; }
  void SetReturnReceipt(bool value) { returnReceipt_ = value; }
  TPriority Priority() const { return priority_; }
  void SetPriority(TPriority value) { priority_ = value; }

  void Validate() override;
  void SaveToStream(TStream& stream) override;
  void LoadFromStream(TStream& stream) override;
  void Clear() override;
  void ReadHeaders(const TpxHeaders& headers) override;
  void Assign(const TPersistent& source) override;
  void WriteProperties(TPropertyWriter& writer) const override;
  bool ReadProperty(const std::string& name, const TPropValue& value) override;
  TPersistent* SubObject(const std::string& name) override;

 private:
  std::unique_ptr<TpxAddressList> recipients_;
  std::unique_ptr<TpxAddressList> cc_;
  std::unique_ptr<TpxAddressList> bcc_;
  bool returnReceipt_ = false;
  TPriority priority_ = ptNormal;
};

class TpxArticle : public TpxCustomMessage {
 public:
  explicit TpxArticle(TComponent* owner = nullptr);
  const char* ClassName() const override { return "TpxArticle"; }

  const std::string& NewsGroups() const { return newsGroups_; }
  void SetNewsGroups(std::string value) { newsGroups_ = std::move(value); }
  const std::string& MessageId() const { return messageId_; }
  const std::string& Path() const { return path_; }

  void Validate() override;
  void SaveToStream(TStream& stream) override;
  void LoadFromStream(TStream& stream) override;
  void Clear() override;
  void ReadHeaders(const TpxHeaders& headers) override;
  void Assign(const TPersistent& source) override;
  void WriteProperties(TPropertyWriter& writer) const override;
  bool ReadProperty(const std::string& name, const TPropValue& value) override;

 private:
  std::string newsGroups_;
  std::string messageId_;
  std::string path_;
};
