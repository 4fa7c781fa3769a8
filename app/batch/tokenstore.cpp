#include "app/batch/tokenstore.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "app/batch/passwordsource.h"
#include "toolkit/strutils.h"

std::string RefreshTokenKey(const std::string& issuer, const std::string& clientId, const std::string& user) {
  return "oauth2:<" + issuer + "> <" + clientId + "> <" + user + ">";
}

namespace {

class TSecretServiceTokenStore : public TRefreshTokenStore {
 public:
  TSecretServiceTokenStore(TPasswordKeeper& keeper, std::string key) : keeper_(keeper), key_(std::move(key)) {}
  std::optional<TSecret> Read() override { return keeper_.Read(key_); }
  void Write(const TSecret& token) override { keeper_.Write(key_, token.View()); }
  void Remove() override { keeper_.Remove(key_); }

 private:
  TPasswordKeeper& keeper_;
  const std::string key_;
};

bool WriteAll(int fd, std::string_view data) {
  while (!data.empty()) {
    const ssize_t n = ::write(fd, data.data(), data.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    data.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

class TFileTokenStore : public TRefreshTokenStore {
 public:
  explicit TFileTokenStore(std::string path) : path_(std::move(path)) {}

  std::optional<TSecret> Read() override {
    if (!SecretFileThere(path_, kTokenFile)) return std::nullopt;
    return ReadSecretFile(path_, kTokenFile);
  }

  void Write(const TSecret& token) override {
    // One line is all that is read back.
    if (token.Empty() || token.View().find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos)
      throw EPasswordError(Name() + " was not written: the refresh token is empty or holds a line break");
    SecretFileThere(path_, kTokenFile);
    std::string tempName = path_ + ".XXXXXX";
    // mkostemp creates it with O_CREAT | O_EXCL and mode 0600.
    const int fd = ::mkostemp(tempName.data(), O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) Fail(errno);
    bool written = WriteAll(fd, token.View()) && WriteAll(fd, "\n") && ::fsync(fd) == 0;
    int error = errno;
    if (::close(fd) != 0 && written) {
      written = false;
      error = errno;
    }
    if (written && ::rename(tempName.c_str(), path_.c_str()) != 0) {
      written = false;
      error = errno;
    }
    if (!written) {
      ::unlink(tempName.c_str());
      Fail(error);
    }
    SyncFolder();
  }

  void Remove() override {
    if (::unlink(path_.c_str()) != 0 && errno != ENOENT)
      throw EPasswordError(Name() + " cannot be removed: " + std::strerror(errno));
  }

 private:
  std::string Name() const { return std::string("The ") + kTokenFile.what + " " + QuotedName(path_); }
  [[noreturn]] void Fail(int error) const {
    throw EPasswordError(Name() + " cannot be written: " + std::strerror(error));
  }
  // The rename is only kept across a crash once the folder is on disk too.
  void SyncFolder() const {
    const std::string folder = std::filesystem::path(path_).parent_path().string();
    const int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
  }

  const std::string path_;
};

}  // namespace

std::unique_ptr<TRefreshTokenStore> SecretServiceTokenStore(TPasswordKeeper& keeper, std::string key) {
  return std::make_unique<TSecretServiceTokenStore>(keeper, std::move(key));
}

std::unique_ptr<TRefreshTokenStore> FileTokenStore(std::string path) {
  return std::make_unique<TFileTokenStore>(std::move(path));
}

namespace {
class TMemoryTokenStore : public TRefreshTokenStore {
 public:
  std::optional<TSecret> Read() override {
    if (token_.Empty()) return std::nullopt;
    return TSecret(std::string(token_.View()));
  }
  void Write(const TSecret& token) override { token_ = TSecret(std::string(token.View())); }
  void Remove() override { token_ = TSecret(); }

 private:
  TSecret token_;
};
}  // namespace

std::unique_ptr<TRefreshTokenStore> MemoryTokenStore() { return std::make_unique<TMemoryTokenStore>(); }
