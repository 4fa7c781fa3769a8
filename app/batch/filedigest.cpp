#include "app/batch/filedigest.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <openssl/evp.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "toolkit/exceptions.h"
#include "toolkit/regularfile.h"
#include "toolkit/strutils.h"

namespace {
// Fetched once: the implicit fetch of EVP_sha256() at every start of a hash looks it up anew
// among the library's providers, which costs more than hashing a small file.
const EVP_MD* Sha256Method() {
  static EVP_MD* const method = EVP_MD_fetch(nullptr, "SHA2-256", nullptr);
  return method;
}
}  // namespace

struct TSha256::TContext {
  std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> hash{EVP_MD_CTX_new(), EVP_MD_CTX_free};
};

TSha256::TSha256() : context_(std::make_unique<TContext>()) {
  if (!context_->hash || EVP_DigestInit_ex(context_->hash.get(), Sha256Method(), nullptr) != 1)
    throw EInOutError("SHA-256 is not available");
}

TSha256::~TSha256() = default;

void TSha256::Add(std::string_view bytes) { EVP_DigestUpdate(context_->hash.get(), bytes.data(), bytes.size()); }

std::string TSha256::Finish() {
  unsigned char value[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (EVP_DigestFinal_ex(context_->hash.get(), value, &length) != 1 ||
      EVP_DigestInit_ex(context_->hash.get(), Sha256Method(), nullptr) != 1)
    throw EInOutError("SHA-256 is not available");
  static const char kHex[] = "0123456789abcdef";
  std::string hex;
  for (unsigned int i = 0; i < length; ++i) {
    hex += kHex[value[i] >> 4];
    hex += kHex[value[i] & 15];
  }
  return hex;
}

TFileDigest DigestFile(const std::string& path, const std::function<void()>& afterBlock) {
  constexpr size_t kBlock = 64 * 1024;
  const auto fail = [&](const std::string& reason) {
    return EInOutError("The file " + QuotedName(path) + " cannot be read: " + reason);
  };
  std::string reason;
  struct stat st;
  const int fd = OpenRegularFile(path, reason, st);
  if (fd < 0) throw fail(reason);
  TSha256 hash;
  std::vector<char> block(kBlock);
  TFileDigest digest;
  ssize_t n = 0;
  while (reason.empty() && ((n = ::read(fd, block.data(), kBlock)) > 0 || (n < 0 && errno == EINTR)))
    if (n > 0) {
      hash.Add({block.data(), static_cast<size_t>(n)});
      digest.size += static_cast<uint64_t>(n);
      if (afterBlock) afterBlock();
    }
  if (reason.empty() && n < 0) reason = std::strerror(errno);
  ::close(fd);
  if (!reason.empty()) throw fail(reason);
  digest.sha256 = hash.Finish();
  return digest;
}
