// A file as a batch sends it: opened once, locked against a second Mailcart, and read from its
// descriptor each time its message is composed, a block at a time, never held whole. The bytes
// that go into the message are the bytes whose size and SHA-256 the journal records, and the
// file is deleted only while its name still holds exactly those bytes.
#pragma once

#include <sys/stat.h>

#include <functional>
#include <string>

#include "app/batch/filedigest.h"
#include "app/batch/filestamp.h"
#include "mail/attsource.h"
#include "toolkit/exceptions.h"

// Another process holds the file's lock: another Mailcart is sending it.
MAILCART_EXCEPTION(EFileBusy, Exception);

// A file of the batch that cannot be read; the text names it, and so does Path.
class EFileError : public EInOutError {
 public:
  EFileError(std::string path, const std::string& reason);
  const std::string& Path() const { return path_; }

 protected:
  struct TText {
    std::string text;
  };
  // An error of its own text, which names the file.
  EFileError(std::string path, TText text);

 private:
  std::string path_;
};

// A file whose size or modification time moved while its message was composed: what would go is
// not what was counted, so it does not go.
class EFileChanged : public EFileError {
 public:
  EFileChanged(std::string path, const std::string& why);
};

class TSourceFile : public TAttSource {
 public:
  // Opens path without waiting on it (a FIFO would wait for a writer), refuses anything that is
  // no regular file, and takes an exclusive lock that lasts as long as the object. Raises
  // EFileBusy when another process holds the lock, else EInOutError naming the file.
  // afterBlock runs between the blocks of every read.
  explicit TSourceFile(const std::string& path, std::function<void()> afterBlock = {});
  ~TSourceFile() override;
  TSourceFile(const TSourceFile&) = delete;
  TSourceFile& operator=(const TSourceFile&) = delete;

  const std::string& Path() const { return path_; }
  // The size the file had when it was opened.
  uint64_t Size() const override { return static_cast<uint64_t>(opened_.st_size); }
  // The file as it stood when opened.
  TFileStamp Stamp() const { return StampOf(opened_); }
  // Reads the whole file from its start, hashing it on the way. Raises EFileChanged when, before
  // the read or after it, the file's size or modification time are not those it had when opened,
  // or it gave another number of bytes; EFileError when it cannot be read.
  void Read(const std::function<void(std::string_view)>& take) override;
  // The size and SHA-256 of the last read that reached the end (the send's, once the message
  // went); no SHA-256 before one did.
  const TFileDigest& Digest() const { return digest_; }
  // Empty while the path names the file that was read, of the size read and with the
  // modification time it had when opened; otherwise why it is no longer what was sent.
  std::string Change() const;

 private:
  // Raises EFileChanged when the descriptor's size or modification time moved since the open.
  void CheckUnchanged() const;

  std::string path_;
  std::function<void()> afterBlock_;
  int fd_ = -1;
  struct stat opened_ {};
  std::string block_;
  TFileDigest digest_;
};

// The text of a file left in place because it changed while it was sent.
std::string ChangedWhileSentText(const std::string& path);
