// A file as a batch sends it: opened once, locked against a second Mailcart, read once. The
// bytes that go into the message are the bytes whose size and SHA-256 the journal records, and
// the file is deleted only while its name still holds exactly those bytes.
#pragma once

#include <sys/stat.h>

#include <functional>
#include <string>

#include "app/batch/filedigest.h"
#include "toolkit/exceptions.h"

// Another process holds the file's lock: another Mailcart is sending it.
MAILCART_EXCEPTION(EFileBusy, Exception);

// A file of the batch that cannot be read; the text names it, and so does Path.
class EFileError : public EInOutError {
 public:
  EFileError(std::string path, const std::string& reason);
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

class TSourceFile {
 public:
  // Opens path without waiting on it (a FIFO would wait for a writer), refuses anything that is
  // no regular file, and takes an exclusive lock that lasts as long as the object. Raises
  // EFileBusy when another process holds the lock, else EInOutError naming the file.
  explicit TSourceFile(const std::string& path);
  ~TSourceFile();
  TSourceFile(const TSourceFile&) = delete;
  TSourceFile& operator=(const TSourceFile&) = delete;

  const std::string& Path() const { return path_; }
  // Reads the whole file from its descriptor, hashing it on the way; afterBlock runs between
  // blocks. The bytes are kept until taken.
  void Read(const std::function<void()>& afterBlock = {});
  // The bytes read, handed over (the message holds them from then on).
  std::string TakeBytes() { return std::move(bytes_); }
  const TFileDigest& Digest() const { return digest_; }
  // Empty while the path names the file that was read, of the size read and with the
  // modification time it had when opened; otherwise why it is no longer what was sent.
  std::string Change() const;

 private:
  std::string path_;
  int fd_ = -1;
  struct stat opened_ {};
  std::string bytes_;
  TFileDigest digest_;
};

// The text of a file left in place because it changed while it was sent.
std::string ChangedWhileSentText(const std::string& path);
