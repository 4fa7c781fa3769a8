// The size and SHA-256 of a file's bytes, as the journal records them.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

struct TFileDigest {
  uint64_t size = 0;
  std::string sha256;  // 64 lowercase hex digits; empty when the file could not be read
};

// SHA-256 over bytes that come in blocks. OpenSSL's uses the processor's SHA instructions: a
// third of the time of a portable one.
class TSha256 {
 public:
  TSha256();
  ~TSha256();
  TSha256(const TSha256&) = delete;
  TSha256& operator=(const TSha256&) = delete;
  void Add(std::string_view bytes);
  // The digest of the bytes added, as hex; the hash starts afresh.
  std::string Finish();

 private:
  struct TContext;
  std::unique_ptr<TContext> context_;
};

// The size and SHA-256 of a file, read in blocks. Raises EInOutError naming the file; a FIFO or
// a device under the name is refused, not waited on. afterBlock runs after each block read, so a
// window can stay responsive while a large file is read.
TFileDigest DigestFile(const std::string& path, const std::function<void()>& afterBlock = {});
